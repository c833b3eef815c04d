#pragma once
// The device-details report: header, identity, physical parameters, security, features,
// queuing, decoded from IDENTIFY DEVICE. Lines go to AddDetailsLine.
#include <cstdint>

#include "device/device_io.hpp"
#include "select/device_table.hpp"

namespace fw {

void ShowDeviceDetails(DeviceIo& io, Handle deviceHandle, const TDeviceTableRows& table,
                       int64_t chosenIndex);

}  // namespace fw
