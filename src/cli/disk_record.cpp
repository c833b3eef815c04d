#include "cli/disk_record.hpp"

#include <unistd.h>

#include <filesystem>

#include "cli/batch_summary.hpp"
#include "device/linux/system_journal.hpp"
#include "report/journal_record.hpp"

namespace fw::cli {

std::string RecordDiskResult(const ErasureReport& report, std::string_view outcome,
                             const std::string& serial, const RecordPlaces& places) {
  std::string problem;
  std::optional<std::string> path = places.reportFile;
  if (!path && places.reportDir) {
    path = (std::filesystem::path(*places.reportDir) /
            ReportFileName(serial, report.disk.DevicePath, report.attempt.started))
               .string();
  }
  if (path) {
    problem = WriteReportFile(*path, ErasureReportJson(report), {}, FolderLinks::Follow);
  }
  if (places.journal) SendToSystemJournal(ErasureJournalFields(report, outcome));
  return problem;
}

std::string ReportDirProblem(const std::string& dir) {
  std::error_code error;
  if (dir.empty()) return "no folder named";
  if (!std::filesystem::is_directory(dir, error)) return "not an existing folder";
  if (::access(dir.c_str(), W_OK | X_OK) != 0) return "the folder is not writable";
  return {};
}

}  // namespace fw::cli
