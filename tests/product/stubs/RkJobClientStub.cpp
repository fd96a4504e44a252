// Every operation the job platform's contract declares, doing the least:
// each lookup fails.
#include "RkJobClient.h"
#include "RkPlatform.h"

RKJobClient::RKJobClient() : m_reserved() {}
RKJobClient::~RKJobClient() = default;
int RKJobClient::getLastError() { return 1; }
const char* RKJobClient::getLastErrorStr() { return nullptr; }

RKBkpJobClient::RKBkpJobClient() = default;
RKBkpJobClient::~RKBkpJobClient() = default;
bool RKBkpJobClient::init(const char*, RKJobID, int, RKS_PLATFORMTYPE, bool, const char*) {
  return false;
}

RKPI_PlatformBase::RKPI_PlatformBase() : m_ulLastError(1), m_reserved() {}
RKPI_PlatformBase::~RKPI_PlatformBase() = default;
bool RKPI_PlatformBase::invalidRKPlatform() { return true; }
const char* RKPI_PlatformBase::getZentServerHostName() { return nullptr; }

RKPI_ZentClient::RKPI_ZentClient() = default;
RKPI_ZentClient::~RKPI_ZentClient() = default;
int RKPI_ZentClient::getJobResultsDirectory(const char*, char*, char*, char*, unsigned long) {
  return 0;
}

void RKPI_Focus::setFocusClientName(const char*) {}
const char* RKPI_Focus::getFocusClientName(bool) { return nullptr; }

ApplicationId::ApplicationId(const std::string&) : m_reserved() {}
ApplicationId::~ApplicationId() = default;
int ApplicationId::getApplicationId(void*) { return 1; }
RKPI_Client* ApplicationId::getClient(void*) { return nullptr; }

int GetSubclientDir(unsigned int, unsigned int, char*) { return 1; }
