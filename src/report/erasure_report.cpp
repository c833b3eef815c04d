#include "report/erasure_report.hpp"

#include <ctime>
#include <nlohmann/json.hpp>

#include "core/product.hpp"
#include "core/small_file.hpp"
#include "core/text.hpp"
#include "format/erase_method_texts.hpp"
#include "report/text_format.hpp"

namespace fw {

namespace {

using nlohmann::ordered_json;

constexpr int kReportVersion = 1;

std::string RegionsText(const std::vector<WipeRegion>& regions) {
  std::string text;
  for (const WipeRegion& region : regions) {
    if (!text.empty()) text += "；";
    text += GroupThousands(region.offset) + " – " + GroupThousands(region.offset + region.length);
  }
  return text;
}

// The sentence a quick wipe's category stands with: the record must not let it pass for an
// erasure.
constexpr std::string_view kQuickLeavesData =
    "partition tables removed, data beyond the first 10,240,000 bytes remains";
constexpr std::string_view kVerifyFullReadBack = "full read-back";
constexpr std::string_view kVerifySample = "sample before and after";
constexpr std::string_view kReadBackZeros = "zeros";

// The drive erased itself: nothing was written by us, and there is no quick form of it.
bool DriveErased(const FormatAttemptResult& attempt) {
  return attempt.method.method != EraseMethod::Zero;
}

bool QuickWipe(const FormatAttemptResult& attempt) {
  return attempt.quickWipe && !DriveErased(attempt);
}

EraseCategory RecordedCategory(const FormatAttemptResult& attempt) {
  return QuickWipe(attempt) ? EraseCategory::None : attempt.method.category;
}

// How the result was checked; a zero-fill's verify pass reads everything back.
std::string VerifyMethodName(const FormatAttemptResult& attempt) {
  if (!attempt.verifyMethod.empty()) return attempt.verifyMethod;
  if (attempt.run.verify.outcome == VerifyOutcome::NotRun) return {};
  return std::string(kVerifyFullReadBack);
}

// What the disk read back as; a zero-fill that passed its verify read back zeros.
std::string ReadBackPattern(const FormatAttemptResult& attempt) {
  if (!attempt.readBackPattern.empty()) return attempt.readBackPattern;
  if (!DriveErased(attempt) && attempt.run.verify.outcome == VerifyOutcome::Passed) {
    return std::string(kReadBackZeros);
  }
  return {};
}

ordered_json TextOrNull(const std::string& text) {
  return text.empty() ? ordered_json(nullptr) : ordered_json(text);
}

// The bytes the run reached: the whole native medium when it opened the hidden area for itself.
int64_t ReachedBytes(const ErasureReport& report) {
  const TIdentifyDeviceData& id = report.disk.IdentifyData;
  if (report.attempt.hiddenAreaOpened && report.attempt.hiddenArea) {
    return report.attempt.hiddenArea->nativeSectors * static_cast<int64_t>(id.SectorSize);
  }
  return CapacityBytes(id);
}

std::string OutcomeText(const std::string& outcome) {
  if (outcome == "completed") return "完成";
  if (outcome == "refused") return "此磁碟無法使用所選的方法，未傳送任何命令";
  if (outcome == "failed") return "磁碟回報其抹除失敗";
  if (outcome == "cancelled") return "已取消";
  if (outcome == "aborted") return "已終止（裝置已移除）";
  if (outcome == "lock failed") return "無法鎖住裝置，未寫入任何資料";
  return "未開始";
}

std::string VerifyText(const FormatAttemptResult& attempt) {
  const VerifyResult& verify = attempt.run.verify;
  const bool sample = VerifyMethodName(attempt) == kVerifySample;
  const std::string pattern = ReadBackPattern(attempt);
  switch (verify.outcome) {
    case VerifyOutcome::NotRun: return "未執行";
    case VerifyOutcome::Passed:
      if (sample) {
        return "通過，已比對 " + GroupThousands(verify.bytesChecked) +
               " 位元組的抽樣磁區，全部與抹除前不同";
      }
      if (pattern.starts_with("uniform ")) {
        return "通過，已檢查 " + GroupThousands(verify.bytesChecked) +
               " 位元組，全部為同一個位元組值 " + pattern.substr(8);
      }
      return "通過，已檢查 " + GroupThousands(verify.bytesChecked) + " 位元組，全部為零";
    case VerifyOutcome::Failed:
      if (sample) {
        return "失敗，已比對 " + GroupThousands(verify.bytesChecked) +
               " 位元組的抽樣磁區，有磁區讀回與抹除前相同";
      }
      return "失敗，已檢查 " + GroupThousands(verify.bytesChecked) + " 位元組";
    case VerifyOutcome::Cancelled:
      return "已取消，已檢查 " + GroupThousands(verify.bytesChecked) + " 位元組";
    case VerifyOutcome::Aborted:
      return "已終止，已檢查 " + GroupThousands(verify.bytesChecked) + " 位元組";
  }
  return {};
}

std::vector<WipeRegion> MethodRegions(const ErasureReport& report) {
  if (DriveErased(report.attempt)) return {WipeRegion{0, ReachedBytes(report)}};
  return WipeRegions(ReachedBytes(report), report.attempt.quickWipe);
}

std::string MethodText(const FormatAttemptResult& attempt) {
  if (DriveErased(attempt)) {
    return std::string(EraseMethodText(attempt.method.method)) + "（磁碟自身的抹除命令）";
  }
  return attempt.quickWipe ? "快速：只移除分割表（前 10,240,000 位元組與最後 1 MiB 寫入零，"
                             "其餘資料仍可用復原工具讀取）"
                           : "完整清除（整個磁碟寫入零）";
}

std::string CategoryText(const FormatAttemptResult& attempt) {
  const std::string category(EraseCategoryText(RecordedCategory(attempt)));
  return QuickWipe(attempt) ? category + "：" + std::string(kQuickLeavesData) : category;
}

std::string HiddenAreaText(const FormatAttemptResult& attempt) {
  const HiddenArea& area = *attempt.hiddenArea;
  std::string text = "原生 " + GroupThousands(area.nativeSectors) + " 磁區，可存取 " +
                     GroupThousands(area.accessibleSectors) + " 磁區，隱藏 " +
                     GroupThousands(area.hiddenSectors()) + " 磁區";
  if (attempt.hiddenAreaOpened) text += "；本次執行已暫時開啟隱藏區域並一併處理";
  if (area.dcoRestricts) {
    text += "；DCO 將最大容量限制為 " + GroupThousands(area.dcoMaxSectors) + " 磁區 (未變更)";
  }
  return text;
}

ordered_json HiddenAreaJson(const FormatAttemptResult& attempt) {
  if (!attempt.hiddenArea) return nullptr;
  const HiddenArea& area = *attempt.hiddenArea;
  return {{"native_sectors", area.nativeSectors},
          {"accessible_sectors", area.accessibleSectors},
          {"hidden_sectors", area.hiddenSectors()},
          {"dco_restricts", area.dcoRestricts},
          {"dco_max_sectors", area.dcoRestricts ? ordered_json(area.dcoMaxSectors) : nullptr},
          {"opened", attempt.hiddenAreaOpened}};
}

}  // namespace

ErasureReport MakeErasureReport(const TDeviceTable& disk, const DiskContents& contents,
                                const FormatAttemptResult& attempt, const HostFacts& host) {
  return ErasureReport{host, disk, contents.byIdLinks, attempt, RecordFields{}};
}

std::string ErasureOutcomeName(const FormatAttemptResult& attempt) {
  if (attempt.refusal != EraseRefusal::None) return "refused";
  if (!attempt.locked) return "lock failed";
  if (attempt.purgeFailed) return "failed";
  switch (attempt.run.outcome) {
    case ZeroFillOutcome::Completed: return "completed";
    case ZeroFillOutcome::Cancelled: return "cancelled";
    case ZeroFillOutcome::Aborted: return "aborted";
    case ZeroFillOutcome::NotStarted: break;
  }
  return "not started";
}

std::string VerifyOutcomeName(VerifyOutcome outcome) {
  switch (outcome) {
    case VerifyOutcome::NotRun: break;
    case VerifyOutcome::Passed: return "passed";
    case VerifyOutcome::Failed: return "failed";
    case VerifyOutcome::Cancelled: return "cancelled";
    case VerifyOutcome::Aborted: return "aborted";
  }
  return "not run";
}

std::string IsoUtc(std::chrono::system_clock::time_point time) {
  const std::time_t seconds = std::chrono::system_clock::to_time_t(time);
  std::tm utc{};
  gmtime_r(&seconds, &utc);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
  return text;
}

std::string ErasureReportJson(const ErasureReport& report) {
  const TIdentifyDeviceData& id = report.disk.IdentifyData;
  const ZeroFillResult& run = report.attempt.run;
  ordered_json doc;
  doc["report_version"] = kReportVersion;
  doc["program"] = {{"name", "Ferrowipe"}, {"version", std::string(kProductVersion)}};
  doc["host"] = {{"name", report.host.hostName}, {"kernel", report.host.kernel}};
  doc["disk"] = {{"path", report.disk.DevicePath},
                 {"by_id", report.byIdNames},
                 {"model", Trim(id.Model)},
                 {"serial", Trim(id.SN)},
                 {"firmware", Trim(id.FW)},
                 {"bus", BusTypeToStr(id.BusType)},
                 {"sectors", id.LBA},
                 {"sector_size", id.SectorSize},
                 {"bytes", CapacityBytes(id)},
                 {"media", MediaTypeWord(report.attempt.media)}};
  ordered_json regions = ordered_json::array();
  for (const WipeRegion& region : MethodRegions(report)) {
    regions.push_back({{"offset", region.offset}, {"length", region.length}});
  }
  // A quick wipe leaves the data past its regions readable: it sanitises nothing.
  const FormatAttemptResult& attempt = report.attempt;
  doc["method"] = {
      {"name", QuickWipe(attempt) ? "quick" : EraseMethodWord(attempt.method.method)},
      {"category", EraseCategoryWord(RecordedCategory(attempt))},
      {"verify", attempt.verifyAsked},
      {"regions", regions}};
  doc["hidden_area"] = HiddenAreaJson(attempt);
  doc["started"] = IsoUtc(attempt.started);
  doc["ended"] = IsoUtc(attempt.ended);
  doc["outcome"] = ErasureOutcomeName(attempt);
  doc["refusal"] = attempt.refusal == EraseRefusal::None
                       ? ordered_json(nullptr)
                       : ordered_json(EraseRefusalWord(attempt.refusal));
  doc["bytes_written"] = run.bytesWritten;
  ordered_json failed = ordered_json::array();
  for (const FailedBlock& block : run.failures) {
    failed.push_back({{"offset", block.offset}, {"code", block.code}});
  }
  doc["failed_blocks"] = failed;
  ordered_json problems = ordered_json::array();
  for (const VerifyProblem& problem : run.verify.problems) {
    problems.push_back(
        {{"offset", problem.offset}, {"length", problem.length}, {"code", problem.code}});
  }
  doc["verify"] = {{"result", VerifyOutcomeName(run.verify.outcome)},
                   {"method", TextOrNull(VerifyMethodName(attempt))},
                   {"read_back", TextOrNull(ReadBackPattern(attempt))},
                   {"bytes_checked", run.verify.bytesChecked},
                   {"non_zero_regions", run.verify.nonZeroRegions},
                   {"unreadable_regions", run.verify.unreadableRegions},
                   {"first_problems", problems}};
  // A secure erase that failed after its temporary password was set: the drive stays locked
  // with it until `ferrowipe-cli unlock` removes it.
  doc["password_left"] = TextOrNull(attempt.passwordLeft);
  doc["record"] = {{"operator", report.record.operatorName},
                   {"organization", report.record.organization},
                   {"asset_tag", report.record.assetTag},
                   {"notes", report.record.notes}};
  doc["log"] = attempt.logLines;
  return doc.dump(2, ' ', false, ordered_json::error_handler_t::replace) + "\n";
}

std::string ErasureCertificateTitle() { return "資料清除證明"; }

std::string ErasureCertificateTitle(const ErasureReport& report) {
  return QuickWipe(report.attempt) ? "分割表移除記錄" : ErasureCertificateTitle();
}

namespace {

// The verdict on the drive's own erase: it wrote nothing of ours, so it is judged by what the
// drive said and by what the disk read back afterwards.
std::string DriveEraseVerdict(const FormatAttemptResult& attempt) {
  const std::string method(EraseMethodText(attempt.method.method));
  const std::string outcome = ErasureOutcomeName(attempt);
  if (outcome == "refused") {
    return "未清除：此磁碟無法使用 " + method + "（" +
           std::string(EraseRefusalText(attempt.refusal)) + "），未傳送任何命令。";
  }
  if (outcome == "failed") {
    return attempt.passwordLeft.empty()
               ? "清除失敗：磁碟回報 " + method + "失敗。"
               : "清除失敗：磁碟回報 " + method + "失敗，且磁碟仍設有暫時密碼。";
  }
  if (outcome != "completed") return "清除未完成：" + OutcomeText(outcome);
  const bool sample = VerifyMethodName(attempt) == kVerifySample;
  const std::string pattern = ReadBackPattern(attempt);
  switch (attempt.run.verify.outcome) {
    case VerifyOutcome::Passed:
      if (sample) return "已以 " + method + "清除並驗證：抽樣的磁區讀回均與抹除前不同。";
      if (pattern.starts_with("uniform ")) {
        return "已以 " + method + "清除並驗證：讀回的每個位元組均為 " + pattern.substr(8) + "。";
      }
      return "已以 " + method + "清除並驗證：讀回的每個位元組均為零。";
    case VerifyOutcome::Failed:
      return sample ? "驗證失敗：有抽樣的磁區讀回與抹除前相同。"
                    : "驗證失敗：讀回的資料不是同一個值，或有區域無法讀取。";
    case VerifyOutcome::NotRun: return "已以 " + method + "清除，未經驗證。";
    case VerifyOutcome::Cancelled:
    case VerifyOutcome::Aborted: break;
  }
  return "已以 " + method + "清除，驗證未完成。";
}

}  // namespace

std::string ErasureVerdict(const ErasureReport& report) {
  const FormatAttemptResult& attempt = report.attempt;
  if (DriveErased(attempt)) return DriveEraseVerdict(attempt);
  // A quick wipe removes the partition tables and nothing more: it is never called erased.
  const bool quick = attempt.quickWipe;
  if (ErasureOutcomeName(attempt) != "completed") {
    const std::string unfinished = quick ? "移除分割表未完成：" : "清除未完成：";
    return unfinished + OutcomeText(ErasureOutcomeName(attempt));
  }
  switch (attempt.run.verify.outcome) {
    case VerifyOutcome::Passed:
      return quick ? "已移除分割表並驗證：寫入的區域讀回均為零；其餘資料仍可用復原工具讀取。"
                   : "已清除並驗證：所有寫入的位元組讀回均為零。";
    case VerifyOutcome::Failed: return "驗證失敗：部分區域不是零或無法讀取。";
    case VerifyOutcome::NotRun:
      if (quick) {
        return attempt.run.failedBlocks == 0
                   ? "已移除分割表，未經驗證；其餘資料仍可用復原工具讀取。"
                   : "已移除分割表，但有區塊寫入失敗，未經驗證。";
      }
      return attempt.run.failedBlocks == 0 ? "已寫入零，未經驗證。"
                                           : "已寫入零，但有區塊寫入失敗，未經驗證。";
    case VerifyOutcome::Cancelled:
    case VerifyOutcome::Aborted: break;
  }
  return quick ? "已移除分割表，驗證未完成。" : "已寫入零，驗證未完成。";
}

std::vector<std::pair<std::string, std::string>> ErasureReportFacts(const ErasureReport& report) {
  const TIdentifyDeviceData& id = report.disk.IdentifyData;
  const FormatAttemptResult& attempt = report.attempt;
  const ZeroFillResult& run = attempt.run;
  const bool driveErased = DriveErased(attempt);
  std::vector<std::pair<std::string, std::string>> facts{
      {"程式", std::string(kProductName)},
      {"電腦名稱", report.host.hostName},
      {"核心", report.host.kernel},
      {"裝置路徑", report.disk.DevicePath},
  };
  for (const std::string& name : report.byIdNames) facts.emplace_back("by-id 名稱", name);
  facts.insert(facts.end(),
               {{"型號", Trim(id.Model)},
                {"序號", Trim(id.SN)},
                {"韌體", Trim(id.FW)},
                {"匯流排", BusTypeToStr(id.BusType)},
                {"媒體類型", std::string(MediaTypeText(attempt.media))},
                {"容量", GroupThousands(id.LBA) + " 磁區 × " + GroupThousands(id.SectorSize) +
                             " 位元組 = " + GroupThousands(CapacityBytes(id)) + " 位元組"}});
  if (attempt.hiddenArea) facts.emplace_back("隱藏區域", HiddenAreaText(attempt));
  facts.insert(facts.end(),
               {{"方法", MethodText(attempt)},
                {"NIST SP 800-88 類別", CategoryText(attempt)},
                {driveErased ? "抹除範圍（位元組）" : "寫入區域（位元組）",
                 RegionsText(MethodRegions(report))},
                {"開始時間（UTC）", IsoUtc(attempt.started)},
                {"結束時間（UTC）", IsoUtc(attempt.ended)},
                {"結果", OutcomeText(ErasureOutcomeName(attempt))}});
  if (attempt.refusal != EraseRefusal::None) {
    facts.emplace_back("無法使用的原因", std::string(EraseRefusalText(attempt.refusal)));
  }
  if (!driveErased) {
    facts.insert(facts.end(),
                 {{"已寫入位元組", GroupThousands(run.bytesWritten)},
                  {"失敗的區塊", GroupThousands(static_cast<int64_t>(run.failures.size()))}});
  }
  if (const std::string method = VerifyMethodName(attempt); !method.empty()) {
    facts.emplace_back("驗證方法", std::string(VerifyMethodText(method)));
  }
  facts.emplace_back("驗證", VerifyText(attempt));
  if (run.verify.FoundProblems()) {
    facts.emplace_back("非零區域 / 無法讀取的區域", GroupThousands(run.verify.nonZeroRegions) +
                                                     " / " +
                                                     GroupThousands(run.verify.unreadableRegions));
    std::string first;
    for (size_t i = 0; i < run.verify.problems.size() && i < 5; ++i) {
      if (!first.empty()) first += "、";
      first += GroupThousands(run.verify.problems[i].offset);
    }
    facts.emplace_back("最先的偏移", first);
  }
  if (!attempt.passwordLeft.empty()) {
    facts.emplace_back("留下的密碼", "磁碟仍設有使用者密碼「" + attempt.passwordLeft +
                                         "」；以 ferrowipe-cli unlock 移除");
  }
  facts.insert(facts.end(), {{"操作人員（姓名與職稱）", report.record.operatorName},
                             {"組織", report.record.organization},
                             {"財產編號", report.record.assetTag},
                             {"備註", report.record.notes}});
  return facts;
}

std::string WriteReportFile(const std::string& path, const std::string& text,
                            std::optional<FileOwner> owner, FolderLinks links) {
  const std::string problem = WriteFileAtomically(path, text, owner, links);
  if (problem.empty()) return {};
  return "cannot write " + path + ": " + problem;
}

}  // namespace fw
