#pragma once
// NVMe Identify Controller, Identify Namespace and SMART / Health Information data -> the facts
// the reports print. Pure: no device.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "core/text.hpp"
#include "device/nvme_layouts.hpp"

namespace fw {

struct NvmeControllerFacts {
  std::string model;
  std::string firmware;
  std::string serial;
  uint16_t pciVendorId = 0;
  uint32_t version = 0;  // 0: the controller does not report one (NVMe 1.0, 1.1)
  bool formatNvm = false;
  UInt128 totalCapacity = 0;  // bytes; 0: not reported
  bool volatileWriteCache = false;
  bool cryptographicErase = false;
  bool sanitizeCrypto = false;
  bool sanitizeBlock = false;
  bool sanitizeOverwrite = false;
  bool writeZeroes = false;
  uint16_t warningTemperatureKelvin = 0;  // 0: not reported
  uint16_t criticalTemperatureKelvin = 0;
  uint32_t namespaceCount = 0;

  bool operator==(const NvmeControllerFacts&) const = default;
};

struct NvmeLbaFormat {
  uint32_t index = 0;
  uint64_t dataBytes = 0;  // 2^LBADS
  uint32_t metadataBytes = 0;

  bool operator==(const NvmeLbaFormat&) const = default;
};

struct NvmeNamespaceFacts {
  uint64_t sectors = 0;  // NSZE, in logical blocks of the format in use
  uint32_t formatInUse = 0;
  // The formats the namespace offers, in index order; a format whose data size is not a
  // usable power of two (LBADS below 9 means "not available") is left out.
  std::vector<NvmeLbaFormat> formats;

  // The format in use, or nullptr when its index names no available format.
  const NvmeLbaFormat* InUse() const;
  bool operator==(const NvmeNamespaceFacts&) const = default;
};

struct NvmeHealth {
  uint8_t criticalWarning = 0;
  uint16_t temperatureKelvin = 0;
  uint8_t availableSpare = 0;
  uint8_t spareThreshold = 0;
  uint8_t percentageUsed = 0;
  UInt128 dataUnitsRead = 0;
  UInt128 dataUnitsWritten = 0;
  UInt128 hostReadCommands = 0;
  UInt128 hostWriteCommands = 0;
  UInt128 busyMinutes = 0;
  UInt128 powerCycles = 0;
  UInt128 powerOnHours = 0;
  UInt128 unsafeShutdowns = 0;
  UInt128 mediaErrors = 0;
  UInt128 errorLogEntries = 0;
  uint32_t warningTemperatureMinutes = 0;
  uint32_t criticalTemperatureMinutes = 0;
  std::array<uint16_t, nvme::health::kSensorCount> sensorKelvin{};  // 0: not reported

  bool operator==(const NvmeHealth&) const = default;
};

NvmeControllerFacts DecodeNvmeIdentifyController(const nvme::IdentifyPage& page);
NvmeNamespaceFacts DecodeNvmeIdentifyNamespace(const nvme::IdentifyPage& page);
NvmeHealth DecodeNvmeHealthLog(const nvme::HealthLog& log);

// Degrees Celsius of an NVMe temperature in Kelvin (NVMe counts K - 273, not 273.15).
constexpr int KelvinToCelsius(uint16_t kelvin) { return static_cast<int>(kelvin) - 273; }

}  // namespace fw
