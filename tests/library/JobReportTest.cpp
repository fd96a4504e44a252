#include <memory>
#include <vector>

#include <gtest/gtest.h>

#include "JobUtils.h"

namespace {

// Every operation of `report` succeeds, with counts at the edges of their
// ranges and statuses with and without a display row.
void ExpectDefaultsSucceed(CJobReport& report) {
  for (const CQiError& result :
       {report.SetNumberOfFilesInBackup(-1), report.SetNumberOfFilesInBackup(0x7FFFFFFFFFFFFFFF),
        report.SetScanStatistics(0xFFFFFFFF), report.SetNumberOfStreams(0),
        report.SendJobComplete(EJobStatus(EJobStatus::FAIL)),
        report.SendPhaseComplete(EJobStatus(EJobStatus::JOBSTATUS_ERROR)),
        report.SendPhaseComplete(static_cast<EJobStatus::ENUM>(14))}) {
    EXPECT_FALSE(result.IsError());
  }
}

TEST(JobReport, DefaultsSucceedAlsoAfterCompletion) {
  CJobReport report;
  ExpectDefaultsSucceed(report);
  (void)report.SendJobComplete(EJobStatus(EJobStatus::JMSUCCESS));
  ExpectDefaultsSucceed(report);
}

TEST(JobReport, DerivedReportKeepsOtherDefaultsAndDiesThroughBase) {
  struct CompletionReport : CJobReport {
    CompletionReport(std::vector<unsigned int>& s, bool& d) : sent(s), destroyed(d) {}
    ~CompletionReport() override { destroyed = true; }
    CQiError SendJobComplete(EJobStatus eStatus) override {
      sent.push_back(eStatus.Value());
      return CQiError::Success();
    }
    std::vector<unsigned int>& sent;
    bool& destroyed;
  };
  std::vector<unsigned int> sent;
  bool destroyed = false;
  std::unique_ptr<CJobReport> report = std::make_unique<CompletionReport>(sent, destroyed);
  ExpectDefaultsSucceed(*report);
  EXPECT_EQ(sent, std::vector<unsigned int>{EJobStatus::FAIL});
  report.reset();
  EXPECT_TRUE(destroyed);
}

}  // namespace
