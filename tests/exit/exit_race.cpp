// A process that ends while threads of its own still ask for the backup job
// client: it creates the client, starts detached threads that loop on
// instance() or createInstance(), waits until each has made one call and
// then returns from main or calls exit(). A thread that meets anything but
// the client or the library's misuse texts stops the process with a
// message.
// Usage: umx-exit-race <threads> instance|create|lock return|exit
//   lock: the threads take sharedInstanceLock and copy the handle themselves.
//   With 0 threads the process also checks, after every static destructor
//   ran, that the library released the client at exit.
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <string>
#include <thread>

#include <boost/weak_ptr.hpp>

#include "BackupJobClient.h"
#include "fx/auto_lock.h"

extern "C" int __cxa_atexit(void (*)(void*), void*, void*);

namespace {

constexpr char kCalledTwice[] = "CBackupJobClient::createInstance is called twice";
constexpr char kNotCreated[] = "CBackupJobClient::createInstance must be called first";

[[noreturn]] void Stop(const char* pszWhy) {
  std::fprintf(stderr, "umx-exit-race: %s\n", pszWhy);
  std::abort();
}

CBackupJobClientPtr Create() {
  return CBackupJobClient::createInstance("client1", 1, 0, RKS_PLATFORM_LINUX, false, "");
}

// The client's watch outlives every static object, so the exit check below
// can still read it.
alignas(boost::weak_ptr<CBackupJobClient>) unsigned char g_watchStorage[sizeof(
    boost::weak_ptr<CBackupJobClient>)];
boost::weak_ptr<CBackupJobClient>& Watch() {
  return *std::launder(reinterpret_cast<boost::weak_ptr<CBackupJobClient>*>(g_watchStorage));
}

void CheckReleased(void*) {
  if (!Watch().expired()) Stop("the client was not released at exit");
}

// Runs before any library's static objects are built. The check it
// registers belongs to no shared object, so no object's finalisation runs
// it early: it runs after every static object is destroyed.
void RegisterReleaseCheck(int, char**, char**) {
  new (g_watchStorage) boost::weak_ptr<CBackupJobClient>();
  __cxa_atexit(CheckReleased, nullptr, nullptr);
}
__attribute__((section(".preinit_array"),
               used)) void (*const kRegisterReleaseCheck)(int, char**,
                                                          char**) = RegisterReleaseCheck;

std::mutex g_mutex;
std::condition_variable g_called;
int g_nCalled = 0;

CBackupJobClientPtr CopyUnderTheLock() {
  auto_lock lock(&sharedInstanceLock);
  return CBackupJobClient::m_sharedInstance;
}

void AskForever(const std::string& strCall) {
  const bool bCreate = strCall == "create";
  bool bFirst = true;
  for (;;) {
    try {
      if (strCall == "lock") {
        (void)CopyUnderTheLock();
      } else if (!(bCreate ? Create() : CBackupJobClient::instance())) {
        Stop("an empty handle");
      }
    } catch (const char* psz) {
      if (std::strcmp(psz, kNotCreated) != 0 && (!bCreate || std::strcmp(psz, kCalledTwice) != 0))
        Stop(psz);
    }
    if (bFirst) {
      bFirst = false;
      std::lock_guard<std::mutex> lock(g_mutex);
      ++g_nCalled;
      g_called.notify_one();
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) Stop("usage: umx-exit-race <threads> instance|create|lock return|exit");
  const int nThreads = std::atoi(argv[1]);
  const std::string strCall = argv[2];
  const bool bExit = std::strcmp(argv[3], "exit") == 0;

  CBackupJobClientPtr pClient = Create();
  if (!pClient) Stop("createInstance failed");
  if (nThreads == 0) Watch() = pClient;
  for (int i = 0; i < nThreads; ++i)
    std::thread(AskForever, strCall).detach();
  {
    std::unique_lock<std::mutex> lock(g_mutex);
    g_called.wait(lock, [nThreads] { return g_nCalled == nThreads; });
  }
  pClient.reset();
  if (bExit) std::exit(0);
  return 0;
}
