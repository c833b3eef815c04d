// The two reports end to end over a scripted device that answers the SMART driver interface
// byte for byte: which commands are sent in which order, and every line they write.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/logs.hpp"
#include "core/user_locale.hpp"
#include "device/control_codes.hpp"
#include "fake_device.hpp"
#include "report/device_details.hpp"
#include "report/smart_report.hpp"
#include "report_lines.hpp"
#include "select/device_table.hpp"

namespace fw {
namespace {

constexpr const char* kPath = "/dev/sdz";

std::vector<uint8_t> DriveSector(const std::string& name) {
  return test::ReadFixtureBytes("drives/" + name);
}

// SENDCMDOUTPARAMS: cBufferSize, DRIVERSTATUS, then the data sector.
test::FakeDevice::Reply DataReply(const std::vector<uint8_t>& sector) {
  std::vector<uint8_t> bytes(16, 0);
  bytes[0] = 0x00;
  bytes[1] = 0x02;
  bytes.insert(bytes.end(), sector.begin(), sector.end());
  return {true, 0, bytes, std::nullopt};
}

test::FakeDevice::Reply NoDataReply() {
  return {true, 0, std::vector<uint8_t>(16, 0), std::nullopt};
}

test::FakeDevice::Reply VersionReply() {
  std::vector<uint8_t> bytes(24, 0);
  bytes[0] = 1;     // bVersion
  bytes[3] = 0x01;  // bIDEDeviceMap: primary master
  return {true, 0, bytes, std::nullopt};
}

// SENDCMDINPARAMS bytes: irDriveRegs from byte 4 (features first, drive/head at 9, command
// at 10), bDriveNumber at 12; behind the 28-byte SRB_IO_CONTROL in a miniport request.
struct Sent {
  uint32_t code;
  uint8_t features, driveHead, command;
};

std::vector<Sent> AtaCommandsSent(const test::FakeDevice& io) {
  std::vector<Sent> sent;
  for (const auto& r : io.requests) {
    const size_t at = r.code == ioctl::IOCTL_SCSI_MINIPORT ? 28 : 0;
    if (r.input.size() < at + 13) continue;
    sent.push_back({r.code, r.input[at + 4], r.input[at + 9], r.input[at + 10]});
  }
  return sent;
}

class Reports : public ::testing::Test {
 protected:
  void SetUp() override {
    SetUserLocale(UserLocale{});
    SetDetailsSink([this](const std::string& line) { details.push_back(line); });
    SetSmartSink([this](const std::string& line) { smart.push_back(line); });
    m_table.Clear();
    io.drivePaths = {kPath};
    io.At(kPath);
    handle = io.Open(kPath, OpenMode::Working);
  }
  void TearDown() override {
    SetDetailsSink(nullptr);
    SetSmartSink(nullptr);
  }

  // Row `row` of the table describes the drive behind the fake.
  void Describe(int64_t row, uint32_t number, const std::string& model, const std::string& fw,
                int64_t lba, int64_t busType, uint8_t slave = 0) {
    TDeviceTable& entry = m_table[row];
    entry.DevicePath = kPath;
    entry.DeviceNumber = number;
    entry.IdentifyData.Model = model;
    entry.IdentifyData.FW = fw;
    entry.IdentifyData.LBA = lba;
    entry.IdentifyData.SectorSize = 512;
    entry.IdentifyData.BusType = busType;
    entry.IdentifyData.IsIDESlave = slave;
    m_row = row;
  }

  void RunDetails() { ShowDeviceDetails(io, handle, m_table, m_row); }
  void RunSmart() { ShowSmartReport(io, handle, m_table, m_row); }

  std::vector<std::string> Header(const char* label, const std::string& caption) const {
    return {" ", std::string(test::kReportDateLabel) + test::kReportDatePlaceholder,
            "Ferrowipe 4.30; https://ferrowipe.example.org/", std::string(label) + caption, " "};
  }

  size_t Count(uint32_t code) const {
    size_t n = 0;
    for (const auto& r : io.requests) n += r.code == code ? 1 : 0;
    return n;
  }

  test::FakeDevice io;
  Handle handle = kInvalidHandle;
  std::vector<std::string> details, smart;

 private:
  TDeviceTableRows m_table;
  int64_t m_row = 1;
};

constexpr const char* kDetailsLabel = "裝置詳細資料-            ";
constexpr const char* kSmartLabel = "SMART 資料-      ";

TEST_F(Reports, DetailsOfARealSataDrive) {
  Describe(1, 0, "ATA SAMSUNG HD501LJ ", "CR100-12", 976773168, kBusTypeSata);
  io.Answer(kPath, ioctl::SMART_GET_VERSION, VersionReply());
  io.Answer(kPath, ioctl::SMART_RCV_DRIVE_DATA,
            DataReply(DriveSector("SAMSUNG_HD501LJ--CR100-12.identify")));
  RunDetails();
  EXPECT_EQ(test::WithoutTime(details), test::ReadGolden("details-samsung-hd501lj.txt"));
  ASSERT_EQ(AtaCommandsSent(io).size(), 1u);
  EXPECT_EQ(AtaCommandsSent(io)[0].command, 0xEC);
}

TEST_F(Reports, DetailsUnavailable) {
  const std::string internalError = "詳細資料不可用: 內部錯誤。                          ";
  const std::string forum = std::string("請將此問題張貼在 ") +
                            "https://forum.ferrowipe.example.org/" + std::string(19, ' ');
  const std::string unavailable = "此裝置的詳細資料不可用。                            ";
  struct Case {
    int64_t busType;
    size_t reads;
    std::vector<std::string> tail;
  };
  const Case cases[] = {
      {kBusTypeAta, 2, {internalError, forum}},
      {kBusTypeSata, 1, {unavailable}},
      {7, 1, {unavailable}},
      {kBusTypeAdapterUnknown, 1, {unavailable}},
  };
  for (const Case& c : cases) {
    details.clear();
    io.requests.clear();
    Describe(2, 4, "USB DISK", "1.00", 100000, c.busType);
    // Neither the SMART driver nor the miniport passes the command.
    RunDetails();
    std::vector<std::string> expected =
        Header(kDetailsLabel, "[4]  USB DISK    1.00    [51.2 MB]    (100000 512-byte sectors)");
    expected.insert(expected.end(), c.tail.begin(), c.tail.end());
    EXPECT_EQ(test::WithoutTime(details), expected) << c.busType;
    EXPECT_EQ(Count(ioctl::SMART_GET_VERSION), c.reads) << c.busType;
    EXPECT_EQ(Count(ioctl::IOCTL_SCSI_MINIPORT), c.reads) << c.busType;
  }
}

TEST_F(Reports, DetailsOfAnAtaDriveThatAnswersTheSecondRead) {
  Describe(1, 0, "ATA SAMSUNG HD501LJ ", "CR100-12", 976773168, kBusTypeAta, 1);
  io.Refuse(kPath, ioctl::SMART_GET_VERSION, win::ERROR_IO_DEVICE);
  io.Answer(kPath, ioctl::SMART_GET_VERSION, VersionReply());
  io.Answer(kPath, ioctl::SMART_RCV_DRIVE_DATA,
            DataReply(DriveSector("SAMSUNG_HD501LJ--CR100-12.identify")));
  RunDetails();
  EXPECT_EQ(test::WithoutTime(details), test::ReadGolden("details-samsung-hd501lj.txt"));
  EXPECT_EQ(Count(ioctl::SMART_GET_VERSION), 2u);
  for (const Sent& s : AtaCommandsSent(io)) EXPECT_EQ(s.driveHead, 0xB0);
}

TEST_F(Reports, SmartOfARealSataDriveReadsOnlyTheData) {
  Describe(1, 0, "ATA SAMSUNG HD501LJ ", "CR100-12", 976773168, kBusTypeSata);
  io.Answer(kPath, ioctl::SMART_RCV_DRIVE_DATA,
            DataReply(DriveSector("SAMSUNG_HD501LJ--CR100-12.smart")));
  RunSmart();
  EXPECT_EQ(test::WithoutTime(smart), test::ReadGolden("smart-samsung-hd501lj.txt"));
  EXPECT_EQ(io.CodesSent(), std::vector<uint32_t>{ioctl::SMART_RCV_DRIVE_DATA});
}

TEST_F(Reports, SmartOfAnAtaSlaveIsEnabledReadAndDisabledInThisOrder) {
  Describe(4, 2, "ATA Maxtor 96147H8", "BAC51KJ0", 120060864, kBusTypeAta, 1);
  io.Answer(kPath, ioctl::SMART_SEND_DRIVE_COMMAND, NoDataReply());
  io.Answer(kPath, ioctl::SMART_RCV_DRIVE_DATA,
            DataReply(DriveSector("Maxtor_96147H8--BAC51KJ0.smart")));
  RunSmart();
  // Thirty entries, the last one at bytes 350..361.
  EXPECT_EQ(test::WithoutTime(smart), test::ReadGolden("smart-maxtor-96147h8.txt"));
  const std::vector<Sent> sent = AtaCommandsSent(io);
  ASSERT_EQ(sent.size(), 3u);
  EXPECT_EQ(sent[0].code, ioctl::SMART_SEND_DRIVE_COMMAND);
  EXPECT_EQ(sent[0].features, 0xD8);
  EXPECT_EQ(sent[1].code, ioctl::SMART_RCV_DRIVE_DATA);
  EXPECT_EQ(sent[1].features, 0xD0);
  EXPECT_EQ(sent[2].code, ioctl::SMART_SEND_DRIVE_COMMAND);
  EXPECT_EQ(sent[2].features, 0xD9);
  for (const Sent& s : sent) {
    EXPECT_EQ(s.command, 0xB0);
    EXPECT_EQ(s.driveHead, 0xB0);
  }
}

TEST_F(Reports, SmartNotSupported) {
  const std::string notSupported = "此裝置不支援 SMART。                         ";
  struct Case {
    int64_t busType;
    bool enableFails;
    std::vector<uint8_t> features;  // SMART commands sent, in order
  };
  const Case cases[] = {
      // ENABLE refused: DISABLE still goes out, READ DATA does not.
      {kBusTypeAta, true, {0xD8, 0xD9}},
      // ENABLE passes, READ DATA fails on both control codes: DISABLE closes the bracket.
      {kBusTypeAta, false, {0xD8, 0xD0, 0xD0, 0xD9}},
      // No bracket on any other bus.
      {kBusTypeSata, false, {0xD0, 0xD0}},
      {7, false, {0xD0, 0xD0}},
  };
  for (const Case& c : cases) {
    smart.clear();
    io.requests.clear();
    io.targets[kPath].replies.clear();
    Describe(1, 2, "ATA DISK", "1", 65535, c.busType);
    if (c.enableFails) {
      io.Refuse(kPath, ioctl::SMART_SEND_DRIVE_COMMAND, win::ERROR_IO_DEVICE);
      io.Answer(kPath, ioctl::SMART_SEND_DRIVE_COMMAND, NoDataReply());
    } else if (c.busType == kBusTypeAta) {
      // ENABLE and DISABLE pass; READ DATA through SEND_DRIVE_COMMAND is refused.
      io.Answer(kPath, ioctl::SMART_SEND_DRIVE_COMMAND, NoDataReply());
      io.Refuse(kPath, ioctl::SMART_SEND_DRIVE_COMMAND, win::ERROR_IO_DEVICE);
      io.Answer(kPath, ioctl::SMART_SEND_DRIVE_COMMAND, NoDataReply());
    }
    RunSmart();
    std::vector<std::string> expected =
        Header(kSmartLabel, "[2]  ATA DISK    1    [33.55 MB]    (65535 512-byte sectors)");
    expected.push_back(notSupported);
    EXPECT_EQ(test::WithoutTime(smart), expected) << c.busType;
    std::vector<uint8_t> features;
    for (const Sent& s : AtaCommandsSent(io)) features.push_back(s.features);
    EXPECT_EQ(features, c.features) << c.busType << c.enableFails;
  }
}

TEST_F(Reports, EachSmartReportIsAppendedUnderTheLastOne) {
  Describe(1, 0, "ATA SAMSUNG HD501LJ ", "CR100-12", 976773168, kBusTypeSata);
  io.Answer(kPath, ioctl::SMART_RCV_DRIVE_DATA,
            DataReply(DriveSector("SAMSUNG_HD501LJ--CR100-12.smart")));
  RunSmart();
  RunSmart();
  const std::vector<std::string> once = test::ReadGolden("smart-samsung-hd501lj.txt");
  std::vector<std::string> twice = once;
  twice.insert(twice.end(), once.begin(), once.end());
  EXPECT_EQ(test::WithoutTime(smart), twice);
}

}  // namespace
}  // namespace fw
