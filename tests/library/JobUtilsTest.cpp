#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <ostream>
#include <stdexcept>
#include <string>
#include <utility>

#include <gtest/gtest.h>
#include <boost/make_shared.hpp>

#include "JobUtils.h"
#include "QiErrorDetail.h"
#include "RkLocalPlatform.h"
#include "RkPlatform.h"
#include "TestSupport.h"

namespace {

namespace rk = RkLocalPlatform;

constexpr std::int32_t kInvalidParameter = static_cast<std::int32_t>(0x80070057u);
constexpr std::int32_t kFunctionFailed = static_cast<std::int32_t>(0x8007065Bu);
const char kRoot[] = "/results-root";

std::string JobPath(const std::string& client, const std::string& jobId) {
  return std::string(kRoot) + "/clients/" + client + "/JobResults/RK_JobResults/2/0/" + jobId;
}

// Each operation with fixed arguments, its output string last.
using Operation = CQiError (*)(std::string&);
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
    rk::Reset();
    setenv(rk::kRootVariable, kRoot, 1);
    rk::RegisterApplication("2:17", "appclient");
  }
};

TEST_F(JobUtilsTest, FocusClientNamesTheJobPathWhateverTheJobOrApplicationId) {
  rk::ThrowFrom(rk::Call::GetApplicationId);
  ASSERT_FALSE(CXJob::SetFocusClientName("vm01").IsError());
  const std::pair<LONGLONG, const char*> jobIds[] = {
      {0, "0"}, {-42, "-42"}, {LLONG_MAX, "9223372036854775807"}};
  for (const auto& [jobId, text] : jobIds) {
    std::string path = "stale";
    // The client name argument names no directory: the focus client does.
    ASSERT_FALSE(CXJob::GetFileSystemResultPathForJob("other", jobId, path).IsError());
    EXPECT_EQ(path, JobPath("vm01", text));
  }
  std::string path;
  ASSERT_FALSE(
      CXJob::GetFileSystemResultPathForJobFromApplicationId("no:such:id", 7, path).IsError());
  EXPECT_EQ(path, JobPath("vm01", "7"));
  ASSERT_FALSE(CXJob::SetFocusClientName("").IsError());  // handed on as given
  EXPECT_STREQ(RKPI_Focus::getFocusClientName(false), "");
}

TEST_F(JobUtilsTest, PathRecordIsWrittenOnlyAboveLevelOne) {
  for (int level : {-1, 1, 2}) {  // -1: no sink installed at all
    auto writer = boost::make_shared<umx_test::RecordingLogWriter>(level);
    umx_test::ScopedLogWriter installed(level < 0 ? nullptr : writer);
    std::string path;
    ASSERT_FALSE(CXJob::GetFileSystemResultPathForJob("c", -3, path).IsError());
    EXPECT_EQ(path, JobPath("localclient", "-3"));
    const auto records = writer->Records();
    ASSERT_EQ(records.size(), level > 1 ? 1u : 0u) << level;
    for (const auto& record : records) {
      EXPECT_EQ(record.level, 2);
      EXPECT_EQ(record.jobId, -3);
      EXPECT_EQ(record.message, "JobResultsPath=" + path);
    }
  }
}

TEST_F(JobUtilsTest, ThrowingPlatformCallPassesThroughAndLeaksNothing) {
  using rk::Call;
  const std::pair<Call, Operation> rows[] = {{Call::GetZentServerHostName, Server},
                                             {Call::GetJobResultsDirectory, ForJob},
                                             {Call::GetApplicationId, FromApp},
                                             {Call::GetClient, FromApp},
                                             {Call::GetName, FromApp},
                                             {Call::GetSubclientDir, Subclient}};
  for (const auto& [call, operation] : rows) {
    rk::Reset();
    rk::ThrowFrom(call);
    std::string out;
    EXPECT_THROW((void)operation(out), std::runtime_error) << static_cast<int>(call);
  }
}

// One operation under one platform setting: what the caller gets back.
struct OutcomeRow {
  const char* name;
  void (*arrange)();
  Operation call;
  std::int32_t code;  // 0: success
  std::string text;   // the output on success, else the originating frame's message
  // A failed directory lookup empties the output and has the job path's
  // frame pushed; the other failures leave the output untouched.
  bool inDirectoryLookup;
};

void PrintTo(const OutcomeRow& row, std::ostream* os) { *os << row.name; }

// clang-format off
const OutcomeRow kOutcomeRows[] = {
    {"ServerName", [] {}, Server, 0, "zentserver.localdomain", false},
    {"EmptyServerName", [] { rk::SetZentServerHostName(""); }, Server, 0, "", false},
    {"ServerInvalidPlatform", [] { rk::SetPlatformInvalid(true); }, Server, kInvalidParameter,
     "Invalid platform", false},
    {"ServerNoHostName", [] { rk::FailZentServerHostName(4294967295ul); }, Server,
     kFunctionFailed, "Failed to get the Zent Server name, error=4294967295", false},
    // The scratch buffers are never read.
    {"JobScratchScribbled", [] { rk::ScribbleOnScratchBuffers(true); }, ForJob, 0,
     JobPath("localclient", "1"), false},
    // A directory without its terminator is cut at the buffer's end (the
    // subclient's too).
    {"JobDirectoryUnterminated", [] { rk::WriteUnterminatedDirectories(true); }, ForJob, 0,
     std::string(2047, '#') + "/RK_JobResults/2/0/1", false},
    {"JobInvalidPlatform", [] { rk::SetPlatformInvalid(true); }, ForJob, kInvalidParameter,
     "Invalid platform", true},
    {"JobNoDirectory", [] { rk::FailJobResultsDirectory(5); }, ForJob, kFunctionFailed,
     "Failed to get the location of the JobResults directory, VirtualMachineName=vm9, error=5",
     true},
    // Without a focus client the application id names the client, yet the
    // directory is still the focus client's; the failures add no frame.
    {"AppResolved", [] {}, FromApp, 0, JobPath("localclient", "1"), false},
    {"AppNoDirectory", [] { rk::FailJobResultsDirectory(5); }, FromApp, kFunctionFailed,
     "Failed to get the location of the JobResults directory, VirtualMachineName=appclient, "
     "error=5", true},
    {"AppNegativeResult", [] { rk::FailGetApplicationId(-7); }, FromApp, -7,
     "getApplicationId failed, ApplicationId=2:17", false},
    {"AppPositiveResult", [] { rk::FailGetApplicationId(42); }, FromApp, -42,
     "getApplicationId failed, ApplicationId=2:17", false},
    {"AppNoClient", [] { rk::FailGetClient(); }, FromApp, kInvalidParameter,
     "getClient returned NULL", false},
    {"AppNoName", [] { rk::FailGetName(13); }, FromApp, -13, "getName failed", false},
    // The subclient directory is the platform's text as given.
    {"SubclientDefault", [] {}, Subclient, 0, "/results-root/subclients/1/2", false},
    {"SubclientAsGiven", [] { rk::SetSubclientDir("relative\\dir/"); }, Subclient, 0,
     "relative\\dir/", false},
    {"SubclientUnterminated", [] { rk::WriteUnterminatedDirectories(true); }, Subclient, 0,
     std::string(1023, '#'), false},
    {"SubclientFails", [] { rk::FailSubclientDir(-3); }, Subclient, -3, "GetSubclientDir failed",
     false},
};
// clang-format on

class JobUtilsOutcomeTest : public JobUtilsTest,
                            public ::testing::WithParamInterface<OutcomeRow> {};

TEST_P(JobUtilsOutcomeTest, ReportsTheOutputOrTheCodeMessageFramesAndOutputRule) {
  const OutcomeRow& row = GetParam();
  row.arrange();
  std::string out = "before";
  const CQiError error = row.call(out);
  EXPECT_EQ(error.GetCode(), row.code);
  if (row.code == 0) {
    EXPECT_EQ(out, row.text);
    return;
  }
  ASSERT_EQ(FXErrorDetail::GetFrames(error).size(), row.inDirectoryLookup ? 2u : 1u);
  EXPECT_EQ(FXErrorDetail::GetFrames(error).front().strMessage, row.text);
  EXPECT_EQ(out, row.inDirectoryLookup ? "" : "before");
}

INSTANTIATE_TEST_SUITE_P(EveryOutcome, JobUtilsOutcomeTest, ::testing::ValuesIn(kOutcomeRows),
                         [](const auto& test) { return std::string(test.param.name); });

}  // namespace
