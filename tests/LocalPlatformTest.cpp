#include <algorithm>
#include <cstdlib>
#include <future>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "RkJobClient.h"
#include "RkLocalPlatform.h"
#include "RkPlatform.h"

namespace {

class LocalPlatformTest : public ::testing::Test {
 protected:
  void SetUp() override {
    RkLocalPlatform::Reset();
    unsetenv(RkLocalPlatform::kRootVariable);
  }
};

TEST_F(LocalPlatformTest, RootComesFromTheEnvironment) {
  setenv("TMPDIR", "/scratch/", 1);
  EXPECT_EQ(RkLocalPlatform::Root(), "/scratch/rk-local-platform");
  unsetenv("TMPDIR");
  EXPECT_EQ(RkLocalPlatform::Root(), "/tmp/rk-local-platform");
  setenv(RkLocalPlatform::kRootVariable, "/moved//", 1);
  EXPECT_EQ(RkLocalPlatform::Root(), "/moved");
}

TEST_F(LocalPlatformTest, InitFailsAsToldAndRecordsItsArguments) {
  int callbacks = 0;
  RkLocalPlatform::SetInitCallback([&callbacks] { ++callbacks; });
  RKBkpJobClient client;
  EXPECT_TRUE(client.init("cs", 7, 3, RKS_PLATFORM_LINUX, true, nullptr));
  RkLocalPlatform::FailInit(-5, nullptr);
  EXPECT_FALSE(client.init(nullptr, 8, 0, RKS_PLATFORM_UNIX, false, "x"));
  EXPECT_EQ(client.getLastError(), -5);
  EXPECT_EQ(client.getLastErrorStr(), nullptr);
  RkLocalPlatform::ThrowFrom(RkLocalPlatform::Call::Init);
  EXPECT_THROW(client.init("cs", 9, 0, RKS_PLATFORM_LINUX, false, "x"), std::runtime_error);
  EXPECT_EQ(callbacks, 3);

  auto calls = RkLocalPlatform::InitCalls();
  ASSERT_EQ(calls.size(), 3u);
  EXPECT_EQ(calls[0].arg1, "cs");
  EXPECT_EQ(calls[0].arg6, std::nullopt);
  EXPECT_EQ(calls[1].arg1, std::nullopt);
  EXPECT_EQ(calls[1].jobId, 8);
  EXPECT_EQ(calls[1].platform, RKS_PLATFORM_UNIX);

  RkLocalPlatform::Reset();
  EXPECT_TRUE(client.init("cs", 7, 3, RKS_PLATFORM_LINUX, true, nullptr));
  EXPECT_EQ(RkLocalPlatform::InitCalls().size(), 1u);
  EXPECT_EQ(callbacks, 3);
}

TEST_F(LocalPlatformTest, TextsThatDoNotFitAreRefusedUnwritten) {
  RkLocalPlatform::SetSubclientDir(std::string(1023, 'd'));
  std::vector<char> dir(1024, 'u');
  EXPECT_EQ(GetSubclientDir(1, 2, dir.data()), 0);
  RkLocalPlatform::SetSubclientDir(std::string(1024, 'd'));
  std::fill(dir.begin(), dir.end(), 'u');
  EXPECT_NE(GetSubclientDir(1, 2, dir.data()), 0);
  EXPECT_EQ(std::string(dir.begin(), dir.end()), std::string(1024, 'u'));

  RKPI_ZentClient platform;
  std::vector<char> small(8, 'u');
  EXPECT_EQ(platform.getJobResultsDirectory("c", small.data(), nullptr, nullptr, small.size()), 0);
  EXPECT_EQ(platform.getLastError(), 122u);
  EXPECT_EQ(std::string(small.begin(), small.end()), std::string(8, 'u'));
}

TEST_F(LocalPlatformTest, ClientNamesThatLeaveTheRootAreRefused) {
  RKPI_ZentClient platform;
  std::vector<char> dir(2048);
  for (const char* name : {"", ".", "..", "a/b"}) {
    EXPECT_EQ(platform.getJobResultsDirectory(name, dir.data(), nullptr, nullptr, dir.size()), 0)
        << name;
    EXPECT_EQ(platform.getLastError(), 87u);
  }
}

TEST_F(LocalPlatformTest, FocusNamesStayValidAcrossThreadsAndReset) {
  EXPECT_EQ(RKPI_Focus::getFocusClientName(false), nullptr);
  EXPECT_STREQ(RKPI_Focus::getFocusClientName(true), "localclient");
  RKPI_Focus::setFocusClientName("first");
  const char* first = RKPI_Focus::getFocusClientName(false);

  std::promise<void> go;
  std::shared_future<void> start = go.get_future().share();
  std::vector<std::thread> threads;
  for (int i = 0; i < 4; ++i) {
    threads.emplace_back([start, i] {
      start.wait();
      const std::string name = "client" + std::to_string(i);
      for (int n = 0; n < 200; ++n) {
        RKPI_Focus::setFocusClientName(name.c_str());
        EXPECT_EQ(std::string(RKPI_Focus::getFocusClientName(false)).rfind("client", 0), 0u);
      }
    });
  }
  go.set_value();
  for (auto& thread : threads)
    thread.join();
  RkLocalPlatform::Reset();
  EXPECT_EQ(RKPI_Focus::getFocusClientName(false), nullptr);
  EXPECT_STREQ(first, "first");
}

}  // namespace
