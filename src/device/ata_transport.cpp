// Placeholder until the ATA transport lands.
#include "device/ata_transport.hpp"

namespace fw {
bool SmartCommand(DeviceIo&, Handle, uint8_t, const AtaRegisters&) { return false; }
bool SmartReceiveSector(DeviceIo&, Handle, uint8_t, const AtaRegisters&, Sector&) { return false; }
bool SmartSendReceiveSector(DeviceIo&, Handle, uint8_t, const AtaRegisters&, Sector&) { return false; }
bool SmartEnable(DeviceIo&, Handle, uint8_t) { return false; }
bool SmartDisable(DeviceIo&, Handle, uint8_t) { return false; }
bool SmartReadData(DeviceIo&, Handle, uint8_t, Sector&) { return false; }
bool ReadIdentifySector(DeviceIo&, Handle, uint8_t, Sector&) { return false; }
}  // namespace fw
