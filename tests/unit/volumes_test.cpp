#include "format/volumes.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "device/control_codes.hpp"
#include "device/win_layouts.hpp"
#include "fake_device.hpp"
#include "format_test_support.hpp"

namespace fw {
namespace {

using test::FakeDevice;
using test::FormatLogCapture;

const std::string kDisk = "/dev/sdb";

std::vector<uint8_t> DeviceNumberReply(uint32_t type, uint32_t disk, uint32_t partition) {
  std::vector<uint8_t> bytes(sizeof(win::STORAGE_DEVICE_NUMBER));
  win::StoreLayout(win::STORAGE_DEVICE_NUMBER{type, disk, partition}, bytes.data(), bytes.size());
  return bytes;
}

// Disk 1 has /media/a and /media/b; /media/c lies on disk 0; /media/d does not answer; an optical
// drive numbered 1 (/media/cd) counts as a volume of disk 1 too.
class Volumes : public ::testing::Test {
 protected:
  void SetUp() override {
    DebugMode = false;
    ReleaseDiskVolumes(io);
    io = FakeDevice{};
    io.logicalDrives = {"/media/a", "/media/c", "/media/b", "/media/d"};
    Volume("/media/a", 7, 1, 1);
    Volume("/media/c", 7, 0, 1);
    Volume("/media/b", 7, 1, 2);
    io.At("/media/d");
    io.At(kDisk);
  }
  void TearDown() override {
    ReleaseDiskVolumes(io);
    DebugMode = false;
  }
  void Volume(const std::string& path, uint32_t type, uint32_t disk, uint32_t partition) {
    io.Answer(path, ioctl::IOCTL_STORAGE_GET_DEVICE_NUMBER,
              FakeDevice::Reply{true, 0, DeviceNumberReply(type, disk, partition), std::nullopt});
    io.Answer(path, ioctl::FSCTL_LOCK_VOLUME, FakeDevice::Reply{});
    io.Answer(path, ioctl::FSCTL_DISMOUNT_VOLUME, FakeDevice::Reply{});
    io.Answer(path, ioctl::FSCTL_ALLOW_EXTENDED_DASD_IO, FakeDevice::Reply{});
  }
  std::vector<std::pair<std::string, OpenMode>> LockOpens() const {
    std::vector<std::pair<std::string, OpenMode>> out;
    for (const auto& open : io.opens) {
      if (open.second != OpenMode::VolumeQuery) out.push_back(open);
    }
    return out;
  }

  FakeDevice io;
  FormatLogCapture log;
};

TEST_F(Volumes, ListHoldsTheSystemsDrivesFromSlotZeroAndAtMost128) {
  TDriveList drives;
  drives[5] = "stale";
  ListLogicalDrives(io, drives);
  EXPECT_EQ(drives[0], "/media/a");
  EXPECT_EQ(drives[3], "/media/d");
  EXPECT_EQ(drives[4], "");
  EXPECT_EQ(drives[5], "");

  io.logicalDrives.clear();
  for (int i = 0; i < 200; ++i) io.logicalDrives.push_back("/m/" + std::to_string(i));
  ListLogicalDrives(io, drives);
  EXPECT_EQ(drives[127], "/m/127");
}

TEST_F(Volumes, DeviceNumberIsFoundOnlyWhenTheVolumeAnswers) {
  TVolumeDeviceNumber info;
  GetVolumeDeviceNumber(io, "/media/b", info);
  EXPECT_TRUE(info.Found);
  EXPECT_EQ(info.DeviceType, 7u);
  EXPECT_EQ(info.DeviceNumber, 1u);
  EXPECT_EQ(info.PartitionNumber, 2u);
  GetVolumeDeviceNumber(io, "/media/d", info);
  EXPECT_FALSE(info.Found);
  EXPECT_EQ(info.DeviceNumber, 0u);
  GetVolumeDeviceNumber(io, "/nowhere", info);
  EXPECT_FALSE(info.Found);
  EXPECT_EQ(io.OpenCount(), 0u);
  EXPECT_EQ(io.opens.front().second, OpenMode::VolumeQuery);
}

TEST_F(Volumes, LocksTheDisksVolumesInListOrderThenClaimsTheDisk) {
  ASSERT_TRUE(LockDiskVolumes(io, 1, kDisk));
  EXPECT_EQ(LockOpens(), (std::vector<std::pair<std::string, OpenMode>>{
                             {"/media/a", OpenMode::VolumeLock},
                             {"/media/b", OpenMode::VolumeLock},
                             {kDisk, OpenMode::Claim}}));
  const std::vector<Handle> kept = LockedVolumeHandles();
  ASSERT_EQ(kept.size(), 3u);
  for (Handle h : kept) EXPECT_TRUE(io.IsOpen(h));
  std::vector<uint32_t> onA;
  for (const auto& r : io.requests) {
    if (r.path == "/media/a") onA.push_back(r.code);
  }
  EXPECT_EQ(onA, (std::vector<uint32_t>{ioctl::IOCTL_STORAGE_GET_DEVICE_NUMBER,
                                        ioctl::FSCTL_LOCK_VOLUME, ioctl::FSCTL_DISMOUNT_VOLUME,
                                        ioctl::FSCTL_ALLOW_EXTENDED_DASD_IO}));
  EXPECT_TRUE(log.lines().empty());  // nothing without --debug

  ReleaseDiskVolumes(io);
  EXPECT_EQ(std::vector<Handle>(io.closes.end() - 3, io.closes.end()), kept);
  EXPECT_TRUE(LockedVolumeHandles().empty());
  EXPECT_EQ(io.OpenCount(), 0u);
}

TEST_F(Volumes, ADiskWithoutVolumesIsStillClaimed) {
  ASSERT_TRUE(LockDiskVolumes(io, 5, kDisk));
  EXPECT_EQ(LockOpens(), (std::vector<std::pair<std::string, OpenMode>>{{kDisk, OpenMode::Claim}}));
}

TEST_F(Volumes, OnlyTheDiskNumberDecidesNotTheDeviceType) {
  io.logicalDrives.push_back("/media/cd");
  Volume("/media/cd", 2, 1, 0);
  ASSERT_TRUE(LockDiskVolumes(io, 1, kDisk));
  EXPECT_EQ(LockedVolumeHandles().size(), 4u);
}

TEST_F(Volumes, DebugModeLogsEveryStepInOrder) {
  DebugMode = true;
  ASSERT_TRUE(LockDiskVolumes(io, 0, kDisk));
  const std::string searching = "正在尋找分割區...               ";
  const std::string done = "完成   ";
  const std::string getting = "正在取得裝置資料...           ";
  const auto found = [](const std::string& drive, int disk, int part) {
    return "找到分割區           " + drive + "      DeviceType: 7   DeviceNumber: " +
           std::to_string(disk) + "   分割區:       " + std::to_string(part);
  };
  EXPECT_EQ(log.messages(),
            (std::vector<std::string>{searching, done,
                                      getting, done, found("/media/a", 1, 1),
                                      getting, done, found("/media/c", 0, 1),
                                      "鎖住 \\\\.\\     /media/c",
                                      "得控制代碼!     ",
                                      "正在鎖住磁碟區...       ", done,
                                      "正在卸載磁碟區...           ", done,
                                      "正在延伸 I/O...     ", done,
                                      getting, done, found("/media/b", 1, 2),
                                      getting, done}));
}

struct LockFailure {
  const char* name;
  uint32_t refusedCode;  // 0: the lock open itself fails
  std::vector<std::string> lines;
};

class SecondVolumeFails : public Volumes, public ::testing::WithParamInterface<LockFailure> {};

TEST_P(SecondVolumeFails, ReturnsFalseKeepingTheFirstUntilRelease) {
  if (GetParam().refusedCode == 0) {
    io.At("/media/b").openErrorIn[OpenMode::VolumeLock] = win::ERROR_ACCESS_DENIED;
  } else {
    io.targets["/media/b"].replies[GetParam().refusedCode].clear();
    io.Refuse("/media/b", GetParam().refusedCode, win::ERROR_ACCESS_DENIED);
  }
  EXPECT_FALSE(LockDiskVolumes(io, 1, kDisk));
  ASSERT_EQ(LockedVolumeHandles().size(), 1u);
  const Handle first = LockedVolumeHandles().front();
  EXPECT_TRUE(io.IsOpen(first));
  EXPECT_EQ(io.OpenCount(), 1u);  // the failing volume's own handle is closed
  EXPECT_EQ(LockOpens().back().first, "/media/b");  // no claim after a failure
  EXPECT_EQ(log.lines(), GetParam().lines);
  ReleaseDiskVolumes(io);
  EXPECT_FALSE(io.IsOpen(first));
}

INSTANTIATE_TEST_SUITE_P(
    Volumes, SecondVolumeFails,
    ::testing::Values(LockFailure{"OpenFails", 0, {"無效的控制代碼       "}},
                      LockFailure{"LockRefused", ioctl::FSCTL_LOCK_VOLUME, {}},
                      LockFailure{"DismountRefused", ioctl::FSCTL_DISMOUNT_VOLUME, {}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Volumes, ExtendedAccessRefusalIsIgnored) {
  io.targets["/media/a"].replies[ioctl::FSCTL_ALLOW_EXTENDED_DASD_IO].clear();
  EXPECT_TRUE(LockDiskVolumes(io, 1, kDisk));
}

TEST_F(Volumes, AFailedClaimFailsTheLockAndKeepsTheVolumesUntilRelease) {
  io.At(kDisk).openErrorIn[OpenMode::Claim] = win::ERROR_SHARING_VIOLATION;
  EXPECT_FALSE(LockDiskVolumes(io, 1, kDisk));
  EXPECT_EQ(LockedVolumeHandles().size(), 2u);
  EXPECT_TRUE(log.lines().empty());
  ReleaseDiskVolumes(io);
  EXPECT_EQ(io.OpenCount(), 0u);
}

}  // namespace
}  // namespace fw
