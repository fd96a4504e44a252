// The agent check's walk of what an agent left, and its removal: neither
// leaves the folder it was given, whatever the agent made of it.
#include <fcntl.h>
#include <grp.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include <gtest/gtest.h>

#include "Runner.h"
#include "Tree.h"

namespace {

using namespace AgentCheck;
namespace fs = std::filesystem;

constexpr uid_t kNobody = 65534;

void Touch(const fs::path& path, const std::string& text = "x") { std::ofstream(path) << text; }

// Runs `body` as an ordinary user, in a child process when the tests run as
// root (which permission bits do not stop), with `base` and all under `top`
// given to that user first; its failures are the child's exit status.
void AsOrdinaryUser(const fs::path& base, const fs::path& top, const std::function<bool()>& body) {
  if (::geteuid() != 0) {
    EXPECT_TRUE(body());
    return;
  }
  ASSERT_EQ(::chown(base.c_str(), kNobody, kNobody), 0);
  ASSERT_EQ(::chown(top.c_str(), kNobody, kNobody), 0);
  for (const fs::directory_entry& entry : fs::recursive_directory_iterator(top))
    ASSERT_EQ(::lchown(entry.path().c_str(), kNobody, kNobody), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    bool bPassed = false;
    try {
      bPassed = ::setgroups(0, nullptr) == 0 && ::setresgid(kNobody, kNobody, kNobody) == 0 &&
                ::setresuid(kNobody, kNobody, kNobody) == 0 && body();
    } catch (...) {
    }
    ::_exit(bPassed ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
}

class AgentCheckTree : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string why;
    std::optional<BaseFolder> made = BaseFolder::MakeTemporary(why);
    ASSERT_TRUE(made) << why;
    m_base.emplace(std::move(*made));
    m_top = fs::path(m_base->Path()) / "top";
    m_outside = fs::path(m_base->Path()) / "outside";
    fs::create_directories(m_top);
    fs::create_directories(m_outside / "kept");
    Touch(m_outside / "kept" / "file");
    ::chmod(m_outside.c_str(), 0750);
  }
  // The outside folder as it was made: every entry and its mode.
  void ExpectOutsideUntouched() {
    EXPECT_TRUE(fs::exists(m_outside / "kept" / "file"));
    struct stat status {};
    ASSERT_EQ(::stat(m_outside.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0750u);
  }

  std::optional<BaseFolder> m_base;
  fs::path m_top;
  fs::path m_outside;
};

TEST_F(AgentCheckTree, ListsEveryFileWithoutFollowingLinks) {
  fs::create_directories(m_top / "a" / "b");
  Touch(m_top / "a" / "b" / "result", "12345");
  fs::create_symlink(m_outside, m_top / "a" / "out");
  fs::create_symlink(m_outside / "kept" / "file", m_top / "link-to-file");
  const FileListing listing = ListFiles(m_base->Fd(), "top", 100, 1 << 20);
  EXPECT_TRUE(listing.incomplete.empty()) << listing.incomplete;
  ASSERT_EQ(listing.files.size(), 3u);
  EXPECT_EQ(listing.files[0].path, "a/b/result");
  EXPECT_EQ(listing.files[0].size, 5);
  EXPECT_EQ(listing.files[1].path, "a/out");
  EXPECT_EQ(listing.files[2].path, "link-to-file");
}

TEST_F(AgentCheckTree, ListsDeepTreesAndStopsAtItsBounds) {
  std::string path = m_top.string();
  for (int n = 0; n < 1000; ++n)
    path += "/d";
  fs::create_directories(path);
  Touch(path + "/deep");
  for (int n = 0; n < 10; ++n)
    Touch(m_top / ("f" + std::to_string(n)));
  const FileListing whole = ListFiles(m_base->Fd(), "top", 2000, 1 << 20);
  EXPECT_TRUE(whole.incomplete.empty()) << whole.incomplete;
  EXPECT_EQ(whole.files.size(), 11u);
  const FileListing few = ListFiles(m_base->Fd(), "top", 5, 1 << 20);
  EXPECT_NE(few.incomplete.find("past 5 entries"), std::string::npos) << few.incomplete;
  EXPECT_LE(few.files.size(), 5u);
}

TEST_F(AgentCheckTree, AFolderItCannotReadMakesTheListingIncomplete) {
  fs::create_directories(m_top / "hidden");
  Touch(m_top / "hidden" / "partial-result");
  AsOrdinaryUser(m_base->Path(), m_top, [this] {
    ::chmod((m_top / "hidden").c_str(), 0);
    const FileListing listing = ListFiles(m_base->Fd(), "top", 100, 1 << 20);
    return listing.incomplete.find("cannot open the folder hidden") != std::string::npos;
  });
}

TEST_F(AgentCheckTree, RemovesFoldersLockedByTheirOwnerAndNothingOutside) {
  // Made by the ordinary user, so that permission bits stop it as they
  // would stop a check run by that user.
  AsOrdinaryUser(m_base->Path(), m_top, [this] {
    fs::create_directories(m_top / "readonly" / "below");
    fs::create_directories(m_top / "closed" / "below");
    Touch(m_top / "readonly" / "below" / "f");
    Touch(m_top / "closed" / "below" / "f");
    fs::create_symlink(m_outside, m_top / "readonly" / "out");
    ::chmod((m_top / "readonly").c_str(), 0500);
    ::chmod((m_top / "closed").c_str(), 0);
    const std::string left = RemoveTree(m_base->Fd(), "top");
    return left.empty() && !fs::exists(m_top);
  });
  EXPECT_FALSE(fs::exists(m_top));
  ExpectOutsideUntouched();
}

TEST_F(AgentCheckTree, NeverCrossesIntoAMountedFolder) {
  fs::create_directories(m_top / "mnt");
  // A bind mount ignores the type; one is named all the same, as valgrind
  // reads it.
  if (::mount(m_outside.c_str(), (m_top / "mnt").c_str(), "none", MS_BIND, nullptr) != 0) {
    GTEST_SKIP() << "cannot bind-mount here: " << std::strerror(errno);
  }
  const FileListing listing = ListFiles(m_base->Fd(), "top", 100, 1 << 20);
  EXPECT_NE(listing.incomplete.find("another file system"), std::string::npos)
      << listing.incomplete;
  const std::string left = RemoveTree(m_base->Fd(), "top");
  EXPECT_NE(left.find("mnt"), std::string::npos) << left;
  ExpectOutsideUntouched();
  ::umount2((m_top / "mnt").c_str(), MNT_DETACH);
  EXPECT_EQ(RemoveTree(m_base->Fd(), "top"), "");
}

}  // namespace
