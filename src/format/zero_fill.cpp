#include "format/zero_fill.hpp"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "core/disk_offsets.hpp"
#include "core/logs.hpp"
#include "format/format_texts.hpp"
#include "format/pass_lines.hpp"
#include "report/text_format.hpp"

namespace fw {

namespace {

namespace text = format_text;
using namespace pass_lines;

constexpr int64_t kFirstBlockBytes = 65'536;
constexpr int64_t kPassesPerCheck = 10;
constexpr int64_t kFastEnoughMs = 1'000;
// O_DIRECT wants the source aligned to the device's DMA alignment; a page covers every device.
constexpr size_t kBufferAlignment = 4096;

struct FreeDeleter {
  void operator()(void* p) const { std::free(p); }
};
using ZeroBuffer = std::unique_ptr<void, FreeDeleter>;

ZeroBuffer AllocateZeroBuffer() {
  void* memory = nullptr;
  if (posix_memalign(&memory, kBufferAlignment, static_cast<size_t>(kZeroBufferBytes)) != 0) {
    return nullptr;
  }
  std::memset(memory, 0, static_cast<size_t>(kZeroBufferBytes));
  return ZeroBuffer(memory);
}

}  // namespace

std::vector<WipeRegion> WipeRegions(int64_t capacity, bool quickWipe) {
  if (quickWipe && capacity >= kQuickWipeBytes + kQuickWipeTailBytes) {
    return {WipeRegion{0, kQuickWipeBytes},
            WipeRegion{capacity - kQuickWipeTailBytes, kQuickWipeTailBytes}};
  }
  return {WipeRegion{0, std::max<int64_t>(capacity, 0)}};
}

ZeroFillResult ZeroFillDevice(DeviceIo& io, Handle deviceHandle, const TIdentifyDeviceData& device,
                              bool quickWipe, FormatSession& session, FormatView& view, Clock& clock, bool verify,
                              const std::function<bool()>& sizeHeld) {
  ZeroFillResult result;
  const ZeroBuffer buffer = AllocateZeroBuffer();
  if (!buffer) {
    session.AddFormatLogLine("Not enough memory for the 32 MiB write buffer: nothing was written");
    return result;
  }
  view.PumpMessages();

  const int64_t sectorSize = device.SectorSize;
  result.regions = WipeRegions(CapacityBytes(device), quickWipe);
  // The first region carries the progress and the log; the others (the quick wipe's last MiB)
  // are written silently after it.
  const int64_t total = result.regions.front().length;

  view.StartPass(total);
  const int64_t startTime = clock.NowMs();
  int64_t position = 0;
  int64_t blockSize = kFirstBlockBytes;
  int64_t passCount = 0;
  int64_t lastCheckTime = 0;
  int64_t lastBlockOffset = 0;
  bool aborted = false;
  // A disk that grew or shrank under the run is no longer the disk it set out to erase.
  const auto sizeChanged = [&] {
    if (!sizeHeld || sizeHeld()) return false;
    session.AddFormatLogLine(text::kSizeChangedAborting);
    return true;
  };

  // One seek and one write; a block that fails is logged and skipped, or ends the run when the
  // device has gone. False when the run is aborted.
  const auto writeBlock = [&](int64_t offset, int64_t count) {
    lastBlockOffset = offset;
    if (io.SeekDevice(deviceHandle, offset) != offset) {
      session.AddFormatLogLine(std::string(text::kSeekError) + GroupThousands(offset));
      result.failures.push_back(FailedBlock{offset, io.LastError()});
      ++result.failedBlocks;
      return true;
    }
    if (io.Write(deviceHandle, buffer.get(), count) == count) {
      result.bytesWritten += count;
      return true;
    }
    const uint32_t code = io.LastError();
    result.failures.push_back(FailedBlock{offset, code});
    if (ReportFailedBlock(session, offset, code)) return false;
    ++result.failedBlocks;
    return true;
  };

  while (position < total && !session.StopRequested()) {
    ++passCount;
    if (passCount % kPassesPerCheck == 0) {
      // The first check only takes the time; 0 stands for "no check made yet".
      const int64_t now = clock.NowMs();
      if (lastCheckTime == 0) {
        lastCheckTime = now;
      } else {
        const int64_t interval = now - lastCheckTime;
        lastCheckTime = now;
        if (interval < kFastEnoughMs) blockSize = std::min(blockSize * 2, kZeroBufferBytes);
      }
      if (sizeChanged()) {
        aborted = true;
        break;
      }
    }
    blockSize = BlockBefore(position, total, blockSize);

    ShowBlock(view, position + blockSize, total, position + blockSize, sectorSize);
    view.PumpMessages();

    if (!writeBlock(position, blockSize)) {
      aborted = true;
      break;
    }
    position += blockSize;
    ShowSpeed(view, clock, startTime, position);
  }

  // The quick wipe's tail, silently: progress and log speak of the first 10,240,000 bytes. A
  // run the user stopped writes nothing more.
  for (size_t r = 1; r < result.regions.size() && !aborted && !session.StopRequested(); ++r) {
    const WipeRegion& region = result.regions[r];
    const int64_t end = CheckedEnd(region.offset, region.length).value_or(INT64_MAX);
    for (int64_t at = region.offset, count = 0;
         (count = BlockBefore(at, end, kZeroBufferBytes)) > 0; at += count) {
      if (!writeBlock(at, count)) {
        aborted = true;
        position = at;
        break;
      }
    }
  }

  // Only a flush makes the zeros durable: buffered writes leave the page cache and the device
  // empties its volatile write cache, direct writes included. The run reports nothing as
  // erased before that, and a flush that fails is a failed block, never a silent success.
  if (!aborted && !session.StopRequested() && sizeChanged()) aborted = true;
  if (!aborted) {
    if (!io.Flush(deviceHandle)) {
      const uint32_t code = io.LastError();
      result.failures.push_back(FailedBlock{lastBlockOffset, code});
      if (ReportFailedBlock(session, lastBlockOffset, code)) {
        aborted = true;
        position = lastBlockOffset;
      } else {
        ++result.failedBlocks;
      }
    }
    if (passCount > 0) ShowSpeed(view, clock, startTime, position);
  }

  session.AddFormatLogLine(std::string(text::kAverageSpeed) + view.SpeedText());
  result.position = position;
  if (aborted) {
    session.AddFormatLogLine(std::string(text::kAbortedAt) + OffsetAndLba(position, sectorSize));
    result.outcome = ZeroFillOutcome::Aborted;
  } else if (session.StopRequested()) {
    session.AddFormatLogLine(std::string(text::kCancelledAt) + OffsetAndLba(position, sectorSize));
    session.ClearStop();
    result.outcome = ZeroFillOutcome::Cancelled;
  } else {
    view.SetProgress(100);
    session.AddFormatLogLine(text::kFormatCompleted);
    result.outcome = ZeroFillOutcome::Completed;
    if (verify) {
      result.verify = VerifyZeroRegions(io, deviceHandle, sectorSize, session,
                                        static_cast<uint8_t*>(buffer.get()), result.regions, view,
                                        clock);
    }
  }
  return result;
}

}  // namespace fw
