// What the erasure record says a run earned: the NIST SP 800-88 category and method name in
// the JSON, the verdict and the facts people read, over zero-fills, quick wipes and the drive's
// own erase (passed, failed, refused), and the record fields, hidden area and left password.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>

#include "report/erasure_report.hpp"

namespace fw {
namespace {

using nlohmann::json;

struct RecordCase {
  const char* name;
  EraseMethodState method;
  bool quick;
  MediaType media;
  bool locked;
  EraseRefusal refusal;
  bool purgeFailed;
  VerifyOutcome verify;
  std::string verifyMethod;
  std::string readBack;
  std::string passwordLeft;
  // Expected.
  json jsonMethod, jsonCategory, jsonOutcome, jsonVerifyMethod, jsonReadBack, jsonRefusal;
  const char* jsonMedia;
  const char* categoryFact;  // what the category fact begins with
  const char* verdict;       // what the verdict begins with
};

ErasureReport ReportOf(const RecordCase& c) {
  ErasureReport report;
  report.disk.IdentifyData.LBA = 131072;
  report.disk.IdentifyData.SectorSize = 512;
  FormatAttemptResult& a = report.attempt;
  a.locked = c.locked;
  a.quickWipe = c.quick;
  a.verifyAsked = c.verify != VerifyOutcome::NotRun;
  a.method = c.method;
  a.media = c.media;
  a.refusal = c.refusal;
  a.purgeFailed = c.purgeFailed;
  a.run.outcome = c.locked ? ZeroFillOutcome::Completed : ZeroFillOutcome::NotStarted;
  a.run.verify.outcome = c.verify;
  a.run.verify.bytesChecked = c.verify == VerifyOutcome::NotRun ? 0 : 67'108'864;
  a.verifyMethod = c.verifyMethod;
  a.readBackPattern = c.readBack;
  a.passwordLeft = c.passwordLeft;
  return report;
}

std::string Fact(const ErasureReport& report, const std::string& label) {
  for (const auto& [l, value] : ErasureReportFacts(report)) {
    if (l == label) return value;
  }
  return "<no " + label + ">";
}

class ErasureRecord : public ::testing::TestWithParam<RecordCase> {};

TEST_P(ErasureRecord, CategoryMethodOutcomeAndVerdict) {
  const RecordCase& c = GetParam();
  const ErasureReport report = ReportOf(c);
  const json doc = json::parse(ErasureReportJson(report));
  EXPECT_EQ(doc["method"]["name"], c.jsonMethod);
  EXPECT_EQ(doc["method"]["category"], c.jsonCategory);
  EXPECT_EQ(doc["outcome"], c.jsonOutcome);
  EXPECT_EQ(doc["refusal"], c.jsonRefusal);
  EXPECT_EQ(doc["verify"]["method"], c.jsonVerifyMethod);
  EXPECT_EQ(doc["verify"]["read_back"], c.jsonReadBack);
  EXPECT_EQ(doc["disk"]["media"], c.jsonMedia);
  EXPECT_EQ(doc["password_left"],
            c.passwordLeft.empty() ? json(nullptr) : json(c.passwordLeft));
  EXPECT_TRUE(Fact(report, "NIST SP 800-88 類別").starts_with(c.categoryFact))
      << Fact(report, "NIST SP 800-88 類別");
  EXPECT_TRUE(ErasureVerdict(report).starts_with(c.verdict)) << ErasureVerdict(report);
  if (!c.passwordLeft.empty()) {
    EXPECT_NE(Fact(report, "留下的密碼").find(c.passwordLeft), std::string::npos);
  }
}

const EraseMethodState kZero{EraseMethod::Zero, EraseRefusal::None, EraseCategory::Clear};
const json kNull = nullptr;

INSTANTIATE_TEST_SUITE_P(
    Runs, ErasureRecord,
    ::testing::Values(
        RecordCase{"VerifiedZeroFill", kZero, false, MediaType::Hdd, true, EraseRefusal::None,
                   false, VerifyOutcome::Passed, "", "", "", "zero", "clear", "completed",
                   "full read-back", "zeros", kNull, "hdd", "清除 (Clear)",
                   "已清除並驗證：所有寫入的位元組讀回均為零。"},
        // The attempt keeps the zero-fill's Clear; the record must still call it nothing.
        RecordCase{"QuickWipe", kZero, true, MediaType::UsbFlash, true, EraseRefusal::None,
                   false, VerifyOutcome::NotRun, "", "", "", "quick", "none", "completed", kNull,
                   kNull, kNull, "usb-flash",
                   "無 (none)：partition tables removed, data beyond the first 10,240,000 bytes "
                   "remains",
                   "已移除分割表，未經驗證"},
        RecordCase{"CryptoSanitizeSampled",
                   {EraseMethod::SanitizeCrypto, EraseRefusal::None, EraseCategory::Purge},
                   false, MediaType::Ssd, true, EraseRefusal::None, false,
                   VerifyOutcome::Passed, "sample before and after", "", "", "sanitize-crypto",
                   "purge", "completed", "sample before and after", kNull, kNull, "ssd",
                   "清洗 (Purge)", "已以 Sanitize 加密抹除清除並驗證：抽樣的磁區讀回均與抹除前不同"},
        // A quick-wipe flag left over from the window's box means nothing to the drive's erase.
        RecordCase{"FormatReadsBackAPattern",
                   {EraseMethod::FormatNvm, EraseRefusal::None, EraseCategory::Purge}, true,
                   MediaType::Nvme, true, EraseRefusal::None, false, VerifyOutcome::Passed,
                   "full read-back", "uniform 0xFF", "", "format-nvm", "purge", "completed",
                   "full read-back", "uniform 0xFF", kNull, "nvme", "清洗 (Purge)",
                   "已以 Format NVM 使用者資料抹除清除並驗證：讀回的每個位元組均為 0xFF"},
        RecordCase{"OverwriteReadsBackMixed",
                   {EraseMethod::SanitizeOverwrite, EraseRefusal::None, EraseCategory::Purge},
                   false, MediaType::Hdd, true, EraseRefusal::None, false,
                   VerifyOutcome::Failed, "full read-back", "mixed", "", "sanitize-overwrite",
                   "purge", "completed", "full read-back", "mixed", kNull, "hdd",
                   "清洗 (Purge)", "驗證失敗：讀回的資料不是同一個值"},
        // Refused before the lease was taken: not a lock failure, and the reason says what
        // unfreezes the drive.
        RecordCase{"RefusedFrozen",
                   {EraseMethod::SanitizeBlock, EraseRefusal::Frozen, EraseCategory::Purge},
                   false, MediaType::Ssd, false, EraseRefusal::Frozen, false,
                   VerifyOutcome::NotRun, "", "", "", "sanitize-block", "purge", "refused",
                   kNull, kNull, "frozen", "ssd", "清洗 (Purge)",
                   "未清除：此磁碟無法使用 Sanitize 區塊抹除（磁碟的安全功能已凍結；讓電腦睡眠"},
        // A security erase of flash is only a Clear; its failure leaves the password on record.
        RecordCase{"SecureEraseFailedLeavingItsPassword",
                   {EraseMethod::SecureErase, EraseRefusal::None, EraseCategory::Clear}, false,
                   MediaType::Ssd, true, EraseRefusal::None, true, VerifyOutcome::NotRun, "", "",
                   "FwTmp-8c1e", "secure-erase", "clear", "failed", kNull, kNull, kNull, "ssd",
                   "清除 (Clear)", "清除失敗：磁碟回報 ATA 安全抹除失敗，且磁碟仍設有暫時密碼"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ErasureRecord, QuickWipeWordsNeverCallItErased) {
  RecordCase quick{};
  quick.method = kZero;
  quick.quick = true;
  quick.locked = true;
  const ErasureReport report = ReportOf(quick);
  for (const char* label : {"方法", "NIST SP 800-88 類別"}) {
    EXPECT_EQ(Fact(report, label).find("清除"), std::string::npos) << label;
  }
}

TEST(ErasureRecord, RecordFieldsReachTheJsonAndTheFactsAndBadBytesAreReplaced) {
  RecordCase zero{};
  zero.method = kZero;
  zero.locked = true;
  ErasureReport report = ReportOf(zero);
  report.record = {"王小明 資訊安全管理員", "範例科技股份有限公司", "PC-2026-0042",
                   "退役伺服器\n第二槽\xff"};
  const json doc = json::parse(ErasureReportJson(report));
  EXPECT_EQ(doc["record"]["operator"], "王小明 資訊安全管理員");
  EXPECT_EQ(doc["record"]["organization"], "範例科技股份有限公司");
  EXPECT_EQ(doc["record"]["asset_tag"], "PC-2026-0042");
  EXPECT_EQ(doc["record"]["notes"], "退役伺服器\n第二槽\xEF\xBF\xBD");
  EXPECT_EQ(Fact(report, "操作人員（姓名與職稱）"), "王小明 資訊安全管理員");
  EXPECT_EQ(Fact(report, "財產編號"), "PC-2026-0042");

  // Not given: the members are there, empty, so that a script finds them in every report.
  report.record = {};
  const json empty = json::parse(ErasureReportJson(report));
  EXPECT_EQ(empty["record"],
            json::parse(R"({"operator": "", "organization": "", "asset_tag": "", "notes": ""})"));
}

struct HiddenCase {
  EraseMethod method;
  bool opened;
  int64_t regionBytes;  // how far the recorded regions reach
};

class ErasureRecordHiddenArea : public ::testing::TestWithParam<HiddenCase> {};

TEST_P(ErasureRecordHiddenArea, RegionsReachTheNativeSizeOnlyWhenOpened) {
  RecordCase run{};
  run.method = {GetParam().method, EraseRefusal::None, EraseCategory::Purge};
  run.locked = true;
  ErasureReport report = ReportOf(run);
  report.disk.IdentifyData.LBA = 900'000;
  report.attempt.hiddenArea = HiddenArea{1'000'000, 900'000, false, 0};
  report.attempt.hiddenAreaOpened = GetParam().opened;
  const json doc = json::parse(ErasureReportJson(report));
  EXPECT_EQ(doc["hidden_area"]["hidden_sectors"], 100'000);
  EXPECT_EQ(doc["hidden_area"]["opened"], GetParam().opened);
  EXPECT_EQ(doc["hidden_area"]["dco_max_sectors"], nullptr);
  const json& regions = doc["method"]["regions"];
  EXPECT_EQ(regions.back()["offset"].get<int64_t>() + regions.back()["length"].get<int64_t>(),
            GetParam().regionBytes);
  EXPECT_NE(Fact(report, "隱藏區域").find("隱藏 100,000 磁區"), std::string::npos);
  EXPECT_EQ(Fact(report, "隱藏區域").find("已暫時開啟") != std::string::npos, GetParam().opened);
  // Nothing found: the member is null rather than a hidden area of nothing.
  report.attempt.hiddenArea.reset();
  EXPECT_EQ(json::parse(ErasureReportJson(report))["hidden_area"], nullptr);
}

INSTANTIATE_TEST_SUITE_P(Runs, ErasureRecordHiddenArea,
                         ::testing::Values(HiddenCase{EraseMethod::Zero, false, 900'000 * 512},
                                           HiddenCase{EraseMethod::Zero, true, 1'000'000 * 512},
                                           HiddenCase{EraseMethod::SanitizeOverwrite, true,
                                                      1'000'000 * 512}));

}  // namespace
}  // namespace fw
