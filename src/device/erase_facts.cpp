#include "device/erase_facts.hpp"

#include <algorithm>
#include <vector>

#include "device/ata_transport.hpp"
#include "device/nvme_decoder.hpp"
#include "device/nvme_protocol.hpp"
#include "device/purge_commands.hpp"

namespace fw {

namespace {

// The command reached the drive (which may still have refused it): the path carries commands.
bool Reached(CommandOutcome outcome) {
  return outcome == CommandOutcome::Success || outcome == CommandOutcome::DeviceError;
}

// Whether any command was sent, and whether any reached the drive.
struct PathProbe {
  bool sent = false;
  bool reached = false;

  const AtaReply& Note(const AtaReply& reply) {
    sent = true;
    reached = reached || Reached(reply.outcome);
    return reply;
  }
};

// IDENTIFY DEVICE (ECh) as a pass-through command: read-only, answered by every ATA drive, so
// it tells whether the path carries ATA commands when nothing else needs asking.
AtaCommand IdentifyProbe() {
  AtaCommand c;
  c.registers.command = 0xEC;
  c.registers.count = 1;
  c.protocol = AtaProtocol::PioDataIn;
  c.extended = false;
  return c;
}

// The native size and what a DCO holds back; nothing when the drive cannot be asked.
std::optional<HiddenArea> ReadHiddenArea(DeviceIo& io, Handle handle, const AtaEraseFeatures& ata,
                                         PathProbe& probe) {
  HiddenArea area;
  area.accessibleSectors = ata.accessibleSectors;
  std::optional<int64_t> native;
  if (ata.amaSupported || (ata.hpaSupported && ata.lba48)) {
    native = NativeSectorsFromReply(probe.Note(io.SendAtaCommand(
        handle, ata.amaSupported ? AtaGetNativeMaxAddress() : AtaReadNativeMaxExt(), {})));
    if (!native) return std::nullopt;
  } else if (ata.hpaSupported) {
    return std::nullopt;  // a 28-bit drive's native max is not asked for
  } else {
    native = ata.accessibleSectors;  // nothing can hide sectors on this drive
  }
  area.nativeSectors = *native;

  if (ata.dcoSupported) {
    std::array<uint8_t, 512> dco{};
    if (probe.Note(io.SendAtaCommand(handle, AtaDcoIdentify(), dco)).outcome ==
        CommandOutcome::Success) {
      // DCO IDENTIFY gives the largest size the overlay may allow; a native max below it is
      // the overlay's doing.
      if (const std::optional<int64_t> dcoMax = DcoMaxSectors(dco);
          dcoMax && *dcoMax > area.nativeSectors) {
        area.dcoRestricts = true;
        area.dcoMaxSectors = *dcoMax;
      }
    }
  }
  return area;
}

}  // namespace

DriveEraseFacts ReadNvmeEraseFacts(DeviceIo& io, Handle handle,
                                   const nvme::IdentifyPage& controller) {
  DriveEraseFacts facts;
  facts.media = MediaType::Nvme;
  std::vector<uint8_t> list(nvme::kIdentifySize);
  const NvmeReply listed = io.SendNvmeAdminCommand(handle, NvmeActiveNamespaceList(), list);
  facts.passThrough = Reached(listed.outcome);
  // Without the list, the controller's namespace count is the safe guess: more than one keeps
  // a sanitize from reaching namespaces it should not.
  const uint32_t namespaces = listed.outcome == CommandOutcome::Success
                                  ? CountActiveNamespaces(list)
                                  : DecodeNvmeIdentifyController(controller).namespaceCount;
  facts.nvme = DecodeNvmeEraseFeatures(controller, std::max<uint32_t>(namespaces, 1));

  const NvmeEraseFeatures& n = *facts.nvme;
  if (facts.passThrough && (n.sanitizeCrypto || n.sanitizeBlock || n.sanitizeOverwrite)) {
    std::vector<uint8_t> log(512);
    const NvmeReply reply = io.SendNvmeAdminCommand(handle, NvmeSanitizeStatusLog(), log);
    if (reply.outcome == CommandOutcome::Success) {
      facts.sanitizeInProgress = DecodeNvmeSanitizeLog(log).state == SanitizeState::InProgress;
    }
  }
  return facts;
}

DriveEraseFacts ReadAtaEraseFacts(DeviceIo& io, Handle handle, const TIdentifyDeviceData& device,
                                  const IdentifySector& identify) {
  DriveEraseFacts facts;
  facts.ata = DecodeAtaEraseFeatures(identify);
  facts.media = MediaTypeOf(device, facts.ata);
  PathProbe probe;
  if (facts.ata->sanitize) {
    const SanitizeState state =
        DecodeAtaSanitizeStatus(probe.Note(io.SendAtaCommand(handle, AtaSanitizeStatus(), {})))
            .state;
    facts.sanitizeInProgress = state == SanitizeState::InProgress;
    facts.sanitizeFrozen = state == SanitizeState::Frozen;
  }
  facts.hidden = ReadHiddenArea(io, handle, *facts.ata, probe);
  if (!probe.sent) {
    Sector sector{};
    probe.Note(io.SendAtaCommand(handle, IdentifyProbe(), sector));
  }
  facts.passThrough = probe.reached;
  return facts;
}

DriveEraseFacts ReadDriveEraseFacts(DeviceIo& io, Handle handle, const TIdentifyDeviceData& device) {
  if (device.BusType == kBusTypeNvme) {
    nvme::IdentifyPage controller{};
    if (!NvmeIdentifyController(io, handle, controller)) {
      DriveEraseFacts facts;
      facts.media = MediaType::Nvme;
      return facts;
    }
    return ReadNvmeEraseFacts(io, handle, controller);
  }
  Sector identify{};
  if (!ReadIdentifySector(io, handle, device.IsIDESlave, identify)) {
    DriveEraseFacts facts;
    facts.media = MediaTypeOf(device, std::nullopt);
    return facts;
  }
  return ReadAtaEraseFacts(io, handle, device, identify);
}

}  // namespace fw
