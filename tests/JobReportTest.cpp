#include <functional>
#include <memory>
#include <vector>

#include <gtest/gtest.h>

#include "JobUtils.h"

namespace {

// Every reporting operation of `report`, with arguments at the edges of
// their ranges and statuses with and without a display row.
std::vector<std::function<CQiError()>> EveryOperation(CJobReport& report) {
  return {
      [&] { return report.SetNumberOfFilesInBackup(-1); },
      [&] { return report.SetNumberOfFilesInBackup(0x7FFFFFFFFFFFFFFF); },
      [&] { return report.SetScanStatistics(0xFFFFFFFF); },
      [&] { return report.SetNumberOfStreams(0); },
      [&] { return report.SendJobComplete(EJobStatus(EJobStatus::FAIL)); },
      [&] { return report.SendJobComplete(EJobStatus(EJobStatus::JOBSTATUS_ERROR)); },
      [&] { return report.SendPhaseComplete(EJobStatus(static_cast<EJobStatus::ENUM>(14))); },
  };
}

void ExpectEverySuccess(CJobReport& report) {
  const auto operations = EveryOperation(report);
  for (size_t i = 0; i < operations.size(); ++i) {
    const CQiError error = operations[i]();
    EXPECT_FALSE(error.IsError()) << "operation " << i;
    EXPECT_EQ(error.GetCode(), 0) << "operation " << i;
  }
}

TEST(JobReport, DefaultsAcceptEveryCallAgainAfterCompletion) {
  CJobReport report;
  ExpectEverySuccess(report);
  (void)report.SendJobComplete(EJobStatus(EJobStatus::JMSUCCESS));
  ExpectEverySuccess(report);
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
  ExpectEverySuccess(*report);
  EXPECT_EQ(sent, (std::vector<unsigned int>{EJobStatus::FAIL, EJobStatus::JOBSTATUS_ERROR}));
  report.reset();
  EXPECT_TRUE(destroyed);
}

}  // namespace
