// The platform calls that the local platform's controls can make throw,
// fail or hold: one list, from which the kit's Call enumeration, the fault
// list's names, the transcript's call names and the agent check's scenarios
// are all made, so that none of them can drift from the others.
#pragma once

// X(Enumerator, TranscriptName, FaultName): Call::Enumerator; the call's
// name in the transcript; the NAME that throw=NAME, hold=NAME and term=NAME
// take in RK_LOCAL_PLATFORM_FAULTS, which is also the name of the item that
// makes the call fail by its result (init=, hostname=, resultsdir=, appid=,
// getclient, getname=, subclient=).
#define RK_LOCAL_PLATFORM_CALLS(X)                                  \
  X(Init, "init", "init")                                           \
  X(GetZentServerHostName, "getZentServerHostName", "hostname")     \
  X(GetJobResultsDirectory, "getJobResultsDirectory", "resultsdir") \
  X(GetApplicationId, "getApplicationId", "appid")                  \
  X(GetClient, "getClient", "getclient")                            \
  X(GetName, "getName", "getname")                                  \
  X(GetSubclientDir, "GetSubclientDir", "subclient")

namespace RkLocalPlatform {

// Platform calls that can be made to throw std::runtime_error or be held.
enum class Call {
#define RK_LOCAL_PLATFORM_CALL_ENUMERATOR(Enumerator, TranscriptName, FaultName) Enumerator,
  RK_LOCAL_PLATFORM_CALLS(RK_LOCAL_PLATFORM_CALL_ENUMERATOR)
#undef RK_LOCAL_PLATFORM_CALL_ENUMERATOR
};

// Each call with its two names, in the list's order.
struct CallNames {
  Call call;
  const char* transcriptName;
  const char* faultName;
};

#define RK_LOCAL_PLATFORM_CALL_NAMES(Enumerator, TranscriptName, FaultName) \
  {Call::Enumerator, TranscriptName, FaultName},
constexpr CallNames kCalls[] = {RK_LOCAL_PLATFORM_CALLS(RK_LOCAL_PLATFORM_CALL_NAMES)};
#undef RK_LOCAL_PLATFORM_CALL_NAMES

// The names of `call`; the enumerators are the list's indexes.
constexpr const CallNames& NamesOf(Call call) { return kCalls[static_cast<int>(call)]; }

}  // namespace RkLocalPlatform
