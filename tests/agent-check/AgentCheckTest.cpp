// The agent check's parts that decide: its reading of trace lines and
// transcripts, the scenarios it makes and how it judges a run.
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "Evidence.h"
#include "Report.h"
#include "Runner.h"
#include "Scenarios.h"
#include "Verdicts.h"

namespace {

using namespace AgentCheck;

// The whole job and every other scenario of `args`, as a run lists them.
std::vector<Scenario> AllScenarios(const std::vector<std::string>& args, const WholeJob* whole) {
  Baselines baselines;
  baselines.args = args;
  baselines.whole = whole;
  std::vector<Scenario> scenarios = MakeWholeJobs(baselines);
  for (Scenario& scenario : MakeScenarios(baselines))
    scenarios.push_back(std::move(scenario));
  return scenarios;
}

// A run with its outputs as texts, as the check reads them from its files.
struct TestRun : RunResult {
  std::string transcript, out, err;
  std::string transcriptProblem;  // as the check names a transcript it cannot read
};

Evidence GatherEvidence(const TestRun& run) {
  Evidence evidence = ReadEvidence(
      OutputTexts{run.root, run.transcript, run.out, run.err, run.transcriptCut, run.outCut});
  if (!run.transcriptProblem.empty())
    evidence.transcriptProblems.insert(evidence.transcriptProblems.begin(), run.transcriptProblem);
  return evidence;
}

TEST(AgentCheckEvidence, TraceLinesInTheLibrarysFormAndLinesThatOnlyLookLikeThem) {
  const struct {
    const char* line;
    const char* key;  // null: not a trace line
    bool wellFormed;
  } cases[] = {
      {"JobId=1234", "JobId", true},
      {"JobId=-7", "JobId", true},
      {"JobId=abc", "JobId", false},
      {"JobId=99999999999999999999", "JobId", false},
      {"JobId: 1234", "JobId", false},
      {"jobid=1234", "JobId", false},
      {"  JobId=1234", "JobId", false},
      {"JobId =1234", "JobId", false},
      {"ApplicationId=2:17, ZentCellId=2, ApplicationNumber=17", "ApplicationId", true},
      {"ApplicationId=a, b, ZentCellId=0, ApplicationNumber=4294967295", "ApplicationId", true},
      {"ApplicationId=2:17", "ApplicationId", false},
      {"ApplicationId=2:17, ZentCellId=4294967296, ApplicationNumber=1", "ApplicationId", false},
      {"ClientName=evil\\x0aJobId=9", "ClientName", true},
      {"ClientName=tab\there", "ClientName", false},
      {"ClientName=crlf\r", "ClientName", false},
      {"Instance=", "Instance", true},
      {"SyntheticFull=1", "SyntheticFull", true},
      {"SyntheticFull=yes", "SyntheticFull", false},
      {"BlockLevelMetadata=OFF", "BlockLevelMetadata", true},
      {"BlockLevelMetadata=off", "BlockLevelMetadata", false},
      {"SnapBackupJobId=12ab", "SnapBackupJobId", false},
      {"JobIdentifier=5", nullptr, false},
      {"umx-sample-agent: sent job status JMSUCCESS", nullptr, false},
      {"Client name: x", nullptr, false},
      {"", nullptr, false},
  };
  for (const auto& c : cases) {
    const std::optional<TraceLine> trace = ReadTraceLine(c.line);
    if (c.key == nullptr) {
      EXPECT_FALSE(trace) << c.line;
      continue;
    }
    ASSERT_TRUE(trace) << c.line;
    EXPECT_EQ(trace->key, c.key) << c.line;
    EXPECT_EQ(trace->wellFormed, c.wellFormed) << c.line;
  }
}

TEST(AgentCheckEvidence, EachOutputIsReadOnceIntoWhatItShows) {
  TestRun run;
  run.root = "/r";
  run.transcript =
      R"({"seq":1,"call":"getJobResultsDirectory","state":"returned","failed":false,"out":{"dir":"/r/c/JobResults"}})"
      "\n"
      R"({"seq":2,"call":"getJobResultsDirectory","state":"returned","failed":true,"out":{"dir":"/r/failed"}})"
      "\nnot json\n";
  run.out = "JobId=1\nClientName=c\x7f\nJobId: 2\n";
  run.err = " \n\t";
  const Evidence evidence = GatherEvidence(run);
  EXPECT_EQ(evidence.nRecords, 2u);
  ASSERT_EQ(evidence.transcriptProblems.size(), 1u);
  EXPECT_NE(evidence.transcriptProblems[0].find("transcript line 3"), std::string::npos);
  EXPECT_EQ(evidence.resultsFolders, (std::set<std::string>{"c/JobResults"}));
  EXPECT_EQ(evidence.optionsTraced, (std::set<std::string>{"-j"}));
  EXPECT_EQ(evidence.malformedTrace,
            "stdout line 2 \"ClientName=c\\x7f\" is not in the library's form");
  EXPECT_TRUE(evidence.errBlank);
}

TEST(AgentCheckEvidence, OutputsReadAByteAtATimeShowWhatTheyShowWhole) {
  const std::string transcript =
      R"({"call":"getJobResultsDirectory","state":"returned","failed":false,"out":{"dir":"/r/c"}})"
      "\n"
      R"({"call":"init","failed":true})"
      "\n" +
      std::string(70 << 10, 'x') + "\n{\"call\":\"getName\"";
  const std::string out = "JobId=1\n" + std::string(70 << 10, ' ') + "\nClientName=c\x01";
  const std::string err = std::string(5000, 'e') + "\nlast words\n";
  const Evidence whole = ReadEvidence(OutputTexts{"/r", transcript, out, err});
  EvidenceReader reader("/r");
  for (const char c : transcript)
    reader.Transcript(std::string_view(&c, 1));
  for (const char c : out)
    reader.Out(std::string_view(&c, 1));
  for (const char c : err)
    reader.Err(std::string_view(&c, 1));
  const Evidence pieced = reader.Finish(false, false, false);
  EXPECT_EQ(pieced.nRecords, 2u);
  EXPECT_EQ(pieced.nRecords, whole.nRecords);
  EXPECT_EQ(pieced.transcriptProblems, whole.transcriptProblems);
  EXPECT_EQ(whole.transcriptProblems,
            (std::vector<std::string>{"transcript line 3 is longer than 64 KiB",
                                      "transcript line 4 is cut"}));
  EXPECT_EQ(pieced.resultsFolders, (std::set<std::string>{"c"}));
  EXPECT_EQ(pieced.calls.at("init").failed, 1);
  EXPECT_EQ(pieced.malformedTrace, whole.malformedTrace);
  EXPECT_NE(whole.malformedTrace.find("stdout line 3"), std::string::npos) << whole.malformedTrace;
  EXPECT_EQ(pieced.errTail, whole.errTail);
  EXPECT_EQ(whole.errTail.size(), 4096u);
  EXPECT_FALSE(whole.errBlank);
}

TEST(AgentCheckEvidence, ALineCutAtItsCapIsNoEvidenceUnlessNoRecordIsThatLong) {
  const std::string record = R"({"call":"init","state":"returned","failed":false})";
  const struct {
    const char* what;
    std::string transcript;
    bool cut;
    std::size_t problems;
  } cases[] = {
      {"a record cut by the agent", record.substr(0, 20), false, 1},
      {"a record cut by the cap", record + "\n" + record.substr(0, 20), true, 0},
      {"a line cut by the cap past any record's length",
       record + "\n" + std::string(100 << 10, 'x'), true, 1},
  };
  for (const auto& c : cases) {
    TestRun run;
    run.transcript = c.transcript;
    run.transcriptCut = c.cut;
    EXPECT_EQ(GatherEvidence(run).transcriptProblems.size(), c.problems) << c.what;
  }
}

TEST(AgentCheckBaseline, WholeJobTellsItsCallsFailuresOptionsAndResultsFolders) {
  TestRun run;
  run.root = "/r";
  run.transcript =
      R"({"seq":1,"call":"init","state":"returned","failed":false})"
      "\n"
      R"({"seq":2,"call":"getJobResultsDirectory","state":"returned","failed":false,"out":{"dir":"/r/clients/c/JobResults"}})"
      "\n"
      R"({"seq":3,"call":"getJobResultsDirectory","state":"returned","failed":false,"out":{"dir":"/elsewhere"}})"
      "\n"
      R"({"seq":4,"call":"getLastError","state":"returned","failed":true})"
      "\n"
      R"({"seq":5,"call":"getName","state":"held","failed":false})"
      "\n";
  run.out = "JobId=1\nClientName=c\nJobId: 2\nSyntheticFull=0\n";
  run.files = {{"clients/c/JobResults/RK_JobResults/1/summary.txt", 4}, {"log", 1}};
  const Evidence evidence = GatherEvidence(run);
  const WholeJob whole = LearnWholeJob(run, evidence);
  EXPECT_EQ(whole.calls, (std::set<std::string>{"init", "getJobResultsDirectory", "getLastError"}));
  EXPECT_EQ(whole.failedCalls, (std::map<std::string, int>{{"getLastError", 1}}));
  EXPECT_EQ(whole.optionsRead, (std::set<std::string>{"-j", "-cn"}));
  EXPECT_EQ(whole.resultsFolders, (std::set<std::string>{"clients/c/JobResults"}));
  EXPECT_EQ(whole.resultNames, (std::set<std::string>{"RK_JobResults/1/summary.txt"}));
  EXPECT_EQ(whole.files,
            (std::set<std::string>{"clients/c/JobResults/RK_JobResults/1/summary.txt", "log"}));
}

// `run` judged with the evidence gathered from it.
Judgement JudgeRun(const Scenario& scenario, const TestRun& run, const WholeJob& whole,
                   const std::vector<Expectation>& expectations = {}) {
  const Evidence evidence = GatherEvidence(run);
  return Judge(scenario, run, evidence, whole, expectations);
}

const Scenario& Named(const std::vector<Scenario>& scenarios, const std::string& name) {
  static const Scenario none;
  for (const Scenario& scenario : scenarios) {
    if (scenario.name == name) return scenario;
  }
  ADD_FAILURE() << "no scenario " << name;
  return none;
}

TEST(AgentCheckScenarios, EachIsNamedOnceAndOnlyWhatTheWholeJobReachedRuns) {
  const std::vector<std::string> args = {"-j", "7",   "-a", "2:17",      "-qs",
                                         "q",  "-vm", "v",  "-synthfull"};
  WholeJob whole;
  whole.calls = {"init", "getZentServerHostName"};
  whole.optionsRead = {"-j", "-a", "-qs"};
  const std::vector<Scenario> scenarios = AllScenarios(args, &whole);

  std::set<std::string> names;
  for (const Scenario& scenario : scenarios) {
    EXPECT_TRUE(names.insert(scenario.name).second) << scenario.name;
    EXPECT_EQ(scenario.name.find_first_of(" \t"), std::string::npos) << scenario.name;
  }
  EXPECT_EQ(scenarios.front().name, "whole-job");
  EXPECT_EQ(scenarios.front().args, args);

  const struct {
    const char* name;
    bool reached;
    std::vector<std::string> args;
    const char* faults;
  } cases[] = {
      {"fault:init=5:down", true, args, "init=5:down"},
      {"fault:throw=hostname", true, args, "throw=hostname"},
      {"fault:resultsdir=5", false, args, "resultsdir=5"},
      {"missing:-a", true, {"-j", "7", "-qs", "q", "-vm", "v", "-synthfull"}, ""},
      {"missing:-vm", false, {"-j", "7", "-a", "2:17", "-qs", "q", "-synthfull"}, ""},
      {"malformed:-j",
       true,
       {"-j", "12ab", "-a", "2:17", "-qs", "q", "-vm", "v", "-synthfull"},
       ""},
      {"malformed:-a", true, {"-j", "7", "-a", "2:1x7", "-qs", "q", "-vm", "v", "-synthfull"}, ""},
      {"cancel:init", true, args, "hold=init"},
      {"cancel:getJobResultsDirectory", false, args, "hold=resultsdir"},
  };
  for (const auto& c : cases) {
    const Scenario& scenario = Named(scenarios, c.name);
    EXPECT_EQ(scenario.notReached.empty(), c.reached) << c.name << ": " << scenario.notReached;
    EXPECT_EQ(scenario.args, c.args) << c.name;
    EXPECT_EQ(scenario.faults, c.faults) << c.name;
  }
  for (const char* absent : {"missing:-cn", "missing:-synthfull", "malformed:-snapjid"}) {
    EXPECT_EQ(names.count(absent), 0u) << absent;
  }
  for (const Scenario& scenario : AllScenarios(args, nullptr)) {
    EXPECT_TRUE(scenario.notReached.empty()) << scenario.name;
  }
}

// A run that ended with `status` (or, below 0, by signal -status).
TestRun Ended(int status, const std::string& err = "failed\n") {
  TestRun run;
  run.exited = status >= 0;
  run.status = status >= 0 ? status : 0;
  run.signal = status < 0 ? -status : 0;
  run.err = err;
  return run;
}

// A run that exited 0 having been handed `folder` for its results and left
// `summary` in it, after the calls in `transcript`.
TestRun Done(const std::string& folder, const std::string& transcript = {},
             const std::string& summary = "summary.txt") {
  TestRun run = Ended(0);
  run.root = "/r";
  run.transcript = R"({"call":"getJobResultsDirectory","state":"returned","failed":false,)"
                   R"("out":{"dir":"/r/)" +
                   folder + "\"}}\n" + transcript;
  if (!summary.empty()) run.files = {{folder + "/1/" + summary, 10}};
  return run;
}

TEST(AgentCheckVerdicts, EachRunGetsTheVerdictOfWhatItDid) {
  WholeJob whole;
  whole.calls = {"init", "getZentServerHostName"};
  whole.failedCalls = {{"getZentServerHostName", 1}};
  whole.resultsFolders = {"clients/c/JobResults"};
  whole.files = {"clients/c/JobResults/1/summary.txt", "state/agent.log",
                 "clients/c/JobResults.log"};
  whole.resultNames = {"1/summary.txt"};
  whole.optionsRead = {"-j", "-a"};
  const std::vector<Scenario> scenarios = AllScenarios({"-j", "1", "-a", "2:17"}, &whole);
  const Scenario& wholeJob = Named(scenarios, "whole-job");
  const Scenario& initFails = Named(scenarios, "fault:init=5:down");
  const Scenario& hostFails = Named(scenarios, "fault:hostname=31");
  const Scenario& malformed = Named(scenarios, "malformed:-j");
  const Scenario& missing = Named(scenarios, "missing:-a");
  const Scenario& cancel = Named(scenarios, "cancel:init");

  const std::string initFailed = R"({"call":"init","state":"returned","failed":true})"
                                 "\n";
  const std::string hostFailedOnce =
      R"({"call":"getZentServerHostName","state":"returned","failed":true})"
      "\n";
  const std::string results = "clients/c/JobResults";
  TestRun timedOut = Ended(-9);
  timedOut.timedOut = true;
  TestRun cancelled = Ended(-15, "");
  cancelled.signalSent = true;
  TestRun segfaultAfterTerm = Ended(-11);
  segfaultAfterTerm.signalSent = true;
  TestRun notGone = timedOut;
  notGone.signalSent = true;
  TestRun cancelledButDone = Ended(0);
  cancelledButDone.signalSent = true;
  TestRun succeededAfterInit = Ended(0);
  succeededAfterInit.transcript = initFailed;
  TestRun leftSummary = Ended(1);
  leftSummary.files = {{"clients/c/JobResults/1/summary.txt", 10}};
  TestRun leftLog = Ended(1);
  leftLog.files = {{"state/agent.log", 3}, {"clients/c/JobResults.log", 3}};
  TestRun badTrace = Ended(2);
  badTrace.out = "JobId=1\nJobId: 1\n";
  TestRun traceWithDel = Ended(2);
  traceWithDel.out = "ClientName=c\x7f\n";
  TestRun cutRecord = Ended(0);
  cutRecord.transcript = initFailed.substr(0, 20);
  TestRun transcriptPastCap = Done(results);
  transcriptPastCap.transcriptCut = true;
  TestRun hugeLine = Ended(1);
  hugeLine.transcript = std::string(1 << 17, 'x');
  hugeLine.transcriptCut = true;
  TestRun transcriptNotAFile = Ended(1);
  transcriptNotAFile.transcriptProblem = "the transcript cannot be read as a regular file";
  TestRun leftChild = Ended(1);
  leftChild.leftRunning = {"sleep 1000"};
  TestRun keeperKilled = Ended(1);
  keeperKilled.keeperLost = true;
  TestRun tooManyFiles = Ended(1);
  tooManyFiles.filesIncomplete = "past 20000 entries";
  TestRun otherClient = Done("clients/other/JobResults");
  TestRun leftTemporary = Done(results);
  leftTemporary.files.push_back({results + "/1/summary.txt.tmp", 3});

  const struct {
    const char* what;
    const Scenario& scenario;
    const TestRun& run;
    Verdict verdict;
  } cases[] = {
      {"failed, saying why", initFails, Ended(1), Verdict::Passed},
      {"a signal it was not sent", initFails, Ended(-11), Verdict::Crashed},
      {"the time limit", initFails, timedOut, Verdict::Hung},
      {"exit 0 after init failed", initFails, succeededAfterInit, Verdict::ReportedSuccess},
      {"exit 0 after a failure the whole job met too", hostFails, Done(results, hostFailedOnce),
       Verdict::Passed},
      {"exit 0 after one more failure", hostFails, Done(results, hostFailedOnce + hostFailedOnce),
       Verdict::ReportedSuccess},
      {"exit 0 with no call failed", hostFails, Done(results), Verdict::Passed},
      {"exit 0 with a malformed job id", malformed, Done(results), Verdict::ReportedSuccess},
      {"exit 0 without an option", missing, Done(results), Verdict::Passed},
      {"exit 0, results in another client's folder", missing, otherClient, Verdict::Passed},
      {"exit 0 without the whole job's results", missing, Done(results, {}, ""),
       Verdict::ReportedSuccess},
      {"nothing on stderr", initFails, Ended(3, " \n"), Verdict::FailedSilently},
      {"a result of the whole job after failing", initFails, leftSummary,
       Verdict::LeftPartialResults},
      {"files the whole job leaves too, outside the results and beside them", initFails, leftLog,
       Verdict::Passed},
      {"a file the whole job does not leave, after success", missing, leftTemporary,
       Verdict::LeftPartialResults},
      {"a trace line out of form", missing, badTrace, Verdict::MalformedTrace},
      {"DEL in a trace line", missing, traceWithDel, Verdict::MalformedTrace},
      {"a record cut in the middle, then exit 0", hostFails, cutRecord,
       Verdict::MalformedTranscript},
      {"a line longer than any record, cut at the cap", initFails, hugeLine,
       Verdict::MalformedTranscript},
      {"a transcript that is no regular file", initFails, transcriptNotAFile,
       Verdict::MalformedTranscript},
      {"exit 0 with a transcript longer than is read", hostFails, transcriptPastCap,
       Verdict::CannotTell},
      {"a child left running", initFails, leftChild, Verdict::LeftProcessesRunning},
      {"its keeper killed", initFails, keeperKilled, Verdict::LeftProcessesRunning},
      {"failed with more files than are read", initFails, tooManyFiles, Verdict::CannotTell},
      {"the whole job with its results", wholeJob, Done(results), Verdict::Passed},
      {"the whole job without results", wholeJob, Done(results, {}, ""), Verdict::LeftNoResults},
      {"gone by SIGTERM", cancel, cancelled, Verdict::Passed},
      {"SIGSEGV after SIGTERM", cancel, segfaultAfterTerm, Verdict::Crashed},
      {"SIGTERM ignored", cancel, notGone, Verdict::NotGone},
      {"exit 0 after SIGTERM", cancel, cancelledButDone, Verdict::ReportedSuccess},
      {"ended before the held call", cancel, Ended(1), Verdict::NotReached},
  };
  for (const auto& c : cases) {
    const Judgement judgement = JudgeRun(c.scenario, c.run, whole);
    EXPECT_STREQ(VerdictName(judgement.verdict), VerdictName(c.verdict))
        << c.what << ": " << judgement.reason;
    EXPECT_EQ(judgement.passed, c.verdict == Verdict::Passed || c.verdict == Verdict::NotReached)
        << c.what;
    EXPECT_FALSE(judgement.reason.empty()) << c.what;
  }
}

TEST(AgentCheckVerdicts, ExpectationsTolerateTheFailuresTheyNameAndNoOthers) {
  std::string why;
  const std::optional<std::vector<Expectation>> expectations = ReadExpectations(
      "# tolerated on purpose\n"
      "\n"
      "fault:hostname=* reported-success  runs without the central server  \n"
      "fault:*  left-partial-results # keeps its log\n",
      "expect", why);
  ASSERT_TRUE(expectations) << why;
  ASSERT_EQ(expectations->size(), 2u);
  EXPECT_EQ((*expectations)[0].why, "runs without the central server");
  EXPECT_EQ((*expectations)[1].line, 4);

  WholeJob whole;
  whole.calls = {"init", "getZentServerHostName"};
  const std::vector<Scenario> scenarios = AllScenarios({"-j", "1"}, &whole);
  TestRun ranOn = Ended(0);
  ranOn.transcript = R"({"call":"getZentServerHostName","state":"returned","failed":true})"
                     "\n";
  TestRun ranOnAndLeft = ranOn;
  ranOnAndLeft.files = {{"x", 1}};

  Judgement judgement =
      JudgeRun(Named(scenarios, "fault:hostname=31"), ranOn, whole, *expectations);
  EXPECT_TRUE(judgement.passed);
  EXPECT_TRUE(judgement.tolerated);
  EXPECT_EQ(judgement.verdict, Verdict::ReportedSuccess);
  EXPECT_NE(judgement.reason.find("runs without the central server"), std::string::npos);
  judgement = JudgeRun(Named(scenarios, "fault:hostname=31"), ranOnAndLeft, whole, *expectations);
  EXPECT_TRUE(judgement.tolerated) << judgement.reason;
  judgement = JudgeRun(Named(scenarios, "fault:throw=init"), Ended(0, ""), whole, *expectations);
  EXPECT_TRUE(judgement.passed);
  EXPECT_FALSE(judgement.tolerated);

  const struct {
    const char* text;
    const char* why;
  } malformed[] = {
      {"fault:x crashd\n", "f:1: \"crashd\" is not a failing verdict"},
      {"# first\nfault:x passed\n", "f:2: \"passed\" is not a failing verdict"},
      {"fault:x\n", "f:1: \"\" is not a failing verdict"},
  };
  for (const auto& c : malformed) {
    EXPECT_FALSE(ReadExpectations(c.text, "f", why)) << c.text;
    EXPECT_EQ(why.rfind(c.why, 0), 0u) << why;
  }
}

TEST(AgentCheckRunner, FindsPrograms) {
  std::string why;
  EXPECT_EQ(FindProgram("sh", why).front(), '/');
  EXPECT_TRUE(FindProgram("no-such-program-anywhere", why).empty());
  EXPECT_NE(why.find("no such program on PATH"), std::string::npos);
  EXPECT_TRUE(FindProgram("./no-such-agent", why).empty());
  EXPECT_NE(why.find("no such file"), std::string::npos);
}

TEST(AgentCheckRunner, ScenarioFoldersAreNewAndNamedBeyondGuessing) {
  std::string why;
  const std::optional<BaseFolder> base = BaseFolder::MakeTemporary(why);
  ASSERT_TRUE(base) << why;
  struct stat info {};
  ASSERT_EQ(stat(base->Path().c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0700u);
  const std::optional<ScenarioFolder> first = MakeScenarioFolder(*base, "01-fault", why);
  const std::optional<ScenarioFolder> second = MakeScenarioFolder(*base, "01-fault", why);
  ASSERT_TRUE(first && second) << why;
  EXPECT_NE(first->path, second->path);
  EXPECT_EQ(first->path.rfind(base->Path() + "/01-fault-", 0), 0u) << first->path;
}

}  // namespace
