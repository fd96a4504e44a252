#include <cstdint>
#include <cstdlib>
#include <functional>
#include <limits>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <boost/make_shared.hpp>

#include "JobUtils.h"
#include "RkLocalPlatform.h"
#include "RkPlatform.h"
#include "TestSupport.h"

namespace {

using umx_test::RecordingLogWriter;
using umx_test::ScopedLogWriter;

constexpr std::int32_t kInvalidParameter = static_cast<std::int32_t>(0x80070057u);
constexpr std::int32_t kFunctionFailed = static_cast<std::int32_t>(0x8007065Bu);
const char kRoot[] = "/results-root";

std::string JobPath(const std::string& client, const std::string& jobId) {
  return std::string(kRoot) + "/clients/" + client + "/JobResults/RK_JobResults/2/0/" + jobId;
}

// Each operation with fixed arguments, its output string last.
CQiError ForJob(std::string& out) { return CXJob::GetFileSystemResultPathForJob("vm9", 1, out); }
CQiError FromApp(std::string& out) {
  return CXJob::GetFileSystemResultPathForJobFromApplicationId("2:17", 1, out);
}
CQiError Subclient(std::string& out) {
  return CXJob::GetFileSystemResultPathForSubclient(1, 2, out);
}
CQiError Server(std::string& out) { return CXJob::GetServerName(out); }

class JobUtilsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    RkLocalPlatform::Reset();
    setenv(RkLocalPlatform::kRootVariable, kRoot, 1);
  }
};

TEST_F(JobUtilsTest, JobPathFollowsTheLayoutForTheFocusClient) {
  ASSERT_FALSE(CXJob::SetFocusClientName("vm01").IsError());
  const std::vector<std::pair<LONGLONG, std::string>> rows = {
      {1234, "1234"},
      {0, "0"},
      {-42, "-42"},
      {std::numeric_limits<LONGLONG>::max(), "9223372036854775807"},
  };
  for (const auto& [jobId, text] : rows) {
    std::string path = "stale";
    // The client name argument names no directory: the focus client does.
    ASSERT_FALSE(CXJob::GetFileSystemResultPathForJob("other", jobId, path).IsError());
    EXPECT_EQ(path, JobPath("vm01", text));
  }
  auto calls = RkLocalPlatform::JobResultsDirectoryCalls();
  ASSERT_EQ(calls.size(), rows.size());
  EXPECT_EQ(calls[0].client, "vm01");
  EXPECT_EQ(calls[0].capacity, 2048u);
}

TEST_F(JobUtilsTest, EmptyFocusClientNameIsHandedOn) {
  EXPECT_FALSE(CXJob::SetFocusClientName("").IsError());
  ASSERT_NE(RKPI_Focus::getFocusClientName(false), nullptr);
  EXPECT_STREQ(RKPI_Focus::getFocusClientName(false), "");
}

TEST_F(JobUtilsTest, FocusClientMakesTheApplicationIdIrrelevant) {
  RkLocalPlatform::ThrowFrom(RkLocalPlatform::Call::GetApplicationId);
  ASSERT_FALSE(CXJob::SetFocusClientName("vm01").IsError());
  std::string path;
  ASSERT_FALSE(
      CXJob::GetFileSystemResultPathForJobFromApplicationId("no:such:id", 7, path).IsError());
  EXPECT_EQ(path, JobPath("vm01", "7"));
}

TEST_F(JobUtilsTest, ApplicationIdResolvesTheClientWithoutAFocusClient) {
  RkLocalPlatform::RegisterApplication("3:4", "appclient");
  std::string path;
  ASSERT_FALSE(CXJob::GetFileSystemResultPathForJobFromApplicationId("3:4", 9, path).IsError());
  // The directory is still the focus client's; the resolved name shows in
  // the lookup's failure message.
  EXPECT_EQ(path, JobPath("localclient", "9"));
  RkLocalPlatform::FailJobResultsDirectory(3);
  CQiError error = CXJob::GetFileSystemResultPathForJobFromApplicationId("3:4", 9, path);
  ASSERT_TRUE(error.IsError());
  EXPECT_NE(error.GetFrames().front().strMessage.find("VirtualMachineName=appclient,"),
            std::string::npos);
}

TEST_F(JobUtilsTest, PlatformScratchAndMissingTerminatorsCannotLeakIntoPaths) {
  RkLocalPlatform::ScribbleOnScratchBuffers(true);
  std::string path;
  ASSERT_FALSE(CXJob::GetFileSystemResultPathForJob("c", 5, path).IsError());
  EXPECT_EQ(path, JobPath("localclient", "5"));

  RkLocalPlatform::WriteUnterminatedDirectories(true);
  ASSERT_FALSE(CXJob::GetFileSystemResultPathForJob("c", 5, path).IsError());
  EXPECT_EQ(path, std::string(2047, '#') + "/RK_JobResults/2/0/5");
  ASSERT_FALSE(CXJob::GetFileSystemResultPathForSubclient(1, 2, path).IsError());
  EXPECT_EQ(path, std::string(1023, '#'));
}

TEST_F(JobUtilsTest, SubclientPathIsThePlatformsTextAsGiven) {
  std::string path;
  ASSERT_FALSE(CXJob::GetFileSystemResultPathForSubclient(3, 4, path).IsError());
  EXPECT_EQ(path, std::string(kRoot) + "/subclients/3/4");
  RkLocalPlatform::SetSubclientDir("relative\\dir/");
  ASSERT_FALSE(CXJob::GetFileSystemResultPathForSubclient(4, 3, path).IsError());
  EXPECT_EQ(path, "relative\\dir/");
  auto calls = RkLocalPlatform::SubclientDirCalls();
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[1].first, 4u);
  EXPECT_EQ(calls[1].second, 3u);
}

TEST_F(JobUtilsTest, ServerNameIsThePlatformsHostName) {
  std::string name = "stale";
  ASSERT_FALSE(CXJob::GetServerName(name).IsError());
  EXPECT_EQ(name, "zentserver.localdomain");
  RkLocalPlatform::SetZentServerHostName("");
  ASSERT_FALSE(CXJob::GetServerName(name).IsError());
  EXPECT_EQ(name, "");
}

TEST_F(JobUtilsTest, PathRecordIsWrittenOnlyAboveLevelOne) {
  for (int level : {0, 1, 2, 3}) {
    auto writer = boost::make_shared<RecordingLogWriter>(level);
    ScopedLogWriter installed(writer);
    std::string path;
    ASSERT_FALSE(CXJob::GetFileSystemResultPathForJob("c", -3, path).IsError());
    auto records = writer->Records();
    if (level <= 1) {
      EXPECT_TRUE(records.empty()) << level;
      continue;
    }
    ASSERT_EQ(records.size(), 1u) << level;
    EXPECT_EQ(records[0].level, 2);
    EXPECT_NE(records[0].function.find("CXJob::GetFileSystemResultPathForJob("), std::string::npos);
    EXPECT_GT(records[0].line, 0);
    EXPECT_EQ(records[0].jobId, -3);
    EXPECT_EQ(records[0].context, 0);
    EXPECT_EQ(records[0].format, "JobResultsPath=%s");
    EXPECT_EQ(records[0].message, "JobResultsPath=" + path);
  }
}

TEST_F(JobUtilsTest, PathWithoutALogSinkIsTheSame) {
  ScopedLogWriter none{boost::shared_ptr<CLogWriterInterface>()};
  std::string path;
  ASSERT_FALSE(CXJob::GetFileSystemResultPathForJob("c", 8, path).IsError());
  EXPECT_EQ(path, JobPath("localclient", "8"));
}

TEST_F(JobUtilsTest, ThrowingPlatformCallPassesThroughAndLeaksNothing) {
  using RkLocalPlatform::Call;
  const std::vector<std::pair<Call, CQiError (*)(std::string&)>> rows = {
      {Call::GetZentServerHostName, Server},
      {Call::GetJobResultsDirectory, ForJob},
      {Call::GetApplicationId, FromApp},
      {Call::GetClient, FromApp},
      {Call::GetName, FromApp},
      {Call::GetSubclientDir, Subclient},
  };
  for (const auto& [call, operation] : rows) {
    RkLocalPlatform::Reset();
    RkLocalPlatform::ThrowFrom(call);
    std::string out;
    EXPECT_THROW((void)operation(out), std::runtime_error) << static_cast<int>(call);
  }
}

// One failure of one operation: what the caller gets back.
struct FailureRow {
  const char* name;
  std::function<void()> arrange;
  std::function<CQiError(std::string&)> call;
  std::int32_t code;
  const char* message;
  // Functions of the frames, from the origin to the newest push.
  std::vector<const char*> functions;
  bool emptiesOutput;
};

// clang-format off
const FailureRow kFailureRows[] = {
    {"ServerInvalidPlatform", [] { RkLocalPlatform::SetPlatformInvalid(true); }, Server,
     kInvalidParameter, "Invalid platform", {"GetServerName("}, false},
    {"ServerNoHostName", [] { RkLocalPlatform::FailZentServerHostName(4294967295ul); }, Server,
     kFunctionFailed, "Failed to get the Zent Server name, error=4294967295",
     {"GetServerName("}, false},
    {"JobInvalidPlatform", [] { RkLocalPlatform::SetPlatformInvalid(true); }, ForJob,
     kInvalidParameter, "Invalid platform",
     {"GetJobResultsDir(", "GetFileSystemResultPathForJob("}, true},
    {"JobNoDirectory", [] { RkLocalPlatform::FailJobResultsDirectory(5); }, ForJob,
     kFunctionFailed,
     "Failed to get the location of the JobResults directory, VirtualMachineName=vm9, error=5",
     {"GetJobResultsDir(", "GetFileSystemResultPathForJob("}, true},
    // The application-id path adds no frame of its own.
    {"AppInvalidPlatform", [] { RkLocalPlatform::SetPlatformInvalid(true); }, FromApp,
     kInvalidParameter, "Invalid platform",
     {"GetJobResultsDir(", "GetFileSystemResultPathForJob("}, true},
    {"AppNoDirectory", [] { RkLocalPlatform::FailJobResultsDirectory(5); }, FromApp,
     kFunctionFailed,
     "Failed to get the location of the JobResults directory, VirtualMachineName=localclient, "
     "error=5",
     {"GetJobResultsDir(", "GetFileSystemResultPathForJob("}, true},
    {"AppNegativeResult", [] { RkLocalPlatform::FailGetApplicationId(-7); }, FromApp, -7,
     "getApplicationId failed, ApplicationId=2:17", {"FromApplicationId("}, false},
    {"AppPositiveResult", [] { RkLocalPlatform::FailGetApplicationId(42); }, FromApp, -42,
     "getApplicationId failed, ApplicationId=2:17", {"FromApplicationId("}, false},
    {"AppNoClient", [] { RkLocalPlatform::FailGetClient(); }, FromApp, kInvalidParameter,
     "getClient returned NULL", {"FromApplicationId("}, false},
    {"AppNoName", [] { RkLocalPlatform::FailGetName(13); }, FromApp, -13, "getName failed",
     {"FromApplicationId("}, false},
    {"SubclientFails", [] { RkLocalPlatform::FailSubclientDir(-3); }, Subclient, -3,
     "GetSubclientDir failed", {"GetFileSystemResultPathForSubclient("}, false},
};
// clang-format on

void PrintTo(const FailureRow& row, std::ostream* os) { *os << row.name; }

class JobUtilsFailureTest : public JobUtilsTest,
                            public ::testing::WithParamInterface<FailureRow> {};

TEST_P(JobUtilsFailureTest, ReportsCodeMessageFramesAndOutputRule) {
  const FailureRow& row = GetParam();
  row.arrange();
  std::string out = "before";
  CQiError error = row.call(out);
  ASSERT_TRUE(error.IsError());
  EXPECT_EQ(error.GetCode(), row.code);
  const auto& frames = error.GetFrames();
  ASSERT_EQ(frames.size(), row.functions.size());
  for (std::size_t i = 0; i < frames.size(); ++i) {
    EXPECT_EQ(frames[i].strFile, "JobUtils");
    EXPECT_NE(frames[i].strFunction.find(row.functions[i]), std::string::npos)
        << frames[i].strFunction;
  }
  EXPECT_EQ(frames.front().strMessage, row.message);
  EXPECT_EQ(out, row.emptiesOutput ? "" : "before");
}

INSTANTIATE_TEST_SUITE_P(EveryFailure, JobUtilsFailureTest, ::testing::ValuesIn(kFailureRows),
                         [](const auto& test) { return std::string(test.param.name); });

}  // namespace
