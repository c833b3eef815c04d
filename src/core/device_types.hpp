#pragma once
// What the program knows about a drive: the identification summary and the device-table row.
// A row describes a device; it is never an open handle (see DeviceIo for those).
#include <cstdint>
#include <string>

namespace fw {

struct TIdentifyDeviceData {
  std::string Model;  // UTF-8; descriptor bytes 0..255 are taken as the characters of that code
  std::string FW;
  std::string SN;
  int64_t LBA = 0;
  int64_t SectorSize = 0;
  int64_t BusType = 0;
  int64_t MaximumSectorsTransfer = 0;
  bool RemovableMedia = false;
  uint8_t IsIDESlave = 0;

  bool operator==(const TIdentifyDeviceData&) const = default;
};

struct TDeviceTable {
  std::string DevicePath;
  uint32_t DeviceNumber = 0;
  TIdentifyDeviceData IdentifyData;
  // The image-file fields: always as below for a physical drive, read by nothing.
  bool IsFile = false;
  std::string FilePath;
  int64_t FileSize = 0;
  bool IsCompressed = false;
  std::string FileVersion;

  bool operator==(const TDeviceTable&) const = default;
};

// Bus types that steer behaviour, and the value for a drive whose adapter query failed.
inline constexpr int64_t kBusTypeAta = 3;
inline constexpr int64_t kBusTypeSata = 11;
inline constexpr int64_t kBusTypeNvme = 17;
inline constexpr int64_t kBusTypeAdapterUnknown = 201;

}  // namespace fw
