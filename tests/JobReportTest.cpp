#include <memory>
#include <vector>

#include <gtest/gtest.h>

#include "JobUtils.h"

namespace {

// Every operation of `report`, with counts at the edges of their ranges and
// statuses with and without a display row, must return success.
void ExpectDefaultsSucceed(CJobReport& report) {
  const CQiError results[] = {
      report.SetNumberOfFilesInBackup(-1),
      report.SetNumberOfFilesInBackup(0x7FFFFFFFFFFFFFFF),
      report.SetScanStatistics(0xFFFFFFFF),
      report.SetNumberOfStreams(0),
      report.SendJobComplete(EJobStatus(EJobStatus::FAIL)),
      report.SendPhaseComplete(EJobStatus(EJobStatus::JOBSTATUS_ERROR)),
      report.SendPhaseComplete(EJobStatus(static_cast<EJobStatus::ENUM>(14))),
  };
  for (const CQiError& result : results) {
    EXPECT_FALSE(result.IsError());
    EXPECT_EQ(result.GetCode(), 0);
  }
}

TEST(JobReport, DefaultsSucceedAlsoAfterCompletion) {
  CJobReport report;
  ExpectDefaultsSucceed(report);
  (void)report.SendJobComplete(EJobStatus(EJobStatus::JMSUCCESS));
  ExpectDefaultsSucceed(report);
}

class CompletionReport : public CJobReport {
 public:
  CompletionReport(std::vector<unsigned int>& sent, bool& destroyed)
      : sent_(sent), destroyed_(destroyed) {}
  ~CompletionReport() override { destroyed_ = true; }

  CQiError SendJobComplete(EJobStatus eStatus) override {
    sent_.push_back(eStatus.Value());
    return CQiError::Success();
  }

 private:
  std::vector<unsigned int>& sent_;
  bool& destroyed_;
};

TEST(JobReport, DerivedReportKeepsOtherDefaultsAndDiesThroughBase) {
  std::vector<unsigned int> sent;
  bool destroyed = false;
  std::unique_ptr<CJobReport> report = std::make_unique<CompletionReport>(sent, destroyed);
  ExpectDefaultsSucceed(*report);
  EXPECT_EQ(sent, std::vector<unsigned int>{EJobStatus::FAIL});
  report.reset();
  EXPECT_TRUE(destroyed);
}

}  // namespace
