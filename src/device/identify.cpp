#include "device/identify.hpp"

#include <array>
#include <string_view>

#include "core/logs.hpp"
#include "core/text.hpp"
#include "device/control_codes.hpp"
#include "device/win_layouts.hpp"

namespace fw {

namespace {

constexpr std::string_view kGettingGeometry = "正在取得幾何...          ";
constexpr std::string_view kDone = "完成   ";
constexpr std::string_view kSectorSizeIs = "磁區大小 =        ";
constexpr std::string_view kGettingLength = "正在取得磁碟長度...           ";
constexpr std::string_view kAccessError = "存取裝置發生錯誤:               ";
constexpr std::string_view kMediaLength = "媒體「長度」 =         ";
constexpr std::string_view kQueryingAdapter = "正在查詢儲存區屬性(配接器)...                     ";
constexpr std::string_view kSkipped = "被跳過     ";
constexpr std::string_view kQueryingDevice = "正在查詢儲存區屬性(裝置)...                     ";
constexpr std::string_view kParsing = "正在剖析資料...      ";
constexpr std::string_view kSectors = "磁區:      ";
constexpr std::string_view kXpSerialConversion = "正在執行 WinXP SN 墩...              ";
constexpr std::string_view kDefaultModel = "存放裝置          ";
constexpr std::string_view kDefaultFirmware = "0000";
constexpr std::string_view kDefaultSerial = "000000";

constexpr size_t kReplySize = 512;
using Reply = std::array<uint8_t, kReplySize>;

// Defaults for an adapter that cannot be queried; 201 is our own "bus unknown" mark.
constexpr uint32_t kDefaultMaximumTransfer = 65536;
constexpr int64_t kMaximumSectorsTransferCap = 250;
constexpr uint32_t kMinimumSectorSize = 512;

// A device that fails a request while reporting error code 0 has, as far as we can tell,
// answered nothing: go on with the zeroed reply.
struct Answer {
  bool ok = false;     // the request's own result, as logged
  uint32_t error = 0;  // LastError() right after a failure
  bool Usable() const { return ok || error == 0; }
};

Answer Query(DeviceIo& io, Handle handle, uint32_t code, const void* in, uint32_t inSize,
             Reply& reply) {
  reply.fill(0);
  uint32_t returned = 0;
  Answer answer;
  answer.ok = io.DeviceControl(handle, code, in, inSize, reply.data(), kReplySize, &returned);
  if (!answer.ok) answer.error = io.LastError();
  return answer;
}

Answer QueryProperty(DeviceIo& io, Handle handle, uint32_t propertyId, Reply& reply) {
  win::STORAGE_PROPERTY_QUERY query{};
  query.PropertyId = propertyId;
  query.QueryType = win::PropertyStandardQuery;
  std::array<uint8_t, sizeof(query)> in{};
  win::StoreLayout(query, in.data(), in.size());
  return Query(io, handle, ioctl::IOCTL_STORAGE_QUERY_PROPERTY, in.data(), in.size(), reply);
}

std::string DoneLine(bool ok) { return std::string(kDone) + std::string(BoolText(ok)); }

// The bytes of a descriptor string: from `offset` through position `size` inclusive, ending
// before the first zero byte and never past the reply. Offset 0 means the string is absent.
std::string DescriptorBytes(const Reply& reply, uint32_t offset, uint32_t size) {
  std::string bytes;
  if (offset == 0) return bytes;
  for (uint64_t i = offset; i <= size && i < kReplySize && reply[i] != 0; ++i) {
    bytes.push_back(static_cast<char>(reply[i]));
  }
  return bytes;
}

// The storage stack hands ATA serials over in IDENTIFY word order, two characters per word
// with the first in the high byte; every pair of the 512-byte area is put back in order.
std::string SwapSerialPairs(const std::string& raw) {
  std::array<uint8_t, kReplySize> area{};
  for (size_t i = 0; i < raw.size() && i < area.size(); ++i) {
    area[i] = static_cast<uint8_t>(raw[i]);
  }
  std::string text;
  text.reserve(area.size());
  for (size_t k = 0; k < area.size() / 2; ++k) {
    text.push_back(static_cast<char>(area[2 * k + 1]));
    text.push_back(static_cast<char>(area[2 * k]));
  }
  return Trim(text);
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Windows XP reports some ATA serials as 40 hexadecimal digits, two per character, each
// word's characters reversed; turn such a text back into the 20 characters it stands for. A
// genuine serial of 40 hexadecimal digits would decode to control characters and the like: it
// is kept as read unless every decoded character is printable ASCII.
std::string ConvertHexSerial(const std::string& serial) {
  std::string copy = serial;
  for (char& c : copy) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    if (c == '_') c = '2';
    if (c == ' ') c = '2';
  }
  for (char c : copy) {
    if (HexValue(c) < 0) return serial;
  }
  std::string converted;
  for (size_t group = 0; group < 10; ++group) {
    const char* g = copy.data() + 4 * group;
    converted.push_back(static_cast<char>(HexValue(g[2]) * 16 + HexValue(g[3])));
    converted.push_back(static_cast<char>(HexValue(g[0]) * 16 + HexValue(g[1])));
  }
  for (const char c : converted) {
    if (c < 0x20 || c > 0x7E) return serial;
  }
  return Trim(converted);
}

}  // namespace

int64_t IdentifyDevice(DeviceIo& io, Handle handle, TIdentifyDeviceData& data,
                       std::string* fatalText) {
  TIdentifyDeviceData record;
  Reply reply{};

  AddDebugLine(kGettingGeometry);
  const Answer geometryAnswer =
      Query(io, handle, ioctl::IOCTL_DISK_GET_DRIVE_GEOMETRY, nullptr, 0, reply);
  if (!geometryAnswer.Usable()) return -1;
  AddDebugLine(DoneLine(geometryAnswer.ok));
  const uint32_t bytesPerSector =
      win::LoadLayout<win::DISK_GEOMETRY>(reply.data(), reply.size()).BytesPerSector;
  AddDebugLine(std::string(kSectorSizeIs) + std::to_string(bytesPerSector));

  AddDebugLine(kGettingLength);
  const Answer lengthAnswer =
      Query(io, handle, ioctl::IOCTL_DISK_GET_LENGTH_INFO, nullptr, 0, reply);
  if (!lengthAnswer.Usable()) {
    AddDebugLine(std::string(kAccessError) + io.ErrorText(lengthAnswer.error));
    return -1;
  }
  AddDebugLine(DoneLine(lengthAnswer.ok));
  const int64_t length =
      win::LoadLayout<win::GET_LENGTH_INFORMATION>(reply.data(), reply.size()).Length;
  AddDebugLine(std::string(kMediaLength) + std::to_string(length));

  AddDebugLine(kQueryingAdapter);
  uint32_t maximumTransferLength = kDefaultMaximumTransfer;
  int64_t busType = kBusTypeAdapterUnknown;
  const Answer adapterAnswer = QueryProperty(io, handle, win::StorageAdapterProperty, reply);
  if (adapterAnswer.ok) {
    AddDebugLine(DoneLine(true));
    const auto adapter = win::LoadLayout<win::STORAGE_ADAPTER_DESCRIPTOR>(reply.data(), 32);
    maximumTransferLength = adapter.MaximumTransferLength;
    busType = adapter.BusType;
  } else {
    AddDebugLine(std::string(kSkipped) + std::string(BoolText(false)));
  }

  AddDebugLine(kQueryingDevice);
  const Answer deviceAnswer = QueryProperty(io, handle, win::StorageDeviceProperty, reply);
  if (!deviceAnswer.Usable()) {
    if (fatalText != nullptr) {
      *fatalText = std::string(kAccessError) + io.ErrorText(deviceAnswer.error);
    }
    return -1;
  }
  AddDebugLine(DoneLine(deviceAnswer.ok));
  AddDebugLine(kParsing);

  const auto descriptor =
      win::LoadLayout<win::STORAGE_DEVICE_DESCRIPTOR>(reply.data(), reply.size());
  const uint32_t size = descriptor.Size;
  const std::string vendor = Trim(DescriptorBytes(reply, descriptor.VendorIdOffset, size)) + " ";
  AddDebugLine("VendorID: " + Latin1ToUtf8(vendor));
  const std::string product = Trim(DescriptorBytes(reply, descriptor.ProductIdOffset, size));
  AddDebugLine("ProductID: " + Latin1ToUtf8(product));
  const std::string revision = Trim(DescriptorBytes(reply, descriptor.ProductRevisionOffset, size));
  AddDebugLine("ProductRevision: " + Latin1ToUtf8(revision));
  std::string serial = SwapSerialPairs(DescriptorBytes(reply, descriptor.SerialNumberOffset, size));
  AddDebugLine("SerialNumber: " + Latin1ToUtf8(serial));

  const int64_t sectorCount =
      bytesPerSector < kMinimumSectorSize ? 0 : length / static_cast<int64_t>(bytesPerSector);
  AddDebugLine(std::string(kSectors) + std::to_string(sectorCount));
  AddDebugLine("SectorSize: " + std::to_string(bytesPerSector));

  record.BusType = busType;
  if (busType == kBusTypeAta || busType == kBusTypeSata) {
    record.IsIDESlave = QueryIDESlave(io, handle);
  }
  record.RemovableMedia = descriptor.RemovableMedia != 0;

  record.SectorSize = bytesPerSector < kMinimumSectorSize ? kMinimumSectorSize : bytesPerSector;
  record.MaximumSectorsTransfer = maximumTransferLength / record.SectorSize;
  if (record.MaximumSectorsTransfer > kMaximumSectorsTransferCap) {
    record.MaximumSectorsTransfer = kMaximumSectorsTransferCap;
  }
  AddDebugLine("MaxTransfer: " + std::to_string(record.MaximumSectorsTransfer));
  record.LBA = sectorCount;

  record.Model = Latin1ToUtf8(Trim(vendor) + " " + product);
  if (Trim(record.Model).empty()) record.Model = kDefaultModel;
  record.FW = revision.empty() ? std::string(kDefaultFirmware) : Latin1ToUtf8(revision);

  if (serial.size() == 40) {
    AddDebugLine(kXpSerialConversion);
    serial = ConvertHexSerial(serial);
  }
  record.SN = Trim(serial).empty() ? std::string(kDefaultSerial) : Latin1ToUtf8(serial);

  data = record;
  return 0;
}

uint8_t QueryIDESlave(DeviceIo& io, Handle handle) {
  std::array<uint8_t, 28> version{};
  uint32_t returned = 0;
  if (io.DeviceControl(handle, ioctl::SMART_GET_VERSION, nullptr, 0, version.data(), version.size(),
                       &returned)) {
    // Bits 1, 3, 5, 7: the second device on the primary and secondary channels, ATA or ATAPI.
    const auto params = win::LoadLayout<win::GETVERSIONINPARAMS>(version.data(), version.size());
    return (params.bIDEDeviceMap & 0xAA) != 0 ? 1 : 0;
  }
  Reply inquiry{};
  if (io.DeviceControl(handle, ioctl::IOCTL_SCSI_GET_INQUIRY_DATA, nullptr, 0, inquiry.data(),
                       inquiry.size(), &returned)) {
    // With one bus, the first SCSI_INQUIRY_DATA record follows the 12-byte bus information.
    const auto first = win::LoadLayout<win::SCSI_INQUIRY_DATA>(inquiry.data(), inquiry.size(),
                                                               sizeof(win::SCSI_ADAPTER_BUS_INFO));
    return first.TargetId & 1;
  }
  return 0;
}

}  // namespace fw
