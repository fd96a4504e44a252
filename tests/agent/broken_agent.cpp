// An agent broken in one way, chosen when it runs by the environment
// variable UMX_BROKEN_WAY, for the agent check's tests: unset or empty, it
// does a whole job, reporting its failures on stderr. The ways:
//   crash            aborts when the job results directory lookup fails
//   hang             waits forever when the central server lookup fails
//   success-on-init  goes on, and exits 0, when the platform refuses init
//   silent           fails without a word
//   partial          writes its summary before the central server lookup,
//                    and leaves it when that lookup fails
//   ignore-term      ignores SIGTERM
//   trace            prints a trace line of its own, not in the library's form
//   ignore-cn        never makes the -cn client the focus client, so that its
//                    results go to the application's client
//   raw-text         prints its client name raw in a line of text (always)
//   in-place         writes its summary in place, in two writes, not to a
//                    temporary file renamed into place
//   write-outside    writes a file in UMX_BROKEN_OUTSIDE (default /tmp),
//                    outside its folders, and removes it (always)
// and hostile ways, each acted on when the central server lookup fails
// (else the whole job is done as above). "The check" is the nearest
// ancestor running umx-agent-check; where none is found, the steps that
// need it are left out. Every step is tried once and its failure ignored.
//   setsid-child     leaves a child that has left for a session of its own
//   group-child      leaves a child in its own process group
//   kill-keeper      kills the process that started it, and leaves a child
//   process-chain    leaves a chain of 200 processes, still growing as it ends
//   fifo-outputs     puts FIFOs where its stdout, stderr and transcript were
//   cut-transcript   ends its transcript in the middle of a record, exits 0
//   huge-line        writes 64 MiB to its transcript without a line end
//   deep-tree        leaves a file 2,000 folders deep under the root
//   pause            tries to join the check's process group, then waits
//   raw-trace        prints its client name raw, as a trace line (always)
//   no-results       does the whole job but writes no summary (always)
//   segv-on-term     dies of SIGSEGV when sent SIGTERM
//   bind-mount-outside  bind-mounts $UMX_HOSTILE_OUTSIDE on mnt in its root
//   plant-links      before the job (always), plants links to
//                    $UMX_HOSTILE_OUTSIDE and folders in the check's base
//                    folder, named as scenario folders 00 to 60 would be
//   move-sibling     before the job (always), for 1.5 s, moves each folder
//                    in the other scenarios' roots to $UMX_HOSTILE_OUTSIDE
//                    and back; leaves d1/d2/d3/file in its own root (always)
//   replace-reports  moves the check's --json and --junit reports aside,
//                    writes a passing report in each place, and exits 0
//   fake-keeper-report  leaves a child, then writes forged keeper records to
//                    descriptors 3 to 12 of each ancestor up to the check
//   stop-pipe        writes a byte to each descriptor of the check
//   check-stdout     writes a JSON line and terminal escapes to the check's
//                    stdout and stderr, and the escapes to every terminal
//   zombie-leader    leaves a child whose main thread has ended while
//                    another, named "sleep 1001", sleeps on
//   kill-siblings    kills the check's other children and their children
//   flood-held       where a call is held, writes 3 MiB of records and a
//                    held call to its transcript and exits 0 before the job
//   mount-over-proc  leaves a child and mounts a tmpfs over its /proc entry
//   stop-keeper      stops the process that started it with SIGSTOP
//   tiny-records     writes 4 MiB of short records to its transcript before
//                    the job (always)
//   many-files       leaves 19,990 empty files in many/ in its root before
//                    the job (always)
//   empty-lines      writes 1 MiB of empty lines to stdout before the job
//                    (always)
//   mode-000         leaves hidden/partial-result in its root, the folder
//                    with mode 000
//   session-leader   prints a trace line out of form unless it leads a
//                    session of its own with no terminal (always)
//   zombie-child     leaves a child that has exited, unreaped
//   many-children    leaves 20 children running
//   link-transcript  replaces its transcript with a link to a copy of it
//   killed-after-job does the whole job, then kills itself (always)
#include <dirent.h>
#include <fcntl.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include <boost/make_shared.hpp>

#include "BackupJobClient.h"
#include "CommonArguments.h"
#include "JobUtils.h"
#include "LocalCommandLine.h"
#include "StreamLogWriter.h"

namespace {

const char* const kWays[] = {"session-leader",
                             "zombie-child",
                             "many-children",
                             "link-transcript",
                             "killed-after-job",
                             "crash",
                             "hang",
                             "success-on-init",
                             "silent",
                             "partial",
                             "ignore-term",
                             "trace",
                             "ignore-cn",
                             "raw-text",
                             "in-place",
                             "write-outside",
                             "setsid-child",
                             "group-child",
                             "kill-keeper",
                             "process-chain",
                             "fifo-outputs",
                             "cut-transcript",
                             "huge-line",
                             "deep-tree",
                             "pause",
                             "raw-trace",
                             "no-results",
                             "segv-on-term",
                             "bind-mount-outside",
                             "plant-links",
                             "move-sibling",
                             "replace-reports",
                             "fake-keeper-report",
                             "stop-pipe",
                             "check-stdout",
                             "zombie-leader",
                             "kill-siblings",
                             "flood-held",
                             "mount-over-proc",
                             "stop-keeper",
                             "tiny-records",
                             "many-files",
                             "empty-lines",
                             "mode-000"};

std::string Env(const char* pszName) {
  const char* pszValue = std::getenv(pszName);
  return pszValue != nullptr ? pszValue : "";
}

const std::string& Way() {
  static const std::string strWay = Env("UMX_BROKEN_WAY");
  return strWay;
}

bool Is(const char* pszWay) { return Way() == pszWay; }

int Fail(const std::string& strWhat) {
  if (!Is("silent")) std::fprintf(stderr, "broken agent: %s\n", strWhat.c_str());
  return 1;
}

void MakeFolders(const std::string& strPath) {
  for (std::size_t nSlash = strPath.find('/', 1); nSlash != std::string::npos;
       nSlash = strPath.find('/', nSlash + 1)) {
    ::mkdir(strPath.substr(0, nSlash).c_str(), 0700);
  }
  ::mkdir(strPath.c_str(), 0700);
}

// A child that sleeps long past any time limit, named so that a test can
// look for it; it returns once the child runs sleep.
pid_t LeaveChild(bool bOwnSession) {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) return -1;
  const pid_t child = ::fork();
  if (child == 0) {
    if (bOwnSession) ::setsid();
    ::execlp("sleep", "sleep", "1001", static_cast<char*>(nullptr));
    ::_exit(127);
  }
  ::close(fds[1]);
  char c = 0;
  (void)!::read(fds[0], &c, 1);  // end of file: the exec closed the other end
  ::close(fds[0]);
  return child;
}

// A child whose main thread has ended, so that its leader is a zombie,
// while a thread named as the sleeping children are lives on; it returns
// once that thread runs.
void LeaveZombieLeader() {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) return;
  if (::fork() == 0) {
    ::close(fds[0]);
    const int ready = fds[1];
    try {
      std::thread([ready] {
        ::prctl(PR_SET_NAME, "sleep 1001", 0, 0, 0);
        ::close(ready);
        ::sleep(1001);
      }).detach();
    } catch (const std::exception&) {
      ::_exit(127);
    }
    ::pthread_exit(nullptr);
  }
  ::close(fds[1]);
  char c = 0;
  (void)!::read(fds[0], &c, 1);  // end of file: the thread closed the other end
  ::close(fds[0]);
}

void WriteAll(int fd, const char* pData, std::size_t nSize) {
  while (nSize > 0) {
    const ssize_t nWritten = ::write(fd, pData, nSize);
    if (nWritten <= 0) return;
    pData += nWritten;
    nSize -= static_cast<std::size_t>(nWritten);
  }
}

// Writes to the file at strPath opened with the flags given, if it opens.
void WriteTo(const std::string& strPath, int nFlags, const std::string& strData) {
  const int fd = ::open(strPath.c_str(), nFlags | O_CLOEXEC, 0600);
  if (fd < 0) return;
  WriteAll(fd, strData.data(), strData.size());
  ::close(fd);
}

// Appends lines of strRecord to the transcript until they fill nBytes, then
// a line of strLast unless it is empty.
void AppendRecords(const std::string& strRecord, std::size_t nBytes, const std::string& strLast) {
  const std::string strTranscript = Env("RK_LOCAL_PLATFORM_TRANSCRIPT");
  if (strTranscript.empty()) return;
  const int fd = ::open(strTranscript.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) return;
  const std::string strLine = strRecord + "\n";
  std::string strChunk;
  while (strChunk.size() < (64u << 10))
    strChunk += strLine;
  const std::size_t nTotal = (nBytes + strLine.size() - 1) / strLine.size() * strLine.size();
  for (std::size_t nDone = 0; nDone < nTotal; nDone += strChunk.size())
    WriteAll(fd, strChunk.data(), std::min(strChunk.size(), nTotal - nDone));
  if (!strLast.empty()) {
    const std::string strLastLine = strLast + "\n";
    WriteAll(fd, strLastLine.data(), strLastLine.size());
  }
  ::close(fd);
}

std::string ParentFolder(std::string strPath) {
  while (strPath.size() > 1 && strPath.back() == '/')
    strPath.pop_back();
  const std::size_t nSlash = strPath.rfind('/');
  if (nSlash == std::string::npos) return ".";
  return nSlash == 0 ? "/" : strPath.substr(0, nSlash);
}

std::string LastName(std::string strPath) {
  while (strPath.size() > 1 && strPath.back() == '/')
    strPath.pop_back();
  return strPath.substr(strPath.rfind('/') + 1);
}

// The names in a folder, but . and ..; none if it cannot be read.
std::vector<std::string> Entries(const std::string& strFolder, bool bFoldersOnly) {
  std::vector<std::string> names;
  DIR* pDir = ::opendir(strFolder.c_str());
  if (pDir == nullptr) return names;
  while (const dirent* pEntry = ::readdir(pDir)) {
    const std::string strName = pEntry->d_name;
    if (strName == "." || strName == "..") continue;
    if (bFoldersOnly && pEntry->d_type != DT_DIR) {
      struct stat status {};
      if (pEntry->d_type != DT_UNKNOWN ||
          ::fstatat(::dirfd(pDir), pEntry->d_name, &status, AT_SYMLINK_NOFOLLOW) != 0 ||
          !S_ISDIR(status.st_mode)) {
        continue;
      }
    }
    names.push_back(strName);
  }
  ::closedir(pDir);
  return names;
}

std::string ReadAll(const std::string& strPath) {
  std::string strText;
  const int fd = ::open(strPath.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return strText;
  char buffer[4096];
  for (ssize_t nRead; (nRead = ::read(fd, buffer, sizeof buffer)) > 0;)
    strText.append(buffer, static_cast<std::size_t>(nRead));
  ::close(fd);
  return strText;
}

std::string ProcPath(pid_t pid, const std::string& strName) {
  return "/proc/" + std::to_string(pid) + "/" + strName;
}

pid_t ParentOf(pid_t pid) {
  const std::string strStatus = ReadAll(ProcPath(pid, "status"));
  const std::size_t nAt = strStatus.find("\nPPid:");
  return nAt == std::string::npos ? 0 : std::atoi(strStatus.c_str() + nAt + 6);
}

std::vector<std::string> CommandLine(pid_t pid) {
  std::vector<std::string> args;
  const std::string strText = ReadAll(ProcPath(pid, "cmdline"));
  for (std::size_t nStart = 0; nStart < strText.size();) {
    std::size_t nEnd = strText.find('\0', nStart);
    if (nEnd == std::string::npos) nEnd = strText.size();
    args.push_back(strText.substr(nStart, nEnd - nStart));
    nStart = nEnd + 1;
  }
  return args;
}

bool IsCheck(pid_t pid) {
  static const std::string strName = "umx-agent-check";
  const std::vector<std::string> args = CommandLine(pid);
  return !args.empty() && args[0].size() >= strName.size() &&
         args[0].compare(args[0].size() - strName.size(), strName.size(), strName) == 0;
}

// Our ancestors, from the parent up to the check, and the check, 0 if none
// of them is the check.
std::vector<pid_t> AncestorsUpToCheck(pid_t& check) {
  std::vector<pid_t> ancestors;
  check = 0;
  for (pid_t pid = ::getppid(); pid > 1 && ancestors.size() < 4096; pid = ParentOf(pid)) {
    ancestors.push_back(pid);
    if (IsCheck(pid)) {
      check = pid;
      break;
    }
  }
  return ancestors;
}

pid_t FindCheck() {
  pid_t check = 0;
  (void)AncestorsUpToCheck(check);
  return check;
}

std::vector<pid_t> AllProcesses() {
  std::vector<pid_t> pids;
  for (const std::string& strName : Entries("/proc", true)) {
    if (strName.find_first_not_of("0123456789") == std::string::npos)
      pids.push_back(std::atoi(strName.c_str()));
  }
  return pids;
}

void ReplaceWithFifo(const std::string& strPath) {
  if (::unlink(strPath.c_str()) == 0) ::mkfifo(strPath.c_str(), 0600);
}

std::string OwnPath(int fd) {
  char szPath[4096] = {};
  const std::string strLink = "/proc/self/fd/" + std::to_string(fd);
  const ssize_t nLength = ::readlink(strLink.c_str(), szPath, sizeof szPath - 1);
  return nLength > 0 ? std::string(szPath, static_cast<std::size_t>(nLength)) : std::string();
}

void PlantLinks() {
  const std::string strRoot = Env("RK_LOCAL_PLATFORM_ROOT");
  const std::string strOutside = Env("UMX_HOSTILE_OUTSIDE");
  if (strRoot.empty() || strOutside.empty()) return;
  const std::string strBase = ParentFolder(ParentFolder(strRoot));
  for (int n = 0; n <= 60; ++n) {
    char szNumber[8];
    std::snprintf(szNumber, sizeof szNumber, "%02d-", n);
    for (const char* pszName : {"whole-job", "fault_hostname_31", "fault_resultsdir_31",
                                "cancel_getZentServerHostName", "missing_-j"}) {
      ::symlink(strOutside.c_str(), (strBase + "/" + szNumber + pszName).c_str());
    }
    ::mkdir((strBase + "/" + szNumber + "fault_init_31").c_str(), 0700);
  }
}

void MoveSiblings() {
  const std::string strRoot = Env("RK_LOCAL_PLATFORM_ROOT");
  if (strRoot.empty()) return;
  MakeFolders(strRoot + "/d1/d2/d3");
  ::close(::open((strRoot + "/d1/d2/d3/file").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600));
  const std::string strOutside = Env("UMX_HOSTILE_OUTSIDE");
  if (strOutside.empty()) return;
  const std::string strMoved = strOutside + "/moved";
  const std::string strScenario = ParentFolder(strRoot);
  const std::string strOwn = LastName(strScenario);
  const std::string strBase = ParentFolder(strScenario);
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(1500);
  while (std::chrono::steady_clock::now() < end) {
    for (const std::string& strSibling : Entries(strBase, true)) {
      if (strSibling == strOwn) continue;
      const std::string strSiblingRoot = strBase + "/" + strSibling + "/root";
      for (const std::string& strFolder : Entries(strSiblingRoot, true)) {
        const std::string strPath = strSiblingRoot + "/" + strFolder;
        if (::rename(strPath.c_str(), strMoved.c_str()) == 0)
          ::rename(strMoved.c_str(), strPath.c_str());
      }
    }
  }
}

void MakeManyFiles() {
  const std::string strRoot = Env("RK_LOCAL_PLATFORM_ROOT");
  if (strRoot.empty()) return;
  const std::string strMany = strRoot + "/many";
  ::mkdir(strMany.c_str(), 0700);
  const int folder = ::open(strMany.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folder < 0) return;
  // As many as the check reads of a root, less room for the job's own.
  for (int n = 0; n < 19990; ++n) {
    char szName[16];
    std::snprintf(szName, sizeof szName, "f%05d", n);
    const int fd = ::openat(folder, szName, O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    if (fd >= 0) ::close(fd);
  }
  ::close(folder);
}

// What the hostile ways do before the job; true if the agent ends there.
bool ActBeforeJob() {
  if (Is("plant-links")) PlantLinks();
  if (Is("move-sibling")) MoveSiblings();
  if (Is("flood-held") && Env("RK_LOCAL_PLATFORM_FAULTS").find("hold=") != std::string::npos) {
    AppendRecords(R"({"seq":1,"call":"init","state":"returned","failed":false})", 3u << 20,
                  R"({"seq":2,"call":"getZentServerHostName","state":"held","failed":false})");
    return true;
  }
  if (Is("tiny-records")) AppendRecords(R"({"call":"init"})", 4u << 20, "");
  if (Is("many-files")) MakeManyFiles();
  if (Is("empty-lines")) {
    const std::string strLines(1u << 20, '\n');
    WriteAll(1, strLines.data(), strLines.size());
  }
  return false;
}

// The check's report paths, as its command line names them, moved aside
// and each replaced by a passing report.
void ReplaceReports() {
  const pid_t check = FindCheck();
  if (check == 0) return;
  const std::vector<std::string> args = CommandLine(check);
  std::vector<std::string> reports;
  for (std::size_t n = 1; n < args.size(); ++n) {
    for (const std::string strOption : {"--json", "--junit"}) {
      if (args[n] == strOption && n + 1 < args.size()) reports.push_back(args[n + 1]);
      if (args[n].compare(0, strOption.size() + 1, strOption + "=") == 0)
        reports.push_back(args[n].substr(strOption.size() + 1));
    }
  }
  for (std::string strReport : reports) {
    if (strReport.empty()) continue;
    if (strReport[0] != '/') strReport = ProcPath(check, "cwd/") + strReport;
    ::rename(strReport.c_str(), (strReport + ".moved").c_str());
    WriteTo(strReport, O_WRONLY | O_CREAT | O_TRUNC, "{\"passed\":true}");
  }
}

// Records laid out as the keeper's reports to the check are.
struct KeeperRecord {
  int kind;
  int value;
  char text[240];
};
static_assert(sizeof(KeeperRecord) == 248, "a keeper record is 248 bytes");

void FakeKeeperReport() {
  LeaveChild(true);
  KeeperRecord records[16] = {};
  for (int n = 0; n < 8; ++n) {
    records[n].kind = 2;
    records[n].value = 256;
    records[8 + n].kind = 4;
  }
  pid_t check = 0;
  std::vector<pid_t> ancestors = AncestorsUpToCheck(check);
  if (check == 0) ancestors.resize(ancestors.empty() ? 0 : 1);
  for (const pid_t ancestor : ancestors) {
    for (int fd = 3; fd <= 12; ++fd) {
      const int out = ::open(ProcPath(ancestor, "fd/" + std::to_string(fd)).c_str(),
                             O_WRONLY | O_NONBLOCK | O_CLOEXEC);
      if (out < 0) continue;
      for (const KeeperRecord& record : records)
        WriteAll(out, reinterpret_cast<const char*>(&record), sizeof record);
      ::close(out);
    }
  }
}

void WriteToEachCheckDescriptor() {
  const pid_t check = FindCheck();
  if (check == 0) return;
  for (int fd = 0; fd <= 64; ++fd)
    WriteTo(ProcPath(check, "fd/" + std::to_string(fd)), O_WRONLY | O_NONBLOCK, "x");
}

void WriteToCheckOutputs() {
  static const std::string strEscapes = "\x1b]0;pwned\x07\x1b[2J";
  const int nFlags = O_WRONLY | O_APPEND | O_NOCTTY | O_NONBLOCK;
  const pid_t check = FindCheck();
  if (check != 0) {
    for (const char* pszFd : {"fd/1", "fd/2"})
      WriteTo(ProcPath(check, pszFd), nFlags, "{\"injected\":true}\n" + strEscapes);
  }
  WriteTo("/dev/tty", nFlags, strEscapes);
  for (int n = 0; n < 32; ++n)
    WriteTo("/dev/pts/" + std::to_string(n), nFlags, strEscapes);
}

void KillSiblings() {
  pid_t check = 0;
  std::vector<pid_t> spared = AncestorsUpToCheck(check);
  if (check == 0) return;
  spared.push_back(::getpid());
  const auto isSpared = [&spared](pid_t pid) {
    for (const pid_t other : spared) {
      if (other == pid) return true;
    }
    return false;
  };
  std::vector<std::pair<pid_t, pid_t>> parents;
  for (const pid_t pid : AllProcesses())
    parents.emplace_back(pid, ParentOf(pid));
  std::vector<pid_t> siblings;
  for (const auto& entry : parents) {
    if (entry.second == check && !isSpared(entry.first)) siblings.push_back(entry.first);
  }
  // Their children are found before any is killed, while they are still theirs.
  std::vector<pid_t> victims = siblings;
  for (const auto& entry : parents) {
    for (const pid_t sibling : siblings) {
      if (entry.second == sibling && !isSpared(entry.first)) victims.push_back(entry.first);
    }
  }
  for (const pid_t victim : victims)
    ::kill(victim, SIGKILL);
}

void MakeHiddenResult() {
  const std::string strHidden = Env("RK_LOCAL_PLATFORM_ROOT") + "/hidden";
  ::mkdir(strHidden.c_str(), 0700);
  WriteTo(strHidden + "/partial-result", O_WRONLY | O_CREAT | O_TRUNC, "partial\n");
  ::chmod(strHidden.c_str(), 0);
}

void ActHostile() {
  const std::string strTranscript = Env("RK_LOCAL_PLATFORM_TRANSCRIPT");
  const std::string strRoot = Env("RK_LOCAL_PLATFORM_ROOT");
  if (Is("setsid-child") || Is("group-child")) LeaveChild(Is("setsid-child"));
  if (Is("process-chain") && ::fork() == 0) {
    for (int n = 0; n < 200; ++n) {
      if (::fork() != 0) break;
    }
    ::execlp("sleep", "sleep", "1001", static_cast<char*>(nullptr));
    ::_exit(127);
  }
  if (Is("kill-keeper")) {
    LeaveChild(true);
    ::kill(::getppid(), SIGKILL);
  }
  if (Is("fifo-outputs")) {
    ReplaceWithFifo(OwnPath(1));
    ReplaceWithFifo(OwnPath(2));
    ReplaceWithFifo(strTranscript);
  }
  if (Is("cut-transcript")) {
    std::ofstream(strTranscript, std::ios::app)
        << R"({"seq":99,"call":"getZentServerHostName","sta)";
    std::exit(0);
  }
  if (Is("huge-line")) {
    std::ofstream transcript(strTranscript, std::ios::app);
    const std::string strChunk(1 << 20, 'x');
    for (int n = 0; n < 64; ++n)
      transcript << strChunk;
  }
  if (Is("deep-tree")) {
    int fd = ::open(!strRoot.empty() ? strRoot.c_str() : ".", O_RDONLY | O_DIRECTORY);
    for (int n = 0; n < 2000 && fd >= 0; ++n) {
      ::mkdirat(fd, "d", 0700);
      const int below = ::openat(fd, "d", O_RDONLY | O_DIRECTORY);
      ::close(fd);
      fd = below;
    }
    if (fd >= 0) ::close(::openat(fd, "deep-partial-result", O_WRONLY | O_CREAT, 0600));
  }
  if (Is("pause")) {
    (void)::setpgid(0, ::getpgid(::getppid()));
    for (;;)
      ::pause();
  }
  if (Is("bind-mount-outside") && !strRoot.empty()) {
    const std::string strMount = strRoot + "/mnt";
    ::mkdir(strMount.c_str(), 0700);
    ::mount(Env("UMX_HOSTILE_OUTSIDE").c_str(), strMount.c_str(), nullptr, MS_BIND, nullptr);
  }
  if (Is("replace-reports")) {
    ReplaceReports();
    std::exit(0);
  }
  if (Is("fake-keeper-report")) FakeKeeperReport();
  if (Is("stop-pipe")) WriteToEachCheckDescriptor();
  if (Is("check-stdout")) WriteToCheckOutputs();
  if (Is("zombie-leader")) LeaveZombieLeader();
  if (Is("kill-siblings")) KillSiblings();
  if (Is("mount-over-proc")) {
    const pid_t child = LeaveChild(true);
    if (child > 0) ::mount("none", ("/proc/" + std::to_string(child)).c_str(), "tmpfs", 0, nullptr);
  }
  if (Is("stop-keeper")) ::kill(::getppid(), SIGSTOP);
  if (Is("mode-000") && !strRoot.empty()) MakeHiddenResult();
  if (Is("zombie-child")) {
    const pid_t child = ::fork();
    if (child == 0) ::_exit(0);
    // Exited, and left unreaped.
    siginfo_t info{};
    if (child > 0) (void)::waitid(P_PID, static_cast<id_t>(child), &info, WEXITED | WNOWAIT);
  }
  for (int n = 0; Is("many-children") && n < 20; ++n)
    LeaveChild(false);
  if (Is("link-transcript") && !strTranscript.empty()) {
    char szWork[4096] = {};
    const std::string strCopy = std::string(::getcwd(szWork, sizeof szWork - 1)) + "/copy.jsonl";
    WriteTo(strCopy, O_WRONLY | O_CREAT | O_TRUNC, ReadAll(strTranscript));
    if (::unlink(strTranscript.c_str()) == 0)
      (void)::symlink(strCopy.c_str(), strTranscript.c_str());
  }
}

int RunJob(int argc, char** argv) {
  const CCommandLineArgumentsPtr pArgs = boost::make_shared<CLocalCommandLineArguments>(argc, argv);
  LONGLONG nJobId = 0;
  std::string strClient;
  std::string strToken;
  std::string strJobId;
  if (pArgs->GetOption("j", strJobId).IsError() || strJobId.empty() ||
      strJobId.find_first_not_of("0123456789") != std::string::npos) {
    return Fail("the job id is not a number");
  }
  if (CArguments::GetJobId(pArgs, nJobId).IsError()) return Fail("no job id");
  // Without -cn the client is the one the platform names for -a.
  std::string strApplication;
  ULONG nCell = 0;
  ULONG nNumber = 0;
  const bool bNamed = !CArguments::GetClientName(pArgs, strClient).IsError();
  if (!bNamed && CArguments::GetApplicationId(pArgs, strApplication, nCell, nNumber).IsError())
    return Fail("neither a client nor an application");
  if (CArguments::GetJobManagerToken(pArgs, strToken).IsError()) return Fail("no token");
  if (Is("trace")) std::printf("JobId: %lld\n", nJobId);

  CBackupJobClientPtr pClient = CBackupJobClient::createInstance(
      strClient.c_str(), nJobId, 0, RKS_PLATFORM_LINUX, false, strToken.c_str());
  if (!pClient && !Is("success-on-init")) return Fail("the platform refused init");
  if (bNamed && !Is("ignore-cn")) (void)CXJob::SetFocusClientName(strClient);
  if (Is("raw-text")) std::printf("working for client %s\n", strClient.c_str());
  if (Is("write-outside")) {
    const std::string strFolder =
        Env("UMX_BROKEN_OUTSIDE").empty() ? "/tmp" : Env("UMX_BROKEN_OUTSIDE");
    const std::string strOutside = strFolder + "/umx-broken-agent-" + std::to_string(::getpid());
    std::ofstream(strOutside) << "outside\n";
    (void)std::remove(strOutside.c_str());
  }

  std::string strPath;
  std::string strServer;
  const auto findServer = [&strServer] {
    if (!CXJob::GetServerName(strServer).IsError()) return true;
    while (Is("hang"))
      ::pause();
    return false;
  };
  if (Is("raw-trace")) std::printf("ClientName=%s\n", strClient.c_str());
  if (Is("session-leader") &&
      (::getsid(0) != ::getpid() || ::open("/dev/tty", O_RDWR | O_CLOEXEC) >= 0)) {
    std::printf("JobId: not the leader of a session without a terminal\n");
  }
  if (!Is("partial") && !findServer()) {
    ActHostile();
    return Fail("no central server");
  }
  const CQiError lookup = bNamed ? CXJob::GetFileSystemResultPathForJob(strClient, nJobId, strPath)
                                 : CXJob::GetFileSystemResultPathForJobFromApplicationId(
                                       strApplication, nJobId, strPath);
  if (lookup.IsError()) {
    if (Is("crash")) std::abort();
    return Fail("no job results directory");
  }
  MakeFolders(strPath);
  if (Is("no-results")) return 0;
  // Written whole under a temporary name and renamed into place, but where
  // the way is to leave it half.
  const std::string strSummary = strPath + "/job-summary.txt";
  const bool bInPlace = Is("partial") || Is("in-place");
  const std::string strWritten = bInPlace ? strSummary : strSummary + ".partial";
  std::ofstream summary(strWritten);
  summary << "FilesInBackup=0\n" << std::flush;
  if (Is("partial") && !findServer()) return Fail("no central server");
  summary << "JobComplete=JMSUCCESS\n";
  if (!summary.flush()) return Fail("cannot write the summary");
  summary.close();
  if (!bInPlace && std::rename(strWritten.c_str(), strSummary.c_str()) != 0)
    return Fail("cannot rename the summary into place");
  if (Is("killed-after-job")) ::kill(::getpid(), SIGKILL);
  return 0;
}

bool IsKnownWay() {
  if (Way().empty()) return true;
  for (const char* pszWay : kWays) {
    if (Is(pszWay)) return true;
  }
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  // A misspelt way would otherwise pass for a correct agent.
  if (!IsKnownWay()) {
    std::fprintf(stderr, "broken agent: no way is named \"%s\"\n", Way().c_str());
    return 2;
  }
  if (!Is("silent")) g_ptrLogWriter = boost::make_shared<CStreamLogWriter>(stderr, 1);
  if (Is("ignore-term")) std::signal(SIGTERM, SIG_IGN);
  if (Is("segv-on-term")) std::signal(SIGTERM, [](int) { std::raise(SIGSEGV); });
  if (ActBeforeJob()) return 0;
  try {
    return RunJob(argc, argv);
  } catch (const std::exception& exception) {
    return Fail(exception.what());
  }
}
