// What a quick wipe is called: the erasure report's method and the certificate's title and
// verdict say that the partition tables were removed, never that the disk was erased.
#include <gtest/gtest.h>

#include <string>

#include "report/erasure_report.hpp"

namespace fw {
namespace {

struct TextCase {
  bool quick;
  ZeroFillOutcome outcome;
  VerifyOutcome verify;
  int64_t failedBlocks;
  const char* title;
  const char* verdict;
};

class ErasureTexts : public ::testing::TestWithParam<TextCase> {};

TEST_P(ErasureTexts, TitleVerdictAndMethod) {
  const TextCase& c = GetParam();
  ErasureReport report;
  report.disk.IdentifyData.LBA = 131072;
  report.disk.IdentifyData.SectorSize = 512;
  report.attempt.locked = true;
  report.attempt.quickWipe = c.quick;
  report.attempt.run.outcome = c.outcome;
  report.attempt.run.failedBlocks = c.failedBlocks;
  report.attempt.run.verify.outcome = c.verify;
  EXPECT_EQ(ErasureCertificateTitle(report), c.title);
  EXPECT_EQ(ErasureVerdict(report), c.verdict);
  std::string method;
  for (const auto& [label, value] : ErasureReportFacts(report)) {
    if (label == "方法") method = value;
  }
  if (c.quick) {
    // "清除" (erased) stands nowhere a quick wipe is described.
    for (const std::string& text :
         {ErasureCertificateTitle(report), ErasureVerdict(report), method}) {
      EXPECT_EQ(text.find("清除"), std::string::npos) << text;
    }
    EXPECT_NE(method.find("只移除分割表"), std::string::npos) << method;
    EXPECT_NE(ErasureReportJson(report).find(R"("category": "none")"), std::string::npos);
  } else {
    EXPECT_NE(ErasureReportJson(report).find(R"("category": "clear")"), std::string::npos);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Runs, ErasureTexts,
    ::testing::Values(
        TextCase{true, ZeroFillOutcome::Completed, VerifyOutcome::Passed, 0, "分割表移除記錄",
                 "已移除分割表並驗證：寫入的區域讀回均為零；其餘資料仍可用復原工具讀取。"},
        TextCase{true, ZeroFillOutcome::Completed, VerifyOutcome::NotRun, 0, "分割表移除記錄",
                 "已移除分割表，未經驗證；其餘資料仍可用復原工具讀取。"},
        TextCase{true, ZeroFillOutcome::Completed, VerifyOutcome::NotRun, 2, "分割表移除記錄",
                 "已移除分割表，但有區塊寫入失敗，未經驗證。"},
        TextCase{true, ZeroFillOutcome::Completed, VerifyOutcome::Cancelled, 0, "分割表移除記錄",
                 "已移除分割表，驗證未完成。"},
        TextCase{false, ZeroFillOutcome::Completed, VerifyOutcome::Passed, 0, "資料清除證明",
                 "已清除並驗證：所有寫入的位元組讀回均為零。"},
        TextCase{false, ZeroFillOutcome::Completed, VerifyOutcome::NotRun, 0, "資料清除證明",
                 "已寫入零，未經驗證。"}));

TEST(ErasureTexts, AnUnfinishedQuickWipeIsNotAnUnfinishedErasure) {
  ErasureReport report;
  report.attempt.locked = true;
  report.attempt.quickWipe = true;
  report.attempt.run.outcome = ZeroFillOutcome::Cancelled;
  EXPECT_TRUE(ErasureVerdict(report).starts_with("移除分割表未完成：")) << ErasureVerdict(report);
  report.attempt.quickWipe = false;
  EXPECT_TRUE(ErasureVerdict(report).starts_with("清除未完成：")) << ErasureVerdict(report);
}

}  // namespace
}  // namespace fw
