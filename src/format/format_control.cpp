#include "format/format_control.hpp"

#include "core/logs.hpp"
#include "core/product.hpp"
#include "device/control_codes.hpp"
#include "format/format_texts.hpp"
#include "format/volumes.hpp"
#include "report/text_format.hpp"

namespace fw {

namespace {

namespace text = format_text;

constexpr int kContentPadding = 58;

}  // namespace

std::string FormatConfirmTitle() { return std::string(text::kConfirmTitle); }

std::string FormatConfirmInstruction() { return std::string(text::kConfirmInstruction); }

std::string FormatConfirmContent(const std::string& chosenCaption) {
  return std::string(text::kConfirmContent) + std::string(kContentPadding, ' ') + "\r\n\r\n" +
         chosenCaption;
}

std::string FormatConfirmVerifyNote() { return std::string(text::kConfirmVerify); }

std::string FormatConfirmQuickNote() { return std::string(text::kConfirmQuick); }

FormatAttemptResult RunFormatAttempt(DeviceIo& io, Handle deviceHandle,
                                     const TDeviceTableRows& table, int64_t chosenIndex,
                                     const std::string& chosenCaption, bool quickWipe,
                                     FormatView& view, Clock& clock, bool verify) {
  const TDeviceTable& chosen = table[chosenIndex];
  FormatAttemptResult result;
  result.quickWipe = quickWipe;
  result.verifyAsked = verify;
  result.started = std::chrono::system_clock::now();
  // The attempt keeps its own lines for the erasure report; the front end still shows them.
  const LineSink shown = FormatLogSink();
  SetFormatLogSink([&result, &shown](const std::string& line) {
    result.logLines.push_back(line);
    if (shown) shown(line);
  });
  view.SetFormatControlsEnabled(false);

  AddFormatLogLine(" ");
  AddFormatLogLine(text::kHeaderRule);
  AddFormatLogLine(std::string(kProductName) + "; " + std::string(kMakerSite));
  AddFormatLogLine(std::string(text::kLowLevelFormat) + chosenCaption);
  AddFormatLogLine(std::string(text::kDeviceCapacity) + GroupThousands(chosen.IdentifyData.LBA) +
                   std::string(text::kSectorsUnit));
  AddFormatLogLine(text::kLockingDevice);

  bool formatted = false;
  if (LockDiskVolumes(io, chosen.DeviceNumber, chosen.DevicePath)) {
    result.locked = true;
    view.SetRunning(true);
    AddFormatLogLine(text::kFormatting);
    result.run =
        ZeroFillDevice(io, deviceHandle, chosen.IdentifyData, quickWipe, view, clock, verify);
    view.SetRunning(false);
    formatted = result.run.outcome != ZeroFillOutcome::NotStarted;
  } else {
    AddFormatLogLine(text::kLockFailed);
    if (const std::string cause = LockRefusalLine(); !cause.empty()) AddFormatLogLine(cause);
  }

  // The result does not matter: on Linux the re-read is refused while the disk is claimed, and
  // the backend re-reads once more when the claim is let go.
  io.DeviceControl(deviceHandle, ioctl::IOCTL_DISK_UPDATE_PROPERTIES, nullptr, 0, nullptr, 0,
                   nullptr);
  ReleaseDiskVolumes(io);

  if (formatted) {
    AddFormatLogLine("");
    AddFormatLogLine(text::kCreatePartitions);
  }
  SetFormatLogSink(shown);
  result.ended = std::chrono::system_clock::now();
  view.SetFormatControlsEnabled(true);
  return result;
}

}  // namespace fw
