#include "device/ata_transport.hpp"

#include <algorithm>
#include <array>
#include <cstring>

#include "device/control_codes.hpp"
#include "device/win_layouts.hpp"

namespace fw {

namespace {

constexpr uint32_t kSectorSize = 512;
// SENDCMDINPARAMS without its one-byte data area: what the SMART driver takes as input.
constexpr uint32_t kCommandInputSize = 32;
// A data command's reply area: room for the header, the sector and the driver's extras.
constexpr uint32_t kDataReplyCapacity = 1039;
constexpr uint32_t kNoDataReplyCapacity = 527;
constexpr uint32_t kIdentifyReplySize = win::kSendCmdOutHeader + kSectorSize;  // 528
constexpr uint32_t kVersionReplySize = 28;

// The miniport request: SRB_IO_CONTROL, then a SENDCMDINPARAMS whose reply the driver writes
// over it (SENDCMDOUTPARAMS header at byte 28, the sector at byte 44).
constexpr uint32_t kSrbHeaderSize = sizeof(win::SRB_IO_CONTROL);
constexpr uint32_t kMiniportBufferSize = 572;
constexpr uint32_t kMiniportPayloadLength = kMiniportBufferSize - kSrbHeaderSize;
constexpr uint32_t kMiniportDataOffset = kSrbHeaderSize + win::kSendCmdOutHeader;
constexpr uint32_t kMiniportMinimumReply = kMiniportDataOffset + kSectorSize;
constexpr uint32_t kMiniportTimeoutSeconds = 120;
static_assert(kMiniportPayloadLength == 544);
static_assert(kMiniportDataOffset == 44);
static_assert(kMiniportMinimumReply == 556);
static_assert(kSrbHeaderSize + sizeof(win::SENDCMDINPARAMS) <= kMiniportBufferSize);

using CommandBlock = std::array<uint8_t, sizeof(win::SENDCMDINPARAMS)>;

CommandBlock BuildCommandBlock(uint32_t bufferSize, const AtaRegisters& regs, uint8_t driveNumber) {
  win::SENDCMDINPARAMS params{};
  params.cBufferSize = bufferSize;
  params.irDriveRegs.bFeaturesReg = regs.features;
  params.irDriveRegs.bSectorCountReg = regs.sectorCount;
  params.irDriveRegs.bSectorNumberReg = regs.sectorNumber;
  params.irDriveRegs.bCylLowReg = regs.cylLow;
  params.irDriveRegs.bCylHighReg = regs.cylHigh;
  params.irDriveRegs.bDriveHeadReg = regs.driveHead;
  params.irDriveRegs.bCommandReg = regs.command;
  params.bDriveNumber = driveNumber;
  CommandBlock block{};
  win::StoreLayout(params, block.data(), block.size());
  return block;
}

AtaRegisters SmartRegisters(uint8_t selector, uint8_t feature) {
  AtaRegisters regs;
  regs.features = feature;
  regs.sectorCount = 1;
  regs.sectorNumber = 1;
  regs.cylLow = win::SMART_CYL_LOW;
  regs.cylHigh = win::SMART_CYL_HI;
  regs.driveHead = DriveHead(selector);
  regs.command = win::SMART_CMD;
  return regs;
}

AtaRegisters IdentifyRegisters(uint8_t selector) {
  AtaRegisters regs;
  regs.sectorCount = 1;
  regs.sectorNumber = 1;
  regs.driveHead = DriveHead(selector);
  regs.command = win::ID_CMD;
  return regs;
}

bool TransferSector(DeviceIo& io, Handle handle, uint32_t code, uint8_t selector,
                    const AtaRegisters& regs, Sector& destination) {
  const CommandBlock block = BuildCommandBlock(kSectorSize, regs, selector);
  std::array<uint8_t, kDataReplyCapacity> reply{};
  uint32_t returned = 0;
  if (!io.DeviceControl(handle, code, block.data(), kCommandInputSize, reply.data(), reply.size(),
                        &returned)) {
    return false;
  }
  // A driver cannot have written past the buffer it was given, whatever count it reports.
  returned = std::min<uint32_t>(returned, reply.size());
  if (returned < kSectorSize) return false;
  std::memcpy(destination.data(), reply.data() + (returned - kSectorSize), kSectorSize);
  return true;
}

bool ReadIdentifyThroughSmart(DeviceIo& io, Handle handle, uint8_t selector, Sector& destination) {
  std::array<uint8_t, kVersionReplySize> version{};
  uint32_t returned = 0;
  if (!io.DeviceControl(handle, ioctl::SMART_GET_VERSION, nullptr, 0, version.data(),
                        version.size(), &returned)) {
    return false;
  }
  // This path addresses the drive by the drive/head register alone (bDriveNumber 0).
  const CommandBlock block = BuildCommandBlock(kSectorSize, IdentifyRegisters(selector), 0);
  std::array<uint8_t, kIdentifyReplySize> reply{};
  if (!io.DeviceControl(handle, ioctl::SMART_RCV_DRIVE_DATA, block.data(), block.size(),
                        reply.data(), reply.size(), &returned)) {
    return false;
  }
  std::memcpy(destination.data(), reply.data() + win::kSendCmdOutHeader, kSectorSize);
  return true;
}

bool ReadIdentifyThroughMiniport(DeviceIo& io, Handle handle, uint8_t selector,
                                 Sector& destination) {
  win::SRB_IO_CONTROL srb{};
  srb.HeaderLength = kSrbHeaderSize;
  std::memcpy(srb.Signature, "SCSIDISK", sizeof(srb.Signature));
  srb.Timeout = kMiniportTimeoutSeconds;
  srb.ControlCode = ioctl::IOCTL_SCSI_MINIPORT_IDENTIFY;
  srb.ReturnCode = 0;
  srb.Length = kMiniportPayloadLength;

  std::array<uint8_t, kMiniportBufferSize> request{};
  win::StoreLayout(srb, request.data(), request.size());
  const CommandBlock block = BuildCommandBlock(kSectorSize, IdentifyRegisters(selector), selector);
  std::memcpy(request.data() + kSrbHeaderSize, block.data(), block.size());

  // The driver answers in place: the reply buffer starts as a copy of the request.
  std::array<uint8_t, kMiniportBufferSize> reply = request;
  uint32_t returned = 0;
  if (!io.DeviceControl(handle, ioctl::IOCTL_SCSI_MINIPORT, request.data(), request.size(),
                        reply.data(), reply.size(), &returned)) {
    return false;
  }
  if (returned < kMiniportMinimumReply) return false;
  std::memcpy(destination.data(), reply.data() + kMiniportDataOffset, kSectorSize);
  return true;
}

}  // namespace

bool SmartCommand(DeviceIo& io, Handle handle, uint8_t selector, const AtaRegisters& regs) {
  const CommandBlock block = BuildCommandBlock(0, regs, selector);
  std::array<uint8_t, kIdentifyReplySize> reply{};
  uint32_t returned = 0;
  return io.DeviceControl(handle, ioctl::SMART_SEND_DRIVE_COMMAND, block.data(), kCommandInputSize,
                          reply.data(), kNoDataReplyCapacity, &returned);
}

bool SmartReceiveSector(DeviceIo& io, Handle handle, uint8_t selector, const AtaRegisters& regs,
                        Sector& destination) {
  return TransferSector(io, handle, ioctl::SMART_RCV_DRIVE_DATA, selector, regs, destination);
}

bool SmartSendReceiveSector(DeviceIo& io, Handle handle, uint8_t selector, const AtaRegisters& regs,
                            Sector& destination) {
  return TransferSector(io, handle, ioctl::SMART_SEND_DRIVE_COMMAND, selector, regs, destination);
}

bool SmartEnable(DeviceIo& io, Handle handle, uint8_t selector) {
  return SmartCommand(io, handle, selector, SmartRegisters(selector, win::ENABLE_SMART));
}

bool SmartDisable(DeviceIo& io, Handle handle, uint8_t selector) {
  return SmartCommand(io, handle, selector, SmartRegisters(selector, win::DISABLE_SMART));
}

namespace {

bool SmartReadSector(DeviceIo& io, Handle handle, uint8_t selector, uint8_t feature,
                     Sector& destination) {
  const AtaRegisters regs = SmartRegisters(selector, feature);
  if (SmartReceiveSector(io, handle, selector, regs, destination)) return true;
  // Some drivers take the SMART reads only through the send request.
  return SmartSendReceiveSector(io, handle, selector, regs, destination);
}

}  // namespace

bool SmartReadData(DeviceIo& io, Handle handle, uint8_t selector, Sector& destination) {
  return SmartReadSector(io, handle, selector, win::READ_ATTRIBUTES, destination);
}

bool SmartReadThresholds(DeviceIo& io, Handle handle, uint8_t selector, Sector& destination) {
  return SmartReadSector(io, handle, selector, win::READ_THRESHOLDS, destination);
}

bool ReadIdentifySector(DeviceIo& io, Handle handle, uint8_t selector, Sector& destination) {
  if (ReadIdentifyThroughSmart(io, handle, selector, destination)) return true;
  return ReadIdentifyThroughMiniport(io, handle, selector, destination);
}

}  // namespace fw
