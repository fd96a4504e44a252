// A process holds one client, so every case needs a process of its own;
// ctest runs each in a fresh one.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <future>
#include <optional>
#include <ostream>
#include <stdexcept>
#include <string>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <boost/make_shared.hpp>

#include "BackupJobClient.h"
#include "RkLocalPlatform.h"
#include "TestSupport.h"

namespace {

using Outcome = std::pair<CBackupJobClientPtr, std::string>;

constexpr char kCalledTwice[] = "CBackupJobClient::createInstance is called twice";
constexpr char kNotCreated[] = "CBackupJobClient::createInstance must be called first";
constexpr char kNoMedia[] = "no media agent";
constexpr char kNoMediaReport[] = "Failed to initialize CBackupJobClient object: 5:no media agent";
constexpr char kNullTextReport[] = "Failed to initialize CBackupJobClient object: 5:(null)";
// The platform's text on standard error keeps to one line and sends no
// escape sequence.
constexpr char kForgingText[] = "down\nJobId=9\x1b[2J";
constexpr char kForgingReport[] =
    "Failed to initialize CBackupJobClient object: 5:down\\x0aJobId=9\\x1b[2J";

CBackupJobClientPtr Create() {
  return CBackupJobClient::createInstance("client1", 4242, 7, RKS_PLATFORM_LINUX, true, "extra");
}

// What `f` returned, or the text of the const char* it threw.
template <typename F>
Outcome OutcomeOf(F f) {
  try {
    return {f(), ""};
  } catch (const char* psz) {
    return {nullptr, psz};
  }
}

class BackupJobClient : public testing::Test {
 protected:
  void SetUp() override {
    RkLocalPlatform::Reset();
    if (OutcomeOf(CBackupJobClient::instance).first) GTEST_SKIP() << "needs a process of its own";
  }

  boost::shared_ptr<umx_test::RecordingLogWriter> m_sink =
      boost::make_shared<umx_test::RecordingLogWriter>();
  umx_test::ScopedLogWriter m_installed{m_sink};
};

TEST_F(BackupJobClient, OneClientFromItsArgumentsSharedByEveryHandleAndEveryCaller) {
  EXPECT_EQ(OutcomeOf(CBackupJobClient::instance), Outcome(nullptr, kNotCreated));
  EXPECT_EQ(sharedInstanceLock.GetHoldCount(), 0);
  Outcome reentrantInstance, reentrantCreate;
  RkLocalPlatform::SetInitCallback([&] {
    reentrantInstance = OutcomeOf(CBackupJobClient::instance);
    reentrantCreate = OutcomeOf(Create);
  });
  CBackupJobClientPtr created =
      CBackupJobClient::createInstance(nullptr, INT64_MIN, -1, RKS_PLATFORM_WINDOWS, false, "x");
  ASSERT_TRUE(created);
  ASSERT_EQ(RkLocalPlatform::InitCalls().size(), 1u);
  const RkLocalPlatform::InitArgs a = RkLocalPlatform::InitCalls()[0];
  EXPECT_EQ(
      std::tie(a.arg1, a.jobId, a.arg3, a.platform, a.arg5, a.arg6),
      std::make_tuple(RkLocalPlatform::ReceivedText{true, ""}, INT64_MIN, -1, RKS_PLATFORM_WINDOWS,
                      false, RkLocalPlatform::ReceivedText{false, "x"}));
  EXPECT_EQ(reentrantInstance, Outcome(created, ""));
  EXPECT_EQ(reentrantCreate, Outcome(nullptr, kCalledTwice));
  EXPECT_EQ(OutcomeOf(Create), Outcome(nullptr, kCalledTwice));

  CBackupJobClient* const pClient = created.get();
  created.reset();
  EXPECT_EQ(CBackupJobClient::instance().get(), pClient);
  EXPECT_EQ(umx_test::OnAnotherThread(CBackupJobClient::instance).get(), pClient);
}

enum class Sink { kRecording, kAbsent, kThrowing };

struct Failure {
  const char* name;
  Sink sink;
  bool bInitThrows;
  const char* pszText;    // the platform's, with error code 5
  const char* pszReport;  // null when creation throws
};

void PrintTo(const Failure& c, std::ostream* os) { *os << c.name; }

class BackupJobClientFailure : public BackupJobClient,
                               public testing::WithParamInterface<Failure> {};

// The failure is reported once, by record or on standard error, no one is
// handed the half-made client, and creation may be tried again.
TEST_P(BackupJobClientFailure, IsReportedOnceAndLeavesNoClient) {
  const Failure& c = GetParam();
  umx_test::ScopedLogWriter installed(c.sink == Sink::kAbsent ? nullptr : m_sink);
  m_sink->ThrowOnWrite(c.sink == Sink::kThrowing);
  if (c.bInitThrows) RkLocalPlatform::ThrowFrom(RkLocalPlatform::Call::Init);
  RkLocalPlatform::FailInit(5, c.pszText);

  testing::internal::CaptureStderr();
  if (c.pszReport)
    EXPECT_FALSE(Create());
  else
    EXPECT_THROW(Create(), std::runtime_error);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            c.sink == Sink::kAbsent ? std::string(c.pszReport) + "\n" : "");
  const std::vector<umx_test::LogRecord> records = m_sink->Records();
  ASSERT_EQ(records.size(), c.sink == Sink::kRecording && c.pszReport ? 1u : 0u);
  for (const umx_test::LogRecord& r : records) {
    EXPECT_THAT(r.function, testing::HasSubstr("CBackupJobClient::createInstance("));
    EXPECT_GT(r.line, 0);
    EXPECT_EQ(std::tie(r.level, r.jobId, r.context, r.format, r.message),
              std::make_tuple(-1, 0, 0, "Failed to initialize CBackupJobClient object: %d:%s",
                              c.pszReport));
  }
  EXPECT_EQ(umx_test::OnAnotherThread([] { return OutcomeOf(CBackupJobClient::instance); }),
            Outcome(nullptr, kNotCreated));

  RkLocalPlatform::Reset();
  m_sink->ThrowOnWrite(false);
  const CBackupJobClientPtr retried = Create();
  EXPECT_EQ(OutcomeOf(CBackupJobClient::instance), Outcome(retried, ""));
  EXPECT_EQ(m_sink->Records().size(), records.size());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BackupJobClientFailure,
    testing::Values(Failure{"Logged", Sink::kRecording, false, kNoMedia, kNoMediaReport},
                    Failure{"NullTextLogged", Sink::kRecording, false, nullptr, kNullTextReport},
                    Failure{"NoSinkStandardError", Sink::kAbsent, false, kNoMedia, kNoMediaReport},
                    Failure{"NoSinkEscaped", Sink::kAbsent, false, kForgingText, kForgingReport},
                    Failure{"InitThrows", Sink::kRecording, true, kNoMedia, nullptr},
                    Failure{"SinkThrows", Sink::kThrowing, false, kNoMedia, nullptr}),
    testing::PrintToStringParamName());

class BackupJobClientRace : public BackupJobClient, public testing::WithParamInterface<int> {};

TEST_P(BackupJobClientRace, ExactlyOneOfTheRacingCreatorsWins) {
  const int kThreads = GetParam();
  umx_test::Latch start(kThreads);
  std::vector<std::future<Outcome>> creators;
  for (int i = 0; i < kThreads; ++i) {
    creators.push_back(std::async(std::launch::async, [&start] {
      start.ArriveAndWait();
      return OutcomeOf(Create);
    }));
  }
  std::vector<Outcome> outcomes;
  for (auto& creator : creators)
    outcomes.push_back(creator.get());
  const CBackupJobClientPtr winner = CBackupJobClient::instance();
  EXPECT_EQ(std::count(outcomes.begin(), outcomes.end(), Outcome(winner, "")), 1);
  EXPECT_EQ(std::count(outcomes.begin(), outcomes.end(), Outcome(nullptr, kCalledTwice)),
            kThreads - 1);
}

INSTANTIATE_TEST_SUITE_P(Threads, BackupJobClientRace, testing::Values(2, 8, 32));

class BackupJobClientSlowInit : public BackupJobClient, public testing::WithParamInterface<bool> {};

// Callers of instance() wait for a slow init, then see its outcome.
TEST_P(BackupJobClientSlowInit, InstanceCallersWaitForTheOutcome) {
  const bool bInitSucceeds = GetParam();
  if (!bInitSucceeds) RkLocalPlatform::FailInit(5, kNoMedia);
  umx_test::Latch initEntered(1), releaseInit(1);
  RkLocalPlatform::SetInitCallback([&] {
    initEntered.CountDown();
    releaseInit.Wait();
  });
  std::future<CBackupJobClientPtr> creator = std::async(std::launch::async, Create);
  initEntered.Wait();

  // Each reader is seen blocked inside instance(), not merely started: it
  // names its thread and calls at once, with no other wait in between.
  constexpr int kReaders = 4;
  std::atomic<long> threadIds[kReaders] = {};
  std::atomic<int> nFinished{0};
  std::vector<std::future<Outcome>> readers;
  for (int i = 0; i < kReaders; ++i) {
    readers.push_back(std::async(std::launch::async, [&, i] {
      threadIds[i] = umx_test::CurrentThreadId();
      Outcome outcome = OutcomeOf(CBackupJobClient::instance);
      ++nFinished;
      return outcome;
    }));
  }
  // A kernel that does not tell where a thread sleeps (its wchan reads "0")
  // cannot show a reader blocked; a bound on the wait keeps the test from
  // spinning forever there.
  const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  bool bAllSeen = true;
  for (const std::atomic<long>& threadId : threadIds) {
    while (nFinished == 0 && (threadId == 0 || !umx_test::SleepsOnAFutex(threadId))) {
      if (std::chrono::steady_clock::now() > giveUp) {
        bAllSeen = false;
        break;
      }
      std::this_thread::yield();
    }
  }
  EXPECT_EQ(nFinished.load(), 0);
  releaseInit.CountDown();
  if (!bAllSeen && nFinished == 0) {
    for (auto& reader : readers)
      (void)reader.get();
    (void)creator.get();
    GTEST_SKIP() << "this kernel does not show where a thread sleeps";
  }

  const CBackupJobClientPtr created = creator.get();
  for (auto& reader : readers)
    EXPECT_EQ(reader.get(), Outcome(created, bInitSucceeds ? "" : kNotCreated));
}

INSTANTIATE_TEST_SUITE_P(Outcomes, BackupJobClientSlowInit, testing::Values(true, false),
                         [](const auto& p) { return p.param ? "InitSucceeds" : "InitFails"; });

}  // namespace
