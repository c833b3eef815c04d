#pragma once
// The ATA commands the program sends (IDENTIFY DEVICE, SMART ENABLE/READ DATA/READ THRESHOLDS/
// DISABLE), carried by the SMART driver interface and, for IDENTIFY only, the SCSI miniport
// interface.
// All return true on success; a destination sector is written only on success.
#include <array>
#include <cstdint>

#include "device/device_io.hpp"

namespace fw {

using Sector = std::array<uint8_t, 512>;

// The task-file registers in IDEREGS order (the reserved eighth byte is always 0).
struct AtaRegisters {
  uint8_t features = 0;
  uint8_t sectorCount = 0;
  uint8_t sectorNumber = 0;
  uint8_t cylLow = 0;
  uint8_t cylHigh = 0;
  uint8_t driveHead = 0;
  uint8_t command = 0;
};

// 0xA0 for the master (selector 0), 0xB0 for the slave (selector 1).
constexpr uint8_t DriveHead(uint8_t selector) { return static_cast<uint8_t>(0xA0 + 16 * selector); }

bool SmartCommand(DeviceIo& io, Handle handle, uint8_t selector, const AtaRegisters& regs);
bool SmartReceiveSector(DeviceIo& io, Handle handle, uint8_t selector, const AtaRegisters& regs,
                        Sector& destination);
bool SmartSendReceiveSector(DeviceIo& io, Handle handle, uint8_t selector,
                            const AtaRegisters& regs, Sector& destination);
bool SmartEnable(DeviceIo& io, Handle handle, uint8_t selector);
bool SmartDisable(DeviceIo& io, Handle handle, uint8_t selector);
bool SmartReadData(DeviceIo& io, Handle handle, uint8_t selector, Sector& destination);
bool SmartReadThresholds(DeviceIo& io, Handle handle, uint8_t selector, Sector& destination);
bool ReadIdentifySector(DeviceIo& io, Handle handle, uint8_t selector, Sector& destination);

}  // namespace fw
