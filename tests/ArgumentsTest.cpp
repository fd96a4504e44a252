#include <functional>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <boost/make_shared.hpp>

#include "CommonArguments.h"
#include "TestSupport.h"

namespace {

using Args = std::vector<const char*>;

// Calls one accessor on outputs preset to "old" / 9 / true and renders the
// outputs afterwards ("text|cell|number" for the application id).
using Read = std::function<CQiError(CCommandLineArgumentsPtr, std::string&)>;

Read Text(CQiError (*read)(CCommandLineArgumentsPtr, std::string&)) {
  return [read](CCommandLineArgumentsPtr pArgs, std::string& out) {
    out = "old";
    return read(pArgs, out);
  };
}
template <typename T>
Read Value(CQiError (*read)(CCommandLineArgumentsPtr, T&), T preset) {
  return [read, preset](CCommandLineArgumentsPtr pArgs, std::string& out) {
    T value = preset;
    CQiError error = read(pArgs, value);
    out = std::to_string(value);
    return error;
  };
}
CQiError ReadApplicationId(CCommandLineArgumentsPtr pArgs, std::string& out) {
  std::string strId = "old";
  ULONG nCell = 9, nNumber = 9;
  CQiError error = CArguments::GetApplicationId(pArgs, strId, nCell, nNumber);
  out = strId + "|" + std::to_string(nCell) + "|" + std::to_string(nNumber);
  return error;
}

const std::map<std::string, Read>& Accessors() {
  static const std::map<std::string, Read> accessors = {
      {"a", &ReadApplicationId},
      {"j", Value<LONGLONG>(&CArguments::GetJobId, 9)},
      {"snapjid", Value<LONGLONG>(&CArguments::GetSnapBackupJobId, 9)},
      {"cn", Text(&CArguments::GetClientName)},
      {"qs", Text(&CArguments::GetZentServeHostName)},
      {"vm", Text(&CArguments::GetInstance)},
      {"jt", Text(&CArguments::GetJobManagerToken)},
      {"d", Text(&CArguments::GetStorenodeName)},
      {"synthfull", Value<bool>(&CArguments::GetSyntheticFull, true)},
      {"MetaDataEnabled", Value<bool>(&CArguments::GetBlockLevelMetaInfo, true)},
  };
  return accessors;
}

struct Outcome {
  CQiError error;
  std::string strOutputs;
  std::string strStdout;
};

Outcome Call(const std::string& strOption, CCommandLineArgumentsPtr pArgs) {
  umx_test::StdoutCapture capture;
  Outcome outcome;
  outcome.error = Accessors().at(strOption)(pArgs, outcome.strOutputs);
  outcome.strStdout = capture.Release();
  return outcome;
}

CCommandLineArgumentsPtr CommandLine(Args args) {
  args.insert(args.begin(), "agent");
  return boost::make_shared<CCommandLineArguments>(static_cast<int>(args.size()), args.data());
}

TEST(CArguments, ConvertCleanStoreAndTraceEachOption) {
  const struct {
    const char* pszOption;
    Args args;
    const char* pszOutputs;
    const char* pszTrace;
  } cases[] = {
      {"a",
       {"-a", "2:17"},
       "2:17|2|17",
       "ApplicationId=2:17, ZentCellId=2, ApplicationNumber=17\n"},
      {"a",
       {"-a", "0x10:010"},
       "0x10:010|16|8",
       "ApplicationId=0x10:010, ZentCellId=16, ApplicationNumber=8\n"},
      {"a", {"-a", "x:y"}, "x:y|0|0", "ApplicationId=x:y, ZentCellId=0, ApplicationNumber=0\n"},
      {"a",
       {"-a", "-1:5"},
       "-1:5|4294967295|5",
       "ApplicationId=-1:5, ZentCellId=4294967295, ApplicationNumber=5\n"},
      {"a",
       {"-a", "4294967296:1"},
       "4294967296:1|0|1",
       "ApplicationId=4294967296:1, ZentCellId=0, ApplicationNumber=1\n"},
      {"j", {"-j", "123abc"}, "123", "JobId=123\n"},
      {"j", {"-j", ""}, "0", "JobId=0\n"},
      {"snapjid",
       {"-snapjid", "99999999999999999999"},
       "9223372036854775807",
       "SnapBackupJobId=9223372036854775807\n"},
      {"snapjid", {"-snapjid", "-0x10"}, "-16", "SnapBackupJobId=-16\n"},
      {"cn", {"-cn", "a/b/"}, "a/b", "ClientName=a/b\n"},
      {"cn", {"-cn", "\\//"}, "", "ClientName=\n"},
      {"d", {"-d", "n\\/x\\/"}, "n\\/x", "StorenodeName=n\\/x\n"},
      {"qs", {"-qs", "zs/"}, "zs/", "ZentServeHostName=zs/\n"},
      {"jt", {"-jt", "t\\"}, "t\\", "JobManagerToken=t\\\n"},
      {"vm", {"-vm", "vm01"}, "vm01", "Instance=vm01\n"},
      {"synthfull", {}, "0", "SyntheticFull=0\n"},
      {"synthfull", {"-synthfull", "0"}, "1", "SyntheticFull=1\n"},
      {"MetaDataEnabled", {"-MetaDataEnabled"}, "1", "BlockLevelMetadata=ON\n"},
      {"MetaDataEnabled", {"-metadataenabled", "1"}, "0", "BlockLevelMetadata=OFF\n"},
  };
  for (const auto& c : cases) {
    const Outcome outcome = Call(c.pszOption, CommandLine(c.args));
    EXPECT_FALSE(outcome.error.IsError()) << outcome.error.Format();
    EXPECT_EQ(outcome.strOutputs, c.pszOutputs);
    EXPECT_EQ(outcome.strStdout, c.pszTrace);
  }
}

TEST(CArguments, FailuresPrintNothingAndKeepTheirOutputs) {
  struct Case {
    std::string strOption;
    Args args;
    std::size_t nFrames;     // a missing option keeps the lookup's own frame
    std::string strMessage;  // of the newest frame
    const char* pszOutputs;  // null: unspecified
  };
  const std::string kMalformed =
      "ApplicationId invalid, expected <zentcell-id>:<application-number>, ApplicationId=";
  std::vector<Case> cases = {
      {"a", {"-a", "2"}, 1, kMalformed + "2", "old|9|9"},
      {"a", {"-a", "2:17:5"}, 1, kMalformed + "2:17:5", "old|9|9"},
  };
  const std::map<std::string, const char*> kOutputsWhenMissing = {
      {"a", "old|9|9"}, {"j", "9"}, {"snapjid", "9"}, {"vm", ""}};
  for (const char* pszOption : {"a", "j", "snapjid", "cn", "qs", "vm", "jt", "d"}) {
    const auto known = kOutputsWhenMissing.find(pszOption);
    cases.push_back({pszOption,
                     {"-other", "1"},
                     2,
                     std::string("GetOption failed, Option=") + pszOption,
                     known == kOutputsWhenMissing.end() ? nullptr : known->second});
  }
  for (const Case& c : cases) {
    const Outcome outcome = Call(c.strOption, CommandLine(c.args));
    ASSERT_TRUE(outcome.error.IsError()) << c.strOption;
    EXPECT_EQ(outcome.error.GetOriginalCode(), ERROR_NOT_FOUND);
    ASSERT_EQ(outcome.error.GetFrames().size(), c.nFrames) << c.strOption;
    EXPECT_EQ(outcome.error.GetFrames().back().strFile, "CommonArguments");
    EXPECT_EQ(outcome.error.GetFrames().back().strMessage, c.strMessage);
    EXPECT_EQ(outcome.strStdout, "");
    if (c.pszOutputs != nullptr) {
      EXPECT_EQ(outcome.strOutputs, c.pszOutputs) << c.strOption;
    }
  }
}

TEST(CArguments, EmptyCommandLineIsInvalidParameter) {
  for (const auto& [strOption, read] : Accessors()) {
    const Outcome outcome = Call(strOption, CCommandLineArgumentsPtr());
    EXPECT_EQ(outcome.error.GetOriginalCode(), ERROR_INVALID_PARAMETER) << strOption;
    EXPECT_NE(outcome.error.Format().find("Option=" + strOption), std::string::npos);
    EXPECT_EQ(outcome.strStdout, "");
  }
}

}  // namespace
