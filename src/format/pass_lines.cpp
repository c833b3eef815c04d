#include "format/pass_lines.hpp"

#include <algorithm>
#include <cmath>
#include <string_view>

#include "core/logs.hpp"
#include "core/user_locale.hpp"
#include "device/device_io.hpp"
#include "format/format_texts.hpp"
#include "report/text_format.hpp"

namespace fw::pass_lines {

namespace {

namespace text = format_text;

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

}  // namespace

// a / b rounded to the nearest integer, ties to the even neighbour; a >= 0. Exact where a
// floating-point division would not be, for offsets of any size.
int64_t DivideRoundHalfEven(int64_t a, int64_t b) {
  if (b <= 0) return 0;  // a device without a sector size has no sectors to name
  const int64_t quotient = a / b;
  const int64_t twiceRemainder = (a % b) * 2;  // < 2b: no overflow for any sector size
  if (twiceRemainder > b || (twiceRemainder == b && quotient % 2 != 0)) return quotient + 1;
  return quotient;
}

bool MeansUnplugged(uint32_t code) {
  return code == win::ERROR_FILE_NOT_FOUND || code == win::ERROR_DEV_NOT_EXIST;
}

std::string ErrorCodeSuffix(uint32_t code) {
  std::string suffix = std::string(text::kErrorCodeSeparator) + std::to_string(code);
  if (const std::string_view known = ErrorCodeText(code); !known.empty()) {
    suffix += text::kErrorTextSeparator;
    suffix += known;
  }
  return suffix;
}

bool ReportFailedBlock(const FormatSession& session, int64_t offset, uint32_t code) {
  session.AddFormatLogLine(std::string(text::kFormatErrorAt) + GroupThousands(offset) +
                   ErrorCodeSuffix(code));
  if (!MeansUnplugged(code)) return false;
  session.AddFormatLogLine(text::kUnpluggedAborting);
  return true;
}

std::string OffsetAndLba(int64_t position, int64_t sectorSize) {
  return GroupThousands(position) + std::string(text::kLbaLabel) +
         GroupThousands(DivideRoundHalfEven(position, sectorSize));
}

void ShowBlock(FormatView& view, int64_t reached, int64_t total, int64_t diskPosition,
               int64_t sectorSize) {
  const auto percent = static_cast<int>(
      std::nearbyint(static_cast<double>(reached) / static_cast<double>(total) * 100.0));
  view.SetProgress(percent);
  view.SetPercentText(std::to_string(std::min(percent, 100)) + std::string(text::kPercentDone));
  view.SetPositionText(std::string(text::kCurrentSector) +
                       GroupThousands(DivideRoundHalfEven(diskPosition, sectorSize)));
  view.SetBytePosition(reached);
}

void ShowSpeed(FormatView& view, Clock& clock, int64_t startTime, int64_t done) {
  const int64_t elapsed = clock.NowMs() - startTime;
  if (elapsed > 0) view.SetSpeedText(SpeedText(done, elapsed));
}

}  // namespace fw::pass_lines
