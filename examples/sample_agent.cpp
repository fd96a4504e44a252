// A backup agent in miniature: what the job manager starts for a job.
int main() { return 0; }
