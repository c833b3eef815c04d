#pragma once
// Turns an open physical drive into a TIdentifyDeviceData record through storage queries only
// (geometry, length, adapter and device descriptors); no ATA command is sent.
#include <cstdint>
#include <string>

#include "core/device_types.hpp"
#include "device/device_io.hpp"

namespace fw {

// 0 when the drive was identified (`data` overwritten), -1 when not (`data` untouched).
// A device-property query refused with an error code is fatal for the program: the call then
// returns -1 and stores the message in *fatalText (caption "錯誤   "); the front end shows it
// and ends the program, the CLI prints it. Every step writes a debug line.
int64_t IdentifyDevice(DeviceIo& io, Handle handle, TIdentifyDeviceData& data,
                       std::string* fatalText);

// 1 when the device is the slave of its ATA channel, else 0.
uint8_t QueryIDESlave(DeviceIo& io, Handle handle);

}  // namespace fw
