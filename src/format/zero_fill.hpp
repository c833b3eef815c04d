#pragma once
// The zero-fill engine: writes zeros from byte 0 to the end (or over the first 10,240,000
// bytes) in growing blocks, with progress, speed, error lines and three endings.
#include <cstdint>
#include <vector>

#include "core/clock.hpp"
#include "core/device_types.hpp"
#include "device/device_io.hpp"
#include "format/format_view.hpp"

namespace fw {

inline constexpr int64_t kQuickWipeBytes = 10'240'000;
// A quick wipe also zeroes the disk's last MiB: the backup GPT, and the RAID and ZFS labels kept
// at the end, would otherwise bring the partitions back.
inline constexpr int64_t kQuickWipeTailBytes = 1'048'576;
inline constexpr int64_t kZeroBufferBytes = 33'554'432;

// Set by the Stop button, read before every pass, cleared by a run that it cancelled.
extern bool StopRequested;

// The verify pass names at most this many regions one by one, in the log and in the result.
inline constexpr int64_t kListedVerifyProblems = 100;

enum class ZeroFillOutcome { Completed, Cancelled, Aborted, NotStarted };
enum class VerifyOutcome { NotRun, Passed, Failed, Cancelled, Aborted };

// A stretch of the disk a run writes, and the verify pass reads back.
struct WipeRegion {
  int64_t offset = 0;
  int64_t length = 0;
  bool operator==(const WipeRegion&) const = default;
};

// What a run writes: the whole disk, or for a quick wipe the first 10,240,000 bytes and the
// last MiB (the whole disk again when it is too small to hold both apart).
std::vector<WipeRegion> WipeRegions(int64_t capacity, bool quickWipe);

struct FailedBlock {
  int64_t offset = 0;
  uint32_t code = 0;  // Windows error code
};

// A region the verify pass found not zero (code 0) or could not read (the read's error code).
struct VerifyProblem {
  int64_t offset = 0;
  int64_t length = 0;
  uint32_t code = 0;
};

struct VerifyResult {
  VerifyOutcome outcome = VerifyOutcome::NotRun;
  int64_t bytesChecked = 0;  // read back and found zero or not
  int64_t nonZeroRegions = 0;
  int64_t unreadableRegions = 0;
  std::vector<VerifyProblem> problems;  // the first kListedVerifyProblems, in disk order
  int64_t position = 0;                 // where a stopped or aborted pass ended
  bool FoundProblems() const { return nonZeroRegions + unreadableRegions > 0; }
};

struct ZeroFillResult {
  ZeroFillOutcome outcome = ZeroFillOutcome::NotStarted;
  int64_t failedBlocks = 0;  // blocks skipped after a failed seek, write or flush
  int64_t position = 0;      // Position when the run ended
  int64_t bytesWritten = 0;  // writes the device confirmed
  std::vector<WipeRegion> regions;    // what the run set out to write
  std::vector<FailedBlock> failures;  // every failed block, in order
  VerifyResult verify;                // run only after a completed write pass, when asked
};

ZeroFillResult ZeroFillDevice(DeviceIo& io, Handle deviceHandle, const TIdentifyDeviceData& device,
                              bool quickWipe, FormatView& view, Clock& clock, bool verify = false);

}  // namespace fw
