// The scan over scripted drives: what enters the table, in which rows, what the debug log
// shows, and that every drive it opens is closed again.
#include "select/scan.hpp"

#include <gtest/gtest.h>

#include <numeric>
#include <string>
#include <vector>

#include "device_replies.hpp"
#include "fake_device.hpp"
#include "select/device_table.hpp"

namespace fw {
namespace {

constexpr const char* kFoundLabel = "找到磁碟:        ";

std::string Path(int n) { return "/dev/disk" + std::to_string(n); }

// A drive that is listed but does not open.
std::string Absent(int n) { return "/dev/absent" + std::to_string(n); }

// Drives 0..count-1; those listed in `identifiable` answer identification, the others do not
// open.
test::FakeDevice Drives(int count, const std::vector<int>& identifiable) {
  test::FakeDevice io;
  for (int n = 0; n < count; ++n) io.drivePaths.push_back(Absent(n));
  for (const int n : identifiable) {
    io.drivePaths[static_cast<size_t>(n)] = Path(n);
    test::DriveFacts facts;
    facts.strings.product = "DISK " + std::to_string(n);
    test::AnswerIdentification(io, Path(n), facts);
  }
  return io;
}

// Every scripted drive opens here, and each must be closed before the next is tried.
void ExpectAllClosed(const test::FakeDevice& io) {
  size_t opened = 0;
  for (const auto& [path, mode] : io.opens) opened += io.targets.count(path);
  EXPECT_EQ(io.closes.size(), opened);
  EXPECT_EQ(io.OpenCount(), 0u);
}

TEST(Scan, GapsInTheNumberingGiveConsecutiveRows) {
  test::FakeDevice io = Drives(6, {0, 2, 5});
  DeviceTable[4].DevicePath = "left over";
  const ScanResult scan = ScanPhysicalDrives(io);
  EXPECT_FALSE(scan.fatalText);
  EXPECT_EQ(scan.statusText, std::string(kFoundLabel) + "3");
  ASSERT_EQ(DeviceCount, 3);
  const uint32_t numbers[] = {0, 2, 5};
  for (int64_t row = 1; row <= 3; ++row) {
    const TDeviceTable& entry = DeviceTable[row];
    EXPECT_EQ(entry.DeviceNumber, numbers[row - 1]);
    EXPECT_EQ(entry.DevicePath, Path(static_cast<int>(numbers[row - 1])));
    EXPECT_EQ(entry.IdentifyData.Model, "ATA DISK " + std::to_string(numbers[row - 1]));
    EXPECT_FALSE(entry.IsFile);
  }
  EXPECT_EQ(DeviceTable[4], TDeviceTable{}) << "rows past DeviceCount stay empty";
  // The namespace ends after drive 5: number 6 is asked for and nothing past it.
  EXPECT_EQ(io.drivePathQueries.size(), 7u);
  ExpectAllClosed(io);
}

TEST(Scan, StopsOnceFifteenDrivesAreInTheTable) {
  std::vector<int> all(20);
  std::iota(all.begin(), all.end(), 0);
  test::FakeDevice io = Drives(20, all);
  const ScanResult scan = ScanPhysicalDrives(io);
  EXPECT_EQ(DeviceCount, 15);
  EXPECT_EQ(scan.statusText, std::string(kFoundLabel) + "15");
  EXPECT_EQ(DeviceTable[15].DeviceNumber, 14u);
  EXPECT_EQ(DeviceTable[16], TDeviceTable{});
  std::vector<int> tried(15);
  std::iota(tried.begin(), tried.end(), 0);
  EXPECT_EQ(io.drivePathQueries, tried) << "no later drive number is even tried";
  ExpectAllClosed(io);
}

TEST(Scan, ADriveThatFailsAfterAGoodOneLogsNoModelOrSerial) {
  test::FakeDevice io = Drives(2, {0});
  io.drivePaths[1] = Path(1);
  io.Refuse(Path(1), ioctl::IOCTL_DISK_GET_DRIVE_GEOMETRY, win::ERROR_NOT_READY);
  test::DebugCapture debug;
  ScanPhysicalDrives(io);
  EXPECT_EQ(DeviceCount, 1);
  std::vector<std::string> done;
  for (const std::string& line : debug.lines) {
    if (line.starts_with("完成。狀態 =        ")) done.push_back(line);
  }
  const std::string doneLabel = "完成。狀態 =        ";
  ASSERT_EQ(done.size(), 2u);
  EXPECT_TRUE(done[0].starts_with(doneLabel + "-1; ATA DISK 0  ")) << done[0];
  EXPECT_EQ(done[1], doneLabel + "0;   ");
  ExpectAllClosed(io);
}

TEST(Scan, DebugLinesOfASkippedAndAnIdentifiedDrive) {
  test::FakeDevice io = Drives(2, {1});
  test::DebugCapture debug;
  ScanPhysicalDrives(io);
  ASSERT_GE(debug.lines.size(), 6u);
  EXPECT_EQ(debug.lines[0], "正透過裝置重複...                  ");
  EXPECT_EQ(debug.lines[1], std::string("嘗試裝置          ") + Absent(0));
  EXPECT_EQ(debug.lines[2], "無效的控制代碼，略過              ");
  EXPECT_EQ(debug.lines[3], std::string("嘗試裝置          ") + Path(1));
  EXPECT_EQ(debug.lines[4], "正在識別裝置...                ");
}

TEST(Scan, DrivesRefusedForLackOfRightsAreCounted) {
  test::FakeDevice io = Drives(4, {0, 3});
  for (const int n : {1, 2}) io.targets[Absent(n)].openError = win::ERROR_ACCESS_DENIED;
  const ScanResult scan = ScanPhysicalDrives(io);
  EXPECT_EQ(DeviceCount, 2);
  EXPECT_EQ(scan.deniedCount, 2);
  test::FakeDevice missing = Drives(2, {0});
  EXPECT_EQ(ScanPhysicalDrives(missing).deniedCount, 0) << "a drive that is not there is no refusal";
}

TEST(Scan, NoDriveLeavesAnEmptyTable) {
  test::FakeDevice io;
  DeviceTable[1].DevicePath = "left over";
  const ScanResult scan = ScanPhysicalDrives(io);
  EXPECT_EQ(DeviceCount, 0);
  EXPECT_EQ(scan.statusText, std::string(kFoundLabel) + "0");
  EXPECT_EQ(DeviceTable[1], TDeviceTable{});
  EXPECT_TRUE(io.closes.empty());
}

TEST(Scan, ARefusedDevicePropertyQueryEndsTheScan) {
  test::FakeDevice io = Drives(3, {0, 2});
  io.drivePaths[1] = Path(1);
  test::DriveFacts facts;
  io.Answer(Path(1), ioctl::IOCTL_DISK_GET_DRIVE_GEOMETRY,
            test::FakeDevice::Ok(test::GeometryReply(512)));
  io.Answer(Path(1), ioctl::IOCTL_DISK_GET_LENGTH_INFO,
            test::FakeDevice::Ok(test::LengthReply(facts.length)));
  io.Answer(Path(1), ioctl::IOCTL_STORAGE_QUERY_PROPERTY,
            test::FakeDevice::Ok(test::AdapterReply(facts.maximumTransfer, facts.busType)));
  io.Refuse(Path(1), ioctl::IOCTL_STORAGE_QUERY_PROPERTY, win::ERROR_ACCESS_DENIED);
  const ScanResult scan = ScanPhysicalDrives(io);
  ASSERT_TRUE(scan.fatalText);
  EXPECT_NE(scan.fatalText->find("error 5"), std::string::npos) << *scan.fatalText;
  EXPECT_EQ(io.drivePathQueries, (std::vector<int>{0, 1})) << "drive 2 is not tried";
  EXPECT_EQ(DeviceCount, 1);
  ExpectAllClosed(io);
}

}  // namespace
}  // namespace fw
