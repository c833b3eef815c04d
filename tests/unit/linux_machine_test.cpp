// Every whole disk of this machine, identified through the Linux backend with read-only opens,
// agrees with lsblk on size, sector size, model and serial.
#include <gtest/gtest.h>

#include <array>
#include <iostream>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>

#include "core/device_types.hpp"
#include "device/backends.hpp"
#include "device/control_codes.hpp"
#include "device/identify.hpp"
#include "device/win_layouts.hpp"
#include "loop_device.hpp"

namespace fw {
namespace {

// Blanks trimmed and inner runs made one, as lsblk shows model texts.
std::string Normalized(const std::string& text) {
  std::istringstream words(text);
  std::string word, out;
  while (words >> word) out += (out.empty() ? "" : " ") + word;
  return out;
}

std::string JsonText(const nlohmann::json& value) {
  return value.is_string() ? value.get<std::string>() : std::string();
}

int64_t JsonNumber(const nlohmann::json& value) {
  if (value.is_number()) return value.get<int64_t>();
  if (value.is_string()) return std::stoll(value.get<std::string>());
  return -1;
}

struct LsblkDisk {
  int64_t size = -1;
  int64_t sectorSize = -1;
  std::string model;
  std::string serial;
};

TEST(LinuxMachine, EveryWholeDiskAgreesWithLsblk) {
  // One loop device of our own (4096-byte sectors) is compared too, so that the comparison
  // runs even where the machine's own disks cannot be opened.
  std::unique_ptr<test::LoopDevice> own;
  if (test::LoopDevice::SkipReason().empty()) {
    own = std::make_unique<test::LoopDevice>(
        test::LoopDevice::Options{.size = 48ll << 20, .sectorSize = 4096});
  }
  const std::string ownName = own && own->Ok() ? own->Name() : std::string();

  const test::CommandResult lsblk =
      test::RunCommand("lsblk -J -b -o NAME,SIZE,MODEL,SERIAL,LOG-SEC 2>/dev/null");
  if (lsblk.status != 0) GTEST_SKIP() << "lsblk is not available";
  const nlohmann::json doc = nlohmann::json::parse(lsblk.output, nullptr, false);
  ASSERT_FALSE(doc.is_discarded()) << lsblk.output;
  std::map<std::string, LsblkDisk> byName;
  for (const nlohmann::json& d : doc.value("blockdevices", nlohmann::json::array())) {
    LsblkDisk disk;
    disk.size = JsonNumber(d.value("size", nlohmann::json()));
    disk.sectorSize = JsonNumber(d.value("log-sec", nlohmann::json()));
    disk.model = Normalized(JsonText(d.value("model", nlohmann::json())));
    disk.serial = Normalized(JsonText(d.value("serial", nlohmann::json())));
    byName[JsonText(d.value("name", nlohmann::json()))] = disk;
  }

  std::unique_ptr<DeviceIo> io = CreateLinuxDeviceIo();
  int compared = 0;
  std::string denied;
  for (int n = 0; n < 256; ++n) {
    const std::string path = io->PhysicalDrivePath(n);
    if (path.empty()) break;
    const std::string name = path.substr(path.rfind('/') + 1);
    // Other loop devices come and go with the tests running beside this one.
    if (name.rfind("loop", 0) == 0 && name != ownName) continue;
    SCOPED_TRACE(path);
    auto it = byName.find(name);
    ASSERT_NE(it, byName.end()) << "lsblk does not list " << name;
    const LsblkDisk& expected = it->second;

    const Handle h = io->Open(path, OpenMode::Identification);
    if (h == kInvalidHandle) {
      // A sandbox may deny access to the machine's disks; nothing to compare then.
      if (io->LastError() == win::ERROR_ACCESS_DENIED) {
        denied += name + " ";
        continue;
      }
      // An empty card reader or a drive without a medium: lsblk shows it with size 0.
      EXPECT_EQ(expected.size, 0) << io->ErrorText(io->LastError());
      continue;
    }
    TIdentifyDeviceData data;
    std::string fatal;
    ASSERT_EQ(IdentifyDevice(*io, h, data, &fatal), 0) << fatal;
    EXPECT_EQ(data.LBA * data.SectorSize, expected.size);
    EXPECT_EQ(data.SectorSize, expected.sectorSize);

    // The model is vendor and product; lsblk's MODEL is the product alone.
    std::array<uint8_t, 512> reply{};
    win::STORAGE_PROPERTY_QUERY q{};
    q.PropertyId = win::StorageDeviceProperty;
    ASSERT_TRUE(io->DeviceControl(h, ioctl::IOCTL_STORAGE_QUERY_PROPERTY, &q, sizeof q,
                                  reply.data(), reply.size(), nullptr));
    const auto d = win::LoadLayout<win::STORAGE_DEVICE_DESCRIPTOR>(reply.data(), reply.size());
    const std::string product =
        d.ProductIdOffset ? reinterpret_cast<const char*>(&reply[d.ProductIdOffset]) : "";
    EXPECT_EQ(Normalized(product), expected.model);
    if (!expected.model.empty()) {
      EXPECT_NE(Normalized(data.Model).find(expected.model), std::string::npos) << data.Model;
    }
    // lsblk knows a serial only from udev or device/serial; where it knows one, it is ours.
    // A serial of 40 hexadecimal characters is converted by identification, as on Windows.
    if (!expected.serial.empty() && expected.serial.size() != 40) {
      EXPECT_EQ(data.SN, expected.serial);
    }
    io->Close(h);
    ++compared;
  }
  if (compared == 0) {
    GTEST_SKIP() << (denied.empty() ? "no whole disk to compare here"
                                    : "access to the disks is denied here: " + denied);
  }
  RecordProperty("disks_compared", compared);
  if (!denied.empty()) std::cout << "[   NOTE   ] access denied, not compared: " << denied << "\n";
}

}  // namespace
}  // namespace fw
