// Random device replies through identification, transport and decoding. The point is the
// sanitizer build: whatever a device answers, nothing is read outside a buffer. A fixed seed
// keeps every run the same.
#include <gtest/gtest.h>

#include <random>

#include "core/text.hpp"
#include "device/ata_transport.hpp"
#include "device/identify.hpp"
#include "device/identify_decoder.hpp"
#include "device_replies.hpp"

namespace fw {
namespace {

using test::FakeDevice;

constexpr const char* kPath = "/dev/fuzz";

class Random {
 public:
  explicit Random(uint32_t seed) : m_engine(seed) {}
  uint32_t Below(uint32_t n) { return std::uniform_int_distribution<uint32_t>(0, n - 1)(m_engine); }
  bool Chance(uint32_t percent) { return Below(100) < percent; }
  std::vector<uint8_t> Bytes(size_t size) {
    std::vector<uint8_t> bytes(size);
    for (uint8_t& b : bytes) b = static_cast<uint8_t>(Below(256));
    return bytes;
  }
  // Offsets and sizes near the edges of the 512-byte reply are the interesting ones.
  uint32_t Position() {
    switch (Below(5)) {
      case 0:
        return 0;
      case 1:
        return 500 + Below(24);
      case 2:
        return 0xFFFFFFF0u + Below(16);
      case 3:
        return Below(1024);
      default:
        return static_cast<uint32_t>(m_engine());
    }
  }

 private:
  std::mt19937 m_engine;
};

FakeDevice::Reply RandomReply(Random& rnd, size_t maxSize) {
  FakeDevice::Reply reply;
  reply.ok = !rnd.Chance(10);
  reply.error = rnd.Chance(50) ? 0 : rnd.Below(2000);
  reply.bytes = rnd.Bytes(rnd.Below(static_cast<uint32_t>(maxSize)));
  if (rnd.Chance(20)) reply.returned = static_cast<uint32_t>(rnd.Position());
  return reply;
}

std::vector<uint8_t> RandomDescriptor(Random& rnd) {
  std::vector<uint8_t> bytes = rnd.Bytes(rnd.Chance(50) ? 512 : rnd.Below(1200));
  if (rnd.Chance(30)) {
    for (uint8_t& b : bytes) b = static_cast<uint8_t>(b == 0 ? 'Z' : b);  // no terminator
  }
  win::STORAGE_DEVICE_DESCRIPTOR d{};
  d.Size = rnd.Position();
  d.RemovableMedia = static_cast<uint8_t>(rnd.Below(256));
  d.VendorIdOffset = rnd.Position();
  d.ProductIdOffset = rnd.Position();
  d.ProductRevisionOffset = rnd.Position();
  d.SerialNumberOffset = rnd.Position();
  win::StoreLayout(d, bytes.data(), bytes.size());
  return bytes;
}

bool IsUtf8(const std::string& text) {
  for (size_t i = 0; i < text.size();) {
    const auto b = static_cast<unsigned char>(text[i]);
    const size_t n = b < 0x80 ? 1 : (b >> 5) == 6 ? 2 : (b >> 4) == 14 ? 3 : (b >> 3) == 30 ? 4 : 0;
    if (n == 0 || i + n > text.size()) return false;
    for (size_t k = 1; k < n; ++k) {
      if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) return false;
    }
    i += n;
  }
  return true;
}

TEST(DeviceFuzz, IdentifyDeviceOnRandomReplies) {
  Random rnd(20240601);
  int identified = 0;
  for (int round = 0; round < 4000; ++round) {
    FakeDevice io;
    const uint32_t storage = ioctl::IOCTL_STORAGE_QUERY_PROPERTY;
    for (uint32_t code : {ioctl::IOCTL_DISK_GET_DRIVE_GEOMETRY, ioctl::IOCTL_DISK_GET_LENGTH_INFO,
                          storage, ioctl::SMART_GET_VERSION, ioctl::IOCTL_SCSI_GET_INQUIRY_DATA}) {
      io.Answer(kPath, code, RandomReply(rnd, 700));
    }
    FakeDevice::Reply device = RandomReply(rnd, 10);
    device.bytes = RandomDescriptor(rnd);
    io.Answer(kPath, storage, device);
    if (rnd.Chance(30)) {  // a plausible adapter, so that the slave query runs too
      io.targets[kPath].replies[storage].front() =
          FakeDevice::Ok(test::AdapterReply(rnd.Position(), rnd.Chance(50) ? 3 : 11));
    }

    const Handle h = io.Open(kPath, OpenMode::Identification);
    TIdentifyDeviceData data;
    std::string fatal;
    if (IdentifyDevice(io, h, data, &fatal) != 0) continue;
    ++identified;
    EXPECT_TRUE(fatal.empty());
    EXPECT_GE(data.SectorSize, 512);
    EXPECT_LE(data.MaximumSectorsTransfer, 250);
    EXPECT_LE(data.IsIDESlave, 1);
    EXPECT_FALSE(Trim(data.Model).empty());
    EXPECT_FALSE(data.FW.empty());
    EXPECT_FALSE(data.SN.empty());
    EXPECT_TRUE(IsUtf8(data.Model) && IsUtf8(data.FW) && IsUtf8(data.SN)) << round;
  }
  EXPECT_GT(identified, 1000) << "the random replies should mostly get through";
}

TEST(DeviceFuzz, TransportOnRandomReplies) {
  Random rnd(77);
  for (int round = 0; round < 3000; ++round) {
    FakeDevice io;
    for (uint32_t code : {ioctl::SMART_GET_VERSION, ioctl::SMART_RCV_DRIVE_DATA,
                          ioctl::SMART_SEND_DRIVE_COMMAND, ioctl::IOCTL_SCSI_MINIPORT}) {
      io.Answer(kPath, code, RandomReply(rnd, 1200));
    }
    const Handle h = io.Open(kPath, OpenMode::Working);
    const auto selector = static_cast<uint8_t>(rnd.Below(2));
    Sector sector{};
    ReadIdentifySector(io, h, selector, sector);
    SmartReadData(io, h, selector, sector);
    SmartEnable(io, h, selector);
    SmartDisable(io, h, selector);
  }
}

TEST(DeviceFuzz, DecodeRandomSectors) {
  Random rnd(4242);
  for (int round = 0; round < 20000; ++round) {
    Sector sector{};
    const std::vector<uint8_t> bytes = rnd.Bytes(sector.size());
    std::copy(bytes.begin(), bytes.end(), sector.begin());
    const T_IDE_PASSPORT p = DecodeIdentifySector(sector);
    EXPECT_LE(p.dmamodesupport, 6);
    EXPECT_LE(p.dmamodeselected, 6);
    EXPECT_GE(p.lbasectors, 0);
    EXPECT_EQ(p.lbasectors, p.lba48support ? p.lba48sectors : p.lba28sectors);
    EXPECT_EQ(p.sectorsize, 512);
    EXPECT_TRUE(IsUtf8(p.name) && IsUtf8(p.fw) && IsUtf8(p.sn));
  }
}

}  // namespace
}  // namespace fw
