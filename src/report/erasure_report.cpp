#include "report/erasure_report.hpp"

#include <ctime>
#include <nlohmann/json.hpp>

#include "core/product.hpp"
#include "core/small_file.hpp"
#include "core/text.hpp"
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

std::string OutcomeText(const std::string& outcome) {
  if (outcome == "completed") return "完成";
  if (outcome == "cancelled") return "已取消";
  if (outcome == "aborted") return "已終止（裝置已移除）";
  if (outcome == "lock failed") return "無法鎖住裝置，未寫入任何資料";
  return "未開始";
}

std::string VerifyText(const VerifyResult& verify) {
  switch (verify.outcome) {
    case VerifyOutcome::NotRun: return "未執行";
    case VerifyOutcome::Passed:
      return "通過，已檢查 " + GroupThousands(verify.bytesChecked) + " 位元組，全部為零";
    case VerifyOutcome::Failed: return "失敗，已檢查 " + GroupThousands(verify.bytesChecked) + " 位元組";
    case VerifyOutcome::Cancelled:
      return "已取消，已檢查 " + GroupThousands(verify.bytesChecked) + " 位元組";
    case VerifyOutcome::Aborted:
      return "已終止，已檢查 " + GroupThousands(verify.bytesChecked) + " 位元組";
  }
  return {};
}

std::vector<WipeRegion> MethodRegions(const ErasureReport& report) {
  return WipeRegions(CapacityBytes(report.disk.IdentifyData), report.attempt.quickWipe);
}

}  // namespace

ErasureReport MakeErasureReport(const TDeviceTable& disk, const DiskContents& contents,
                                const FormatAttemptResult& attempt, const HostFacts& host) {
  return ErasureReport{host, disk, contents.byIdLinks, attempt, RecordFields{}};
}

std::string ErasureOutcomeName(const FormatAttemptResult& attempt) {
  if (!attempt.locked) return "lock failed";
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
                 {"bytes", CapacityBytes(id)}};
  ordered_json regions = ordered_json::array();
  for (const WipeRegion& region : MethodRegions(report)) {
    regions.push_back({{"offset", region.offset}, {"length", region.length}});
  }
  // A quick wipe leaves the data past its regions readable: it sanitises nothing.
  doc["method"] = {{"name", report.attempt.quickWipe ? "quick" : "zero"},
                   {"category", report.attempt.quickWipe ? "none" : "clear"},
                   {"verify", report.attempt.verifyAsked},
                   {"regions", regions}};
  doc["started"] = IsoUtc(report.attempt.started);
  doc["ended"] = IsoUtc(report.attempt.ended);
  doc["outcome"] = ErasureOutcomeName(report.attempt);
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
                   {"bytes_checked", run.verify.bytesChecked},
                   {"non_zero_regions", run.verify.nonZeroRegions},
                   {"unreadable_regions", run.verify.unreadableRegions},
                   {"first_problems", problems}};
  doc["log"] = report.attempt.logLines;
  return doc.dump(2, ' ', false, ordered_json::error_handler_t::replace) + "\n";
}

std::string ErasureCertificateTitle() { return "資料清除證明"; }

std::string ErasureCertificateTitle(const ErasureReport& report) {
  return report.attempt.quickWipe ? "分割表移除記錄" : ErasureCertificateTitle();
}

std::string ErasureVerdict(const ErasureReport& report) {
  const FormatAttemptResult& attempt = report.attempt;
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
  const ZeroFillResult& run = report.attempt.run;
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
                {"容量", GroupThousands(id.LBA) + " 磁區 × " + GroupThousands(id.SectorSize) +
                             " 位元組 = " + GroupThousands(CapacityBytes(id)) + " 位元組"},
                {"方法", report.attempt.quickWipe
                             ? "快速：只移除分割表（前 10,240,000 位元組與最後 1 MiB 寫入零，"
                               "其餘資料仍可用復原工具讀取）"
                             : "完整清除（整個磁碟寫入零）"},
                {"寫入區域（位元組）", RegionsText(MethodRegions(report))},
                {"開始時間（UTC）", IsoUtc(report.attempt.started)},
                {"結束時間（UTC）", IsoUtc(report.attempt.ended)},
                {"結果", OutcomeText(ErasureOutcomeName(report.attempt))},
                {"已寫入位元組", GroupThousands(run.bytesWritten)},
                {"失敗的區塊", GroupThousands(static_cast<int64_t>(run.failures.size()))},
                {"驗證", VerifyText(run.verify)}});
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
  return facts;
}

std::string WriteReportFile(const std::string& path, const std::string& text,
                            std::optional<FileOwner> owner, FolderLinks links) {
  const std::string problem = WriteFileAtomically(path, text, owner, links);
  if (problem.empty()) return {};
  return "cannot write " + path + ": " + problem;
}

}  // namespace fw
