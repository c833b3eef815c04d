#include "format/format_control.hpp"

#include "core/product.hpp"
#include "device/control_codes.hpp"
#include "device/erase_facts.hpp"
#include "format/format_texts.hpp"
#include "format/disk_lease.hpp"
#include "format/hidden_area.hpp"
#include "format/purge_run.hpp"
#include "format/purge_texts.hpp"
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

std::string FormatConfirmMethodNote(EraseMethod method) {
  std::string note = std::string(text::kConfirmMethod) + std::string(EraseMethodWord(method)) +
                     std::string(text::kConfirmMethodEnd);
  if (method == EraseMethod::Purge || method == EraseMethod::SanitizeBlock ||
      method == EraseMethod::SanitizeCrypto || method == EraseMethod::SanitizeOverwrite) {
    note += std::string(text::kConfirmSanitize);
  }
  return note;
}

std::string_view EraseRefusalLine(EraseRefusal refusal) {
  switch (refusal) {
    case EraseRefusal::None: break;
    case EraseRefusal::Unsupported: return text::kRefusedUnsupported;
    case EraseRefusal::Frozen: return text::kRefusedFrozen;
    case EraseRefusal::Locked: return text::kRefusedLocked;
    case EraseRefusal::NoPassthrough: return text::kRefusedNoPassthrough;
    case EraseRefusal::OtherNamespaces: return text::kRefusedOtherNamespaces;
    case EraseRefusal::InProgress: return text::kRefusedInProgress;
  }
  return {};
}

namespace {

// Buses on which ATA or NVMe commands may reach the drive (a SAT bridge on USB, a SAS HBA):
// there the facts are worth asking for even for a zero-fill (its hidden area, the media type).
bool BusCarriesDriveCommands(int64_t busType) {
  constexpr int64_t kBusTypeUsb = 7;
  constexpr int64_t kBusTypeSas = 10;
  return busType == kBusTypeAta || busType == kBusTypeSata || busType == kBusTypeNvme ||
         busType == kBusTypeUsb || busType == kBusTypeSas;
}

// The run of the attempt once the disk is the run's: the zero-fill (over the hidden area too,
// when it was opened) or the drive's own erase.
struct AttemptRun {
  DeviceIo& io;
  Handle handle;
  const TDeviceTable& chosen;
  FormatView& view;
  Clock& clock;
  FormatSession& session;
  DiskLease& lease;
  FormatAttemptResult& result;

  void DriveErase(const DriveEraseFacts& facts) {
    DriveEraseRun erase = RunDriveErase(io, handle, chosen.DevicePath, chosen.IdentifyData, facts,
                                        result.method.method, session, view, clock);
    result.run.outcome = erase.outcome;
    result.run.verify = std::move(erase.verify);
    result.purgeFailed = erase.driveFailed;
    result.passwordLeft = std::move(erase.passwordLeft);
    result.verifyMethod = std::move(erase.verifyMethod);
    result.readBackPattern = std::move(erase.readBackPattern);
    if (erase.notCarried) result.refusal = EraseRefusal::NoPassthrough;
    if (erase.outcome == ZeroFillOutcome::NotStarted) return;
    // A format may leave the namespace with another size; the run must say so.
    const int64_t before = CapacityBytes(chosen.IdentifyData);
    const std::optional<int64_t> after = io.RereadCapacity(handle);
    if ((after && *after != before) || !lease.SizeHeld()) {
      session.AddFormatLogLine(std::string(text::kSizeAfterErase) + GroupThousands(before) +
                       std::string(text::kSizeArrow) + (after ? GroupThousands(*after) : "?") +
                       std::string(text::kBytesUnit));
    }
  }

  void ZeroFill(bool quickWipe, bool verify, bool openHiddenArea,
                const std::optional<DriveEraseFacts>& facts) {
    TIdentifyDeviceData device = chosen.IdentifyData;
    const std::optional<HiddenArea>& hidden = result.hiddenArea;
    if (hidden && !quickWipe) {
      std::optional<int64_t> opened;
      if (openHiddenArea && hidden->hiddenSectors() > 0 && facts && facts->ata) {
        opened = OpenHiddenArea(io, handle, session, *facts->ata, *hidden, device.SectorSize);
      }
      if (opened) {
        device.LBA = *opened / device.SectorSize;
        lease.SizeChangedByRun(*opened);
        result.hiddenAreaOpened = true;
      } else if (openHiddenArea && hidden->hiddenSectors() <= 0) {
        session.AddFormatLogLine(text::kNoHiddenArea);
      } else {
        LogHiddenArea(session, *hidden);
      }
    }
    session.AddFormatLogLine(text::kFormatting);
    result.run = ZeroFillDevice(io, handle, device, quickWipe, session, view, clock, verify,
                                [this] { return lease.SizeHeld(); });
    if (result.run.verify.outcome == VerifyOutcome::Passed) result.readBackPattern = "zeros";
    if (result.run.verify.outcome == VerifyOutcome::Failed) result.readBackPattern = "mixed";
    if (result.run.verify.outcome != VerifyOutcome::NotRun) result.verifyMethod = "full read-back";
  }
};

}  // namespace

FormatAttemptResult RunFormatAttempt(DeviceIo& io, Handle deviceHandle,
                                     const TDeviceTableRows& table, int64_t chosenIndex,
                                     const std::string& chosenCaption, bool quickWipe,
                                     FormatSession& session, FormatView& view, Clock& clock,
                                     bool verify, EraseMethod method, bool openHiddenArea) {
  const TDeviceTable& chosen = table[chosenIndex];
  std::optional<DriveEraseFacts> facts;
  if (method != EraseMethod::Zero || openHiddenArea ||
      BusCarriesDriveCommands(chosen.IdentifyData.BusType)) {
    facts = ReadDriveEraseFacts(io, deviceHandle, chosen.IdentifyData);
  }
  return RunFormatAttemptWithFacts(io, deviceHandle, table, chosenIndex, chosenCaption, quickWipe,
                                   session, view, clock, verify, method, openHiddenArea, facts);
}

FormatAttemptResult RunFormatAttemptWithFacts(DeviceIo& io, Handle deviceHandle,
                                              const TDeviceTableRows& table, int64_t chosenIndex,
                                              const std::string& chosenCaption, bool quickWipe,
                                              FormatSession& session, FormatView& view,
                                              Clock& clock, bool verify, EraseMethod method,
                                              bool openHiddenArea,
                                              const std::optional<DriveEraseFacts>& facts) {
  const TDeviceTable& chosen = table[chosenIndex];
  const bool driveErase = method != EraseMethod::Zero;
  FormatAttemptResult result;
  result.quickWipe = quickWipe && !driveErase;
  // The drive's own erase is always checked, as NIST SP 800-88 asks.
  result.verifyAsked = verify || driveErase;
  result.started = std::chrono::system_clock::now();
  if (result.quickWipe) result.method.category = EraseCategory::None;
  if (facts) {
    result.media = facts->media;
    result.hiddenArea = facts->hidden;
  }
  // The attempt keeps its own lines for the erasure report; the front end still shows them.
  const LineSink shown = session.FormatLog();
  session.SetFormatLog([&result, &shown](const std::string& line) {
    result.logLines.push_back(line);
    if (shown) shown(line);
  });
  view.SetFormatControlsEnabled(false);

  session.AddFormatLogLine(" ");
  session.AddFormatLogLine(text::kHeaderRule);
  session.AddFormatLogLine(std::string(kProductName) + "; " + std::string(kMakerSite));
  session.AddFormatLogLine(std::string(text::kLowLevelFormat) + chosenCaption);
  session.AddFormatLogLine(std::string(text::kDeviceCapacity) + GroupThousands(chosen.IdentifyData.LBA) +
                   std::string(text::kSectorsUnit));

  // What the disk cannot take is refused here, before anything is unmounted or sent.
  EraseRefusal refusal = EraseRefusal::None;
  if (driveErase) {
    result.method = facts ? EraseMethodOn(*facts, method)
                          : EraseMethodState{method, EraseRefusal::NoPassthrough,
                                             EraseCategory::Purge};
    session.AddFormatLogLine(std::string(text::kEraseMethod) +
                     std::string(EraseMethodWord(result.method.method)));
    refusal = result.method.refusal;
  } else if (facts && !EraseMethodOn(*facts, EraseMethod::Zero).available()) {
    // A locked drive, or one that sanitizes, takes no write.
    refusal = EraseMethodOn(*facts, EraseMethod::Zero).refusal;
  } else if (openHiddenArea && !quickWipe && (!facts || !facts->hidden || !facts->ata)) {
    refusal = EraseRefusal::Unsupported;
  }
  if (refusal != EraseRefusal::None) {
    result.refusal = refusal;
    session.AddFormatLogLine(std::string(text::kMethodRefused) +
                     std::string(EraseMethodWord(driveErase ? method : EraseMethod::Zero)));
    session.AddFormatLogLine(driveErase || refusal != EraseRefusal::Unsupported
                         ? EraseRefusalLine(refusal)
                         : text::kHiddenAreaUnknown);
    session.AddFormatLogLine(text::kNothingSent);
    session.SetFormatLog(shown);
    result.ended = std::chrono::system_clock::now();
    view.SetFormatControlsEnabled(true);
    return result;
  }
  session.AddFormatLogLine(text::kLockingDevice);

  bool formatted = false;
  bool wrote = false;
  DiskLease lease(io, session, chosen.DeviceNumber, chosen.DevicePath,
                  CapacityBytes(chosen.IdentifyData), chosen.IdentifyData.SectorSize);
  if (lease.Take()) {
    result.locked = true;
    view.SetRunning(true);
    AttemptRun run{io, deviceHandle, chosen, view, clock, session, lease, result};
    if (driveErase) {
      session.AddFormatLogLine(text::kFormatting);
      run.DriveErase(*facts);
    } else {
      run.ZeroFill(quickWipe, verify, openHiddenArea, facts);
    }
    view.SetRunning(false);
    formatted = result.run.outcome != ZeroFillOutcome::NotStarted;
    // A write that failed may still have changed the disk: only a run that never wrote puts
    // the volumes back. A drive's own erase that started has changed it.
    wrote = formatted && (driveErase || result.run.bytesWritten > 0 ||
                          !result.run.failures.empty());
  } else {
    session.AddFormatLogLine(text::kLockFailed);
    if (!lease.RefusalLine().empty()) session.AddFormatLogLine(lease.RefusalLine());
  }

  // The result does not matter: on Linux the re-read is refused while the disk is claimed, and
  // the lease re-reads once more when the claim is let go.
  io.DeviceControl(deviceHandle, ioctl::IOCTL_DISK_UPDATE_PROPERTIES, nullptr, 0, nullptr, 0,
                   nullptr);
  lease.GiveBack(wrote);

  if (formatted) {
    session.AddFormatLogLine("");
    session.AddFormatLogLine(text::kCreatePartitions);
  }
  session.SetFormatLog(shown);
  result.ended = std::chrono::system_clock::now();
  view.SetFormatControlsEnabled(true);
  return result;
}

}  // namespace fw
