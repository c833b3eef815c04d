#include "format/zero_fill.hpp"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "core/logs.hpp"
#include "core/user_locale.hpp"
#include "format/format_texts.hpp"
#include "report/text_format.hpp"

namespace fw {

bool StopRequested = false;

namespace {

namespace text = format_text;

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

// a / b rounded to the nearest integer, ties to the even neighbour; a >= 0. Exact where a
// floating-point division would not be, for offsets of any size.
int64_t DivideRoundHalfEven(int64_t a, int64_t b) {
  if (b <= 0) return 0;  // a device without a sector size has no sectors to name
  const int64_t quotient = a / b;
  const int64_t twiceRemainder = (a % b) * 2;  // < 2b: no overflow for any sector size
  if (twiceRemainder > b || (twiceRemainder == b && quotient % 2 != 0)) return quotient + 1;
  return quotient;
}

// Bytes per millisecond / 1000 (MB/s) with one decimal, rounded half up, in integers so that a
// tie is a tie.
std::string SpeedText(int64_t position, int64_t elapsedMs) {
  const int64_t divisor = elapsedMs * 100;
  int64_t tenths = position / divisor;
  if ((position % divisor) * 2 >= divisor) ++tenths;
  return std::to_string(tenths / 10) + CurrentUserLocale().decimalSeparator +
         std::to_string(tenths % 10) + std::string(text::kSpeedUnit);
}

std::string_view ErrorCodeText(uint32_t code) {
  switch (code) {
    case win::ERROR_FILE_NOT_FOUND:
    case win::ERROR_DEV_NOT_EXIST: return text::kMediaUnplugged;
    case win::ERROR_WRITE_PROTECT: return text::kWriteProtected;
    case win::ERROR_NOT_READY:
    case win::ERROR_SEM_TIMEOUT: return text::kNotReady;
    case win::ERROR_IO_DEVICE: return text::kIoError;
    default: return {};
  }
}

bool MeansUnplugged(uint32_t code) {
  return code == win::ERROR_FILE_NOT_FOUND || code == win::ERROR_DEV_NOT_EXIST;
}

// Logs a failed block; true when the code means that the device has gone away.
bool ReportFailedBlock(int64_t offset, uint32_t code) {
  std::string line = std::string(text::kFormatErrorAt) + GroupThousands(offset) +
                     std::string(text::kErrorCodeSeparator) + std::to_string(code);
  if (const std::string_view known = ErrorCodeText(code); !known.empty()) {
    line += text::kErrorTextSeparator;
    line += known;
  }
  AddFormatLogLine(line);
  if (!MeansUnplugged(code)) return false;
  AddFormatLogLine(text::kUnpluggedAborting);
  return true;
}

std::string OffsetAndLba(int64_t position, int64_t sectorSize) {
  return GroupThousands(position) + std::string(text::kLbaLabel) +
         GroupThousands(DivideRoundHalfEven(position, sectorSize));
}

}  // namespace

ZeroFillResult ZeroFillDevice(DeviceIo& io, Handle deviceHandle, const TIdentifyDeviceData& device,
                              bool quickWipe, FormatView& view, Clock& clock) {
  ZeroFillResult result;
  const ZeroBuffer buffer = AllocateZeroBuffer();
  if (!buffer) {
    AddFormatLogLine("Not enough memory for the 32 MiB write buffer: nothing was written");
    return result;
  }
  view.PumpMessages();

  const int64_t sectorSize = device.SectorSize;
  const int64_t capacity = CapacityBytes(device);
  int64_t total = capacity;
  int64_t tailOffset = -1;  // where the quick wipe's last MiB starts; -1: no separate tail
  if (quickWipe && capacity >= kQuickWipeBytes + kQuickWipeTailBytes) {
    total = kQuickWipeBytes;
    tailOffset = capacity - kQuickWipeTailBytes;
  }

  const int64_t startTime = clock.NowMs();
  int64_t position = 0;
  int64_t blockSize = kFirstBlockBytes;
  int64_t passCount = 0;
  int64_t lastCheckTime = 0;
  int64_t lastBlockOffset = 0;
  bool aborted = false;

  const auto showSpeed = [&] {
    int64_t elapsed = clock.NowMs() - startTime;
    if (elapsed < 0) elapsed = 0;
    if (elapsed > 0) view.SetSpeedText(SpeedText(position, elapsed));
  };

  // One seek and one write; a block that fails is logged and skipped, or ends the run when the
  // device has gone. False when the run is aborted.
  const auto writeBlock = [&](int64_t offset, int64_t count) {
    lastBlockOffset = offset;
    if (io.SeekDevice(deviceHandle, offset) != offset) {
      AddFormatLogLine(std::string(text::kSeekError) + GroupThousands(offset));
      ++result.failedBlocks;
      return true;
    }
    if (io.Write(deviceHandle, buffer.get(), count) == count) return true;
    if (ReportFailedBlock(offset, io.LastError())) return false;
    ++result.failedBlocks;
    return true;
  };

  while (position < total && !StopRequested) {
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
    }
    if (position + blockSize > total) blockSize = total - position;

    const int64_t reached = position + blockSize;
    const auto percent = static_cast<int>(
        std::nearbyint(static_cast<double>(reached) / static_cast<double>(total) * 100.0));
    view.SetProgress(percent);
    view.SetPercentText(std::to_string(std::min(percent, 100)) + std::string(text::kPercentDone));
    view.SetPositionText(std::string(text::kCurrentSector) +
                         GroupThousands(DivideRoundHalfEven(reached, sectorSize)));

    view.PumpMessages();

    if (!writeBlock(position, blockSize)) {
      aborted = true;
      break;
    }
    position += blockSize;
    showSpeed();
  }

  // The quick wipe's tail, silently: progress and log speak of the first 10,240,000 bytes. A
  // run the user stopped writes nothing more.
  if (!aborted && !StopRequested && tailOffset >= 0 && !writeBlock(tailOffset, kQuickWipeTailBytes)) {
    aborted = true;
    position = tailOffset;
  }

  // Only a flush makes the zeros durable: buffered writes leave the page cache and the device
  // empties its volatile write cache, direct writes included. The run reports nothing as
  // erased before that, and a flush that fails is a failed block, never a silent success.
  if (!aborted) {
    if (!io.Flush(deviceHandle)) {
      const uint32_t code = io.LastError();
      if (ReportFailedBlock(lastBlockOffset, code)) {
        aborted = true;
        position = lastBlockOffset;
      } else {
        ++result.failedBlocks;
      }
    }
    if (passCount > 0) showSpeed();
  }

  AddFormatLogLine(std::string(text::kAverageSpeed) + view.SpeedText());
  if (aborted) {
    AddFormatLogLine(std::string(text::kAbortedAt) + OffsetAndLba(position, sectorSize));
    result.outcome = ZeroFillOutcome::Aborted;
  } else if (StopRequested) {
    AddFormatLogLine(std::string(text::kCancelledAt) + OffsetAndLba(position, sectorSize));
    StopRequested = false;
    result.outcome = ZeroFillOutcome::Cancelled;
  } else {
    view.SetProgress(100);
    AddFormatLogLine(text::kFormatCompleted);
    result.outcome = ZeroFillOutcome::Completed;
  }
  result.position = position;
  return result;
}

}  // namespace fw
