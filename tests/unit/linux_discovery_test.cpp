// Discovery and descriptors of the Linux backend over a fixture tree of a machine with a SATA
// disk (two partitions), a parallel-ATA slave, a USB stick, an optical drive, a SAS disk, an
// NVMe drive, a virtio disk, loop devices, md RAID, RAM disks and device-mapper.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "device/backends.hpp"
#include "device/linux/block_devices.hpp"
#include "device/linux/mount_table.hpp"
#include "device/linux/sys_tree.hpp"
#include "device/win_layouts.hpp"
#include "temp_folder.hpp"

namespace fw::linuxio {
namespace {

const std::string kMachine = std::string(FIXTURES_DIR) + "/sysfs/machine";

TEST(LinuxDiscovery, DrivesAreTheWholeDisksByKindThenInNaturalNameOrder) {
  const SysTree sys(kMachine);
  const std::vector<std::string> expected = {"nvme0n1", "sda", "sdb",  "sdc",
                                             "sde",     "vda", "md0",  "loop0"};
  EXPECT_EQ(ListWholeDisks(sys), expected);

  // The backend numbers them in that order, once, with the node as the path.
  std::unique_ptr<DeviceIo> io = CreateLinuxDeviceIo(kMachine);
  EXPECT_EQ(io->PhysicalDrivePath(0), "/dev/nvme0n1");
  EXPECT_EQ(io->PhysicalDrivePath(1), "/dev/sda");
  EXPECT_EQ(io->PhysicalDrivePath(7), "/dev/loop0");
  EXPECT_EQ(io->PhysicalDrivePath(8), "");
  EXPECT_EQ(io->PhysicalDrivePath(-1), "");
  EXPECT_EQ(io->PhysicalDrivePath(255), "");
}

// A desktop with snaps: the machine's disks beside 20 read-only loop devices with backing files,
// two writable loop devices, an unconnected and a connected nbd device.
TEST(LinuxDiscovery, SnapLoopsAndUnconnectedNbdDevicesAreNoDrivesAndNeverCutOffARealDisk) {
  const test::TempFolder root("ferrowipe-snaps");
  namespace fs = std::filesystem;
  fs::copy(kMachine, root.Path(), fs::copy_options::recursive | fs::copy_options::copy_symlinks);
  auto addDisk = [&](const std::string& name, const std::map<std::string, std::string>& files) {
    fs::create_directories(root / ("sys/devices/virtual/block/" + name));
    fs::create_symlink("../devices/virtual/block/" + name, root / ("sys/block/" + name));
    for (const auto& [file, content] : files) {
      fs::create_directories(fs::path(root / ("sys/devices/virtual/block/" + name + "/" + file)).parent_path());
      root.Write("sys/devices/virtual/block/" + name + "/" + file, content);
    }
  };
  for (int n = 2; n < 22; ++n) {
    addDisk("loop" + std::to_string(n),
            {{"ro", "1\n"}, {"loop/backing_file", "/var/lib/snapd/snaps/core_" + std::to_string(n) + ".snap\n"}});
  }
  addDisk("loop22", {{"ro", "0\n"}, {"loop/backing_file", "/tmp/disk.img\n"}});
  addDisk("nbd0", {{"ro", "0\n"}});
  addDisk("nbd1", {{"ro", "0\n"}, {"pid", "4242\n"}});

  const std::vector<std::string> expected = {"nvme0n1", "sda", "sdb",    "sdc",   "sde",
                                             "vda",     "md0", "loop0", "loop22", "nbd1"};
  EXPECT_EQ(ListWholeDisks(SysTree(root.Path())), expected);
  std::unique_ptr<DeviceIo> io = CreateLinuxDeviceIo(root.Path());
  for (size_t n = 0; n < expected.size(); ++n) {
    EXPECT_EQ(io->PhysicalDrivePath(static_cast<int>(n)), "/dev/" + expected[n]);
  }
  EXPECT_EQ(io->PhysicalDrivePath(static_cast<int>(expected.size())), "");
}

TEST(LinuxDiscovery, NaturalOrder) {
  std::vector<std::string> names = {"sdb", "nvme10n1", "sdaa", "vda", "nvme2n1", "sda",
                                    "nvme0n1", "nvme1n2", "nvme1n10"};
  std::sort(names.begin(), names.end(), NaturalLess);
  const std::vector<std::string> expected = {"nvme0n1", "nvme1n2", "nvme1n10", "nvme2n1",
                                             "nvme10n1", "sda",   "sdaa",     "sdb", "vda"};
  EXPECT_EQ(names, expected);
}

TEST(LinuxDiscovery, FactsOfEachKindOfDisk) {
  const SysTree sys(kMachine);
  struct Expected {
    const char* disk;
    const char* transport;
    uint8_t bus;
    const char* vendor;
    const char* product;
    const char* revision;
    const char* serial;
    bool removable;
    bool slave;
    uint64_t maxTransfer;
  };
  const Expected cases[] = {
      // udev's database first: the full ATA model, its revision and serial; libata's "ATA"
      // vendor is no vendor.
      {"sda", "sata", 11, "", "Samsung SSD 860 EVO 500GB", "RVT04B6Q", "S3Z9NB0K123456A",
       false, false, 32767ull * 1024},
      // No udev data: SCSI attributes and the VPD page, blanks trimmed.
      {"sdb", "ata", 3, "", "WDC WD800JB-00JJ", "05.0", "WD-WCAM912345", false, true,
       128 * 1024},
      {"sdc", "usb", 7, "SanDisk", "Cruzer Blade", "1.00", "4C530001230101117574", true, false,
       240 * 1024},
      {"sde", "sas", 10, "SEAGATE", "ST600MM0088", "N004", "W420ABCD0000E123ABCD", false, false,
       32767ull * 1024},
      {"nvme0n1", "nvme", 17, "", "Samsung SSD 970 EVO Plus 1TB", "2B2QEXM7", "S4EWNX0N123456W",
       false, false, 128 * 1024},
      // device/vendor of virtio is a PCI number, not a vendor text.
      {"vda", "virtio", 14, "", "", "", "18366408609353746", false, false,
       2147483647ull * 1024},
      {"loop0", "", 15, "", "", "", "", false, false, 1280 * 1024},
      {"md0", "", 8, "", "", "", "", false, false, 512 * 1024},
  };
  for (const Expected& e : cases) {
    SCOPED_TRACE(e.disk);
    const DiskFacts f = ReadDiskFacts(sys, e.disk);
    EXPECT_EQ(f.transport, e.transport);
    EXPECT_EQ(f.busType, e.bus);
    EXPECT_EQ(f.strings.vendor, e.vendor);
    EXPECT_EQ(f.strings.product, e.product);
    EXPECT_EQ(f.strings.revision, e.revision);
    EXPECT_EQ(f.strings.serial, e.serial);
    EXPECT_EQ(f.removable, e.removable);
    EXPECT_EQ(f.ataSlave, e.slave);
    EXPECT_EQ(f.maxTransferBytes, e.maxTransfer);
  }
  EXPECT_EQ(ReadDiskFacts(sys, "sda").devno, (Devno{8, 0}));
}

// SCSI hosts that sysfs gives no transport name take their bus from udev; a SCSI disk's serial
// is its VPD page 0x80 before anything udev holds (for UAS: the USB serial).
TEST(LinuxDiscovery, ScsiHostsWithoutTransportNameAndUasSerials) {
  const SysTree sys(std::string(FIXTURES_DIR) + "/sysfs/scsi-hosts");
  struct Expected {
    const char* disk;
    const char* transport;
    uint8_t bus;
    const char* vendor;
    const char* product;
    const char* serial;
  };
  const Expected cases[] = {
      {"sda", "", 1, "FERRO", "VSCSI DISK", "FWSNVSCSI"},
      {"sdb", "usb", 7, "FERRO", "UAS DISK", "FWSNUAS"},
  };
  for (const Expected& e : cases) {
    SCOPED_TRACE(e.disk);
    const DiskFacts f = ReadDiskFacts(sys, e.disk);
    EXPECT_EQ(f.transport, e.transport);
    EXPECT_EQ(f.busType, e.bus);
    EXPECT_EQ(f.strings.vendor, e.vendor);
    EXPECT_EQ(f.strings.product, e.product);
    EXPECT_EQ(f.strings.serial, e.serial);
  }
}

TEST(LinuxDiscovery, DescriptorCarriesTheSerialInAtaWordOrder) {
  const SysTree sys(kMachine);
  const DiskFacts f = ReadDiskFacts(sys, "sdb");
  const std::vector<uint8_t> bytes = BuildDeviceDescriptor(f.strings, f.removable, f.busType);
  const auto d = win::LoadLayout<win::STORAGE_DEVICE_DESCRIPTOR>(bytes.data(), bytes.size());
  ASSERT_NE(d.SerialNumberOffset, 0u);
  const std::string stored(reinterpret_cast<const char*>(&bytes[d.SerialNumberOffset]));
  // The pair swap that identification applies gives back the serial, blank-padded.
  std::string swapped = stored;
  for (size_t i = 0; i + 1 < swapped.size(); i += 2) std::swap(swapped[i], swapped[i + 1]);
  EXPECT_EQ(swapped, "WD-WCAM912345 ");
}

TEST(LinuxDiscovery, DeviceNumbersLeadToTheirDisk) {
  const SysTree sys(kMachine);
  struct Case {
    Devno devno;
    const char* name;
    const char* disk;
    uint32_t partition;
  };
  const Case cases[] = {
      {{8, 0}, "sda", "sda", 0},       {{8, 2}, "sda2", "sda", 2},
      {{8, 33}, "sdc1", "sdc", 1},     {{259, 1}, "nvme0n1p1", "nvme0n1", 1},
      {{254, 0}, "vda", "vda", 0},     {{252, 0}, "dm-0", "dm-0", 0},
  };
  for (const Case& c : cases) {
    const std::optional<BlockNode> node = NodeOfDevno(sys, c.devno);
    ASSERT_TRUE(node) << c.name;
    EXPECT_EQ(node->name, c.name);
    EXPECT_EQ(node->disk, c.disk);
    EXPECT_EQ(node->partition, c.partition);
  }
  EXPECT_FALSE(NodeOfDevno(sys, {8, 99}));
  EXPECT_EQ(DevnoOfName(sys, "nvme0n1p1"), (Devno{259, 1}));
  EXPECT_FALSE(DevnoOfName(sys, "../block/sda"));
}

TEST(MountTable, FieldsOptionalTagsAndOctalEscapes) {
  const test::TempFolder folder("ferrowipe-mountinfo");
  const std::string path = folder.Path() + "/mountinfo";
  std::ofstream(path)
      << "26 1 8:2 / / rw,relatime shared:1 - ext4 /dev/sda2 rw\n"
         "29 26 8:33 / /media/user/My\\040Stick rw master:4 propagate_from:2 - vfat /dev/sdc1 rw\n"
         "30 26 0:45 /@home /home\\011tab rw - btrfs /dev/nvme0n1p1 rw\n"
         "31 26 8:1 / /back\\134slash rw - vfat /dev/odd\\040name rw\n"
         "garbage line\n"
         "33 26 x:1 / /bad-devno rw - ext4 /dev/sda1 rw\n"
         "34 26 8:1 / /end\\04 rw - ext4 /dev/sda1 rw";
  const std::vector<MountNode> entries = ReadMountTable(path);
  ASSERT_EQ(entries.size(), 5u);
  EXPECT_EQ(entries[0].target, "/");
  EXPECT_EQ(entries[0].dev, (Devno{8, 2}));
  EXPECT_EQ(entries[0].fsType, "ext4");
  EXPECT_EQ(entries[0].source, "/dev/sda2");
  EXPECT_EQ(entries[1].target, "/media/user/My Stick");
  EXPECT_EQ(entries[1].source, "/dev/sdc1");
  EXPECT_EQ(entries[1].parent, 26);
  EXPECT_EQ(entries[2].target, "/home\ttab");
  EXPECT_EQ(entries[2].root, "/@home");
  EXPECT_EQ(entries[3].target, "/back\\slash");
  EXPECT_EQ(entries[3].source, "/dev/odd name");
  EXPECT_EQ(entries[4].target, "/end\\04");  // an incomplete escape is kept as it stands
  EXPECT_TRUE(ReadMountTable(folder.Path() + "/missing").empty());
}

TEST(LinuxDiscovery, LogicalDrivesAreTheBlockDeviceMountsInMountinfoOrder) {
  std::unique_ptr<DeviceIo> io = CreateLinuxDeviceIo(kMachine);
  // proc, tmpfs and nfs are not block devices; btrfs's anonymous st_dev is matched through
  // its source; a mount stacked on the same point is listed once.
  const std::vector<std::string> expected = {"/", "/boot/efi", "/home", "/media/user/My Stick",
                                             "/mnt/bind", "/var/lib/vm"};
  EXPECT_EQ(io->LogicalDrives(), expected);
}

// What lies on each disk, from sysfs and mountinfo: partitions in number order with their
// sizes and mounts, and whether the running system lives there (/home and /var count, as they
// do for refusing the disk), also through a holder.
TEST(LinuxDiscovery, ContentsOfADiskTellItsPartitionsMountsAndTheRunningSystem) {
  const test::TempFolder root("ferrowipe-contents");
  namespace fs = std::filesystem;
  fs::copy(kMachine, root.Path(), fs::copy_options::recursive | fs::copy_options::copy_symlinks);
  // vda is stacked under dm-0 (LVM, say), which gets mounted on /usr.
  const fs::path vda = fs::canonical(root / "sys/block/vda");
  fs::create_directories(vda / "holders");
  std::ofstream(vda / "holders/dm-0").close();
  std::ofstream(root / "proc/self/mountinfo", std::ios::app)
      << "35 26 252:0 / /usr rw - ext4 /dev/mapper/vg-usr rw\n";

  std::unique_ptr<DeviceIo> io = CreateLinuxDeviceIo(root.Path());
  struct Expected {
    const char* disk;
    std::vector<std::pair<uint32_t, std::vector<std::string>>> partitions;
    bool system;
  };
  const Expected cases[] = {
      {"sda", {{1, {"/boot/efi"}}, {2, {"/"}}}, true},
      {"sdc", {{1, {"/media/user/My Stick", "/mnt/bind"}}}, false},
      {"nvme0n1", {{1, {"/home"}}}, true},
      {"vda", {}, true},
      {"sdb", {}, false},
  };
  for (const Expected& e : cases) {
    SCOPED_TRACE(e.disk);
    const DiskContents contents = io->DescribeDisk(std::string("/dev/") + e.disk);
    ASSERT_EQ(contents.partitions.size(), e.partitions.size());
    for (size_t i = 0; i < e.partitions.size(); ++i) {
      EXPECT_EQ(contents.partitions[i].number, e.partitions[i].first);
      EXPECT_EQ(contents.partitions[i].path,
                std::string("/dev/") + e.disk + (e.disk[0] == 'n' ? "p" : "") +
                    std::to_string(e.partitions[i].first));
      EXPECT_GT(contents.partitions[i].bytes, 0);
      EXPECT_EQ(contents.partitions[i].mountPoints, e.partitions[i].second);
    }
    EXPECT_EQ(contents.carriesSystem, e.system);
    EXPECT_TRUE(contents.byIdLinks.empty()) << "a fixture tree has no /dev of its own";
  }
}

TEST(LinuxDiscovery, MissingTreeGivesNoDrives) {
  std::unique_ptr<DeviceIo> io = CreateLinuxDeviceIo(kMachine + "/does-not-exist");
  EXPECT_EQ(io->PhysicalDrivePath(0), "");
  EXPECT_TRUE(io->LogicalDrives().empty());
  EXPECT_EQ(io->Open("/home", OpenMode::VolumeQuery), kInvalidHandle);
  EXPECT_EQ(io->LastError(), win::ERROR_FILE_NOT_FOUND);
}

}  // namespace
}  // namespace fw::linuxio
