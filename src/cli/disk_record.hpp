#pragma once
// Where one disk's result is kept once its attempt has ended: its erasure report (the file
// --report names, or a file named by serial and time in --report-dir) and the system journal.
#include <optional>
#include <string>
#include <string_view>

#include "report/erasure_report.hpp"

namespace fw::cli {

struct RecordPlaces {
  std::optional<std::string> reportFile;
  std::optional<std::string> reportDir;
  bool journal = true;
};

// Writes the report and sends the journal record. `serial` names the report in the folder (a
// run over several disks makes it unique among them). Returns the problem writing the report,
// or empty; a journal that takes nothing is no problem.
std::string RecordDiskResult(const ErasureReport& report, std::string_view outcome,
                             const std::string& serial, const RecordPlaces& places);

// The problem with DIR as --report-dir (missing, not a folder, not writable), or empty.
std::string ReportDirProblem(const std::string& dir);

}  // namespace fw::cli
