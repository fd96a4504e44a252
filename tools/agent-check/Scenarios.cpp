#include "Scenarios.h"

#include <algorithm>
#include <utility>

namespace AgentCheck {
namespace {

// A way that RK_LOCAL_PLATFORM_FAULTS makes platform calls fail.
struct Fault {
  const char* item;
  std::vector<const char*> calls;
  const char* what;
};

const std::vector<Fault>& Faults() {
  static const std::vector<Fault> faults = {
      {"init=5:down", {"init"}, "init fails with 5 and the text \"down\""},
      {"init=-1", {"init"}, "init fails with -1 and a null text"},
      {"throw=init", {"init"}, "init throws"},
      {"invalid", {"invalidRKPlatform"}, "every platform object is invalid"},
      {"hostname=31", {"getZentServerHostName"}, "the central server's host name lookup fails"},
      {"throw=hostname", {"getZentServerHostName"}, "the central server's host name lookup throws"},
      {"resultsdir=5", {"getJobResultsDirectory"}, "the job results directory lookup fails"},
      {"unterminated",
       {"getJobResultsDirectory", "GetSubclientDir"},
       "directories come back without a NUL"},
      {"scribble", {"getJobResultsDirectory"}, "junk in the lookup's scratch buffers"},
      {"throw=resultsdir", {"getJobResultsDirectory"}, "the job results directory lookup throws"},
      {"appid=1168", {"getApplicationId"}, "the application lookup fails"},
      {"throw=appid", {"getApplicationId"}, "the application lookup throws"},
      {"getclient", {"getClient"}, "the application has no client"},
      {"throw=getclient", {"getClient"}, "the application's client lookup throws"},
      {"getname=1168", {"getName"}, "the client's name lookup fails"},
      {"throw=getname", {"getName"}, "the client's name lookup throws"},
      {"subclient=2", {"GetSubclientDir"}, "the subclient directory lookup fails"},
      {"throw=subclient", {"GetSubclientDir"}, "the subclient directory lookup throws"},
  };
  return faults;
}

// The calls that hold=NAME holds, by NAME.
constexpr std::pair<const char*, const char*> kHeldCalls[] = {
    {"init", "init"},
    {"getZentServerHostName", "hostname"},
    {"getJobResultsDirectory", "resultsdir"},
    {"getApplicationId", "appid"},
    {"getClient", "getclient"},
    {"getName", "getname"},
    {"GetSubclientDir", "subclient"},
};

// Options whose value is a number, and a value that is not one.
constexpr std::pair<const char*, const char*> kNumberOptions[] = {
    {"-j", "12ab"},
    {"-a", "2:1x7"},
    {"-snapjid", "12ab"},
};

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

std::string Joined(const std::vector<const char*>& names, const char* pszBetween) {
  std::string joined;
  for (const char* pszName : names) {
    if (!joined.empty()) joined += pszBetween;
    joined += pszName;
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

std::set<std::string> ResultsFolders(const std::vector<CallRecord>& records,
                                     const std::string& root) {
  std::set<std::string> folders;
  for (const CallRecord& record : records) {
    if (record.state != "held" && !record.failed &&
        record.outDir.compare(0, root.size(), root) == 0 &&
        (record.outDir.size() == root.size() || record.outDir[root.size()] == '/')) {
      folders.insert(record.outDir.substr(std::min(root.size() + 1, record.outDir.size())));
    }
  }
  return folders;
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

WholeJob LearnWholeJob(const std::vector<CallRecord>& records, std::string_view out,
                       const std::string& root, const std::vector<LeftFile>& files) {
  WholeJob whole;
  for (const CallRecord& record : records) {
    if (record.state == "held") continue;
    whole.calls.insert(record.call);
    if (record.failed) ++whole.failedCalls[record.call];
  }
  whole.resultsFolders = ResultsFolders(records, root);
  for (const LeftFile& file : files)
    whole.files.insert(file.path);
  whole.resultNames = ResultNames(files, whole.resultsFolders);
  for (const std::string_view line : Lines(out)) {
    const std::optional<TraceLine> trace = ReadTraceLine(line);
    if (trace && trace->wellFormed && !OptionOfTraceKey(trace->key).empty()) {
      whole.optionsRead.insert(OptionOfTraceKey(trace->key));
    }
  }
  return whole;
}

std::vector<Scenario> MakeScenarios(const std::vector<std::string>& args, const WholeJob* whole) {
  std::vector<Scenario> scenarios;
  scenarios.push_back({"whole-job",
                       Kind::WholeJob,
                       "the job on its command line, nothing armed",
                       args,
                       {},
                       {},
                       {},
                       {}});

  for (const Fault& fault : Faults()) {
    Scenario scenario{
        std::string("fault:") + fault.item, Kind::Fault, fault.what, args, fault.item, {}, {}, {}};
    scenario.calls.assign(fault.calls.begin(), fault.calls.end());
    const bool bReached =
        whole == nullptr || std::any_of(fault.calls.begin(), fault.calls.end(),
                                        [whole](const char* c) { return whole->calls.count(c); });
    if (!bReached)
      scenario.notReached = "the whole job made no " + Joined(fault.calls, " or ") + " call";
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

  for (const auto& [pszOption, pszValue] : kNumberOptions) {
    if (!Has(args, pszOption)) continue;
    Scenario scenario{std::string("malformed:") + pszOption,
                      Kind::MalformedNumber,
                      std::string(pszOption) + " " + pszValue + ", which is not a number",
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

  for (const auto& [pszCall, pszName] : kHeldCalls) {
    Scenario scenario{std::string("cancel:") + pszCall,
                      Kind::Cancellation,
                      std::string("SIGTERM while the agent is inside ") + pszCall,
                      args,
                      std::string("hold=") + pszName,
                      {pszCall},
                      {},
                      {}};
    if (whole != nullptr && whole->calls.count(pszCall) == 0) {
      scenario.notReached = std::string("the whole job made no ") + pszCall + " call";
    }
    scenarios.push_back(std::move(scenario));
  }
  return scenarios;
}

}  // namespace AgentCheck
