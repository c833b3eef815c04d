#include "device/linux/descriptors.hpp"

#include <cstring>

namespace fw::linuxio {
namespace {

int HexValue(char ch) {
  if (ch >= '0' && ch <= '9') return ch - '0';
  if (ch >= 'a' && ch <= 'f') return ch - 'a' + 10;
  if (ch >= 'A' && ch <= 'F') return ch - 'A' + 10;
  return -1;
}

}  // namespace

std::string TrimBlanks(std::string_view text) {
  auto blank = [](char ch) { return ch == ' ' || ch == '\0' || ch == '\t' || ch == '\n'; };
  size_t first = 0;
  size_t last = text.size();
  while (first < last && blank(text[first])) ++first;
  while (last > first && blank(text[last - 1])) --last;
  return std::string(text.substr(first, last - first));
}

std::string DescriptorVendor(std::string_view inquiryVendor) {
  std::string vendor = TrimBlanks(inquiryVendor);
  return vendor == "ATA" ? std::string() : vendor;
}

std::string AtaWordOrder(std::string_view serial) {
  std::string out(serial);
  if (out.size() % 2 != 0) out.push_back(' ');
  for (size_t i = 0; i + 1 < out.size(); i += 2) std::swap(out[i], out[i + 1]);
  return out;
}

std::vector<uint8_t> BuildDeviceDescriptor(const DeviceStrings& strings, bool removable,
                                           uint8_t busType) {
  constexpr size_t kHeader = sizeof(win::STORAGE_DEVICE_DESCRIPTOR);
  std::vector<uint8_t> bytes(kHeader, 0);
  auto append = [&bytes](const std::string& text) -> uint32_t {
    // A string stops at its first NUL anyway; an empty one is absent.
    const std::string value = text.substr(0, text.find('\0'));
    if (value.empty()) return 0;
    const auto offset = static_cast<uint32_t>(bytes.size());
    bytes.insert(bytes.end(), value.begin(), value.end());
    bytes.push_back(0);
    return offset;
  };
  win::STORAGE_DEVICE_DESCRIPTOR d{};
  d.Version = static_cast<uint32_t>(kHeader);
  d.DeviceType = 0;  // direct-access block device
  d.RemovableMedia = removable ? 1 : 0;
  d.BusType = busType;
  d.VendorIdOffset = append(strings.vendor);
  d.ProductIdOffset = append(strings.product);
  d.ProductRevisionOffset = append(strings.revision);
  d.SerialNumberOffset = append(AtaWordOrder(strings.serial.substr(0, strings.serial.find('\0'))));
  d.Size = static_cast<uint32_t>(bytes.size());
  win::StoreLayout(d, bytes.data(), bytes.size());
  return bytes;
}

win::STORAGE_ADAPTER_DESCRIPTOR BuildAdapterDescriptor(uint8_t busType, uint64_t maxTransferBytes,
                                                       uint32_t maxSegments,
                                                       uint32_t alignmentMask) {
  win::STORAGE_ADAPTER_DESCRIPTOR a{};
  a.Version = sizeof(win::STORAGE_ADAPTER_DESCRIPTOR);
  a.Size = sizeof(win::STORAGE_ADAPTER_DESCRIPTOR);
  a.MaximumTransferLength =
      maxTransferBytes > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(maxTransferBytes);
  a.MaximumPhysicalPages = maxSegments;
  a.AlignmentMask = alignmentMask;
  a.BusType = busType;
  return a;
}

win::DISK_GEOMETRY BuildGeometry(uint64_t lengthBytes, uint32_t bytesPerSector, uint32_t heads,
                                 uint32_t sectorsPerTrack, bool removable) {
  if (heads == 0 || sectorsPerTrack == 0) {
    heads = 255;
    sectorsPerTrack = 63;
  }
  win::DISK_GEOMETRY g{};
  const uint64_t cylinderBytes = uint64_t{heads} * sectorsPerTrack * bytesPerSector;
  g.Cylinders = cylinderBytes == 0 ? 0 : static_cast<int64_t>(lengthBytes / cylinderBytes);
  g.MediaType = removable ? win::MEDIA_TYPE_REMOVABLE : win::MEDIA_TYPE_FIXED;
  g.TracksPerCylinder = heads;
  g.SectorsPerTrack = sectorsPerTrack;
  g.BytesPerSector = bytesPerSector;
  return g;
}

win::GETVERSIONINPARAMS BuildSmartVersion(bool slave) {
  win::GETVERSIONINPARAMS v{};
  v.bVersion = 1;
  v.bRevision = 1;
  v.bIDEDeviceMap = slave ? 0x02 : 0x01;
  v.fCapabilities = win::CAP_ATA_ID_CMD | win::CAP_SMART_CMD;
  return v;
}

std::optional<std::string> SerialFromVpd80(std::string_view page) {
  if (page.size() < 4 || static_cast<uint8_t>(page[1]) != 0x80) return std::nullopt;
  const size_t length = (size_t{static_cast<uint8_t>(page[2])} << 8) | static_cast<uint8_t>(page[3]);
  const std::string serial = TrimBlanks(page.substr(4, length));
  if (serial.empty()) return std::nullopt;
  return serial;
}

std::map<std::string, std::string> ParseUdevProperties(std::string_view text) {
  std::map<std::string, std::string> properties;
  size_t at = 0;
  while (at < text.size()) {
    size_t end = text.find('\n', at);
    if (end == std::string_view::npos) end = text.size();
    const std::string_view line = text.substr(at, end - at);
    if (line.size() > 2 && line.substr(0, 2) == "E:") {
      const size_t eq = line.find('=');
      if (eq != std::string_view::npos && eq > 2) {
        properties[std::string(line.substr(2, eq - 2))] = std::string(line.substr(eq + 1));
      }
    }
    at = end + 1;
  }
  return properties;
}

std::string DecodeUdevString(std::string_view encoded) {
  std::string out;
  for (size_t i = 0; i < encoded.size(); ++i) {
    if (encoded[i] == '\\' && i + 3 < encoded.size() && encoded[i + 1] == 'x') {
      const int hi = HexValue(encoded[i + 2]);
      const int lo = HexValue(encoded[i + 3]);
      if (hi >= 0 && lo >= 0) {
        out.push_back(static_cast<char>(hi * 16 + lo));
        i += 3;
        continue;
      }
    }
    out.push_back(encoded[i]);
  }
  return out;
}

}  // namespace fw::linuxio
