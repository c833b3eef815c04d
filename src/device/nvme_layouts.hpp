#pragma once
// NVMe through the Windows storage contract: the protocol-specific property query and its reply
// (winioctl.h, x64), and where the fields lie in the NVMe data it carries (NVM Express Base
// revision 2.0: Identify Controller, Identify Namespace, SMART / Health Information log).
// All NVMe fields are little-endian.
#include <array>
#include <cstddef>
#include <cstdint>

namespace fw {

namespace win {

inline constexpr uint32_t StorageAdapterProtocolSpecificProperty = 49;
inline constexpr uint32_t StorageDeviceProtocolSpecificProperty = 50;

inline constexpr uint32_t ProtocolTypeNvme = 3;
inline constexpr uint32_t NVMeDataTypeIdentify = 1;
inline constexpr uint32_t NVMeDataTypeLogPage = 2;

struct STORAGE_PROTOCOL_SPECIFIC_DATA {
  uint32_t ProtocolType;
  uint32_t DataType;
  uint32_t ProtocolDataRequestValue;     // the CNS, or the log identifier
  uint32_t ProtocolDataRequestSubValue;  // Identify Namespace: the namespace; log: offset low
  uint32_t ProtocolDataOffset;           // from this structure's start to the data
  uint32_t ProtocolDataLength;
  uint32_t FixedProtocolReturnData;
  uint32_t ProtocolDataRequestSubValue2;
  uint32_t ProtocolDataRequestSubValue3;
  uint32_t ProtocolDataRequestSubValue4;
};
static_assert(sizeof(STORAGE_PROTOCOL_SPECIFIC_DATA) == 40);
static_assert(offsetof(STORAGE_PROTOCOL_SPECIFIC_DATA, DataType) == 4);
static_assert(offsetof(STORAGE_PROTOCOL_SPECIFIC_DATA, ProtocolDataRequestValue) == 8);
static_assert(offsetof(STORAGE_PROTOCOL_SPECIFIC_DATA, ProtocolDataRequestSubValue) == 12);
static_assert(offsetof(STORAGE_PROTOCOL_SPECIFIC_DATA, ProtocolDataOffset) == 16);
static_assert(offsetof(STORAGE_PROTOCOL_SPECIFIC_DATA, ProtocolDataLength) == 20);
static_assert(offsetof(STORAGE_PROTOCOL_SPECIFIC_DATA, FixedProtocolReturnData) == 24);
static_assert(offsetof(STORAGE_PROTOCOL_SPECIFIC_DATA, ProtocolDataRequestSubValue4) == 36);

struct STORAGE_PROTOCOL_DATA_DESCRIPTOR {
  uint32_t Version;
  uint32_t Size;
  STORAGE_PROTOCOL_SPECIFIC_DATA ProtocolSpecificData;
};
static_assert(sizeof(STORAGE_PROTOCOL_DATA_DESCRIPTOR) == 48);
static_assert(offsetof(STORAGE_PROTOCOL_DATA_DESCRIPTOR, ProtocolSpecificData) == 8);

// The query's input: STORAGE_PROPERTY_QUERY up to its AdditionalParameters, which hold the
// STORAGE_PROTOCOL_SPECIFIC_DATA.
inline constexpr uint32_t kProtocolQueryHeader = 8;
inline constexpr uint32_t kProtocolQuerySize =
    kProtocolQueryHeader + sizeof(STORAGE_PROTOCOL_SPECIFIC_DATA);
static_assert(kProtocolQuerySize == 48);
// The reply's data start: the descriptor's specific data plus its ProtocolDataOffset.
inline constexpr uint32_t kProtocolDataOffset = sizeof(STORAGE_PROTOCOL_SPECIFIC_DATA);
inline constexpr uint32_t kProtocolReplyDataStart =
    offsetof(STORAGE_PROTOCOL_DATA_DESCRIPTOR, ProtocolSpecificData) + kProtocolDataOffset;
static_assert(kProtocolReplyDataStart == 48);

}  // namespace win

namespace nvme {

inline constexpr size_t kIdentifySize = 4096;
inline constexpr size_t kHealthLogSize = 512;
using IdentifyPage = std::array<uint8_t, kIdentifySize>;
using HealthLog = std::array<uint8_t, kHealthLogSize>;

// Admin command set.
inline constexpr uint8_t kOpcodeGetLogPage = 0x02;
inline constexpr uint8_t kOpcodeIdentify = 0x06;
inline constexpr uint32_t kCnsNamespace = 0x00;
inline constexpr uint32_t kCnsController = 0x01;
inline constexpr uint32_t kLogSmartHealth = 0x02;
inline constexpr uint32_t kAllNamespaces = 0xFFFFFFFF;

// Identify Controller data structure.
namespace ctrl {
inline constexpr size_t kVid = 0;          // u16 PCI vendor ID
inline constexpr size_t kSsvid = 2;        // u16 PCI subsystem vendor ID
inline constexpr size_t kSn = 4;           // ASCII, 20 bytes, blank-padded
inline constexpr size_t kSnSize = 20;
inline constexpr size_t kMn = 24;          // ASCII, 40 bytes
inline constexpr size_t kMnSize = 40;
inline constexpr size_t kFr = 64;          // ASCII, 8 bytes
inline constexpr size_t kFrSize = 8;
inline constexpr size_t kVer = 80;         // u32: major 31:16, minor 15:8, tertiary 7:0
inline constexpr size_t kOacs = 256;       // u16: bit 1 Format NVM, bit 3 Namespace Management
inline constexpr size_t kWctemp = 266;     // u16 Kelvin
inline constexpr size_t kCctemp = 268;     // u16 Kelvin
inline constexpr size_t kTnvmcap = 280;    // u128 bytes
inline constexpr size_t kUnvmcap = 296;    // u128 bytes
inline constexpr size_t kSanicap = 328;    // u32: bit 0 crypto erase, 1 block erase, 2 overwrite
inline constexpr size_t kNn = 516;         // u32 number of namespaces
inline constexpr size_t kOncs = 520;       // u16: bit 2 Dataset Management, bit 3 Write Zeroes
inline constexpr size_t kFna = 524;        // u8: bit 2 cryptographic erase supported
inline constexpr size_t kVwc = 525;        // u8: bit 0 volatile write cache present
static_assert(kMn + kMnSize == kFr && kSn + kSnSize == kMn);
static_assert(kVwc < kIdentifySize);
}  // namespace ctrl

// Identify Namespace data structure.
namespace ns {
inline constexpr size_t kNsze = 0;         // u64 size in logical blocks
inline constexpr size_t kNcap = 8;         // u64
inline constexpr size_t kNuse = 16;        // u64
inline constexpr size_t kNlbaf = 25;       // u8 number of LBA formats - 1
inline constexpr size_t kFlbas = 26;       // u8: bits 3:0 format index, bits 6:5 its upper bits
inline constexpr size_t kLbaf = 128;       // u32 each: MS 15:0, LBADS 23:16, RP 25:24
inline constexpr size_t kLbafSize = 4;
inline constexpr size_t kMaxLbaFormats = 64;
static_assert(kLbaf + kLbafSize * kMaxLbaFormats <= kIdentifySize);
}  // namespace ns

// SMART / Health Information log page.
namespace health {
inline constexpr size_t kCriticalWarning = 0;   // u8
inline constexpr size_t kTemperature = 1;       // u16 Kelvin
inline constexpr size_t kAvailableSpare = 3;    // u8 %
inline constexpr size_t kSpareThreshold = 4;    // u8 %
inline constexpr size_t kPercentageUsed = 5;    // u8, may exceed 100
inline constexpr size_t kDataUnitsRead = 32;    // u128 counters from here on, 16 bytes apart
inline constexpr size_t kDataUnitsWritten = 48;
inline constexpr size_t kHostReads = 64;
inline constexpr size_t kHostWrites = 80;
inline constexpr size_t kBusyTime = 96;         // minutes
inline constexpr size_t kPowerCycles = 112;
inline constexpr size_t kPowerOnHours = 128;
inline constexpr size_t kUnsafeShutdowns = 144;
inline constexpr size_t kMediaErrors = 160;
inline constexpr size_t kErrorLogEntries = 176;
inline constexpr size_t kWarningTempTime = 192;   // u32 minutes
inline constexpr size_t kCriticalTempTime = 196;  // u32 minutes
inline constexpr size_t kSensors = 200;           // u16 Kelvin each, 0 = not reported
inline constexpr size_t kSensorCount = 8;
// One data unit is 1000 units of 512 bytes.
inline constexpr int64_t kDataUnitBytes = 512000;
static_assert(kErrorLogEntries + 16 == kWarningTempTime);
static_assert(kSensors + 2 * kSensorCount <= kHealthLogSize);
}  // namespace health

}  // namespace nvme

}  // namespace fw
