// The local platform's transcript of its calls and its hold of a call until
// a signal: what the agent check learns from and cancels through.
#include <pthread.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <iterator>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "RkJobClient.h"
#include "RkLocalPlatform.h"
#include "RkPlatform.h"

namespace {

using Json = nlohmann::ordered_json;
using RkLocalPlatform::Call;

// Each line read by a strict parser, which refuses bytes that are not UTF-8.
std::vector<Json> ReadRecords(const std::string& path) {
  std::ifstream in(path);
  std::vector<Json> records;
  for (std::string line; std::getline(in, line);) {
    Json record = Json::parse(line, nullptr, false);
    EXPECT_FALSE(record.is_discarded()) << line;
    if (!record.is_discarded()) records.push_back(std::move(record));
  }
  return records;
}

// A member written back compactly, texts unquoted inside, to compare with the
// expected.
std::string Compact(const Json& record, const char* pszName) {
  const auto member = record.find(pszName);
  if (member == record.end()) return "absent";
  if (member->is_string()) return '"' + member->get<std::string>() + '"';
  if (!member->is_object()) return member->dump();
  std::string object = "{";
  for (const auto& [name, value] : member->items()) {
    object += (object.size() > 1 ? "," : "") + name + ":" + Compact(*member, name.c_str());
  }
  return object + "}";
}

std::string TextOf(const Json& record, const char* pszName) {
  return record.value(pszName, std::string());
}

// The transcript variable is read at the first platform call, so these need
// a process in which nothing has called the platform yet: ctest gives each
// test one.
class Transcript : public ::testing::Test {
 protected:
  void SetUp() override {
    if (::testing::UnitTest::GetInstance()->test_to_run_count() > 1) {
      GTEST_SKIP() << "needs a process of its own";
    }
    char szFolder[] = "/tmp/umx-transcript-XXXXXX";
    ASSERT_NE(mkdtemp(szFolder), nullptr);
    m_strFolder = szFolder;
    setenv(RkLocalPlatform::kRootVariable, (m_strFolder + "/root").c_str(), 1);
  }
  void TearDown() override {
    if (!m_strFolder.empty()) std::filesystem::remove_all(m_strFolder);
  }
  std::string m_strFolder;
};

TEST_F(Transcript, RecordsEveryCallItsArgumentsAndOutcomeOneLineEach) {
  const std::string path = m_strFolder + "/transcript.jsonl";
  setenv(RkLocalPlatform::kTranscriptVariable, path.c_str(), 1);
  RkLocalPlatform::FailInit(5, "down \"now\"\n");
  RkLocalPlatform::ThrowFrom(Call::GetName);

  RKBkpJobClient client;
  EXPECT_FALSE(client.init(nullptr, 42, 3, RKS_PLATFORM_LINUX, true, "t\x01ok"));
  (void)client.getLastError();
  RKPI_Focus::setFocusClientName("c\xc3\xa9\xff\xc2\x85");
  RKPI_ZentClient platform;
  char szDir[2048];
  EXPECT_NE(platform.getJobResultsDirectory("c", szDir, nullptr, nullptr, sizeof szDir), 0);
  EXPECT_NE(platform.getZentServerHostName(), nullptr);
  ApplicationId application("2:17");
  EXPECT_EQ(application.getApplicationId(nullptr), 0);
  std::string name;
  EXPECT_THROW(application.getClient(nullptr)->getName(name, 0), std::runtime_error);
  EXPECT_EQ(GetSubclientDir(1, 2, szDir), 0);

  const std::string dir = m_strFolder + "/root/clients/c/JobResults";
  const struct {
    const char* call;
    const char* args;
    const char* state;
    const char* result;
    const char* failed;
    const char* lastError;
    const char* thrown;
  } expected[] = {
      {"init", "{arg1:null,jobId:42,arg3:3,platform:1,arg5:true,arg6:\"t\x01ok\"}", "returned",
       "false", "true", "5", "null"},
      {"getLastError", "{}", "returned", "5", "false", "null", "null"},
      // The byte that is not UTF-8 as U+FFFD, and all of them in hex beside it.
      {"setFocusClientName", "{name:\"c\xc3\xa9\xef\xbf\xbd\xc2\x85\",nameBytes:\"63c3a9ffc285\"}",
       "returned", "null", "false", "null", "null"},
      {"getJobResultsDirectory", "{client:\"c\",capacity:2048}", "returned", "1", "false", "0",
       "null"},
      {"getZentServerHostName", "{}", "returned", "\"zentserver.localdomain\"", "false", "0",
       "null"},
      {"getApplicationId", "{}", "returned", "0", "false", "null", "null"},
      {"getClient", "{}", "returned", "true", "false", "null", "null"},
      {"getName", "{flags:0}", "threw", "null", "true", "null",
       "\"local platform: getName failed\""},
      {"GetSubclientDir", "{first:1,second:2}", "returned", "0", "false", "null", "null"},
  };
  const std::vector<Json> records = ReadRecords(path);
  ASSERT_EQ(records.size(), std::size(expected));
  for (std::size_t i = 0; i < records.size(); ++i) {
    const Json& record = records[i];
    const auto& e = expected[i];
    EXPECT_EQ(Compact(record, "seq"), std::to_string(i + 1)) << e.call;
    EXPECT_EQ(Compact(record, "pid"), std::to_string(getpid())) << e.call;
    EXPECT_EQ(TextOf(record, "call"), e.call);
    EXPECT_EQ(Compact(record, "args"), e.args) << e.call;
    EXPECT_EQ(TextOf(record, "state"), e.state) << e.call;
    EXPECT_EQ(Compact(record, "result"), e.result) << e.call;
    EXPECT_EQ(Compact(record, "failed"), e.failed) << e.call;
    EXPECT_EQ(Compact(record, "lastError"), e.lastError) << e.call;
    EXPECT_EQ(Compact(record, "thrown"), e.thrown) << e.call;
  }
  EXPECT_EQ(TextOf(records[0], "lastErrorText"), "down \"now\"\n");
  EXPECT_EQ(Compact(records[3], "out"), "{dir:\"" + dir + "\"}");
  EXPECT_EQ(Compact(records[8], "out"), "{dir:\"" + m_strFolder + "/root/subclients/1/2\"}");
  // Controls, C1 ones too, are escaped: the file shows none raw.
  std::ifstream in(path, std::ios::binary);
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(text.find('\x01'), std::string::npos);
  EXPECT_EQ(text.find("\xc2\x85"), std::string::npos);
  EXPECT_NE(text.find("\\u0085"), std::string::npos);
}

TEST_F(Transcript, ThreadsAppendWholeLinesInTheOrderOfTheirNumbers) {
  const std::string path = m_strFolder + "/transcript.jsonl";
  setenv(RkLocalPlatform::kTranscriptVariable, path.c_str(), 1);
  constexpr int kThreads = 4;
  constexpr int kCalls = 200;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t] {
      const std::string name(100 + t, static_cast<char>('a' + t));
      for (int i = 0; i < kCalls; ++i)
        RKPI_Focus::setFocusClientName(name.c_str());
    });
  }
  for (std::thread& thread : threads)
    thread.join();
  const std::vector<Json> records = ReadRecords(path);
  ASSERT_EQ(records.size(), static_cast<std::size_t>(kThreads * kCalls));
  for (std::size_t i = 0; i < records.size(); ++i) {
    EXPECT_EQ(records[i].value("seq", 0u), i + 1);
    const std::string name = TextOf(records[i].at("args"), "name");
    EXPECT_EQ(name, std::string(name.size(), name.front()));
  }
}

TEST_F(Transcript, TwoProcessesAppendingKeepEveryRecord) {
  const std::string path = m_strFolder + "/transcript.jsonl";
  setenv(RkLocalPlatform::kTranscriptVariable, path.c_str(), 1);
  constexpr int kCalls = 300;
  const auto calls = [](const char* pszName) {
    for (int i = 0; i < kCalls; ++i)
      RKPI_Focus::setFocusClientName(pszName);
  };
  // Forked before either makes a call, so that each opens the file itself.
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    calls("child");
    ::_exit(0);
  }
  calls("parent");
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

  std::map<std::string, int> lastSeq;
  const std::vector<Json> records = ReadRecords(path);
  ASSERT_EQ(records.size(), static_cast<std::size_t>(2 * kCalls));
  for (const Json& record : records) {
    const std::string name = record["args"]["name"].get<std::string>();
    const int seq = record["seq"].get<int>();
    EXPECT_EQ(seq, lastSeq[name] + 1) << name;
    lastSeq[name] = seq;
  }
  EXPECT_EQ(lastSeq, (std::map<std::string, int>{{"child", kCalls}, {"parent", kCalls}}));
}

TEST_F(Transcript, AnUnterminatedDirectoryIsReadWithinItsCapacity) {
  const std::string path = m_strFolder + "/transcript.jsonl";
  setenv(RkLocalPlatform::kTranscriptVariable, path.c_str(), 1);
  RkLocalPlatform::WriteUnterminatedDirectories(true);
  // On the heap and exactly as large as told, so that a read past it shows
  // under AddressSanitizer and valgrind.
  constexpr std::size_t kCapacity = 24;
  const auto dir = std::make_unique<char[]>(kCapacity);
  RKPI_ZentClient platform;
  EXPECT_NE(platform.getJobResultsDirectory("c", dir.get(), nullptr, nullptr, kCapacity), 0);
  const std::vector<Json> records = ReadRecords(path);
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0]["out"]["dir"].get<std::string>(), std::string(dir.get(), kCapacity));
}

TEST_F(Transcript, AFileThatCannotBeOpenedIsNamedOnceAndTheCallsGoOn) {
  const std::string path = m_strFolder + "/no-such-folder/transcript.jsonl";
  setenv(RkLocalPlatform::kTranscriptVariable, path.c_str(), 1);
  ::testing::internal::CaptureStderr();
  RKPI_Focus::setFocusClientName("c");
  EXPECT_STREQ(RKPI_Focus::getFocusClientName(false), "c");
  const std::string err = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(err, "local platform: cannot open the transcript " + path +
                     ": No such file or directory; going on without it\n");
}

// A transcript path that another user could have planted: each is refused
// with one line on stderr, written to never, and the calls go on.
struct PlantedTranscript {
  const char* name;
  // Makes `path` the planted thing; false when this process cannot.
  std::function<bool(const std::string& path, const std::string& folder)> plant;
  const char* why;
};

void PrintTo(const PlantedTranscript& planted, std::ostream* out) { *out << planted.name; }

class RefusedTranscript : public Transcript,
                          public ::testing::WithParamInterface<PlantedTranscript> {};

TEST_P(RefusedTranscript, IsNamedOnceAndLeftAlone) {
  const std::string path = m_strFolder + "/transcript.jsonl";
  if (!GetParam().plant(path, m_strFolder)) GTEST_SKIP() << "cannot plant it here";
  setenv(RkLocalPlatform::kTranscriptVariable, path.c_str(), 1);
  ::testing::internal::CaptureStderr();
  RKPI_Focus::setFocusClientName("c");
  RKPI_Focus::setFocusClientName("d");
  const std::string err = ::testing::internal::GetCapturedStderr();
  std::string expected = GetParam().why;
  expected.replace(expected.find("{}"), 2, path);
  EXPECT_EQ(err, "local platform: " + expected + "\n");
  struct stat status {};
  if (::lstat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode)) {
    EXPECT_EQ(status.st_size, 0) << "a refused transcript was written";
  }
}

bool PlantFile(const std::string& path, mode_t mode) {
  std::ofstream(path).close();
  return ::chmod(path.c_str(), mode) == 0;
}

INSTANTIATE_TEST_SUITE_P(
    Planted, RefusedTranscript,
    ::testing::Values(
        PlantedTranscript{"Link",
                          [](const std::string& path, const std::string& folder) {
                            return PlantFile(folder + "/victim", 0600) &&
                                   ::symlink((folder + "/victim").c_str(), path.c_str()) == 0;
                          },
                          "cannot open the transcript {}: Too many levels of symbolic links; "
                          "going on without it"},
        PlantedTranscript{"Fifo",
                          [](const std::string& path, const std::string&) {
                            return ::mkfifo(path.c_str(), 0600) == 0;
                          },
                          // Opened without blocking, a FIFO with no reader fails at once.
                          "cannot open the transcript {}: No such device or address; going on "
                          "without it"},
        PlantedTranscript{
            "WritableByOthers",
            [](const std::string& path, const std::string&) { return PlantFile(path, 0666); },
            "refusing the transcript {}: others can write it; going on without it"},
        PlantedTranscript{"AnotherUsersFile",
                          [](const std::string& path, const std::string&) {
                            return ::geteuid() == 0 && PlantFile(path, 0600) &&
                                   ::chown(path.c_str(), 65534, 65534) == 0;
                          },
                          "refusing the transcript {}: it belongs to another user; going on "
                          "without it"}),
    [](const ::testing::TestParamInfo<PlantedTranscript>& planted) { return planted.param.name; });

void IgnoreSignal(int) {}

// Each call that can be held, made, and how it fails once a signal ends the
// hold.
struct HeldCall {
  Call call;
  std::function<bool()> failsCancelled;
};

TEST(LocalPlatformHold, AHeldCallWaitsForASignalThenFailsAsCancelledOnce) {
  struct sigaction action {};
  action.sa_handler = IgnoreSignal;
  ASSERT_EQ(sigaction(SIGUSR1, &action, nullptr), 0);
  RkLocalPlatform::Reset();
  constexpr int kCancelled = RkLocalPlatform::kCancelledResult;
  char szDir[2048];
  const HeldCall calls[] = {
      {Call::Init,
       [] {
         RKBkpJobClient client;
         return !client.init("c", 1, 0, RKS_PLATFORM_LINUX, false, "t") &&
                client.getLastError() == kCancelled;
       }},
      {Call::GetZentServerHostName,
       [] {
         RKPI_ZentClient platform;
         return platform.getZentServerHostName() == nullptr &&
                platform.getLastError() == static_cast<unsigned long>(kCancelled);
       }},
      {Call::GetJobResultsDirectory,
       [&szDir] {
         RKPI_ZentClient platform;
         return platform.getJobResultsDirectory("c", szDir, nullptr, nullptr, sizeof szDir) == 0 &&
                platform.getLastError() == static_cast<unsigned long>(kCancelled);
       }},
      {Call::GetApplicationId,
       [] { return ApplicationId("2:17").getApplicationId(nullptr) == kCancelled; }},
      {Call::GetClient, [] { return ApplicationId("2:17").getClient(nullptr) == nullptr; }},
      {Call::GetName,
       [] {
         ApplicationId application("2:17");
         std::string name;
         return application.getClient(nullptr)->getName(name, 0) == kCancelled;
       }},
      {Call::GetSubclientDir, [&szDir] { return GetSubclientDir(1, 2, szDir) == kCancelled; }},
  };
  for (const HeldCall& held : calls) {
    std::promise<pthread_t> holding;
    RkLocalPlatform::HoldUntilSignalled(held.call,
                                        [&holding] { holding.set_value(pthread_self()); });
    std::future<bool> failed = std::async(std::launch::async, held.failsCancelled);
    const pthread_t thread = holding.get_future().get();
    // Sent while every signal is blocked in the held thread: it is taken once
    // the thread waits, never lost before.
    EXPECT_EQ(failed.wait_for(std::chrono::milliseconds(0)), std::future_status::timeout);
    ASSERT_EQ(pthread_kill(thread, SIGUSR1), 0);
    EXPECT_TRUE(failed.get()) << static_cast<int>(held.call);
    EXPECT_FALSE(held.failsCancelled()) << "held again: " << static_cast<int>(held.call);
  }
}

}  // namespace
