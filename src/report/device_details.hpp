#pragma once
// The device-details report: header, identity, physical parameters, security, features,
// queuing, decoded from IDENTIFY DEVICE. Lines go to AddDetailsLine.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "device/device_io.hpp"
#include "device/erase_capabilities.hpp"
#include "device/identify_decoder.hpp"
#include "report/nvme_details.hpp"
#include "select/device_table.hpp"

namespace fw {

// What one read of a drive's identify data found.
struct DetailsReading {
  // InternalError: a parallel-ATA drive that answered neither read; Unavailable: any other
  // drive that did not answer.
  enum class Kind { Unavailable, InternalError, Ata, Nvme };
  Kind kind = Kind::Unavailable;
  T_IDE_PASSPORT ata;               // Ata
  std::optional<NvmeDetails> nvme;  // Nvme
  std::optional<DriveEraseFacts> erase;  // Ata: what the drive offers for its own erase

  bool Read() const { return kind == Kind::Ata || kind == Kind::Nvme; }
};

// Reads the identify data the report shows, by the drive's bus, as the report does.
DetailsReading ReadDetails(DeviceIo& io, Handle deviceHandle, const TIdentifyDeviceData& device);

// The report's lines after the header for what was read.
std::vector<std::string> DetailsReadingLines(const DetailsReading& reading);

// Reads and appends one whole report; returns what it read.
DetailsReading ShowDeviceDetails(DeviceIo& io, Handle deviceHandle, const TDeviceTableRows& table,
                                 int64_t chosenIndex);

// The report's lines after the header for a decoded sector, identity to queuing.
std::vector<std::string> DeviceDetailsLines(const T_IDE_PASSPORT& passport);

}  // namespace fw
