#pragma once
// What a run over several disks ends with: each disk's exit status, the one status of the whole
// command, the summary table, and the names of the reports it leaves in --report-dir.
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "format/format_control.hpp"

namespace fw::cli {

// One disk's ending, as the summary table and the combined status see it.
struct DiskEnding {
  std::string path;
  std::string outcome;  // ErasureOutcomeName, or "refused" for a disk its plan refused
  int64_t bytesWritten = 0;
  int64_t failedBlocks = 0;
  std::string verify;  // VerifyOutcomeName
  int64_t elapsedMs = 0;
  int exitStatus = 0;
};

// A format attempt's exit status. Data found by the verify pass outranks every other ending of
// a completed write pass: the disk is not erased, whatever else happened.
int AttemptExitStatus(const FormatAttemptResult& result);

// The exit statuses of format, most severe first: what a disk may still hold decides. 7 the
// verify pass found data; 9 the drive reported its own erase as failed; 5 aborted, the device
// went away part way; 6 blocks failed; 1 any other failure; 3 not taken (the volumes could not
// be locked, or the plan refused the disk); 8 the method was refused, nothing sent; 4
// cancelled; 0 done.
inline constexpr int kExitSeverity[] = {7, 9, 5, 6, 1, 3, 8, 4, 0};

// The most severe of the disks' statuses (an unknown status counts as 1); 0 only when every
// disk ended with 0, and 0 for no disk at all.
int CombinedExitStatus(const std::vector<int>& statuses);

// The summary table: a header, then a line per disk (disk, outcome, bytes, failed blocks,
// verify, time), columns aligned by their display width.
std::vector<std::string> SummaryTable(const std::vector<DiskEnding>& endings);

// A report's file name in --report-dir: the disk's serial (the device's name when it has none),
// characters other than letters, digits, '.', '-' and '_' as '_', then the start in UTC:
// "WD-WCAPW0493929_20261209T081503Z.json".
std::string ReportFileName(const std::string& serial, const std::string& devicePath,
                           std::chrono::system_clock::time_point started);

}  // namespace fw::cli
