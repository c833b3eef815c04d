#include "device/nvme_decoder.hpp"

#include <span>

namespace fw {

namespace {

using Bytes = std::span<const uint8_t>;

template <class T>
T Little(Bytes data, size_t offset) {
  T value = 0;
  for (size_t i = sizeof(T); i-- > 0;) value = static_cast<T>((value << 8) | data[offset + i]);
  return value;
}

// 128-bit counters: the low 64 bits first.
UInt128 Little128(Bytes data, size_t offset) {
  return (static_cast<UInt128>(Little<uint64_t>(data, offset + 8)) << 64) |
         Little<uint64_t>(data, offset);
}

bool Bit(uint32_t value, unsigned bit) { return ((value >> bit) & 1u) != 0; }

// Identify strings are ASCII, blank-padded, and not byte-swapped (unlike ATA's).
std::string Text(Bytes data, size_t offset, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data.data()) + offset, size);
  return Latin1ToUtf8(Trim(bytes));
}

// The largest data size we take as real: 2^LBADS beyond this is garbage, not a disk.
constexpr unsigned kMinLbads = 9;
constexpr unsigned kMaxLbads = 32;

}  // namespace

const NvmeLbaFormat* NvmeNamespaceFacts::InUse() const {
  for (const NvmeLbaFormat& format : formats) {
    if (format.index == formatInUse) return &format;
  }
  return nullptr;
}

NvmeControllerFacts DecodeNvmeIdentifyController(const nvme::IdentifyPage& page) {
  namespace c = nvme::ctrl;
  const Bytes data(page);
  NvmeControllerFacts f;
  f.model = Text(data, c::kMn, c::kMnSize);
  f.firmware = Text(data, c::kFr, c::kFrSize);
  f.serial = Text(data, c::kSn, c::kSnSize);
  f.pciVendorId = Little<uint16_t>(data, c::kVid);
  f.version = Little<uint32_t>(data, c::kVer);
  f.formatNvm = Bit(Little<uint16_t>(data, c::kOacs), 1);
  f.totalCapacity = Little128(data, c::kTnvmcap);
  f.volatileWriteCache = Bit(data[c::kVwc], 0);
  f.cryptographicErase = Bit(data[c::kFna], 2);
  const uint32_t sanicap = Little<uint32_t>(data, c::kSanicap);
  f.sanitizeCrypto = Bit(sanicap, 0);
  f.sanitizeBlock = Bit(sanicap, 1);
  f.sanitizeOverwrite = Bit(sanicap, 2);
  f.writeZeroes = Bit(Little<uint16_t>(data, c::kOncs), 3);
  f.warningTemperatureKelvin = Little<uint16_t>(data, c::kWctemp);
  f.criticalTemperatureKelvin = Little<uint16_t>(data, c::kCctemp);
  f.namespaceCount = Little<uint32_t>(data, c::kNn);
  return f;
}

NvmeNamespaceFacts DecodeNvmeIdentifyNamespace(const nvme::IdentifyPage& page) {
  namespace n = nvme::ns;
  const Bytes data(page);
  NvmeNamespaceFacts f;
  f.sectors = Little<uint64_t>(data, n::kNsze);
  const uint8_t flbas = data[n::kFlbas];
  const uint32_t count = static_cast<uint32_t>(data[n::kNlbaf]) + 1;
  // NVMe 2.0: with more than 16 formats, FLBAS bits 6:5 are the index's upper bits.
  f.formatInUse = (flbas & 0x0Fu) | (count > 16 ? ((flbas >> 5) & 0x03u) << 4 : 0u);
  for (uint32_t i = 0; i < count && i < n::kMaxLbaFormats; ++i) {
    const uint32_t lbaf = Little<uint32_t>(data, n::kLbaf + n::kLbafSize * i);
    const unsigned lbads = (lbaf >> 16) & 0xFFu;
    if (lbads < kMinLbads || lbads > kMaxLbads) continue;
    f.formats.push_back({i, uint64_t{1} << lbads, lbaf & 0xFFFFu});
  }
  return f;
}

NvmeHealth DecodeNvmeHealthLog(const nvme::HealthLog& log) {
  namespace h = nvme::health;
  const Bytes data(log);
  NvmeHealth f;
  f.criticalWarning = data[h::kCriticalWarning];
  f.temperatureKelvin = Little<uint16_t>(data, h::kTemperature);
  f.availableSpare = data[h::kAvailableSpare];
  f.spareThreshold = data[h::kSpareThreshold];
  f.percentageUsed = data[h::kPercentageUsed];
  f.dataUnitsRead = Little128(data, h::kDataUnitsRead);
  f.dataUnitsWritten = Little128(data, h::kDataUnitsWritten);
  f.hostReadCommands = Little128(data, h::kHostReads);
  f.hostWriteCommands = Little128(data, h::kHostWrites);
  f.busyMinutes = Little128(data, h::kBusyTime);
  f.powerCycles = Little128(data, h::kPowerCycles);
  f.powerOnHours = Little128(data, h::kPowerOnHours);
  f.unsafeShutdowns = Little128(data, h::kUnsafeShutdowns);
  f.mediaErrors = Little128(data, h::kMediaErrors);
  f.errorLogEntries = Little128(data, h::kErrorLogEntries);
  f.warningTemperatureMinutes = Little<uint32_t>(data, h::kWarningTempTime);
  f.criticalTemperatureMinutes = Little<uint32_t>(data, h::kCriticalTempTime);
  for (size_t i = 0; i < h::kSensorCount; ++i) {
    f.sensorKelvin[i] = Little<uint16_t>(data, h::kSensors + 2 * i);
  }
  return f;
}

}  // namespace fw
