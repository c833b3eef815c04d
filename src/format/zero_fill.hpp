#pragma once
// The zero-fill engine: writes zeros from byte 0 to the end (or over the first 10,240,000
// bytes) in growing blocks, with progress, speed, error lines and three endings.
#include <cstdint>
#include <functional>
#include <vector>

#include "core/clock.hpp"
#include "core/device_types.hpp"
#include "device/device_io.hpp"
#include "format/format_session.hpp"
#include "format/format_view.hpp"
#include "format/verify_pass.hpp"
#include "format/wipe_regions.hpp"

namespace fw {

enum class ZeroFillOutcome { Completed, Cancelled, Aborted, NotStarted };

struct FailedBlock {
  int64_t offset = 0;
  uint32_t code = 0;  // Windows error code
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

// The session's stop request is read before every pass and cleared by a run that it
// cancelled; its format log gets the run's lines. `sizeHeld`, when given, is asked now and then whether the disk still has the size the run
// writes; a disk that changed size ends the run as aborted.
ZeroFillResult ZeroFillDevice(DeviceIo& io, Handle deviceHandle, const TIdentifyDeviceData& device,
                              bool quickWipe, FormatSession& session, FormatView& view, Clock& clock, bool verify = false,
                              const std::function<bool()>& sizeHeld = {});

}  // namespace fw
