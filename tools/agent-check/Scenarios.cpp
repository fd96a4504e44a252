#include "Scenarios.h"

#include <fnmatch.h>

#include <algorithm>
#include <utility>

#include "RkPlatformCalls.h"

namespace AgentCheck {
namespace {

using RkLocalPlatform::Call;
using RkLocalPlatform::NamesOf;

// A way that RK_LOCAL_PLATFORM_FAULTS makes platform calls fail.
struct Fault {
  std::string item;
  std::vector<std::string> calls;  // as the transcript names them
  std::string what;
};

// What each call of the platform's list is to an agent's author.
constexpr std::pair<Call, const char*> kLookups[] = {
    {Call::Init, "init"},
    {Call::GetZentServerHostName, "the central server's host name lookup"},
    {Call::GetJobResultsDirectory, "the job results directory lookup"},
    {Call::GetApplicationId, "the application lookup"},
    {Call::GetClient, "the application's client lookup"},
    {Call::GetName, "the client's name lookup"},
    {Call::GetSubclientDir, "the subclient directory lookup"},
};

// The failures by result that a scenario arms, after the call's fault name.
struct Failure {
  Call call;
  const char* value;
  const char* what;
};
constexpr Failure kFailures[] = {
    {Call::Init, "=5:down", "init fails with 5 and the text \"down\""},
    {Call::Init, "=-1", "init fails with -1 and a null text"},
    {Call::GetZentServerHostName, "=31", "the central server's host name lookup fails"},
    {Call::GetJobResultsDirectory, "=5", "the job results directory lookup fails"},
    {Call::GetApplicationId, "=1168", "the application lookup fails"},
    {Call::GetClient, "", "the application has no client"},
    {Call::GetName, "=1168", "the client's name lookup fails"},
    {Call::GetSubclientDir, "=2", "the subclient directory lookup fails"},
};

// Faults of no one call of the list, each listed after the call it follows.
struct OtherFault {
  Call after;
  const char* item;
  std::vector<const char*> calls;
  const char* what;
};

const std::vector<Fault>& Faults() {
  static const std::vector<Fault> faults = [] {
    const std::vector<OtherFault> others = {
        {Call::Init, "invalid", {"invalidRKPlatform"}, "every platform object is invalid"},
        {Call::GetJobResultsDirectory,
         "unterminated",
         {NamesOf(Call::GetJobResultsDirectory).transcriptName,
          NamesOf(Call::GetSubclientDir).transcriptName},
         "directories come back without a NUL"},
        {Call::GetJobResultsDirectory,
         "scribble",
         {NamesOf(Call::GetJobResultsDirectory).transcriptName},
         "junk in the lookup's scratch buffers"},
    };
    std::vector<Fault> list;
    for (const auto& [call, lookup] : kLookups) {
      const RkLocalPlatform::CallNames& names = NamesOf(call);
      for (const Failure& failure : kFailures) {
        if (failure.call == call) {
          list.push_back(
              {names.faultName + std::string(failure.value), {names.transcriptName}, failure.what});
        }
      }
      for (const OtherFault& other : others) {
        if (other.after == call) {
          list.push_back({other.item, {other.calls.begin(), other.calls.end()}, other.what});
        }
      }
      list.push_back({std::string("throw=") + names.faultName,
                      {names.transcriptName},
                      std::string(lookup) + " throws"});
    }
    return list;
  }();
  return faults;
}

// Options whose value is a number, and a value that is not one.
constexpr std::pair<const char*, const char*> kNumberOptions[] = {
    {"-j", "12ab"},
    {"-a", "2:1x7"},
    {"-snapjid", "12ab"},
};

// Why such a value fails an agent that exits 0 on it: the library reads it
// without an error.
constexpr char kNotANumber[] =
    ", which is not a number; the library reads its prefix and gives no error, so an agent "
    "checks the whole text (the API reference: how number options are read)";

// The options that take a value, as the trace shows them.
constexpr const char* kValueOptions[] = {"-j", "-a", "-cn", "-qs", "-vm", "-jt", "-d", "-snapjid"};

bool Has(const std::vector<std::string>& args, std::string_view option) {
  return std::find(args.begin(), args.end(), option) != args.end();
}

// `args` without each `option` and the value after it.
std::vector<std::string> Without(const std::vector<std::string>& args, std::string_view option) {
  std::vector<std::string> rest;
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (args[i] == option) {
      ++i;
    } else {
      rest.push_back(args[i]);
    }
  }
  return rest;
}

// `args` with the value after each `option` replaced by `value`.
std::vector<std::string> With(std::vector<std::string> args, std::string_view option,
                              const std::string& value) {
  for (std::size_t i = 0; i + 1 < args.size(); ++i) {
    if (args[i] == option) args[i + 1] = value;
  }
  return args;
}

std::string Joined(const std::vector<std::string>& names, const char* pszBetween) {
  std::string joined;
  for (const std::string& name : names) {
    if (!joined.empty()) joined += pszBetween;
    joined += name;
  }
  return joined;
}

}  // namespace

const char* KindName(Kind kind) {
  switch (kind) {
    case Kind::WholeJob:
      return "whole-job";
    case Kind::Fault:
      return "fault";
    case Kind::MissingOption:
      return "missing-option";
    case Kind::MalformedNumber:
      return "malformed-number";
    case Kind::Cancellation:
      return "cancellation";
    case Kind::CancelAfter:
      return "cancel-after";
    case Kind::CrashPoint:
      return "crash-point";
  }
  return "unknown";
}

// The client name holds a space, a non-ASCII letter and a control
// character, so that an agent that prints option values raw shows a
// forged or broken trace line.
std::vector<std::string> DefaultCommandLine() {
  return {"-j",       "1234",
          "-a",       "2:17",
          "-cn",      "local client\xc3\xa9\x1b",
          "-qs",      "zentserver.localdomain",
          "-jt",      "token-agent-check",
          "-vm",      "vm01",
          "-d",       "storenode01",
          "-snapjid", "1233"};
}

std::set<std::string> ResultNames(const std::vector<LeftFile>& files,
                                  const std::set<std::string>& folders) {
  std::set<std::string> names;
  for (const LeftFile& file : files) {
    std::size_t nDeepest = std::string::npos;
    for (const std::string& folder : folders) {
      const bool bUnder = folder.empty() || (file.path.size() > folder.size() &&
                                             file.path.compare(0, folder.size(), folder) == 0 &&
                                             file.path[folder.size()] == '/');
      const std::size_t nStart = folder.empty() ? 0 : folder.size() + 1;
      if (bUnder && (nDeepest == std::string::npos || nStart > nDeepest)) nDeepest = nStart;
    }
    if (nDeepest != std::string::npos) names.insert(file.path.substr(nDeepest));
  }
  return names;
}

WholeJob LearnWholeJob(const RunResult& run, const Evidence& evidence) {
  WholeJob whole;
  for (const auto& [call, tally] : evidence.calls) {
    if (tally.made == 0) continue;
    whole.calls.insert(call);
    if (tally.failed != 0) whole.failedCalls[call] = tally.failed;
  }
  whole.optionsRead = evidence.optionsTraced;
  whole.resultsFolders = evidence.resultsFolders;
  for (const LeftFile& file : run.files)
    whole.files.insert(file.path);
  whole.filesComplete = run.filesIncomplete.empty();
  whole.resultNames = ResultNames(run.files, whole.resultsFolders);
  for (const LeftFile& file : run.files) {
    if (!ResultNames({file}, whole.resultsFolders).empty()) whole.results.push_back(file);
  }
  whole.changesCounted = run.changesCounted;
  whole.changes = run.changes;
  return whole;
}

bool MatchesAny(const std::vector<std::string>& patterns, const std::string& name) {
  return std::any_of(patterns.begin(), patterns.end(), [&name](const std::string& pattern) {
    return ::fnmatch(pattern.c_str(), name.c_str(), 0) == 0;
  });
}

bool NamesAny(const std::string& pattern, const std::vector<Scenario>& scenarios) {
  return std::any_of(scenarios.begin(), scenarios.end(), [&pattern](const Scenario& scenario) {
    return ::fnmatch(pattern.c_str(), scenario.name.c_str(), 0) == 0;
  });
}

std::string UnmatchedOnly(const std::vector<std::string>& only,
                          const std::vector<Scenario>& scenarios) {
  for (const std::string& pattern : only) {
    if (!NamesAny(pattern, scenarios))
      return "--only " + pattern + " names no scenario (see --list)";
  }
  return {};
}

std::optional<std::string> OptionValue(const std::vector<std::string>& args,
                                       std::string_view option) {
  for (std::size_t i = 0; i + 1 < args.size(); ++i) {
    if (args[i] == option) return args[i + 1];
  }
  return std::nullopt;
}

std::vector<Scenario> MakeWholeJobs(const Baselines& baselines) {
  std::vector<Scenario> wholeJobs;
  wholeJobs.push_back({"whole-job",
                       Kind::WholeJob,
                       "the job on its command line, nothing armed",
                       baselines.args,
                       {},
                       {},
                       {},
                       {}});
  if (!baselines.argsWithoutClient.empty()) {
    wholeJobs.push_back({"whole-job:no-cn",
                         Kind::WholeJob,
                         "the job without -cn, so that the client is found through the "
                         "application, nothing armed",
                         baselines.argsWithoutClient,
                         {},
                         {},
                         {},
                         {}});
  }
  return wholeJobs;
}

std::vector<Scenario> MakeScenarios(const Baselines& baselines) {
  const std::vector<std::string>& args = baselines.args;
  const WholeJob* whole = baselines.whole;
  std::vector<Scenario> scenarios;
  // A scenario that arms `calls` runs on the first whole job's command line
  // that made one of them.
  const auto onBaseline = [&baselines](Scenario& scenario) {
    const auto made = [&scenario](const WholeJob* job) {
      return job != nullptr &&
             std::any_of(scenario.calls.begin(), scenario.calls.end(),
                         [job](const std::string& c) { return job->calls.count(c) != 0; });
    };
    if (baselines.whole == nullptr || made(baselines.whole)) return;
    if (made(baselines.wholeWithoutClient)) {
      scenario.args = baselines.argsWithoutClient;
      scenario.description += " (without -cn)";
      return;
    }
    scenario.notReached = "no whole job made a " + Joined(scenario.calls, " or ") + " call";
  };

  for (const Fault& fault : Faults()) {
    Scenario scenario{"fault:" + fault.item, Kind::Fault, fault.what, args, fault.item,
                      fault.calls,           {},          {}};
    onBaseline(scenario);
    scenarios.push_back(std::move(scenario));
  }

  for (const char* pszOption : kValueOptions) {
    if (!Has(args, pszOption)) continue;
    Scenario scenario{std::string("missing:") + pszOption,
                      Kind::MissingOption,
                      std::string("the command line without ") + pszOption,
                      Without(args, pszOption),
                      {},
                      {},
                      pszOption,
                      {}};
    if (whole != nullptr && whole->optionsRead.count(pszOption) == 0) {
      scenario.notReached = std::string("the whole job did not trace ") + pszOption;
    }
    scenarios.push_back(std::move(scenario));
  }
  // The agent's own options: each word of them that is an option, with the
  // value after it when that is no option.
  const std::vector<std::string>& own = baselines.ownOptions;
  for (std::size_t i = 0; i < own.size(); ++i) {
    if (own[i].size() < 2 || own[i][0] != '-') continue;
    const bool bValue = i + 1 < own.size() && (own[i + 1].empty() || own[i + 1][0] != '-');
    std::vector<std::string> without = args;
    const auto at =
        std::find(without.end() - static_cast<std::ptrdiff_t>(own.size()), without.end(), own[i]);
    without.erase(at, at + (bValue ? 2 : 1));
    scenarios.push_back({"missing:" + own[i],
                         Kind::MissingOption,
                         "the command line without the agent's own option " + own[i],
                         std::move(without),
                         {},
                         {},
                         own[i],
                         {}});
  }

  for (const auto& [pszOption, pszValue] : kNumberOptions) {
    if (!Has(args, pszOption)) continue;
    Scenario scenario{std::string("malformed:") + pszOption,
                      Kind::MalformedNumber,
                      std::string(pszOption) + " " + pszValue + kNotANumber,
                      With(args, pszOption, pszValue),
                      {},
                      {},
                      pszOption,
                      {}};
    if (whole != nullptr && whole->optionsRead.count(pszOption) == 0) {
      scenario.notReached = std::string("the whole job did not trace ") + pszOption;
    }
    scenarios.push_back(std::move(scenario));
  }

  for (const RkLocalPlatform::CallNames& names : RkLocalPlatform::kCalls) {
    const std::string call = names.transcriptName;
    Scenario scenario{"cancel:" + call,
                      Kind::Cancellation,
                      "SIGTERM while the agent is inside " + call,
                      args,
                      std::string("hold=") + names.faultName,
                      {call},
                      {},
                      {}};
    onBaseline(scenario);
    scenarios.push_back(std::move(scenario));
  }
  for (const RkLocalPlatform::CallNames& names : RkLocalPlatform::kCalls) {
    const std::string call = names.transcriptName;
    Scenario scenario{"cancel-after:" + call,
                      Kind::CancelAfter,
                      "SIGTERM as " + call + " returns, between the agent's calls",
                      args,
                      std::string("term=") + names.faultName,
                      {call},
                      {},
                      {}};
    onBaseline(scenario);
    scenarios.push_back(std::move(scenario));
  }

  const std::string crashWhat = "SIGKILL at one of the whole job's changes to the file system";
  if (whole == nullptr) {
    scenarios.push_back(
        {"crash:N",
         Kind::CrashPoint,
         crashWhat + ": one scenario each, at most " + std::to_string(kMaxCrashPoints),
         args,
         {},
         {},
         {},
         {}});
  } else if (!whole->changesCounted || whole->changes.empty()) {
    Scenario scenario{"crash:N", Kind::CrashPoint, crashWhat, args, {}, {}, {}, {}};
    scenario.notReached = whole->changesCounted
                              ? "the whole job changed nothing on the file system"
                              : "the whole job's changes could not be counted (a static "
                                "binary, or the interposer is missing)";
    scenarios.push_back(std::move(scenario));
  } else {
    const std::size_t nChanges = whole->changes.size();
    const std::size_t nPoints = std::min(nChanges, kMaxCrashPoints);
    std::size_t nLast = 0;
    for (std::size_t i = 0; i < nPoints; ++i) {
      const std::size_t n = nPoints == 1 ? 1 : 1 + i * (nChanges - 1) / (nPoints - 1);
      if (n == nLast) continue;
      nLast = n;
      Scenario scenario{"crash:" + std::to_string(n),
                        Kind::CrashPoint,
                        "SIGKILL at change " + std::to_string(n) + " of " +
                            std::to_string(nChanges) + ": " + whole->changes[n - 1],
                        args,
                        {},
                        {},
                        {},
                        {}};
      scenario.crashAt = n;
      scenarios.push_back(std::move(scenario));
    }
  }
  return scenarios;
}

}  // namespace AgentCheck
