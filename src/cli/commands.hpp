#pragma once
// ferrowipe-cli's commands. Each prints exactly the lines the window would show, one per line,
// to standard output, and returns the process exit status.
#include <optional>
#include <string>
#include <vector>

#include "device/device_io.hpp"
#include "device/erase_method.hpp"
#include "report/erasure_report.hpp"

namespace fw::cli {

// Exit statuses.
inline constexpr int kExitDone = 0;
inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;  // bad usage or no such disk
inline constexpr int kExitLockFailed = 3;
inline constexpr int kExitCancelled = 4;
inline constexpr int kExitAborted = 5;
inline constexpr int kExitFailedBlocks = 6;
inline constexpr int kExitVerifyFailed = 7;  // the verify pass found data or read errors
inline constexpr int kExitMethodRefused = 8;  // the erase method cannot be used on this disk
inline constexpr int kExitPurgeFailed = 9;    // the drive reported its own erase as failed
// details and smart: the drive's health, as the S.M.A.R.T. verdict has it.
inline constexpr int kExitHealthFailing = 10;
inline constexpr int kExitHealthWarning = 11;

// What the command line asked for; each command reads the fields it accepts.
struct Options {
  std::string disk;       // details, smart, format
  bool json = false;      // list, details, smart --json
  bool raw = false;       // list --raw
  bool quick = false;     // format --quick
  bool yes = false;       // format --yes
  bool progress = false;  // format --progress
  bool verify = false;    // format --verify
  std::optional<std::string> report;  // format --report FILE (given empty: bad usage)
  // format: every DISK given, in order (disk is the first); --report-dir, --keep-going and
  // --no-journal.
  std::vector<std::string> disks;
  std::optional<std::string> reportDir;
  bool keepGoing = false;
  bool noJournal = false;
  EraseMethod method = EraseMethod::Zero;  // format --method METHOD
  bool openHiddenArea = false;             // format --open-hidden-area
  std::optional<std::string> password;     // unlock --password PASSWORD
  RecordFields record;  // format --operator, --organization, --asset-tag, --notes
};

int RunList(DeviceIo& io, const Options& options);
int RunDetails(DeviceIo& io, const Options& options);
int RunSmart(DeviceIo& io, const Options& options);
int RunFormat(DeviceIo& io, const Options& options);
int RunUnlock(DeviceIo& io, const Options& options);

}  // namespace fw::cli
