#include "format/volumes.hpp"

#include "format/disk_lease.hpp"

#include <gtest/gtest.h>

#include <optional>
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
    io = FakeDevice{};
    io.logicalDrives = {"/media/a", "/media/c", "/media/b", "/media/d"};
    Volume("/media/a", 7, 1, 1);
    Volume("/media/c", 7, 0, 1);
    Volume("/media/b", 7, 1, 2);
    io.At("/media/d");
    io.At(kDisk);
  }
  void TearDown() override {
    lease.reset();
    DebugMode = false;
  }
  bool Lock(int64_t diskNumber) {
    lease.emplace(io, log.session, diskNumber, kDisk, int64_t{1} << 30);
    return lease->Take();
  }
  void Release() { lease->GiveBack(true); }
  const std::vector<Handle>& Kept() const { return lease->Handles(); }
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
  std::optional<DiskLease> lease;
  FormatLogCapture log;
};

TEST_F(Volumes, ListHoldsOnlyTheChosenDisksDrivesFromSlotZero) {
  TDriveList drives;
  drives[5] = "stale";
  ListLogicalDrives(io, log.session, drives, 1);
  EXPECT_EQ(drives[0], "/media/a");
  EXPECT_EQ(drives[1], "/media/b");
  EXPECT_EQ(drives[2], "");
  EXPECT_EQ(drives[5], "");

  // Another disk's 200 volumes, listed first, never crowd out the chosen disk's.
  std::vector<std::string> many;
  for (int i = 0; i < 200; ++i) {
    many.push_back("/m/" + std::to_string(i));
    Volume(many.back(), 7, 0, 1);
  }
  io.logicalDrives.insert(io.logicalDrives.begin(), many.begin(), many.end());
  ListLogicalDrives(io, log.session, drives, 1);
  EXPECT_EQ(drives[0], "/media/a");
  EXPECT_EQ(drives[1], "/media/b");
  ListLogicalDrives(io, log.session, drives, 0);
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
  ASSERT_TRUE(Lock(1));
  EXPECT_EQ(LockOpens(), (std::vector<std::pair<std::string, OpenMode>>{
                             {"/media/a", OpenMode::VolumeLock},
                             {"/media/b", OpenMode::VolumeLock},
                             {kDisk, OpenMode::Claim}}));
  const std::vector<Handle> kept = Kept();
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

  Release();
  EXPECT_EQ(std::vector<Handle>(io.closes.end() - 3, io.closes.end()), kept);
  EXPECT_TRUE(Kept().empty());
  EXPECT_EQ(io.OpenCount(), 0u);
}

TEST_F(Volumes, ADiskWithoutVolumesIsStillClaimed) {
  ASSERT_TRUE(Lock(5));
  EXPECT_EQ(LockOpens(), (std::vector<std::pair<std::string, OpenMode>>{{kDisk, OpenMode::Claim}}));
}

TEST_F(Volumes, OnlyTheDiskNumberDecidesNotTheDeviceType) {
  io.logicalDrives.push_back("/media/cd");
  Volume("/media/cd", 2, 1, 0);
  ASSERT_TRUE(Lock(1));
  EXPECT_EQ(Kept().size(), 4u);
}

TEST_F(Volumes, DebugModeLogsEveryStepInOrder) {
  DebugMode = true;
  log.session.SetDebug(true);
  ASSERT_TRUE(Lock(0));
  const std::string searching = "正在尋找分割區...               ";
  const std::string done = "完成   ";
  const std::string getting = "正在取得裝置資料...           ";
  const auto found = [](const std::string& drive, int disk, int part) {
    return "找到分割區           " + drive + "      DeviceType: 7   DeviceNumber: " +
           std::to_string(disk) + "   分割區:       " + std::to_string(part);
  };
  // Every volume is asked first; only then is the chosen disk's volume touched.
  EXPECT_EQ(log.messages(),
            (std::vector<std::string>{searching,
                                      getting, done, found("/media/a", 1, 1),
                                      getting, done, found("/media/c", 0, 1),
                                      getting, done, found("/media/b", 1, 2),
                                      getting, done,
                                      done,
                                      "鎖住 \\\\.\\     /media/c",
                                      "得控制代碼!     ",
                                      "正在鎖住磁碟區...       ", done,
                                      "正在卸載磁碟區...           ", done,
                                      "正在延伸 I/O...     ", done}));
}

struct LockFailure {
  const char* name;
  uint32_t refusedCode;  // 0: the lock open itself fails
  std::vector<std::string> lines;
};

class SecondVolumeFails : public Volumes, public ::testing::WithParamInterface<LockFailure> {};

TEST_P(SecondVolumeFails, ReturnsFalseAndPutsEverythingBackAtOnce) {
  if (GetParam().refusedCode == 0) {
    io.At("/media/b").openErrorIn[OpenMode::VolumeLock] = win::ERROR_ACCESS_DENIED;
  } else {
    io.targets["/media/b"].replies[GetParam().refusedCode].clear();
    io.Refuse("/media/b", GetParam().refusedCode, win::ERROR_ACCESS_DENIED);
  }
  EXPECT_FALSE(Lock(1));
  // The first volume's handle is closed with the failing one's, then the backend restores.
  EXPECT_TRUE(Kept().empty());
  EXPECT_EQ(io.OpenCount(), 0u);
  EXPECT_EQ(LockOpens().back().first, "/media/b");  // no claim after a failure
  EXPECT_EQ(io.takeoverCalls, (std::vector<std::string>{"begin " + kDisk, "plan", "restore"}));
  EXPECT_EQ(log.lines(), GetParam().lines);
  Release();
  EXPECT_EQ(io.takeoverCalls.size(), 3u) << "a lease is given back once";
}

INSTANTIATE_TEST_SUITE_P(
    Volumes, SecondVolumeFails,
    ::testing::Values(LockFailure{"OpenFails", 0, {"無效的控制代碼       "}},
                      LockFailure{"LockRefused", ioctl::FSCTL_LOCK_VOLUME, {}},
                      LockFailure{"DismountRefused", ioctl::FSCTL_DISMOUNT_VOLUME, {}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Volumes, ExtendedAccessRefusalIsIgnored) {
  io.targets["/media/a"].replies[ioctl::FSCTL_ALLOW_EXTENDED_DASD_IO].clear();
  EXPECT_TRUE(Lock(1));
}

TEST_F(Volumes, AFailedClaimFailsTheLockAndPutsTheVolumesBack) {
  io.At(kDisk).openErrorIn[OpenMode::Claim] = win::ERROR_SHARING_VIOLATION;
  EXPECT_FALSE(Lock(1));
  EXPECT_TRUE(Kept().empty());
  EXPECT_EQ(io.OpenCount(), 0u);
  EXPECT_TRUE(log.lines().empty());
  EXPECT_EQ(io.takeoverCalls.back(), "restore");
}

// Refusals that need no step: the plan's, before any volume is opened, and a disk whose
// claimed size is not the scanned one, after the claim. Both put everything back.
struct EarlyRefusal {
  const char* name;
  RefusalCause planned;
  std::optional<int64_t> claimedSize;
  std::vector<std::pair<std::string, OpenMode>> opens;
  std::string line;
};

class EarlyRefusals : public Volumes, public ::testing::WithParamInterface<EarlyRefusal> {};

TEST_P(EarlyRefusals, TouchNothingOrPutItBack) {
  io.planned = GetParam().planned;
  io.claimedSize = GetParam().claimedSize;
  EXPECT_FALSE(Lock(1));
  EXPECT_EQ(LockOpens(), GetParam().opens);
  EXPECT_EQ(io.OpenCount(), 0u);
  EXPECT_EQ(io.takeoverCalls.back(), "restore");
  EXPECT_EQ(lease->RefusalLine(), GetParam().line);
}

INSTANTIATE_TEST_SUITE_P(
    Volumes, EarlyRefusals,
    ::testing::Values(
        EarlyRefusal{"Planned", RefusalCause{RefusalKind::Swap, "/dev/sdb2", 0, "", {}},
                     std::nullopt, {}, "此裝置上有使用中的置換空間: /dev/sdb2"},
        EarlyRefusal{"Grown", RefusalCause{}, (int64_t{1} << 30) + 512,
                     {{"/media/a", OpenMode::VolumeLock}, {"/media/b", OpenMode::VolumeLock},
                      {kDisk, OpenMode::Claim}},
                     "掃描後裝置容量已改變，不能格式化: 1,073,741,824 -> 1,073,742,336 位元組"},
        EarlyRefusal{"Shrunk", RefusalCause{}, int64_t{1} << 20,
                     {{"/media/a", OpenMode::VolumeLock}, {"/media/b", OpenMode::VolumeLock},
                      {kDisk, OpenMode::Claim}},
                     "掃描後裝置容量已改變，不能格式化: 1,073,741,824 -> 1,048,576 位元組"}),
    [](const auto& info) { return std::string(info.param.name); });

// Destroyed without an ending (an exception through the attempt), a taken lease is released,
// never remounted over a disk the run may have written.
TEST_F(Volumes, ALeaseLeftWithoutAnEndingIsReleased) {
  ASSERT_TRUE(Lock(1));
  lease.reset();
  EXPECT_EQ(io.OpenCount(), 0u);
  EXPECT_EQ(io.takeoverCalls.back(), "release");
}

// The backend's cause for a refusal becomes one line for after the lock-failure line; what it
// mounted again is said at once; a cause is never carried into the next attempt.
TEST_F(Volumes, ARefusalCauseBecomesOneLineAndRemountsAreSaidAtOnce) {
  io.Refuse("/media/b", ioctl::FSCTL_LOCK_VOLUME, win::ERROR_SHARING_VIOLATION);
  io.targets["/media/b"].replies[ioctl::FSCTL_LOCK_VOLUME].pop_front();
  io.refusal = RefusalCause{RefusalKind::Busy, "/media/b", 4321, "bash", {"/media/a"}};
  EXPECT_FALSE(Lock(1));
  EXPECT_EQ(log.messages(),
            std::vector<std::string>{"已將本次卸載的磁碟區重新掛載: /media/a"});
  EXPECT_EQ(lease->RefusalLine(),
            "磁碟區正在使用中，無法卸載: /media/b   使用中的處理程序: 4321 (bash)");
  Release();
  EXPECT_TRUE(Lock(0));
  EXPECT_EQ(lease->RefusalLine(), "");
}

struct CauseCase {
  RefusalKind kind;
  std::string line;
};

class CauseLines : public Volumes, public ::testing::WithParamInterface<CauseCase> {};

TEST_P(CauseLines, NameWhatStoodInTheWay) {
  io.At(kDisk).openErrorIn[OpenMode::Claim] = win::ERROR_SHARING_VIOLATION;
  io.refusal = RefusalCause{GetParam().kind, "X", 0, "", {}};
  EXPECT_FALSE(Lock(5));
  EXPECT_EQ(lease->RefusalLine(), GetParam().line);
}

INSTANTIATE_TEST_SUITE_P(
    Volumes, CauseLines,
    ::testing::Values(CauseCase{RefusalKind::None, ""},
                      CauseCase{RefusalKind::RunningSystem, "此裝置上有執行中的系統，不能格式化: X"},
                      CauseCase{RefusalKind::Swap, "此裝置上有使用中的置換空間: X"},
                      CauseCase{RefusalKind::Holder, "此裝置正由其他裝置使用中: X"},
                      CauseCase{RefusalKind::ForeignMount, "磁碟區上另有其他檔案系統掛載: X"},
                      CauseCase{RefusalKind::ClaimedElsewhere, "此裝置正由其他程式獨佔使用: X"},
                      CauseCase{RefusalKind::SizeChanged, "掃描後裝置容量已改變，不能格式化: X"}));

TEST_F(Volumes, AReleaseThatLeavesThePartitionsStaleSaysSoInOneLine) {
  ASSERT_TRUE(Lock(1));
  io.refusal = RefusalCause{RefusalKind::PartitionsKept, "/dev/sdb1", 99, "sleep", {}};
  Release();
  EXPECT_EQ(log.messages(), std::vector<std::string>{
                                "無法重新讀取分割表，系統仍在使用舊的分割區: /dev/sdb1   "
                                "使用中的處理程序: 99 (sleep)"});
}

TEST_F(Volumes, AReleaseWhoseRereadFailedOtherwiseNamesTheError) {
  ASSERT_TRUE(Lock(1));
  io.refusal = RefusalCause{RefusalKind::RereadFailed, "/dev/loop3 (Invalid argument)", 0, "", {}};
  Release();
  EXPECT_EQ(log.messages(),
            std::vector<std::string>{"無法重新讀取分割表: /dev/loop3 (Invalid argument)"});
}

}  // namespace
}  // namespace fw
