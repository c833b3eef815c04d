#pragma once
// The S.M.A.R.T. report: header, column header, one row per attribute, the verdict. Lines go
// to AddSmartLine; each call appends one whole report.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "device/ata_transport.hpp"
#include "device/device_io.hpp"
#include "device/nvme_decoder.hpp"
#include "report/smart_health.hpp"
#include "select/device_table.hpp"

namespace fw {

// What one read of a drive's S.M.A.R.T. data found.
struct SmartReading {
  enum class Kind { Unavailable, Ata, Nvme };
  Kind kind = Kind::Unavailable;
  Sector data{};                   // Ata: SMART READ DATA
  std::optional<Sector> thresholds;  // Ata: SMART READ THRESHOLDS, when the drive gave them
  NvmeHealth nvme;                 // Nvme: the health log

  std::vector<SmartAttribute> Attributes() const;
  // Unknown when nothing was read.
  HealthState Health() const;
};

// Reads the data the report shows, by the drive's bus, as the report does.
SmartReading ReadSmart(DeviceIo& io, Handle deviceHandle, const TIdentifyDeviceData& device);

// The report's lines after the header for what was read.
std::vector<std::string> SmartReadingLines(const SmartReading& reading);

// Reads and appends one whole report; returns what it read.
SmartReading ShowSmartReport(DeviceIo& io, Handle deviceHandle, const TDeviceTableRows& table,
                             int64_t chosenIndex);

// The name of an attribute ID (1..255), padded to 26 display columns; unknown IDs give
// "未知                        ".
std::string SmartAttributeName(int id);

// The report's lines after the header for a SMART data sector that was read: column header,
// hyphens, one row per attribute up to the first ID 0 (at most 30), closing separator.
std::vector<std::string> SmartTableLines(const Sector& data);

}  // namespace fw
