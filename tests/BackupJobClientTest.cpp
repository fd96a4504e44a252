// A process holds one client, so every case needs a process of its own;
// ctest runs each in a fresh one.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <future>
#include <mutex>
#include <optional>
#include <ostream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <boost/make_shared.hpp>

#include "BackupJobClient.h"
#include "RkLocalPlatform.h"
#include "TestSupport.h"

namespace {

constexpr char kCalledTwice[] = "CBackupJobClient::createInstance is called twice";
constexpr char kNotCreated[] = "CBackupJobClient::createInstance must be called first";

class Latch {
 public:
  explicit Latch(int count) : m_count(count) {}
  void CountDown() {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (--m_count == 0) m_cv.notify_all();
  }
  void Wait() {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_cv.wait(lock, [this] { return m_count <= 0; });
  }

 private:
  std::mutex m_mutex;
  std::condition_variable m_cv;
  int m_count;
};

// Names the table-driven cases in test listings.
template <typename Case>
auto operator<<(std::ostream& os, const Case& c) -> decltype(c.name, os) {
  return os << c.name;
}

template <typename Case>
std::string NameOf(const testing::TestParamInfo<Case>& param) {
  return param.param.name;
}

template <typename F>
auto OnAnotherThread(F f) {
  return std::async(std::launch::async, f).get();
}

// The text of the const char* that `f` throws; empty when it returns.
template <typename F>
std::string ThrownText(F f) {
  try {
    f();
  } catch (const char* psz) {
    return psz;
  }
  return std::string();
}

CBackupJobClientPtr Create(RKJobID nJobId = 4242) {
  return CBackupJobClient::createInstance("client1", nJobId, 7, RKS_PLATFORM_LINUX, true, "extra");
}

void Instance() { (void)CBackupJobClient::instance(); }

class BackupJobClient : public testing::Test {
 protected:
  void SetUp() override {
    RkLocalPlatform::Reset();
    if (ThrownText(Instance).empty()) GTEST_SKIP() << "needs a process of its own";
  }
  void TearDown() override { RkLocalPlatform::Reset(); }

  boost::shared_ptr<umx_test::RecordingLogWriter> m_sink =
      boost::make_shared<umx_test::RecordingLogWriter>();
  umx_test::ScopedLogWriter m_installed{m_sink};
};

TEST_F(BackupJobClient, InstanceBeforeCreateThrowsAndReleasesTheLock) {
  EXPECT_EQ(ThrownText(Instance), kNotCreated);
  EXPECT_TRUE(OnAnotherThread([] { return Create(); }));
}

TEST_F(BackupJobClient, SecondCreateThrowsAndKeepsTheFirst) {
  const CBackupJobClientPtr first = Create();
  ASSERT_TRUE(first);
  EXPECT_EQ(ThrownText([] { Create(99); }), kCalledTwice);
  EXPECT_EQ(CBackupJobClient::instance().get(), first.get());
  EXPECT_EQ(RkLocalPlatform::InitCalls().size(), 1u);
}

TEST_F(BackupJobClient, EveryHandleSharesTheOneObject) {
  CBackupJobClientPtr created = Create();
  ASSERT_TRUE(created);
  CBackupJobClient* const pClient = created.get();
  CBackupJobClientPtr fetched = CBackupJobClient::instance();
  EXPECT_EQ(fetched.get(), pClient);
  EXPECT_EQ(OnAnotherThread([] { return CBackupJobClient::instance(); }).get(), pClient);
  created.reset();
  fetched.reset();
  EXPECT_EQ(CBackupJobClient::instance().get(), pClient);
}

struct InitArgsCase {
  const char* name;
  const char* pszArg1;
  RKJobID nJobId;
  int nArg3;
  RKS_PLATFORMTYPE ePlatform;
  bool bArg5;
  const char* pszArg6;
};

class BackupJobClientInitArgs : public BackupJobClient,
                                public testing::WithParamInterface<InitArgsCase> {};

std::optional<std::string> TextOf(const char* psz) {
  return psz ? std::optional<std::string>(psz) : std::nullopt;
}

TEST_P(BackupJobClientInitArgs, ReachInitUnchangedAndInOrder) {
  const InitArgsCase& c = GetParam();
  ASSERT_TRUE(CBackupJobClient::createInstance(c.pszArg1, c.nJobId, c.nArg3, c.ePlatform, c.bArg5,
                                               c.pszArg6));
  const std::vector<RkLocalPlatform::InitArgs> calls = RkLocalPlatform::InitCalls();
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].arg1, TextOf(c.pszArg1));
  EXPECT_EQ(calls[0].jobId, c.nJobId);
  EXPECT_EQ(calls[0].arg3, c.nArg3);
  EXPECT_EQ(calls[0].platform, c.ePlatform);
  EXPECT_EQ(calls[0].arg5, c.bArg5);
  EXPECT_EQ(calls[0].arg6, TextOf(c.pszArg6));
}

INSTANTIATE_TEST_SUITE_P(Cases, BackupJobClientInitArgs,
                         testing::Values(InitArgsCase{"Typical", "client1", 4242, 7,
                                                      RKS_PLATFORM_UNIX, true, "x"},
                                         InitArgsCase{"NullsAndExtremes", nullptr, INT64_MIN, -1,
                                                      RKS_PLATFORM_WINDOWS, false, nullptr}),
                         NameOf<InitArgsCase>);

struct InitFailureCase {
  const char* name;
  int nCode;
  const char* pszText;
  const char* pszMessage;
};

class BackupJobClientInitFailure : public BackupJobClient,
                                   public testing::WithParamInterface<InitFailureCase> {};

TEST_P(BackupJobClientInitFailure, IsLoggedOnceAndCreateMayBeRetried) {
  const InitFailureCase& c = GetParam();
  RkLocalPlatform::FailInit(c.nCode, c.pszText);
  EXPECT_FALSE(Create(4242));

  const std::vector<umx_test::LogRecord> records = m_sink->Records();
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].level, -1);
  EXPECT_THAT(records[0].function, testing::HasSubstr("CBackupJobClient::createInstance("));
  EXPECT_GT(records[0].line, 0);
  EXPECT_EQ(records[0].jobId, 0);
  EXPECT_EQ(records[0].context, 0);
  EXPECT_EQ(records[0].format, "Failed to initialize CBackupJobClient object: %d:%s");
  EXPECT_EQ(records[0].message, c.pszMessage);
  EXPECT_EQ(ThrownText(Instance), kNotCreated);

  RkLocalPlatform::Reset();
  const CBackupJobClientPtr retried = Create();
  ASSERT_TRUE(retried);
  EXPECT_EQ(CBackupJobClient::instance().get(), retried.get());
  EXPECT_EQ(m_sink->Records().size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BackupJobClientInitFailure,
    testing::Values(
        InitFailureCase{"WithText", 5, "no media agent",
                        "Failed to initialize CBackupJobClient object: 5:no media agent"},
        InitFailureCase{"NullText", -3, nullptr,
                        "Failed to initialize CBackupJobClient object: -3:(null)"},
        InitFailureCase{"EmptyText", 0, "", "Failed to initialize CBackupJobClient object: 0:"}),
    NameOf<InitFailureCase>);

TEST_F(BackupJobClient, FailureWithoutASinkGoesToStandardError) {
  umx_test::ScopedLogWriter noSink(nullptr);
  RkLocalPlatform::FailInit(5, "no media agent");
  testing::internal::CaptureStderr();
  const CBackupJobClientPtr created = Create();
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "Failed to initialize CBackupJobClient object: 5:no media agent\n");
  EXPECT_FALSE(created);
}

TEST_F(BackupJobClient, ReentrantCallsFromInitSeeTheClientBeingInitialised) {
  CBackupJobClientPtr inside;
  std::string secondCreate;
  RkLocalPlatform::SetInitCallback([&] {
    inside = CBackupJobClient::instance();
    secondCreate = ThrownText([] { Create(); });
  });
  const CBackupJobClientPtr created = Create();
  ASSERT_TRUE(created);
  EXPECT_EQ(inside.get(), created.get());
  EXPECT_EQ(secondCreate, kCalledTwice);
  EXPECT_EQ(RkLocalPlatform::InitCalls().size(), 1u);
}

// A half-made client is never handed out, and creation may be tried again.
struct ThrowingFailure {
  const char* name;
  std::function<void(umx_test::RecordingLogWriter&)> arrange;
};

class BackupJobClientThrowingFailure : public BackupJobClient,
                                       public testing::WithParamInterface<ThrowingFailure> {};

TEST_P(BackupJobClientThrowingFailure, UninstallsTheClientBeforeTheExceptionLeaves) {
  GetParam().arrange(*m_sink);
  EXPECT_THROW(Create(), std::runtime_error);
  EXPECT_EQ(OnAnotherThread([] { return ThrownText(Instance); }), kNotCreated);

  RkLocalPlatform::Reset();
  m_sink->ThrowOnWrite(false);
  EXPECT_TRUE(Create());
}

INSTANTIATE_TEST_SUITE_P(Cases, BackupJobClientThrowingFailure,
                         testing::Values(ThrowingFailure{"InitThrows",
                                                         [](umx_test::RecordingLogWriter&) {
                                                           RkLocalPlatform::ThrowFrom(
                                                               RkLocalPlatform::Call::Init);
                                                         }},
                                         ThrowingFailure{"SinkThrows",
                                                         [](umx_test::RecordingLogWriter& sink) {
                                                           RkLocalPlatform::FailInit(
                                                               5, "no media agent");
                                                           sink.ThrowOnWrite(true);
                                                         }}),
                         NameOf<ThrowingFailure>);

class BackupJobClientRace : public BackupJobClient, public testing::WithParamInterface<int> {};

TEST_P(BackupJobClientRace, ExactlyOneOfManyCreatorsWins) {
  const int nThreads = GetParam();
  Latch start(nThreads);
  std::mutex mutex;
  std::vector<CBackupJobClientPtr> winners;
  std::vector<std::string> refusals;
  std::vector<std::thread> threads;
  for (int i = 0; i < nThreads; ++i) {
    threads.emplace_back([&, i] {
      start.CountDown();
      start.Wait();
      std::optional<CBackupJobClientPtr> created;
      const std::string text = ThrownText([&] { created = Create(i); });
      std::lock_guard<std::mutex> lock(mutex);
      if (created) winners.push_back(*created);
      if (!text.empty()) refusals.push_back(text);
    });
  }
  for (std::thread& thread : threads)
    thread.join();

  ASSERT_EQ(winners.size(), 1u);
  ASSERT_TRUE(winners[0]);
  EXPECT_EQ(refusals, std::vector<std::string>(nThreads - 1, kCalledTwice));
  EXPECT_EQ(RkLocalPlatform::InitCalls().size(), 1u);
  EXPECT_EQ(CBackupJobClient::instance().get(), winners[0].get());
}

INSTANTIATE_TEST_SUITE_P(Threads, BackupJobClientRace, testing::Values(2, 8, 32));

// Callers of instance() wait for a slow init, then see its outcome.
class BackupJobClientSlowInit : public BackupJobClient, public testing::WithParamInterface<bool> {};

TEST_P(BackupJobClientSlowInit, InstanceCallersWaitForTheOutcome) {
  const bool bInitSucceeds = GetParam();
  constexpr int kReaders = 4;
  if (!bInitSucceeds) RkLocalPlatform::FailInit(5, "no media agent");
  Latch initEntered(1);
  Latch releaseInit(1);
  RkLocalPlatform::SetInitCallback([&] {
    initEntered.CountDown();
    releaseInit.Wait();
  });

  std::future<CBackupJobClientPtr> creator =
      std::async(std::launch::async, [] { return Create(); });
  initEntered.Wait();
  Latch readersStarted(kReaders);
  std::atomic<int> nFinished{0};
  std::vector<std::future<std::pair<CBackupJobClientPtr, std::string>>> readers;
  for (int i = 0; i < kReaders; ++i) {
    readers.push_back(std::async(std::launch::async, [&] {
      readersStarted.CountDown();
      CBackupJobClientPtr fetched;
      const std::string text = ThrownText([&] { fetched = CBackupJobClient::instance(); });
      ++nFinished;
      return std::make_pair(fetched, text);
    }));
  }
  readersStarted.Wait();
  EXPECT_EQ(nFinished.load(), 0);
  releaseInit.CountDown();

  const CBackupJobClientPtr created = creator.get();
  EXPECT_EQ(static_cast<bool>(created), bInitSucceeds);
  for (auto& reader : readers) {
    const auto [fetched, text] = reader.get();
    EXPECT_EQ(fetched.get(), created.get());
    EXPECT_EQ(text, bInitSucceeds ? "" : kNotCreated);
  }
}

INSTANTIATE_TEST_SUITE_P(Outcomes, BackupJobClientSlowInit, testing::Values(true, false),
                         [](const testing::TestParamInfo<bool>& param) {
                           return param.param ? "InitSucceeds" : "InitFails";
                         });

}  // namespace
