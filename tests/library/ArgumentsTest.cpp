#include <functional>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <boost/make_shared.hpp>

#include "CommonArguments.h"
#include "LocalCommandLine.h"
#include "QiErrorDetail.h"
#include "TestSupport.h"

namespace {

// Calls one accessor on outputs preset to "old" / 9 / true and shows the
// outputs afterwards ("text|cell|number" for the application id).
using Read = std::function<CQiError(CCommandLineArgumentsPtr, std::string&)>;

std::string Show(const std::string& text) { return text; }
template <typename T>
std::string Show(T value) {
  return std::to_string(value);
}

template <typename T>
Read Reader(CQiError (*read)(CCommandLineArgumentsPtr, T&), T preset) {
  return [read, preset](CCommandLineArgumentsPtr pArgs, std::string& out) {
    T value = preset;
    CQiError error = read(pArgs, value);
    out = Show(value);
    return error;
  };
}

CQiError ReadApplicationId(const CCommandLineArgumentsPtr& pArgs, std::string& out) {
  std::string strId = "old";
  ULONG nCell = 9, nNumber = 9;
  CQiError error = CArguments::GetApplicationId(pArgs, strId, nCell, nNumber);
  out = strId + "|" + std::to_string(nCell) + "|" + std::to_string(nNumber);
  return error;
}

const std::map<std::string, Read>& Accessors() {
  const std::string kOld = "old";
  static const std::map<std::string, Read> accessors = {
      {"a", &ReadApplicationId},
      {"j", Reader(&CArguments::GetJobId, 9LL)},
      {"snapjid", Reader(&CArguments::GetSnapBackupJobId, 9LL)},
      {"cn", Reader(&CArguments::GetClientName, kOld)},
      {"qs", Reader(&CArguments::GetZentServeHostName, kOld)},
      {"vm", Reader(&CArguments::GetInstance, kOld)},
      {"jt", Reader(&CArguments::GetJobManagerToken, kOld)},
      {"d", Reader(&CArguments::GetStorenodeName, kOld)},
      {"synthfull", Reader(&CArguments::GetSyntheticFull, true)},
      {"MetaDataEnabled", Reader(&CArguments::GetBlockLevelMetaInfo, true)},
  };
  return accessors;
}

// Accessor `strOption` run on "agent <args>", or on no command line at all.
struct Outcome {
  Outcome(const std::string& strOption, std::vector<const char*> args, bool bNull = false) {
    args.insert(args.begin(), "agent");
    CCommandLineArgumentsPtr pArgs;
    if (!bNull) {
      pArgs = boost::make_shared<CLocalCommandLineArguments>(static_cast<int>(args.size()),
                                                             args.data());
    }
    umx_test::StdoutCapture capture;
    error = Accessors().at(strOption)(pArgs, strOutputs);
    strStdout = capture.Release();
  }

  CQiError error;
  std::string strOutputs;
  std::string strStdout;
};

TEST(CArguments, ConvertCleanStoreAndTraceEachOption) {
  // clang-format off
  const struct {
    const char* pszOption;
    std::vector<const char*> args;
    const char* pszOutputs;
    const char* pszTrace;
  } cases[] = {
      {"a", {"-a", "2:17"}, "2:17|2|17",
       "ApplicationId=2:17, ZentCellId=2, ApplicationNumber=17\n"},
      {"a", {"-a", "0x10:010"}, "0x10:010|16|8",
       "ApplicationId=0x10:010, ZentCellId=16, ApplicationNumber=8\n"},
      {"a", {"-a", "x:y"}, "x:y|0|0", "ApplicationId=x:y, ZentCellId=0, ApplicationNumber=0\n"},
      {"a", {"-a", "4294967297:1"}, "4294967297:1|1|1",
       "ApplicationId=4294967297:1, ZentCellId=1, ApplicationNumber=1\n"},
      {"j", {"-j", "123abc"}, "123", "JobId=123\n"},
      {"j", {"-j", ""}, "0", "JobId=0\n"},
      {"j", {"-j", "0x10"}, "16", "JobId=16\n"},
      {"j", {"-j", "-0x10"}, "-16", "JobId=-16\n"},
      {"snapjid", {"-snapjid", "99999999999999999999"}, "9223372036854775807",
       "SnapBackupJobId=9223372036854775807\n"},
      {"snapjid", {"-snapjid", "0x10"}, "16", "SnapBackupJobId=16\n"},
      {"snapjid", {"-snapjid", "-0x10"}, "-16", "SnapBackupJobId=-16\n"},
      {"cn", {"-cn", "a/b/"}, "a/b", "ClientName=a/b\n"},
      {"cn", {"-cn", "\\//"}, "", "ClientName=\n"},
      {"d", {"-d", "n\\/x\\/"}, "n\\/x", "StorenodeName=n\\/x\n"},
      {"qs", {"-qs", "zs/"}, "zs/", "ZentServeHostName=zs/\n"},
      {"jt", {"-jt", "t\\"}, "t\\", "JobManagerToken=t\\\n"},
      {"vm", {"-vm", "vm01"}, "vm01", "Instance=vm01\n"},
      // Control characters are escaped in the trace line only; backslashes
      // and non-ASCII bytes print as given.
      {"cn", {"-cn", "evil\nJobId=999"}, "evil\nJobId=999", "ClientName=evil\\x0aJobId=999\n"},
      {"a", {"-a", "2:17\t"}, "2:17\t|2|17",
       "ApplicationId=2:17\\x09, ZentCellId=2, ApplicationNumber=17\n"},
      {"jt", {"-jt", "t\x1b[2J\r\x7f\\\xc3\xa9"}, "t\x1b[2J\r\x7f\\\xc3\xa9",
       "JobManagerToken=t\\x1b[2J\\x0d\\x7f\\\xc3\xa9\n"},
      {"qs", {"-qs", "\x01zs\x1f"}, "\x01zs\x1f", "ZentServeHostName=\\x01zs\\x1f\n"},
      {"vm", {"-vm", "v\x02m"}, "v\x02m", "Instance=v\\x02m\n"},
      {"d", {"-d", "n\x0b/"}, "n\x0b", "StorenodeName=n\\x0b\n"},
      // Both edges of the printable range: a space and ~ stay, 0x1F and
      // 0x7F are escaped.
      {"vm", {"-vm", " \x1f ~\x7f"}, " \x1f ~\x7f", "Instance= \\x1f ~\\x7f\n"},
      {"synthfull", {}, "0", "SyntheticFull=0\n"},
      {"synthfull", {"-synthfull", "0"}, "1", "SyntheticFull=1\n"},
      {"MetaDataEnabled", {"-MetaDataEnabled"}, "1", "BlockLevelMetadata=ON\n"},
      {"MetaDataEnabled", {"-metadataenabled", "1"}, "0", "BlockLevelMetadata=OFF\n"},
  };
  // clang-format on
  for (const auto& c : cases) {
    const Outcome outcome(c.pszOption, c.args);
    EXPECT_FALSE(outcome.error.IsError()) << FXErrorDetail::Format(outcome.error);
    EXPECT_EQ(outcome.strOutputs, c.pszOutputs);
    EXPECT_EQ(outcome.strStdout, c.pszTrace);
  }
}

TEST(CArguments, MissingOptionPrintsNothingAndKeepsTheOutputs) {
  // Null: the output is left to the command line's lookup.
  const std::map<std::string, const char*> kKept = {
      {"a", "old|9|9"}, {"j", "9"},      {"snapjid", "9"}, {"vm", ""},
      {"cn", nullptr},  {"qs", nullptr}, {"jt", nullptr},  {"d", nullptr}};
  for (const auto& [strOption, pszKept] : kKept) {
    const Outcome outcome(strOption, {"-other", "1"});
    EXPECT_EQ(FXErrorDetail::GetOriginalCode(outcome.error), ERROR_NOT_FOUND);
    // The lookup's own frame stays under the accessor's.
    ASSERT_EQ(FXErrorDetail::GetFrames(outcome.error).size(), 2u) << strOption;
    EXPECT_EQ(FXErrorDetail::GetFrames(outcome.error).back().strMessage,
              "GetOption failed, Option=" + strOption);
    EXPECT_EQ(outcome.strStdout, "");
    if (pszKept != nullptr) {
      EXPECT_EQ(outcome.strOutputs, pszKept) << strOption;
    }
  }
}

TEST(CArguments, ApplicationIdWithoutExactlyTwoFieldsIsNotFound) {
  const std::string kMessage =
      "ApplicationId invalid, expected <zentcell-id>:<application-number>, ApplicationId=";
  for (const char* pszId : {"2", "2:17:5"}) {
    const Outcome outcome("a", {"-a", pszId});
    EXPECT_EQ(FXErrorDetail::GetOriginalCode(outcome.error), ERROR_NOT_FOUND);
    ASSERT_EQ(FXErrorDetail::GetFrames(outcome.error).size(), 1u);
    EXPECT_EQ(FXErrorDetail::GetFrames(outcome.error).back().strMessage, kMessage + pszId);
    EXPECT_EQ(outcome.strStdout, "");
    EXPECT_EQ(outcome.strOutputs, "old|9|9");
  }
}

TEST(CArguments, EmptyCommandLineIsInvalidParameter) {
  for (const auto& [strOption, read] : Accessors()) {
    const Outcome outcome(strOption, {}, /*bNull=*/true);
    EXPECT_EQ(FXErrorDetail::GetOriginalCode(outcome.error), ERROR_INVALID_PARAMETER) << strOption;
    EXPECT_NE(FXErrorDetail::Format(outcome.error).find("Option=" + strOption), std::string::npos);
    EXPECT_EQ(outcome.strStdout, "");
  }
}

}  // namespace
