#pragma once
// The device-details report: header, identity, physical parameters, security, features,
// queuing, decoded from IDENTIFY DEVICE. Lines go to AddDetailsLine.
#include <cstdint>
#include <string>
#include <vector>

#include "device/device_io.hpp"
#include "device/identify_decoder.hpp"
#include "select/device_table.hpp"

namespace fw {

void ShowDeviceDetails(DeviceIo& io, Handle deviceHandle, const TDeviceTableRows& table,
                       int64_t chosenIndex);

// The report's lines after the header for a decoded sector, identity to queuing.
std::vector<std::string> DeviceDetailsLines(const T_IDE_PASSPORT& passport);

}  // namespace fw
