#pragma once
// The drive's own erase, run through the working handle of a disk the user chose and
// confirmed and the format attempt has taken: the commands sent, the drive's progress polled
// into the view (Stop stays disabled: a drive cannot be stopped once it erases), then the
// result verified. Which method is open on the disk is decided before, by its facts.
#include <cstdint>
#include <string>

#include "core/clock.hpp"
#include "core/device_types.hpp"
#include "device/device_io.hpp"
#include "device/erase_capabilities.hpp"
#include "device/erase_method.hpp"
#include "format/format_session.hpp"
#include "format/format_view.hpp"
#include "format/verify_pass.hpp"
#include "format/zero_fill.hpp"

namespace fw {

// How often the drive's progress is asked for.
inline constexpr int64_t kDrivePollMs = 1'000;

struct DriveEraseRun {
  // Completed: the drive finished its erase; Aborted: it reported failure, did not finish in
  // time, or went away; NotStarted: nothing reached the drive.
  ZeroFillOutcome outcome = ZeroFillOutcome::NotStarted;
  bool driveFailed = false;
  // The path refused the first command, so nothing was sent.
  bool notCarried = false;
  // A security erase that failed after its temporary password was set leaves it set.
  std::string passwordLeft;
  VerifyResult verify;
  std::string verifyMethod;     // "full read-back", "sample before and after"
  std::string readBackPattern;  // "zeros", "uniform 0xNN", "mixed"
};

// Runs `method` (one the facts open on this disk, `purge` already resolved) and verifies it.
// `devicePath` is what the log's `unlock` hint names.
DriveEraseRun RunDriveErase(DeviceIo& io, Handle handle, const std::string& devicePath,
                            const TIdentifyDeviceData& device, const DriveEraseFacts& facts,
                            EraseMethod method, FormatSession& session, FormatView& view,
                            Clock& clock);

// The name a log line gives the command of `method` on this disk.
std::string DriveEraseCommandName(const DriveEraseFacts& facts, EraseMethod method);

// A fresh temporary user password for a security erase: printable, so that a person can type
// it into `unlock` when the erase fails and leaves it set.
std::string TemporaryPassword();

}  // namespace fw
