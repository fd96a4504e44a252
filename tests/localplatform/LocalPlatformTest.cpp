// The local platform's own safety rules; what it does for the library is
// tested through the library.
#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <future>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <variant>
#include <vector>

#include <gtest/gtest.h>

#include "RkJobClient.h"
#include "RkLocalPlatform.h"
#include "RkLocalState.h"
#include "RkPlatform.h"

namespace {

using RkLocalPlatform::Call;
using RkLocalPlatform::detail::Settings;

class LocalPlatformTest : public ::testing::Test {
 protected:
  void SetUp() override {
    RkLocalPlatform::Reset();
    unsetenv(RkLocalPlatform::kRootVariable);
  }
};

TEST_F(LocalPlatformTest, RootIsTheNamedOneElseTheUsersOwnWithoutTrailingSlashes) {
  const std::string uid = std::to_string(geteuid());
  const struct {
    const char* pszNamed;
    const char* pszRuntimeDir;
    const char* pszTmpDir;
    std::string root;
  } cases[] = {
      {"/moved//", "/run/user/7", "/scratch", "/moved"},
      {"/", "/run/user/7", "/scratch", "/"},
      {"///", "/run/user/7", "/scratch", "/"},
      {nullptr, "/run/user/7/", "/scratch", "/run/user/7/rk-local-platform"},
      {nullptr, "", "/scratch/", "/scratch/rk-local-platform-" + uid},
      {nullptr, nullptr, nullptr, "/tmp/rk-local-platform-" + uid},
  };
  for (const auto& c : cases) {
    for (const auto& [pszName, pszValue] :
         {std::pair(RkLocalPlatform::kRootVariable, c.pszNamed),
          std::pair("XDG_RUNTIME_DIR", c.pszRuntimeDir), std::pair("TMPDIR", c.pszTmpDir)}) {
      if (pszValue != nullptr) {
        setenv(pszName, pszValue, 1);
      } else {
        unsetenv(pszName);
      }
    }
    EXPECT_EQ(RkLocalPlatform::Root(), c.root);
  }
}

TEST_F(LocalPlatformTest, DefaultRootThatOthersCanWriteIsRefusedAndLeftAsItIs) {
  char szTmp[] = "/tmp/umx-root-XXXXXX";
  ASSERT_NE(mkdtemp(szTmp), nullptr);
  unsetenv("XDG_RUNTIME_DIR");
  setenv("TMPDIR", szTmp, 1);
  const std::string root = RkLocalPlatform::Root();
  ASSERT_EQ(mkdir(root.c_str(), 0777), 0);
  ASSERT_EQ(chmod(root.c_str(), 0777), 0);

  std::vector<char> dir(2048);
  RKPI_ZentClient client;
  EXPECT_EQ(client.getJobResultsDirectory("c", dir.data(), nullptr, nullptr, dir.size()), 0);
  EXPECT_EQ(client.getLastError(), 5u);
  EXPECT_NE(GetSubclientDir(1, 2, dir.data()), 0);
  struct stat info {};
  ASSERT_EQ(stat(root.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0777u);

  ASSERT_EQ(chmod(root.c_str(), 0700), 0);  // now the user's own
  EXPECT_NE(client.getJobResultsDirectory("c", dir.data(), nullptr, nullptr, dir.size()), 0);
  EXPECT_EQ(dir.data(), root + "/clients/c/JobResults");
  rmdir(root.c_str());
  rmdir(szTmp);
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

namespace {

// The failure controls that `settings` arms, in the fault list's own words.
std::string Armed(const Settings& s) {
  std::ostringstream armed;
  if (s.initFailure) {
    armed << " init=" << s.initFailure->code << ':' << s.initFailure->text.value_or("(null)");
  }
  if (s.platformInvalid) armed << " invalid";
  if (s.zentServerHostNameFailure) armed << " hostname=" << *s.zentServerHostNameFailure;
  if (s.jobResultsDirectoryFailure) armed << " resultsdir=" << *s.jobResultsDirectoryFailure;
  if (s.getApplicationIdResult != 0) armed << " appid=" << s.getApplicationIdResult;
  if (s.getClientFails) armed << " getclient";
  if (s.getNameResult != 0) armed << " getname=" << s.getNameResult;
  if (s.subclientDirResult != 0) armed << " subclient=" << s.subclientDirResult;
  for (Call call : s.throwingCalls)
    armed << " throw=" << RkLocalPlatform::NamesOf(call).faultName;
  for (const auto& held : s.heldCalls)
    armed << " hold=" << RkLocalPlatform::NamesOf(held.first).faultName;
  for (Call call : s.terminatingCalls)
    armed << " term=" << RkLocalPlatform::NamesOf(call).faultName;
  if (s.zentServerHostName != Settings().zentServerHostName) {
    armed << " sethostname=" << s.zentServerHostName;
  }
  if (s.jobResultsDirectory) armed << " setresultsdir=" << *s.jobResultsDirectory;
  if (s.unterminatedDirectories) armed << " unterminated";
  if (s.scribbleOnScratchBuffers) armed << " scribble";
  return armed.str().empty() ? "" : armed.str().substr(1);
}

TEST(LocalPlatformFaults, WellFormedListsArmTheirControls) {
  const struct {
    const char* list;
    const char* armed;
  } cases[] = {
      {"", ""},
      {"init=5:down", "init=5:down"},
      {"init=-5", "init=-5:(null)"},
      {"init=5:", "init=5:"},
      {"init=7:a:b=c", "init=7:a:b=c"},
      {"invalid,getclient,unterminated,scribble", "invalid getclient unterminated scribble"},
      {"hostname=31,resultsdir=0", "hostname=31 resultsdir=0"},
      {"resultsdir=18446744073709551615", "resultsdir=18446744073709551615"},
      {"appid=-2,getname=3,subclient=2147483647", "appid=-2 getname=3 subclient=2147483647"},
      {"throw=subclient,throw=init,throw=hostname,throw=resultsdir,throw=appid,throw=getclient,"
       "throw=getname",
       "throw=init throw=hostname throw=resultsdir throw=appid throw=getclient throw=getname "
       "throw=subclient"},
      {"hostname=1,hostname=2", "hostname=2"},
      {"hold=getname,hold=init,hold=init", "hold=init hold=getname"},
      {"term=resultsdir,term=init,term=init", "term=init term=resultsdir"},
      {"sethostname=\x1b]0;x\x07\nJobId=9:a=b,setresultsdir=/r X/..",
       "sethostname=\x1b]0;x\x07\nJobId=9:a=b setresultsdir=/r X/.."},
      {"sethostname=,setresultsdir=", "sethostname= setresultsdir="},
  };
  for (const auto& c : cases) {
    const auto parsed = RkLocalPlatform::detail::ParseFaults(c.list);
    ASSERT_TRUE(std::holds_alternative<Settings>(parsed))
        << c.list << ": " << std::get<std::string>(parsed);
    EXPECT_EQ(Armed(std::get<Settings>(parsed)), c.armed) << c.list;
  }
}

TEST(LocalPlatformFaults, MalformedListsAreRefusedQuotingTheItem) {
  const struct {
    const char* list;
    const char* why;
  } cases[] = {
      {"bogus", "\"bogus\": not a fault"},
      {"invalid, scribble", "\" scribble\": not a fault"},
      {"invalid,,scribble", "item 2 is empty"},
      {"invalid,", "item 2 is empty"},
      {"invalid=1", "\"invalid=1\": invalid takes no value"},
      {"hostname", "\"hostname\": CODE must be"},
      {"hostname=31x", "\"hostname=31x\": CODE must be"},
      {"hostname=-1", "\"hostname=-1\": CODE must be"},
      {"resultsdir=0x4", "\"resultsdir=0x4\": CODE must be"},
      {"resultsdir=18446744073709551616", "\"resultsdir=18446744073709551616\": CODE"},
      {"init=:down", "\"init=:down\": CODE must be"},
      {"init=+5", "\"init=+5\": CODE must be"},
      {"appid=0", "\"appid=0\": RESULT must be a decimal number other than 0"},
      {"getname=2147483648", "\"getname=2147483648\": RESULT"},
      {"throw", "\"throw\": NAME must be one of init, hostname"},
      {"throw=invalid", "\"throw=invalid\": NAME"},
      {"hold", "\"hold\": NAME must be one of init, hostname"},
      {"hold=getName", "\"hold=getName\": NAME"},
      {"term", "\"term\": NAME must be one of init, hostname"},
      {"term=getJobResultsDirectory", "\"term=getJobResultsDirectory\": NAME"},
      {"sethostname", "\"sethostname\": sethostname takes a value, maybe empty"},
      {"setresultsdir", "\"setresultsdir\": setresultsdir takes a value"},
  };
  for (const auto& c : cases) {
    const auto parsed = RkLocalPlatform::detail::ParseFaults(c.list);
    ASSERT_TRUE(std::holds_alternative<std::string>(parsed)) << c.list;
    EXPECT_EQ(std::get<std::string>(parsed).rfind(c.why, 0), 0u)
        << c.list << ": " << std::get<std::string>(parsed);
  }
}

// The variable is read at the process's first platform call, so these need a
// process in which nothing has called the platform yet: ctest gives each test
// one. (The death test forks; a child that re-ran the binary would not start
// under a user-mode emulator.)
class LocalPlatformEnvironment : public ::testing::Test {
 protected:
  void SetUp() override {
    if (::testing::UnitTest::GetInstance()->test_to_run_count() > 1) {
      GTEST_SKIP() << "needs a process of its own";
    }
  }
};

TEST_F(LocalPlatformEnvironment, ArmsAtTheFirstCallOnlyAndResetClearsIt) {
  setenv(RkLocalPlatform::kFaultsVariable, "invalid,init=5:down", 1);
  RKBkpJobClient client;
  EXPECT_FALSE(client.init("c", 1, 0, RKS_PLATFORM_LINUX, false, "t"));
  EXPECT_EQ(client.getLastError(), 5);
  EXPECT_STREQ(client.getLastErrorStr(), "down");
  EXPECT_TRUE(RKPI_ZentClient().invalidRKPlatform());

  setenv(RkLocalPlatform::kFaultsVariable, "bogus", 1);
  RkLocalPlatform::Reset();
  EXPECT_TRUE(client.init("c", 1, 0, RKS_PLATFORM_LINUX, false, "t"));
  EXPECT_FALSE(RKPI_ZentClient().invalidRKPlatform());
  unsetenv(RkLocalPlatform::kFaultsVariable);
}

TEST_F(LocalPlatformEnvironment, MalformedListStopsTheProcessQuotingTheItem) {
  EXPECT_EXIT(
      {
        setenv(RkLocalPlatform::kFaultsVariable, "invalid,hostname=31x", 1);
        RKPI_Focus::setFocusClientName("c");
      },
      ::testing::ExitedWithCode(RkLocalPlatform::kMalformedFaultsStatus),
      "malformed RK_LOCAL_PLATFORM_FAULTS=\"invalid,hostname=31x\": \"hostname=31x\": CODE");
}

// The transcript is opened at the process's first platform call, so each
// mode is tried in a child forked before the parent calls the platform. A
// file that group or others can write is refused once and left unwritten;
// the user's own is written.
TEST_F(LocalPlatformEnvironment, TranscriptThatGroupOrOthersCanWriteIsRefusedUnwritten) {
  char szFolder[] = "/tmp/umx-transcript-XXXXXX";
  ASSERT_NE(mkdtemp(szFolder), nullptr);
  const std::string path = std::string(szFolder) + "/transcript.jsonl";
  const struct {
    mode_t mode;
    bool refused;
  } cases[] = {{0660, true}, {0620, true}, {0602, true}, {0600, false}};
  for (const auto& c : cases) {
    std::ofstream(path, std::ios::trunc).close();
    ASSERT_EQ(chmod(path.c_str(), c.mode), 0);
    const std::string refusal =
        "local platform: refusing the transcript " + path + ": others can write it";
    EXPECT_EXIT(
        {
          setenv(RkLocalPlatform::kTranscriptVariable, path.c_str(), 1);
          RKPI_Focus::setFocusClientName("c");
          RKPI_Focus::setFocusClientName("d");
          std::fflush(nullptr);
          std::_Exit(0);
        },
        ::testing::ExitedWithCode(0), c.refused ? "^" + refusal + "; going on without it\n$" : "^$")
        << std::oct << c.mode;
    struct stat info {};
    ASSERT_EQ(stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_size == 0, c.refused) << std::oct << c.mode;
    EXPECT_EQ(info.st_mode & 07777, c.mode);
  }
  unlink(path.c_str());
  rmdir(szFolder);
}

}  // namespace
