// Turns the input into a command line and reads every job option from it.
// Tokens are separated by NUL bytes and blanks. Standard output goes to an
// in-memory file, so the trace lines can be checked: one per successful
// read, none holding a raw control character.

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "CommonArguments.h"
#include "LocalCommandLine.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

bool EndsInSlash(const std::string& text) {
  return !text.empty() && (text.back() == '/' || text.back() == '\\');
}

// What the accessors printed since the last call; the file is emptied.
std::string TakeTrace() {
  Check(std::fflush(stdout) == 0);
  const off_t nSize = lseek(STDOUT_FILENO, 0, SEEK_CUR);
  std::string trace(static_cast<std::size_t>(nSize), '\0');
  Check(pread(STDOUT_FILENO, trace.data(), trace.size(), 0) == nSize);
  Check(ftruncate(STDOUT_FILENO, 0) == 0 && lseek(STDOUT_FILENO, 0, SEEK_SET) == 0);
  return trace;
}

// `nReads` lines, each ended by its line end and free of control characters.
void CheckTrace(const std::string& trace, int nReads) {
  int nLines = 0;
  for (const char c : trace) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '\n') {
      ++nLines;
    } else {
      Check(byte >= 0x20 && byte != 0x7F);
    }
  }
  Check(nLines == nReads && (trace.empty() || trace.back() == '\n'));
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  const int fd = memfd_create("umx-trace", 0);
  if (fd < 0 || dup2(fd, STDOUT_FILENO) < 0) return 1;
  close(fd);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::vector<std::string> tokens = {"agent"};
  std::string token;
  for (std::size_t i = 0; i <= size; ++i) {
    if (i == size || data[i] == '\0' || data[i] == ' ') {
      if (!token.empty()) tokens.push_back(token);
      token.clear();
    } else {
      token.push_back(static_cast<char>(data[i]));
    }
  }
  std::vector<const char*> argv;
  for (const std::string& t : tokens)
    argv.push_back(t.c_str());
  CCommandLineArgumentsPtr args(
      new CLocalCommandLineArguments(static_cast<int>(argv.size()), argv.data()));

  int nReads = 0;
  auto read = [&nReads](const CQiError& error) {
    nReads += error.IsError() ? 0 : 1;
    return !error.IsError();
  };
  std::string applicationId = "before";
  ULONG cell = 7, number = 7;
  if (!read(CArguments::GetApplicationId(args, applicationId, cell, number))) {
    Check(applicationId == "before" && cell == 7 && number == 7);
  }
  LONGLONG jobId = 0;
  (void)read(CArguments::GetJobId(args, jobId));
  (void)read(CArguments::GetSnapBackupJobId(args, jobId));

  std::string text;
  if (read(CArguments::GetClientName(args, text))) Check(!EndsInSlash(text));
  if (read(CArguments::GetStorenodeName(args, text))) Check(!EndsInSlash(text));
  (void)read(CArguments::GetZentServeHostName(args, text));
  if (!read(CArguments::GetInstance(args, text))) Check(text.empty());
  (void)read(CArguments::GetJobManagerToken(args, text));

  bool flag = false;
  Check(read(CArguments::GetSyntheticFull(args, flag)));
  Check(read(CArguments::GetBlockLevelMetaInfo(args, flag)));
  CheckTrace(TakeTrace(), nReads);
  return 0;
}
