#pragma once
// The zero-fill engine: writes zeros from byte 0 to the end (or over the first 10,240,000
// bytes) in growing blocks, with progress, speed, error lines and three endings.
#include <cstdint>

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

enum class ZeroFillOutcome { Completed, Cancelled, Aborted, NotStarted };

struct ZeroFillResult {
  ZeroFillOutcome outcome = ZeroFillOutcome::NotStarted;
  int64_t failedBlocks = 0;  // blocks skipped after a failed seek, write or flush
  int64_t position = 0;      // Position when the run ended
};

ZeroFillResult ZeroFillDevice(DeviceIo& io, Handle deviceHandle, const TIdentifyDeviceData& device,
                              bool quickWipe, FormatView& view, Clock& clock);

}  // namespace fw
