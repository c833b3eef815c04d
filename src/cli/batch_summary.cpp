#include "cli/batch_summary.hpp"

#include <algorithm>
#include <ctime>
#include <iterator>

#include "cli/commands.hpp"
#include "cli/list_table.hpp"
#include "core/durations.hpp"
#include "core/text.hpp"
#include "report/text_format.hpp"

namespace fw::cli {

namespace {

int Severity(int status) {
  const auto* found = std::find(std::begin(kExitSeverity), std::end(kExitSeverity), status);
  if (found == std::end(kExitSeverity)) return Severity(kExitFailure);
  return static_cast<int>(found - std::begin(kExitSeverity));
}

}  // namespace

int AttemptExitStatus(const FormatAttemptResult& result) {
  if (result.refusal != EraseRefusal::None) return kExitMethodRefused;
  if (!result.locked) return kExitLockFailed;
  if (result.purgeFailed) return kExitPurgeFailed;
  const VerifyResult& verify = result.run.verify;
  switch (result.run.outcome) {
    case ZeroFillOutcome::Completed:
      if (verify.FoundProblems()) return kExitVerifyFailed;
      if (verify.outcome == VerifyOutcome::Cancelled) return kExitCancelled;
      if (verify.outcome == VerifyOutcome::Aborted) return kExitAborted;
      return result.run.failedBlocks == 0 ? kExitDone : kExitFailedBlocks;
    case ZeroFillOutcome::Cancelled: return kExitCancelled;
    case ZeroFillOutcome::Aborted: return kExitAborted;
    case ZeroFillOutcome::NotStarted: break;
  }
  return kExitFailure;
}

int CombinedExitStatus(const std::vector<int>& statuses) {
  int combined = kExitDone;
  for (const int status : statuses) {
    const int known = Severity(status) == Severity(kExitFailure) ? kExitFailure : status;
    if (Severity(known) < Severity(combined)) combined = known;
  }
  return combined;
}

std::vector<std::string> SummaryTable(const std::vector<DiskEnding>& endings) {
  std::vector<ListRow> rows{{"DISK", "OUTCOME", "BYTES", "FAILED BLOCKS", "VERIFY", "TIME"}};
  for (const DiskEnding& e : endings) {
    rows.push_back({e.path, e.outcome, GroupThousands(e.bytesWritten),
                    GroupThousands(e.failedBlocks), e.verify, DurationText(e.elapsedMs)});
  }
  return AlignedColumns(rows);
}

std::string ReportFileName(const std::string& serial, const std::string& devicePath,
                           std::chrono::system_clock::time_point started) {
  std::string name = Trim(serial);
  if (name.empty()) name = devicePath.substr(devicePath.find_last_of('/') + 1);
  if (name.empty()) name = "disk";
  for (char& c : name) {
    const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                       c == '.' || c == '-' || c == '_';
    if (!plain) c = '_';
  }
  // A name of dots alone would be the folder itself or its parent.
  if (name.find_first_not_of('.') == std::string::npos) name = "disk" + name;
  const std::time_t seconds = std::chrono::system_clock::to_time_t(started);
  std::tm utc{};
  gmtime_r(&seconds, &utc);
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%Y%m%dT%H%M%SZ", &utc);
  return name + "_" + stamp + ".json";
}

}  // namespace fw::cli
