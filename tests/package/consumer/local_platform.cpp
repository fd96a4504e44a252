// An agent's test against the installed local platform: an armed init
// failure reaches the agent as an empty job client handle.
#include <cstdio>

#include "BackupJobClient.h"
#include "RkLocalPlatform.h"

int main() {
  RkLocalPlatform::FailInit(5, "down");
  CBackupJobClientPtr client =
      CBackupJobClient::createInstance("agent", 42, 0, RKS_PLATFORM_LINUX, false, "");
  if (client) {
    std::fprintf(stderr, "createInstance succeeded despite the armed init failure\n");
    return 1;
  }
  RkLocalPlatform::Reset();
  client = CBackupJobClient::createInstance("agent", 42, 0, RKS_PLATFORM_LINUX, false, "");
  return client ? 0 : 1;
}
