#pragma once
// IDENTIFY DEVICE sector -> the facts the device-details report prints. Pure: no device.
#include <cstdint>
#include <string>

#include "device/ata_transport.hpp"

namespace fw {

struct T_IDE_PASSPORT {
  std::string name;
  std::string fw;
  std::string sn;
  bool lba28support = false;
  bool lba48support = false;
  int64_t lba28sectors = 0;
  int64_t lba48sectors = 0;
  int64_t lbasectors = 0;
  uint8_t readmultiplesectors = 0;
  bool securitysupport = false;
  bool locked = false;
  bool lockedmax = false;
  bool hpasupport = false;
  bool smartsupport = false;
  bool smartenabled = false;
  bool aamsupport = false;
  bool dmasupport = false;
  uint8_t dmamodesupport = 0;
  uint8_t dmamodeselected = 0;
  bool isremovable = false;
  bool ispacket = false;
  uint32_t buffersize = 0;
  int64_t sectorsize = 512;  // the logical sector's length in bytes
  bool QueueSupported = false;
  int64_t QueueDepth = 0;
  bool StreamingSupported = false;

  bool operator==(const T_IDE_PASSPORT&) const = default;
};

T_IDE_PASSPORT DecodeIdentifySector(const Sector& sector);

// Word 85 bit 0 of an IDENTIFY DEVICE sector: the drive has its SMART feature set switched on.
bool SmartEnabledInIdentify(const Sector& sector);

// Word 82 bit 0: the drive has the SMART feature set, whether switched on or not.
bool SmartSupportedInIdentify(const Sector& sector);

}  // namespace fw
