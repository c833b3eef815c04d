#include "format/zero_fill.hpp"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "core/disk_offsets.hpp"
#include "core/logs.hpp"
#include "format/format_texts.hpp"
#include "format/in_order_queue.hpp"
#include "format/pass_lines.hpp"
#include "report/text_format.hpp"

namespace fw {

namespace {

namespace text = format_text;
using namespace pass_lines;

constexpr int64_t kFirstBlockBytes = 65'536;
constexpr int64_t kPassesPerCheck = 10;
constexpr int64_t kFastEnoughMs = 1'000;
// Writes in flight at once where the device takes a queue: four of the largest blocks, so that
// the device never waits for the next one while the kernel splits the last into its own
// requests, and as many of the smaller blocks of the ramp-up as make the same bytes, so that
// the first few hundred MB go as fast as the rest (bench/README.md).
constexpr int kWritesInFlight = 64;
constexpr int64_t kBytesInFlight = 4 * kZeroBufferBytes;
// O_DIRECT wants the source aligned to the device's DMA alignment; a page covers every device.
constexpr size_t kBufferAlignment = 4096;

struct FreeDeleter {
  void operator()(void* p) const { std::free(p); }
};
using ZeroBuffer = std::unique_ptr<void, FreeDeleter>;

struct WriteBlock {
  int64_t offset = 0;
  int64_t count = 0;
  bool shown = true;  // the first region's blocks carry the progress; the quick wipe's tail not
};

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
  int64_t position = 0;  // where the blocks handed back in order have reached
  int64_t next = 0;      // where the next block of the first region starts
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

  // Every write comes from the one zero buffer, several of them in flight at once where the
  // device takes a queue; they are accounted for in the order they were sent.
  const std::unique_ptr<IoQueue> queue = io.OpenQueue(deviceHandle, kWritesInFlight);
  InOrderQueue<WriteBlock> blocks(*queue, kBytesInFlight);

  // The oldest block in flight, once it has ended: one that failed is logged and skipped, or
  // ends the run when the device has gone. After that, what is still in flight only ends.
  const auto retire = [&] {
    const std::optional<InOrderQueue<WriteBlock>::Ended> ended = blocks.Retire();
    if (!ended) return;
    const WriteBlock& block = ended->block;
    const TransferDone& done = ended->done;
    if (done.bytes == block.count) result.bytesWritten += block.count;
    if (aborted) return;
    lastBlockOffset = block.offset;
    if (done.seekFailed) {
      session.AddFormatLogLine(std::string(text::kSeekError) + GroupThousands(block.offset));
      result.failures.push_back(FailedBlock{block.offset, done.error});
      ++result.failedBlocks;
    } else if (done.bytes != block.count) {
      result.failures.push_back(FailedBlock{block.offset, done.error});
      if (ReportFailedBlock(session, block.offset, done.error)) {
        aborted = true;
        position = block.offset;
        return;
      }
      ++result.failedBlocks;
    }
    if (block.shown) {
      position = block.offset + block.count;
      ShowSpeed(view, clock, startTime, position);
    }
  };
  // Sends one block once the queue has room for it.
  const auto send = [&](int64_t offset, int64_t count, bool shown) {
    while (blocks.Full() && !blocks.Empty()) retire();
    if (aborted) return;
    blocks.Send(WriteBlock{offset, count, shown},
                Transfer{0, TransferKind::Write, offset, buffer.get(), count});
  };
  const auto mustEnd = [&] { return aborted || session.StopRequested() || blocks.DeviceGoneSeen(); };

  while (next < total && !mustEnd()) {
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
    blockSize = BlockBefore(next, total, blockSize);

    // The window's messages are handled here, while the blocks sent before are being written.
    ShowBlock(view, next + blockSize, total, next + blockSize, sectorSize);
    view.PumpMessages();

    send(next, blockSize, true);
    next += blockSize;
    // The next pass begins once the queue has room again: right after a block has ended.
    while (blocks.Full()) retire();
  }
  while (!blocks.Empty()) retire();

  // The quick wipe's tail, silently: progress and log speak of the first 10,240,000 bytes. A
  // run the user stopped writes nothing more.
  for (size_t r = 1; r < result.regions.size() && !mustEnd(); ++r) {
    const WipeRegion& region = result.regions[r];
    const int64_t end = CheckedEnd(region.offset, region.length).value_or(INT64_MAX);
    for (int64_t at = region.offset, count = 0;
         !mustEnd() && (count = BlockBefore(at, end, kZeroBufferBytes)) > 0; at += count) {
      send(at, count, false);
    }
  }
  while (!blocks.Empty()) retire();

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
