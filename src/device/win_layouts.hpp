#pragma once
// Windows storage reply and request layouts (x64, little-endian), byte-exact, defined once.
// Offsets are those of the mingw-w64 headers winioctl.h, ntdddisk.h, ntddstor.h, ntddscsi.h.
// Read and write them with LoadLayout/StoreLayout, never by casting a byte pointer.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>

namespace fw::win {

inline constexpr uint32_t MEDIA_TYPE_REMOVABLE = 11;
inline constexpr uint32_t MEDIA_TYPE_FIXED = 12;

inline constexpr uint32_t StorageDeviceProperty = 0;
inline constexpr uint32_t StorageAdapterProperty = 1;
inline constexpr uint32_t PropertyStandardQuery = 0;

inline constexpr uint32_t FILE_DEVICE_DISK = 7;

// STORAGE_BUS_TYPE values that the Linux transports map onto.
enum StorageBusType : uint8_t {
  BusTypeUnknown = 0x00, BusTypeScsi = 0x01, BusTypeAtapi = 0x02, BusTypeAta = 0x03,
  BusType1394 = 0x04, BusTypeSsa = 0x05, BusTypeFibre = 0x06, BusTypeUsb = 0x07,
  BusTypeRAID = 0x08, BusTypeiScsi = 0x09, BusTypeSas = 0x0A, BusTypeSata = 0x0B,
  BusTypeSd = 0x0C, BusTypeMmc = 0x0D, BusTypeVirtual = 0x0E, BusTypeFileBackedVirtual = 0x0F,
  BusTypeSpaces = 0x10, BusTypeNvme = 0x11,
};

struct DISK_GEOMETRY {
  int64_t Cylinders;
  uint32_t MediaType;
  uint32_t TracksPerCylinder;
  uint32_t SectorsPerTrack;
  uint32_t BytesPerSector;
};
static_assert(sizeof(DISK_GEOMETRY) == 24);
static_assert(offsetof(DISK_GEOMETRY, MediaType) == 8);
static_assert(offsetof(DISK_GEOMETRY, BytesPerSector) == 20);

struct GET_LENGTH_INFORMATION {
  int64_t Length;
};
static_assert(sizeof(GET_LENGTH_INFORMATION) == 8);

struct STORAGE_PROPERTY_QUERY {
  uint32_t PropertyId;
  uint32_t QueryType;
  uint8_t AdditionalParameters[1];
};
static_assert(sizeof(STORAGE_PROPERTY_QUERY) == 12);
static_assert(offsetof(STORAGE_PROPERTY_QUERY, AdditionalParameters) == 8);

struct STORAGE_ADAPTER_DESCRIPTOR {
  uint32_t Version;
  uint32_t Size;
  uint32_t MaximumTransferLength;
  uint32_t MaximumPhysicalPages;
  uint32_t AlignmentMask;
  uint8_t AdapterUsesPio;
  uint8_t AdapterScansDown;
  uint8_t CommandQueueing;
  uint8_t AcceleratedTransfer;
  uint8_t BusType;
  uint16_t BusMajorVersion;
  uint16_t BusMinorVersion;
  uint8_t SrbType;
  uint8_t AddressType;
};
static_assert(sizeof(STORAGE_ADAPTER_DESCRIPTOR) == 32);
static_assert(offsetof(STORAGE_ADAPTER_DESCRIPTOR, MaximumTransferLength) == 8);
static_assert(offsetof(STORAGE_ADAPTER_DESCRIPTOR, BusType) == 24);
static_assert(offsetof(STORAGE_ADAPTER_DESCRIPTOR, BusMajorVersion) == 26);
static_assert(offsetof(STORAGE_ADAPTER_DESCRIPTOR, SrbType) == 30);

struct STORAGE_DEVICE_DESCRIPTOR {
  uint32_t Version;
  uint32_t Size;
  uint8_t DeviceType;
  uint8_t DeviceTypeModifier;
  uint8_t RemovableMedia;
  uint8_t CommandQueueing;
  uint32_t VendorIdOffset;
  uint32_t ProductIdOffset;
  uint32_t ProductRevisionOffset;
  uint32_t SerialNumberOffset;
  uint32_t BusType;
  uint32_t RawPropertiesLength;
  uint8_t RawDeviceProperties[1];
};
static_assert(sizeof(STORAGE_DEVICE_DESCRIPTOR) == 40);
static_assert(offsetof(STORAGE_DEVICE_DESCRIPTOR, Size) == 4);
static_assert(offsetof(STORAGE_DEVICE_DESCRIPTOR, RemovableMedia) == 10);
static_assert(offsetof(STORAGE_DEVICE_DESCRIPTOR, VendorIdOffset) == 12);
static_assert(offsetof(STORAGE_DEVICE_DESCRIPTOR, ProductIdOffset) == 16);
static_assert(offsetof(STORAGE_DEVICE_DESCRIPTOR, ProductRevisionOffset) == 20);
static_assert(offsetof(STORAGE_DEVICE_DESCRIPTOR, SerialNumberOffset) == 24);
static_assert(offsetof(STORAGE_DEVICE_DESCRIPTOR, BusType) == 28);
static_assert(offsetof(STORAGE_DEVICE_DESCRIPTOR, RawDeviceProperties) == 36);

struct STORAGE_DEVICE_NUMBER {
  uint32_t DeviceType;
  uint32_t DeviceNumber;
  uint32_t PartitionNumber;
};
static_assert(sizeof(STORAGE_DEVICE_NUMBER) == 12);

struct GETVERSIONINPARAMS {
  uint8_t bVersion;
  uint8_t bRevision;
  uint8_t bReserved;
  uint8_t bIDEDeviceMap;
  uint32_t fCapabilities;
  uint32_t dwReserved[4];
};
static_assert(sizeof(GETVERSIONINPARAMS) == 24);
static_assert(offsetof(GETVERSIONINPARAMS, bIDEDeviceMap) == 3);
static_assert(offsetof(GETVERSIONINPARAMS, fCapabilities) == 4);
inline constexpr uint32_t CAP_ATA_ID_CMD = 1;
inline constexpr uint32_t CAP_ATAPI_ID_CMD = 2;
inline constexpr uint32_t CAP_SMART_CMD = 4;

struct IDEREGS {
  uint8_t bFeaturesReg;
  uint8_t bSectorCountReg;
  uint8_t bSectorNumberReg;
  uint8_t bCylLowReg;
  uint8_t bCylHighReg;
  uint8_t bDriveHeadReg;
  uint8_t bCommandReg;
  uint8_t bReserved;
};
static_assert(sizeof(IDEREGS) == 8);

#pragma pack(push, 1)
struct SENDCMDINPARAMS {
  uint32_t cBufferSize;
  IDEREGS irDriveRegs;
  uint8_t bDriveNumber;
  uint8_t bReserved[3];
  uint32_t dwReserved[4];
  uint8_t bBuffer[1];
};
struct DRIVERSTATUS {
  uint8_t bDriverError;
  uint8_t bIDEError;
  uint8_t bReserved[2];
  uint32_t dwReserved[2];
};
struct SENDCMDOUTPARAMS {
  uint32_t cBufferSize;
  DRIVERSTATUS DriverStatus;
  uint8_t bBuffer[1];
};
#pragma pack(pop)
static_assert(sizeof(SENDCMDINPARAMS) == 33);
static_assert(offsetof(SENDCMDINPARAMS, irDriveRegs) == 4);
static_assert(offsetof(SENDCMDINPARAMS, bDriveNumber) == 12);
static_assert(offsetof(SENDCMDINPARAMS, bBuffer) == 32);
static_assert(sizeof(DRIVERSTATUS) == 12);
static_assert(offsetof(SENDCMDOUTPARAMS, bBuffer) == 16);
inline constexpr uint32_t kSendCmdOutHeader = 16;
inline constexpr uint8_t SMART_IDE_ERROR = 1;

// ATA command and SMART feature values (ntdddisk.h).
inline constexpr uint8_t ID_CMD = 0xEC;
inline constexpr uint8_t SMART_CMD = 0xB0;
inline constexpr uint8_t SMART_CYL_LOW = 0x4F;
inline constexpr uint8_t SMART_CYL_HI = 0xC2;
inline constexpr uint8_t READ_ATTRIBUTES = 0xD0;
inline constexpr uint8_t READ_THRESHOLDS = 0xD1;
inline constexpr uint8_t ENABLE_SMART = 0xD8;
inline constexpr uint8_t DISABLE_SMART = 0xD9;
inline constexpr uint8_t RETURN_SMART_STATUS = 0xDA;

struct SRB_IO_CONTROL {
  uint32_t HeaderLength;
  uint8_t Signature[8];
  uint32_t Timeout;
  uint32_t ControlCode;
  uint32_t ReturnCode;
  uint32_t Length;
};
static_assert(sizeof(SRB_IO_CONTROL) == 28);
static_assert(offsetof(SRB_IO_CONTROL, Timeout) == 12);
static_assert(offsetof(SRB_IO_CONTROL, Length) == 24);

struct SCSI_BUS_DATA {
  uint8_t NumberOfLogicalUnits;
  uint8_t InitiatorBusId;
  uint32_t InquiryDataOffset;
};
struct SCSI_ADAPTER_BUS_INFO {
  uint8_t NumberOfBuses;
  SCSI_BUS_DATA BusData[1];
};
static_assert(sizeof(SCSI_ADAPTER_BUS_INFO) == 12);
static_assert(offsetof(SCSI_ADAPTER_BUS_INFO, BusData) == 4);

struct SCSI_INQUIRY_DATA {
  uint8_t PathId;
  uint8_t TargetId;
  uint8_t Lun;
  uint8_t DeviceClaimed;
  uint32_t InquiryDataLength;
  uint32_t NextInquiryDataOffset;
  uint8_t InquiryData[1];
};
static_assert(offsetof(SCSI_INQUIRY_DATA, TargetId) == 1);
static_assert(offsetof(SCSI_INQUIRY_DATA, InquiryData) == 12);

// Copies a layout out of a reply buffer; bytes past `size` read as zero.
template <class T>
T LoadLayout(const void* buffer, size_t size, size_t offset = 0) {
  static_assert(std::is_trivially_copyable_v<T>);
  T value{};
  if (offset < size) {
    const size_t n = size - offset < sizeof(T) ? size - offset : sizeof(T);
    std::memcpy(&value, static_cast<const uint8_t*>(buffer) + offset, n);
  }
  return value;
}

// Copies a layout into a buffer of `capacity` bytes; what does not fit is dropped. Returns the
// number of bytes stored.
template <class T>
size_t StoreLayout(const T& value, void* buffer, size_t capacity, size_t offset = 0) {
  static_assert(std::is_trivially_copyable_v<T>);
  if (offset >= capacity) return 0;
  const size_t n = capacity - offset < sizeof(T) ? capacity - offset : sizeof(T);
  std::memcpy(static_cast<uint8_t*>(buffer) + offset, &value, n);
  return n;
}

}  // namespace fw::win
