#pragma once
// The S.M.A.R.T. report: header, column header, one row per attribute. Lines go to
// AddSmartLine; each call appends one whole report.
#include <cstdint>
#include <string>
#include <vector>

#include "device/ata_transport.hpp"
#include "device/device_io.hpp"
#include "select/device_table.hpp"

namespace fw {

void ShowSmartReport(DeviceIo& io, Handle deviceHandle, const TDeviceTableRows& table,
                     int64_t chosenIndex);

// The name of an attribute ID (1..255), padded to 26 display columns; unknown IDs give
// "未知                        ".
std::string SmartAttributeName(int id);

// The report's lines after the header for a SMART data sector that was read: column header,
// hyphens, one row per attribute up to the first ID 0 (at most 30), closing separator.
std::vector<std::string> SmartTableLines(const Sector& data);

}  // namespace fw
