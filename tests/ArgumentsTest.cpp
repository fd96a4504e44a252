#include <cstdint>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <boost/make_shared.hpp>

#include "CommonArguments.h"
#include "TestSupport.h"

namespace {

using umx_test::StdoutCapture;

CCommandLineArgumentsPtr CommandLine(std::vector<const char*> args) {
  args.insert(args.begin(), "agent");
  return boost::make_shared<CCommandLineArguments>(static_cast<int>(args.size()), args.data());
}

// An accessor's result together with what it printed.
struct Traced {
  CQiError error;
  std::string strOut;
};

Traced Capture(const std::function<CQiError()>& read) {
  StdoutCapture capture;
  CQiError error = read();
  return {error, capture.Release()};
}

constexpr std::uint32_t kNotFound = 0x80070490u;

TEST(ArgumentsApplicationId, ConvertsBothPartsWithBaseZeroKeepingLow32Bits) {
  const struct {
    const char* pszValue;
    ULONG nCell;
    ULONG nNumber;
  } cases[] = {
      {"2:17", 2, 17},          {"0x10:010", 16, 8},    {"x:y", 0, 0},
      {"-1:5", 4294967295u, 5}, {"4294967296:1", 0, 1}, {" 7:+8abc", 7, 8},
  };
  for (const auto& c : cases) {
    std::string strId;
    ULONG nCell = 99, nNumber = 99;
    const Traced result = Capture([&] {
      return CArguments::GetApplicationId(CommandLine({"-a", c.pszValue}), strId, nCell, nNumber);
    });
    EXPECT_FALSE(result.error.IsError()) << c.pszValue;
    EXPECT_EQ(strId, c.pszValue);
    EXPECT_EQ(nCell, c.nCell) << c.pszValue;
    EXPECT_EQ(nNumber, c.nNumber) << c.pszValue;
    EXPECT_EQ(result.strOut, "ApplicationId=" + std::string(c.pszValue) +
                                 ", ZentCellId=" + std::to_string(c.nCell) +
                                 ", ApplicationNumber=" + std::to_string(c.nNumber) + "\n");
  }
}

TEST(ArgumentsApplicationId, NotTwoPartsIsNotFoundAndTouchesNothing) {
  for (const char* pszValue : {"2", "2:17:5", ""}) {
    std::string strId = "old";
    ULONG nCell = 9, nNumber = 9;
    const Traced result = Capture([&] {
      return CArguments::GetApplicationId(CommandLine({"-a", pszValue}), strId, nCell, nNumber);
    });
    ASSERT_TRUE(result.error.IsError()) << pszValue;
    EXPECT_EQ(static_cast<std::uint32_t>(result.error.GetCode()), kNotFound);
    const FXErrorFrame& frame = result.error.GetFrames().back();
    EXPECT_EQ(frame.strFile, "CommonArguments");
    EXPECT_EQ(frame.strMessage,
              "ApplicationId invalid, expected <zentcell-id>:<application-number>, "
              "ApplicationId=" +
                  std::string(pszValue));
    EXPECT_EQ(strId, "old");
    EXPECT_EQ(nCell, 9u);
    EXPECT_EQ(nNumber, 9u);
    EXPECT_EQ(result.strOut, "");
  }
}

TEST(ArgumentsJobIds, ConvertLikeStrtollWithBaseZero) {
  using Read = CQiError (*)(CCommandLineArgumentsPtr, LONGLONG&);
  const struct {
    const char* pszOption;
    Read read;
    const char* pszKey;
  } accessors[] = {{"-j", &CArguments::GetJobId, "JobId"},
                   {"-snapjid", &CArguments::GetSnapBackupJobId, "SnapBackupJobId"}};
  const struct {
    const char* pszValue;
    LONGLONG nExpected;
  } values[] = {
      {"123abc", 123},
      {"", 0},
      {"0x10", 16},
      {"010", 8},
      {"-7", -7},
      {"99999999999999999999", std::numeric_limits<LONGLONG>::max()},
      {"-99999999999999999999", std::numeric_limits<LONGLONG>::min()},
  };
  for (const auto& a : accessors) {
    for (const auto& v : values) {
      LONGLONG nId = 1;
      const Traced result = Capture([&] {
        return a.read(CommandLine({a.pszOption, v.pszValue}), nId);
      });
      EXPECT_FALSE(result.error.IsError());
      EXPECT_EQ(nId, v.nExpected) << a.pszKey << " from \"" << v.pszValue << "\"";
      EXPECT_EQ(result.strOut, std::string(a.pszKey) + "=" + std::to_string(v.nExpected) + "\n");
    }
  }
}

TEST(ArgumentsNames, TrimTrailingSeparatorsOnlyFromClientAndStorenode) {
  using Read = CQiError (*)(CCommandLineArgumentsPtr, std::string&);
  const struct {
    Read read;
    const char* pszOption;
    const char* pszValue;
    const char* pszStored;
    const char* pszKey;
  } cases[] = {
      {&CArguments::GetClientName, "-cn", "a/b/", "a/b", "ClientName"},
      {&CArguments::GetClientName, "-cn", "a\\b\\/\\", "a\\b", "ClientName"},
      {&CArguments::GetClientName, "-cn", "///", "", "ClientName"},
      {&CArguments::GetStorenodeName, "-d", "node\\//", "node", "StorenodeName"},
      {&CArguments::GetZentServeHostName, "-qs", "zent/", "zent/", "ZentServeHostName"},
      {&CArguments::GetJobManagerToken, "-jt", "t0k\\", "t0k\\", "JobManagerToken"},
      {&CArguments::GetInstance, "-vm", "vm01/", "vm01/", "Instance"},
  };
  for (const auto& c : cases) {
    std::string strValue = "previous";
    const Traced result = Capture([&] {
      return c.read(CommandLine({c.pszOption, c.pszValue}), strValue);
    });
    EXPECT_FALSE(result.error.IsError());
    EXPECT_EQ(strValue, c.pszStored) << c.pszKey << " from \"" << c.pszValue << "\"";
    EXPECT_EQ(result.strOut, std::string(c.pszKey) + "=" + c.pszStored + "\n");
  }
}

TEST(ArgumentsFlags, ArePresenceOnlyAndNeverFail) {
  const struct {
    std::vector<const char*> args;
    bool bSet;
    const char* pszSynthetic;
    const char* pszMetadata;
  } cases[] = {
      {{}, false, "SyntheticFull=0\n", "BlockLevelMetadata=OFF\n"},
      {{"-synthfull", "-MetaDataEnabled"}, true, "SyntheticFull=1\n", "BlockLevelMetadata=ON\n"},
      {{"-synthfull", "0", "-MetaDataEnabled", "0"},
       true,
       "SyntheticFull=1\n",
       "BlockLevelMetadata=ON\n"},
      {{"-SYNTHFULL", "-metadataenabled"}, false, "SyntheticFull=0\n", "BlockLevelMetadata=OFF\n"},
  };
  for (const auto& c : cases) {
    const CCommandLineArgumentsPtr pArgs = CommandLine(c.args);
    bool bSynthetic = !c.bSet;
    bool bMetadata = !c.bSet;
    const Traced synthetic =
        Capture([&] { return CArguments::GetSyntheticFull(pArgs, bSynthetic); });
    const Traced metadata =
        Capture([&] { return CArguments::GetBlockLevelMetaInfo(pArgs, bMetadata); });
    EXPECT_FALSE(synthetic.error.IsError());
    EXPECT_FALSE(metadata.error.IsError());
    EXPECT_EQ(synthetic.strOut, c.pszSynthetic);
    EXPECT_EQ(metadata.strOut, c.pszMetadata);
    EXPECT_EQ(bSynthetic, c.bSet);
    EXPECT_EQ(bMetadata, c.bSet);
  }
}

// Every accessor, reading into outputs preset to "old" / 9; `render` shows the
// outputs afterwards.
struct AccessorCase {
  const char* pszOption;
  std::function<CQiError(CCommandLineArgumentsPtr, std::string& render)> read;
  const char* pszOutputsAfterMissing;  // null: unspecified, or never fails
};

std::vector<AccessorCase> AllAccessors() {
  auto text = [](CQiError (*read)(CCommandLineArgumentsPtr, std::string&)) {
    return [read](CCommandLineArgumentsPtr pArgs, std::string& render) {
      render = "old";
      return read(pArgs, render);
    };
  };
  auto id = [](CQiError (*read)(CCommandLineArgumentsPtr, LONGLONG&)) {
    return [read](CCommandLineArgumentsPtr pArgs, std::string& render) {
      LONGLONG nId = 9;
      CQiError error = read(pArgs, nId);
      render = std::to_string(nId);
      return error;
    };
  };
  auto flag = [](CQiError (*read)(CCommandLineArgumentsPtr, bool&)) {
    return [read](CCommandLineArgumentsPtr pArgs, std::string& render) {
      bool bSet = true;
      CQiError error = read(pArgs, bSet);
      render = bSet ? "true" : "false";
      return error;
    };
  };
  auto application = [](CCommandLineArgumentsPtr pArgs, std::string& render) {
    std::string strId = "old";
    ULONG nCell = 9, nNumber = 9;
    CQiError error = CArguments::GetApplicationId(pArgs, strId, nCell, nNumber);
    render = strId + ":" + std::to_string(nCell) + ":" + std::to_string(nNumber);
    return error;
  };
  return {
      {"a", application, "old:9:9"},
      {"j", id(&CArguments::GetJobId), "9"},
      {"cn", text(&CArguments::GetClientName), nullptr},
      {"qs", text(&CArguments::GetZentServeHostName), nullptr},
      {"vm", text(&CArguments::GetInstance), ""},
      {"jt", text(&CArguments::GetJobManagerToken), nullptr},
      {"d", text(&CArguments::GetStorenodeName), nullptr},
      {"snapjid", id(&CArguments::GetSnapBackupJobId), "9"},
      {"synthfull", flag(&CArguments::GetSyntheticFull), nullptr},
      {"MetaDataEnabled", flag(&CArguments::GetBlockLevelMetaInfo), nullptr},
  };
}

TEST(ArgumentsFailures, MissingOptionPushesTheAccessorOntoTheLookupError) {
  for (const AccessorCase& c : AllAccessors()) {
    if (c.pszOption == std::string("synthfull") || c.pszOption == std::string("MetaDataEnabled")) {
      continue;
    }
    std::string strOutputs;
    const Traced result = Capture([&] { return c.read(CommandLine({"-other", "1"}), strOutputs); });
    ASSERT_TRUE(result.error.IsError()) << c.pszOption;
    EXPECT_EQ(static_cast<std::uint32_t>(result.error.GetCode()), kNotFound);
    const auto& frames = result.error.GetFrames();
    ASSERT_EQ(frames.size(), 2u) << c.pszOption;
    EXPECT_EQ(frames[0].strFile, "CommandLineArguments");
    EXPECT_EQ(frames[1].strFile, "CommonArguments");
    EXPECT_NE(frames[1].strFunction.find("CArguments::Get"), std::string::npos);
    EXPECT_EQ(frames[1].strMessage, std::string("GetOption failed, Option=") + c.pszOption);
    EXPECT_EQ(result.strOut, "") << c.pszOption;
    if (c.pszOutputsAfterMissing != nullptr) {
      EXPECT_EQ(strOutputs, c.pszOutputsAfterMissing) << c.pszOption;
    }
  }
}

TEST(ArgumentsFailures, EmptyCommandLineIsInvalidParameterAndPrintsNothing) {
  for (const AccessorCase& c : AllAccessors()) {
    std::string strOutputs;
    const Traced result = Capture([&] { return c.read(CCommandLineArgumentsPtr(), strOutputs); });
    ASSERT_TRUE(result.error.IsError()) << c.pszOption;
    EXPECT_EQ(result.error.GetOriginalCode(), ERROR_INVALID_PARAMETER);
    EXPECT_NE(result.error.Format().find(std::string("Option=") + c.pszOption), std::string::npos);
    EXPECT_EQ(result.strOut, "") << c.pszOption;
  }
}

}  // namespace
