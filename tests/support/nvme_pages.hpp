#pragma once
// NVMe data built field by field from the layouts: for the decoder and report tests, and the
// recipe of the demo NVMe disk's data files (tests/fixtures/drives/EXAMPLE_NVMe_SSD*).
#include <array>
#include <cstdint>
#include <string_view>

#include "core/text.hpp"
#include "device/nvme_layouts.hpp"

namespace fw::test {

template <size_t N>
void PutLe(std::array<uint8_t, N>& data, size_t offset, UInt128 value, size_t bytes) {
  for (size_t i = 0; i < bytes; ++i) data[offset + i] = static_cast<uint8_t>(value >> (8 * i));
}

// NVMe identify strings: ASCII, blank-padded, in reading order.
template <size_t N>
void PutText(std::array<uint8_t, N>& data, size_t offset, size_t size, std::string_view text) {
  for (size_t i = 0; i < size; ++i) data[offset + i] = i < text.size() ? text[i] : ' ';
}

inline constexpr UInt128 kPast64Bits = (static_cast<UInt128>(1) << 64) + 5;
inline constexpr const char* kPast64BitsText = "18,446,744,073,709,551,621";

// An LBA format entry: metadata bytes, 2^lbads data bytes, relative performance.
constexpr uint32_t LbaFormat(uint32_t metadata, uint32_t lbads, uint32_t rp = 0) {
  return metadata | (lbads << 16) | (rp << 24);
}

// The demo disk: a 1 TB controller with one namespace of 1,953,525,168 512-byte sectors.
inline nvme::IdentifyPage DemoNvmeController() {
  namespace c = nvme::ctrl;
  nvme::IdentifyPage page{};
  PutLe(page, c::kVid, 0x1E0F, 2);
  PutLe(page, c::kSsvid, 0x1E0F, 2);
  PutText(page, c::kSn, c::kSnSize, "EX21N0A0123456");
  PutText(page, c::kMn, c::kMnSize, "EXAMPLE NVMe SSD 1TB");
  PutText(page, c::kFr, c::kFrSize, "1.2.3");
  PutLe(page, c::kVer, 0x00010400, 4);                 // 1.4.0
  PutLe(page, c::kOacs, 0x0016, 2);                    // Format NVM, firmware, NS management
  PutLe(page, c::kWctemp, 356, 2);                     // 83 degrees
  PutLe(page, c::kCctemp, 358, 2);                     // 85 degrees
  PutLe(page, c::kTnvmcap, 1000204886016, 16);
  PutLe(page, c::kSanicap, 0x00000003, 4);             // crypto and block erase
  PutLe(page, c::kNn, 1, 4);
  PutLe(page, c::kOncs, 0x005F, 2);                    // Write Zeroes among others
  page[c::kFna] = 0x04;                                // cryptographic erase
  page[c::kVwc] = 0x01;
  return page;
}

inline nvme::IdentifyPage DemoNvmeNamespace() {
  namespace n = nvme::ns;
  nvme::IdentifyPage page{};
  PutLe(page, n::kNsze, 1953525168, 8);
  PutLe(page, n::kNcap, 1953525168, 8);
  PutLe(page, n::kNuse, 1953525168, 8);
  page[n::kNlbaf] = 1;  // two formats
  page[n::kFlbas] = 0;
  PutLe(page, n::kLbaf, LbaFormat(0, 9, 2), 4);
  PutLe(page, n::kLbaf + n::kLbafSize, LbaFormat(0, 12, 0), 4);
  return page;
}

inline nvme::HealthLog DemoNvmeHealthLog() {
  namespace h = nvme::health;
  nvme::HealthLog log{};
  log[h::kCriticalWarning] = 0;
  PutLe(log, h::kTemperature, 311, 2);  // 38 degrees
  log[h::kAvailableSpare] = 100;
  log[h::kSpareThreshold] = 10;
  log[h::kPercentageUsed] = 2;
  PutLe(log, h::kDataUnitsRead, 12345678, 16);
  PutLe(log, h::kDataUnitsWritten, 9876543, 16);
  PutLe(log, h::kHostReads, 234567890, 16);
  PutLe(log, h::kHostWrites, 198765432, 16);
  PutLe(log, h::kBusyTime, 1234, 16);
  PutLe(log, h::kPowerCycles, 1021, 16);
  PutLe(log, h::kPowerOnHours, 4321, 16);
  PutLe(log, h::kUnsafeShutdowns, 37, 16);
  PutLe(log, h::kMediaErrors, 0, 16);
  PutLe(log, h::kErrorLogEntries, 12, 16);
  PutLe(log, h::kSensors, 311, 2);
  PutLe(log, h::kSensors + 2, 305, 2);
  return log;
}

}  // namespace fw::test
