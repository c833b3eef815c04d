#include "format/format_control.hpp"

#include "core/logs.hpp"
#include "core/product.hpp"
#include "device/control_codes.hpp"
#include "format/format_texts.hpp"
#include "format/disk_lease.hpp"
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
                                     FormatView& view, Clock& clock, bool verify,
                                     EraseMethod /*method*/, bool /*openHiddenArea*/) {
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
  bool wrote = false;
  DiskLease lease(io, chosen.DeviceNumber, chosen.DevicePath, CapacityBytes(chosen.IdentifyData),
                  chosen.IdentifyData.SectorSize);
  if (lease.Take()) {
    result.locked = true;
    view.SetRunning(true);
    AddFormatLogLine(text::kFormatting);
    result.run = ZeroFillDevice(io, deviceHandle, chosen.IdentifyData, quickWipe, view, clock,
                                verify, [&lease] { return lease.SizeHeld(); });
    view.SetRunning(false);
    formatted = result.run.outcome != ZeroFillOutcome::NotStarted;
    // A write that failed may still have changed the disk: only a run that never wrote puts
    // the volumes back.
    wrote = formatted && (result.run.bytesWritten > 0 || !result.run.failures.empty());
  } else {
    AddFormatLogLine(text::kLockFailed);
    if (!lease.RefusalLine().empty()) AddFormatLogLine(lease.RefusalLine());
  }

  // The result does not matter: on Linux the re-read is refused while the disk is claimed, and
  // the lease re-reads once more when the claim is let go.
  io.DeviceControl(deviceHandle, ioctl::IOCTL_DISK_UPDATE_PROPERTIES, nullptr, 0, nullptr, 0,
                   nullptr);
  lease.GiveBack(wrote);

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
