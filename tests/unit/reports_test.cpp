// The two reports end to end over a scripted device that answers the SMART driver interface
// byte for byte: which commands are sent in which order, and every line they write.
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
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

class Reports : public test::ReportTest {
 protected:
  void SetUp() override {
    ReportTest::SetUp();
    m_table.Clear();
    io.drivePaths = {kPath};
    io.At(kPath);
    handle = io.Open(kPath, OpenMode::Working);
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

  size_t Count(uint32_t code) const {
    size_t n = 0;
    for (const auto& r : io.requests) n += r.code == code ? 1 : 0;
    return n;
  }

  test::FakeDevice io;
  Handle handle = kInvalidHandle;

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

// A drive's IDENTIFY sector as the fixture holds it, with some 16-bit words replaced.
std::vector<uint8_t> WithWords(std::vector<uint8_t> sector,
                               std::initializer_list<std::pair<size_t, uint16_t>> words) {
  for (const auto& [n, value] : words) {
    sector[2 * n] = static_cast<uint8_t>(value & 0xFF);
    sector[2 * n + 1] = static_cast<uint8_t>(value >> 8);
  }
  return sector;
}

// The security section follows word 128 bit 2 (locked), and the capacity counts logical sectors
// of the length words 106 and 117-118 give.
TEST_F(Reports, DetailsOfAnUnlockedSsdAndA4KnDrive) {
  const std::string capacity = "全部裝置容量:               ";
  struct Case {
    const char* name;
    std::vector<uint8_t> identify;
    std::vector<std::string> security;
    std::string capacity;
  };
  const Case cases[] = {
      // Word 128 0x012B: supported, password set, not locked, frozen, level maximum.
      {"Intel SSD",
       DriveSector("INTEL_SSDSA2CW120G3--4PC10302.identify"),
       {"安全性:     ", "支援安全性功能                       ",
        "裝置目前未鎖定                           ", " "},
       capacity + "120,034,123,776 bytes"},
      // 244,190,646 sectors of 2048 words: the 1 TB the caption shows.
      {"4Kn",
       WithWords(DriveSector("SAMSUNG_HD501LJ--CR100-12.identify"),
                 {{60, 0x0DB6}, {61, 0x0E8E}, {100, 0x0DB6}, {101, 0x0E8E}, {102, 0}, {103, 0},
                  {106, 0x5000}, {117, 2048}, {118, 0}}),
       {},
       capacity + "1,000,204,886,016 bytes"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    details.clear();
    io.targets[kPath].replies.clear();
    Describe(1, 0, "ATA DRIVE", "1", 244190646, kBusTypeSata);
    io.Answer(kPath, ioctl::SMART_GET_VERSION, VersionReply());
    io.Answer(kPath, ioctl::SMART_RCV_DRIVE_DATA, DataReply(c.identify));
    RunDetails();
    EXPECT_NE(std::find(details.begin(), details.end(), c.capacity), details.end());
    if (c.security.empty()) continue;
    const auto start = std::find(details.begin(), details.end(), c.security.front());
    ASSERT_LE(c.security.size(), static_cast<size_t>(details.end() - start));
    EXPECT_EQ(std::vector<std::string>(start, start + static_cast<long>(c.security.size())),
              c.security);
  }
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

TEST_F(Reports, SmartOfARealSataDriveReadsOnlyTheDataAndThresholds) {
  Describe(1, 0, "ATA SAMSUNG HD501LJ ", "CR100-12", 976773168, kBusTypeSata);
  io.Answer(kPath, ioctl::SMART_RCV_DRIVE_DATA,
            DataReply(DriveSector("SAMSUNG_HD501LJ--CR100-12.smart")));
  io.Answer(kPath, ioctl::SMART_RCV_DRIVE_DATA,
            DataReply(DriveSector("SAMSUNG_HD501LJ--CR100-12.thresholds")));
  RunSmart();
  EXPECT_EQ(test::WithoutTime(smart), test::ReadGolden("smart-samsung-hd501lj.txt"));
  std::vector<uint8_t> features;
  for (const Sent& s : AtaCommandsSent(io)) features.push_back(s.features);
  EXPECT_EQ(features, (std::vector<uint8_t>{0xD0, 0xD1}));
  EXPECT_EQ(io.CodesSent(),
            (std::vector<uint32_t>{ioctl::SMART_RCV_DRIVE_DATA, ioctl::SMART_RCV_DRIVE_DATA}));
}

// The drive's IDENTIFY sector with SMART switched on or off (word 85 bit 0).
std::vector<uint8_t> IdentifyWithSmart(const std::string& drive, bool on) {
  std::vector<uint8_t> sector = DriveSector(drive + ".identify");
  sector[2 * 85] = static_cast<uint8_t>(on ? sector[2 * 85] | 1 : sector[2 * 85] & ~1);
  return sector;
}

// SMART's on/off state outlives the report: DISABLE goes out only to a drive that IDENTIFY
// showed with SMART off, never on a guess when IDENTIFY cannot be read.
TEST_F(Reports, SmartOfAnAtaSlaveLeavesSmartAsItWas) {
  constexpr uint32_t kReceive = ioctl::SMART_RCV_DRIVE_DATA;
  constexpr uint32_t kSend = ioctl::SMART_SEND_DRIVE_COMMAND;
  struct Case {
    const char* name;
    std::optional<bool> smartOn;  // none: IDENTIFY cannot be read
    std::vector<Sent> sent;       // features, drive/head, command
  };
  const Case cases[] = {
      {"on before",
       true,
       {{kReceive, 0x00, 0xB0, 0xEC},
        {kSend, 0xD8, 0xB0, 0xB0},
        {kReceive, 0xD0, 0xB0, 0xB0},
        {kReceive, 0xD1, 0xB0, 0xB0}}},
      {"off before",
       false,
       {{kReceive, 0x00, 0xB0, 0xEC},
        {kSend, 0xD8, 0xB0, 0xB0},
        {kReceive, 0xD0, 0xB0, 0xB0},
        {kReceive, 0xD1, 0xB0, 0xB0},
        {kSend, 0xD9, 0xB0, 0xB0}}},
      {"IDENTIFY unreadable",
       std::nullopt,
       {{ioctl::IOCTL_SCSI_MINIPORT, 0x00, 0xB0, 0xEC},
        {kSend, 0xD8, 0xB0, 0xB0},
        {kReceive, 0xD0, 0xB0, 0xB0},
        {kReceive, 0xD1, 0xB0, 0xB0}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    smart.clear();
    io.requests.clear();
    io.targets[kPath].replies.clear();
    Describe(4, 2, "ATA Maxtor 96147H8", "BAC51KJ0", 120060864, kBusTypeAta, 1);
    if (c.smartOn) {
      io.Answer(kPath, ioctl::SMART_GET_VERSION, VersionReply());
      io.Answer(kPath, kReceive,
                DataReply(IdentifyWithSmart("Maxtor_96147H8--BAC51KJ0", *c.smartOn)));
    }
    io.Answer(kPath, kSend, NoDataReply());
    io.Answer(kPath, kReceive, DataReply(DriveSector("Maxtor_96147H8--BAC51KJ0.smart")));
    io.Answer(kPath, kReceive, DataReply(DriveSector("Maxtor_96147H8--BAC51KJ0.thresholds")));
    RunSmart();
    // Thirty entries, the last one at bytes 350..361.
    EXPECT_EQ(test::WithoutTime(smart), test::ReadGolden("smart-maxtor-96147h8.txt"));
    const std::vector<Sent> sent = AtaCommandsSent(io);
    ASSERT_EQ(sent.size(), c.sent.size());
    for (size_t i = 0; i < sent.size(); ++i) {
      EXPECT_EQ(sent[i].code, c.sent[i].code) << i;
      EXPECT_EQ(sent[i].features, c.sent[i].features) << i;
      EXPECT_EQ(sent[i].driveHead, c.sent[i].driveHead) << i;
      EXPECT_EQ(sent[i].command, c.sent[i].command) << i;
    }
  }
}

TEST_F(Reports, SmartNotSupported) {
  const std::string notSupported = "此裝置不支援 SMART。                         ";
  struct Case {
    int64_t busType;
    bool enableFails;
    std::vector<uint8_t> features;  // IDENTIFY (0) and SMART commands sent, in order
  };
  const Case cases[] = {
      // SMART off before. ENABLE refused: DISABLE still goes out, READ DATA does not.
      {kBusTypeAta, true, {0x00, 0xD8, 0xD9}},
      // ENABLE passes, READ DATA fails on both control codes: DISABLE closes the bracket.
      {kBusTypeAta, false, {0x00, 0xD8, 0xD0, 0xD0, 0xD9}},
      // SATA: READ DATA refused and IDENTIFY unreadable (0x00 is its miniport attempt): no
      // bracket on a guess.
      {kBusTypeSata, false, {0xD0, 0xD0, 0x00}},
      // No bracket on any other bus.
      {7, false, {0xD0, 0xD0}},
  };
  for (const Case& c : cases) {
    smart.clear();
    io.requests.clear();
    io.targets[kPath].replies.clear();
    Describe(1, 2, "ATA DISK", "1", 65535, c.busType);
    if (c.busType == kBusTypeAta) {
      io.Answer(kPath, ioctl::SMART_GET_VERSION, VersionReply());
      io.Answer(kPath, ioctl::SMART_RCV_DRIVE_DATA, DataReply(std::vector<uint8_t>(512, 0)));
      io.Refuse(kPath, ioctl::SMART_RCV_DRIVE_DATA, win::ERROR_IO_DEVICE);
    }
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

// A SATA drive refuses READ DATA while SMART is off: only when IDENTIFY shows the feature set
// present and switched off is it switched on for the read and off again afterwards.
TEST_F(Reports, SmartOfASataDriveSwitchedOffIsReadBetweenEnableAndDisable) {
  constexpr uint32_t kReceive = ioctl::SMART_RCV_DRIVE_DATA;
  constexpr uint32_t kSend = ioctl::SMART_SEND_DRIVE_COMMAND;
  const std::string drive = "SAMSUNG_HD501LJ--CR100-12";
  std::vector<uint8_t> noSmart = IdentifyWithSmart(drive, false);
  noSmart[2 * 82] = static_cast<uint8_t>(noSmart[2 * 82] & ~1);
  struct Case {
    const char* name;
    std::vector<uint8_t> identify;
    bool read;
    std::vector<Sent> sent;  // features, drive/head, command
  };
  const std::vector<Sent> refused = {
      {kReceive, 0xD0, 0xA0, 0xB0}, {kSend, 0xD0, 0xA0, 0xB0}, {kReceive, 0x00, 0xA0, 0xEC}};
  std::vector<Sent> bracket = refused;
  bracket.insert(bracket.end(),
                 {{kSend, 0xD8, 0xA0, 0xB0},
                  {kReceive, 0xD0, 0xA0, 0xB0},
                  {kReceive, 0xD1, 0xA0, 0xB0},
                  {kSend, 0xD9, 0xA0, 0xB0}});
  const Case cases[] = {
      {"supported, off", IdentifyWithSmart(drive, false), true, bracket},
      // Refused for another reason: a drive with SMART on is never switched off.
      {"supported, on", IdentifyWithSmart(drive, true), false, refused},
      {"not supported", noSmart, false, refused},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    smart.clear();
    io.requests.clear();
    io.targets[kPath].replies.clear();
    Describe(1, 0, "ATA SAMSUNG HD501LJ ", "CR100-12", 976773168, kBusTypeSata);
    io.Refuse(kPath, kReceive, win::ERROR_IO_DEVICE);
    io.Answer(kPath, kReceive, DataReply(c.identify));
    io.Answer(kPath, kReceive, DataReply(DriveSector(drive + ".smart")));
    io.Refuse(kPath, kSend, win::ERROR_IO_DEVICE);
    io.Answer(kPath, kSend, NoDataReply());
    io.Answer(kPath, ioctl::SMART_GET_VERSION, VersionReply());
    RunSmart();
    if (c.read) {
      EXPECT_EQ(test::WithoutTime(smart), test::ReadGolden("smart-samsung-hd501lj.txt"));
    } else {
      ASSERT_FALSE(smart.empty());
      EXPECT_EQ(smart.back(), "此裝置不支援 SMART。                         ");
    }
    const std::vector<Sent> sent = AtaCommandsSent(io);
    ASSERT_EQ(sent.size(), c.sent.size());
    for (size_t i = 0; i < sent.size(); ++i) {
      EXPECT_EQ(sent[i].code, c.sent[i].code) << i;
      EXPECT_EQ(sent[i].features, c.sent[i].features) << i;
      EXPECT_EQ(sent[i].driveHead, c.sent[i].driveHead) << i;
      EXPECT_EQ(sent[i].command, c.sent[i].command) << i;
    }
  }
}

TEST_F(Reports, EachSmartReportIsAppendedUnderTheLastOne) {
  Describe(1, 0, "ATA SAMSUNG HD501LJ ", "CR100-12", 976773168, kBusTypeSata);
  for (int i = 0; i < 2; ++i) {
    io.Answer(kPath, ioctl::SMART_RCV_DRIVE_DATA,
              DataReply(DriveSector("SAMSUNG_HD501LJ--CR100-12.smart")));
    io.Answer(kPath, ioctl::SMART_RCV_DRIVE_DATA,
              DataReply(DriveSector("SAMSUNG_HD501LJ--CR100-12.thresholds")));
  }
  RunSmart();
  RunSmart();
  const std::vector<std::string> once = test::ReadGolden("smart-samsung-hd501lj.txt");
  std::vector<std::string> twice = once;
  twice.insert(twice.end(), once.begin(), once.end());
  EXPECT_EQ(test::WithoutTime(smart), twice);
}

}  // namespace
}  // namespace fw
