// Random device replies through identification, transport and decoding. The point is the
// sanitizer build: whatever a device answers, nothing is read outside a buffer. A fixed seed
// keeps every run the same.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <random>
#include <sstream>
#include <string_view>

#include "core/text.hpp"
#include "device/ata_transport.hpp"
#include "device/backends.hpp"
#include "device/identify.hpp"
#include "device/identify_decoder.hpp"
#include "device_replies.hpp"
#include "temp_folder.hpp"

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
    EXPECT_GE(p.sectorsize, 512);
    EXPECT_EQ(p.sectorsize % 2, 0);
    EXPECT_TRUE(IsUtf8(p.name) && IsUtf8(p.fw) && IsUtf8(p.sn));
  }
}

// A JSON value of any type, sometimes nested; `depth` bounds the nesting of the generator itself.
std::string RandomJsonValue(Random& rnd, int depth) {
  switch (rnd.Below(depth > 0 ? 9 : 7)) {
    case 0:
      return std::to_string(rnd.Below(600));
    case 1:
      return "-" + std::to_string(rnd.Position());
    case 2:
      return rnd.Chance(50) ? "18446744073709551616" : "3.5e300";
    case 3:
      return rnd.Chance(50) ? "true" : "null";
    case 4:
      return "\"\\u00e9x\\u4e2d\"";
    case 5:
      return "\"" + std::string(rnd.Below(40), 'A') + "\"";
    case 6:
      return "\"\\u0000\"";
    case 7:
      return "[" + RandomJsonValue(rnd, depth - 1) + ", " + RandomJsonValue(rnd, depth - 1) + "]";
    default:
      return "{\"offset\": " + RandomJsonValue(rnd, depth - 1) +
             ", \"code\": " + RandomJsonValue(rnd, depth - 1) + "}";
  }
}

// A value of the type the key takes, its number anywhere in or near the key's range.
std::string PlausibleValue(Random& rnd, std::string_view key) {
  const std::string number = std::to_string(rnd.Chance(50) ? rnd.Below(300) : rnd.Position());
  if (key == "removable" || key == "slave") return rnd.Chance(50) ? "true" : "false";
  if (key == "fail") return "{\"identify\": " + number + ", \"smart_read\": 0}";
  if (key == "write_errors") return "[{\"offset\": " + number + ", \"code\": 23}]";
  if (key == "mounts") return "[{\"mount_point\": \"/m/" + number + "\", \"busy\": true}]";
  if (key == "sector_size") return rnd.Chance(50) ? "4096" : number;
  if (key == "vendor" || key == "product" || key == "revision" || key == "serial") {
    const std::vector<uint8_t> bytes = rnd.Bytes(rnd.Below(45));
    std::string text = "\"";
    for (const uint8_t b : bytes) {
      const auto c = static_cast<char>(0x20 + b % 0x5F);  // printable ASCII
      text += c == '"' || c == '\\' ? 'q' : c;
    }
    return text + "\"";
  }
  return number;
}

// A sector file the metadata may name: a good one, a wrong size, or something that is no file.
std::string RandomSectorFile(Random& rnd, const test::TempFolder& folder, const std::string& name) {
  switch (rnd.Below(6)) {
    case 0:
      return "/dev/zero";
    case 1:
      return "missing";
    case 2:
      mkfifo((folder / name).c_str(), 0600);
      return name;
    case 3:
      std::filesystem::create_directory(folder / name);
      return name;
    default: {
      const uint32_t sizes[] = {0, 511, 512, 512, 513, 4096};
      const std::vector<uint8_t> bytes = rnd.Bytes(sizes[rnd.Below(6)]);
      folder.Write(name, std::string(bytes.begin(), bytes.end()));
      return name;
    }
  }
}

// Half the sets are well formed, with numbers anywhere; the other half are hostile in any way.
std::string RandomMetadata(Random& rnd, const test::TempFolder& folder, const std::string& name) {
  const bool hostile = rnd.Chance(50);
  const char* keys[] = {"vendor",    "product", "revision",     "serial",    "bus_type",
                        "sector_size", "max_transfer", "removable", "slave", "fail",
                        "write_errors", "unplug_at", "mounts",     "unknown"};
  std::ostringstream json;
  json << "{";
  const char* separator = "";
  for (const char* key : keys) {
    if (!rnd.Chance(40) || (!hostile && key == std::string_view("unknown"))) continue;
    json << separator << "\"" << key << "\": "
         << (!hostile || rnd.Chance(50) ? PlausibleValue(rnd, key) : RandomJsonValue(rnd, 3));
    separator = ", ";
  }
  for (const char* key : {"identify", "smart"}) {
    if (!rnd.Chance(60)) continue;
    const std::string file = name + "." + key;
    if (!hostile) {
      const std::vector<uint8_t> bytes = rnd.Bytes(512);
      folder.Write(file, std::string(bytes.begin(), bytes.end()));
    }
    json << separator << "\"" << key << "\": \""
         << (hostile ? RandomSectorFile(rnd, folder, file) : file) << "\"";
    separator = ", ";
  }
  json << "}";
  std::string text = json.str();
  if (!hostile) return text;
  if (rnd.Chance(30)) text.resize(rnd.Below(static_cast<uint32_t>(text.size()) + 1));
  if (!text.empty() && rnd.Chance(30)) text[rnd.Below(static_cast<uint32_t>(text.size()))] ^= 0x80;
  if (rnd.Chance(10)) text = std::string(50000, '[') + text;
  return text;
}

TEST(DeviceFuzz, ImageBackendOnRandomMetadataSets) {
  Random rnd(1312);
  int drivesServed = 0;
  for (int round = 0; round < 150; ++round) {
    test::TempFolder folder;
    for (uint32_t d = 0, count = 1 + rnd.Below(3); d < count; ++d) {
      const std::string name = std::string("d").append(std::to_string(d));
      folder.Image(name + ".img", rnd.Chance(20) ? 0 : 512 * int64_t{1 + rnd.Below(5000)});
      if (rnd.Chance(85)) folder.Write(name + ".json", RandomMetadata(rnd, folder, name));
    }
    std::string errors;
    const std::unique_ptr<DeviceIo> io = CreateImageDeviceIo(folder.Path(), &errors);
    ASSERT_NE(io, nullptr);
    std::istringstream lines(errors);
    for (std::string line; std::getline(lines, line);) {
      EXPECT_EQ(line.rfind(folder.Path() + "/d", 0), 0u) << "names the metadata file: " << line;
    }
    for (int n = 0; !io->PhysicalDrivePath(n).empty(); ++n) {
      const std::string path = io->PhysicalDrivePath(n);
      const Handle h = io->Open(path, OpenMode::Identification);
      TIdentifyDeviceData data;
      std::string fatal;
      IdentifyDevice(*io, h, data, &fatal);
      io->Close(h);
      const Handle w = io->Open(path, OpenMode::Working);
      Sector sector{};
      if (ReadIdentifySector(*io, w, 0, sector)) DecodeIdentifySector(sector);
      SmartEnable(*io, w, 0);
      SmartReadData(*io, w, 0, sector);
      SmartDisable(*io, w, 0);
      io->Close(w);
      ++drivesServed;
    }
  }
  EXPECT_GT(drivesServed, 100) << "some random sets should be served";
}

}  // namespace
}  // namespace fw
