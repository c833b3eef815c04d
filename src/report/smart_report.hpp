#pragma once
// The S.M.A.R.T. report: header, column header, one row per attribute. Lines go to
// AddSmartLine; each call appends one whole report.
#include <cstdint>
#include <string>

#include "device/device_io.hpp"
#include "select/device_table.hpp"

namespace fw {

void ShowSmartReport(DeviceIo& io, Handle deviceHandle, const TDeviceTableRows& table,
                     int64_t chosenIndex);

// The name of an attribute ID (1..255), padded to 26 display columns; unknown IDs give
// "未知                        ".
std::string SmartAttributeName(int id);

}  // namespace fw
