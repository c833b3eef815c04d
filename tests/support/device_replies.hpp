#pragma once
// Reply bytes of the storage queries, built through the shared Windows layouts, so that tests
// can script a FakeDevice as a given drive; and a debug-line capture without time stamps.
#include <cstdint>
#include <string>
#include <vector>

#include "core/logs.hpp"
#include "core/user_locale.hpp"
#include "device/control_codes.hpp"
#include "device/win_layouts.hpp"
#include "fake_device.hpp"

namespace fw::test {

template <class T>
std::vector<uint8_t> LayoutBytes(const T& value, size_t size = sizeof(T)) {
  std::vector<uint8_t> bytes(size);
  win::StoreLayout(value, bytes.data(), bytes.size());
  return bytes;
}

inline std::vector<uint8_t> GeometryReply(uint32_t bytesPerSector) {
  win::DISK_GEOMETRY g{};
  g.Cylinders = 1000;
  g.MediaType = win::MEDIA_TYPE_FIXED;
  g.TracksPerCylinder = 255;
  g.SectorsPerTrack = 63;
  g.BytesPerSector = bytesPerSector;
  return LayoutBytes(g);
}

inline std::vector<uint8_t> LengthReply(int64_t length) {
  return LayoutBytes(win::GET_LENGTH_INFORMATION{length});
}

inline std::vector<uint8_t> AdapterReply(uint32_t maximumTransferLength, uint8_t busType) {
  win::STORAGE_ADAPTER_DESCRIPTOR a{};
  a.Version = sizeof(a);
  a.Size = sizeof(a);
  a.MaximumTransferLength = maximumTransferLength;
  a.BusType = busType;
  return LayoutBytes(a);
}

// A STORAGE_DEVICE_DESCRIPTOR followed by its strings, each ending in a zero byte; an empty
// string is left out (offset 0). `serial` is given as the device stores it.
struct DeviceStrings {
  std::string vendor, product, revision, serial;
  bool removable = false;
};

inline std::vector<uint8_t> DeviceDescriptorReply(const DeviceStrings& s) {
  std::vector<uint8_t> bytes(sizeof(win::STORAGE_DEVICE_DESCRIPTOR) - 4);  // header: 36 bytes
  auto place = [&bytes](const std::string& text) -> uint32_t {
    if (text.empty()) return 0;
    const auto offset = static_cast<uint32_t>(bytes.size());
    bytes.insert(bytes.end(), text.begin(), text.end());
    bytes.push_back(0);
    return offset;
  };
  win::STORAGE_DEVICE_DESCRIPTOR d{};
  d.Version = sizeof(d);
  d.RemovableMedia = s.removable ? 1 : 0;
  d.VendorIdOffset = place(s.vendor);
  d.ProductIdOffset = place(s.product);
  d.ProductRevisionOffset = place(s.revision);
  d.SerialNumberOffset = place(s.serial);
  d.Size = static_cast<uint32_t>(bytes.size());
  win::StoreLayout(d, bytes.data(), 36);
  return bytes;
}

struct DriveFacts {
  uint32_t bytesPerSector = 512;
  int64_t length = 512LL * 1000000;
  uint32_t maximumTransfer = 131072;
  uint8_t busType = win::BusTypeSata;
  DeviceStrings strings{"ATA", "TEST DISK", "1.00", "", false};
};

// Scripts the four storage queries of identification, in the order they are asked.
inline void AnswerIdentification(FakeDevice& io, const std::string& path, const DriveFacts& f) {
  io.Answer(path, ioctl::IOCTL_DISK_GET_DRIVE_GEOMETRY,
            FakeDevice::Ok(GeometryReply(f.bytesPerSector)));
  io.Answer(path, ioctl::IOCTL_DISK_GET_LENGTH_INFO, FakeDevice::Ok(LengthReply(f.length)));
  io.Answer(path, ioctl::IOCTL_STORAGE_QUERY_PROPERTY,
            FakeDevice::Ok(AdapterReply(f.maximumTransfer, f.busType)));
  io.Answer(path, ioctl::IOCTL_STORAGE_QUERY_PROPERTY,
            FakeDevice::Ok(DeviceDescriptorReply(f.strings)));
}

// Collects debug lines (debug mode on) with their time stamps cut off; restores the previous
// state when it goes.
class DebugCapture {
 public:
  DebugCapture() : m_locale(CurrentUserLocale()), m_debugMode(DebugMode) {
    UserLocale marked;
    marked.shortDateFormat = "<";
    marked.longTimeFormat = ">";
    SetUserLocale(marked);
    DebugMode = true;
    SetDebugLineSink([this](const std::string& line) {
      const size_t gap = line.find("   ");
      lines.push_back(gap == std::string::npos ? line : line.substr(gap + 3));
    });
  }
  ~DebugCapture() {
    SetDebugLineSink(nullptr);
    DebugMode = m_debugMode;
    SetUserLocale(m_locale);
  }
  DebugCapture(const DebugCapture&) = delete;
  DebugCapture& operator=(const DebugCapture&) = delete;

  std::vector<std::string> lines;

 private:
  UserLocale m_locale;
  bool m_debugMode;
};

}  // namespace fw::test
