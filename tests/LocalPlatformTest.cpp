// The local platform's own safety rules; what it does for the library is
// tested through the library.
#include <cstddef>
#include <cstdlib>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

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

TEST_F(LocalPlatformTest, RootComesFromTheEnvironmentWithoutTrailingSlashes) {
  setenv("TMPDIR", "/scratch/", 1);
  EXPECT_EQ(RkLocalPlatform::Root(), "/scratch/rk-local-platform");
  unsetenv("TMPDIR");
  EXPECT_EQ(RkLocalPlatform::Root(), "/tmp/rk-local-platform");
  setenv(RkLocalPlatform::kRootVariable, "/moved//", 1);
  EXPECT_EQ(RkLocalPlatform::Root(), "/moved");
}

TEST_F(LocalPlatformTest, TextsThatDoNotFitAndNamesThatLeaveTheRootAreRefusedUnwritten) {
  std::vector<char> dir(1024, 'u');
  RkLocalPlatform::SetSubclientDir(std::string(1023, 'd'));
  EXPECT_EQ(GetSubclientDir(1, 2, dir.data()), 0);
  RkLocalPlatform::SetSubclientDir(std::string(1024, 'd'));
  dir.assign(dir.size(), 'u');
  EXPECT_NE(GetSubclientDir(1, 2, dir.data()), 0);
  EXPECT_EQ(std::string(dir.begin(), dir.end()), std::string(1024, 'u'));

  RKPI_ZentClient platform;
  const struct {
    const char* client;
    std::size_t capacity;
    unsigned long error;
  } cases[] = {{"c", 8, 122}, {"", 2048, 87}, {".", 2048, 87}, {"..", 2048, 87}, {"a/b", 2048, 87}};
  for (const auto& c : cases) {
    std::vector<char> out(c.capacity, 'u');
    EXPECT_EQ(platform.getJobResultsDirectory(c.client, out.data(), nullptr, nullptr, out.size()),
              0);
    EXPECT_EQ(platform.getLastError(), c.error) << c.client;
    EXPECT_EQ(std::string(out.begin(), out.end()), std::string(c.capacity, 'u')) << c.client;
  }
}

TEST_F(LocalPlatformTest, FocusNamesStayValidAcrossThreadsAndReset) {
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
