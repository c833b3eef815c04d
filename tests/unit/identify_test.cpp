#include "device/identify.hpp"

#include <gtest/gtest.h>

#include <algorithm>

#include "device_replies.hpp"

namespace fw {
namespace {

using test::AnswerIdentification;
using test::DebugCapture;
using test::DriveFacts;
using test::FakeDevice;

constexpr const char* kPath = "/dev/test";

struct Identified {
  int64_t status = 0;
  TIdentifyDeviceData data;
  std::string fatalText;
  std::vector<std::string> debug;
};

Identified Identify(FakeDevice& io) {
  DebugCapture capture;
  Identified result;
  result.data.Model = "untouched";
  const Handle h = io.Open(kPath, OpenMode::Identification);
  result.status = IdentifyDevice(io, h, result.data, &result.fatalText);
  result.debug = capture.lines;
  return result;
}

Identified Identify(const DriveFacts& facts) {
  FakeDevice io;
  AnswerIdentification(io, kPath, facts);
  return Identify(io);
}

std::vector<uint8_t> SmartVersion(uint8_t deviceMap) {
  std::vector<uint8_t> reply(24);
  reply[3] = deviceMap;
  return reply;
}

TEST(IdentifyDevice, WritesEveryStepToTheDebugLogInOrder) {
  FakeDevice io;
  DriveFacts facts;
  facts.length = 500107862016;
  facts.strings = {"ATA     ", "SAMSUNG HD501LJ ", "CR10", "0SUM1JQN110006", false};
  AnswerIdentification(io, kPath, facts);
  io.Answer(kPath, ioctl::SMART_GET_VERSION, FakeDevice::Ok(SmartVersion(0x01)));
  const Identified r = Identify(io);
  ASSERT_EQ(r.status, 0);
  const std::vector<std::string> expected = {
      "正在取得幾何...          ",
      "完成   -1",
      "磁區大小 =        512",
      "正在取得磁碟長度...           ",
      "完成   -1",
      "媒體「長度」 =         500107862016",
      "正在查詢儲存區屬性(配接器)...                     ",
      "完成   -1",
      "正在查詢儲存區屬性(裝置)...                     ",
      "完成   -1",
      "正在剖析資料...      ",
      "VendorID: ATA ",
      "ProductID: SAMSUNG HD501LJ",
      "ProductRevision: CR10",
      "SerialNumber: S0MUJ1NQ110060",
      "磁區:      976773168",
      "SectorSize: 512",
      "MaxTransfer: 250",
  };
  EXPECT_EQ(r.debug, expected);
  const TIdentifyDeviceData want{
      "ATA SAMSUNG HD501LJ", "CR10", "S0MUJ1NQ110060", 976773168, 512, 11, 250, false, 0};
  EXPECT_EQ(r.data, want);
}

TEST(IdentifyDevice, SerialPairSwapAndHexadecimalConversion) {
  struct Case {
    std::string stored;
    std::string sn;
  };
  std::string notHex = "1G" + std::string(38, '3');
  const Case cases[] = {
      {"ABCDEF", "BADCFE"},
      {"", "000000"},
      {"  \x01 ", "000000"},
      // XP's hexadecimal form: after the swap each group of four digits is two characters.
      {[] {
         std::string s;
         for (int i = 0; i < 10; ++i) s += "2414";
         return s;
       }(),
       "ABABABABABABABABABAB"},
      // Lower case is upper-cased for the test only, "_" and blanks count as 2.
      {[] {
         std::string s;
         for (int i = 0; i < 10; ++i) s += "b4c4";
         return s;
       }(),
       "LKLKLKLKLKLKLKLKLKLK"},
      {[] {
         std::string s;
         for (int i = 0; i < 10; ++i) s += "5_5 ";
         return s;
       }(),
       std::string(20, '%')},
      // One character outside the digits keeps the swapped text as it is, case and all.
      {notHex, "G1" + std::string(38, '3')},
      // A genuine serial of 40 hexadecimal digits: its decoding holds control characters.
      {"1032547698BADCFE1032547698BADCFE10325476", "0123456789ABCDEF0123456789ABCDEF01234567"},
      // One decoded character outside printable ASCII is enough ("0041": a zero and "A").
      {"241424142414241424142414241424142414" "0014",
       "424142414241424142414241424142414241" "0041"},
      {"b4c4", "4b4c"},
  };
  for (const Case& c : cases) {
    DriveFacts facts;
    facts.strings.serial = c.stored;
    const Identified r = Identify(facts);
    ASSERT_EQ(r.status, 0);
    EXPECT_EQ(r.data.SN, c.sn) << "stored " << c.stored;
  }
}

TEST(IdentifyDevice, HexadecimalConversionIsAnnouncedButNotLogged) {
  DriveFacts facts;
  for (int i = 0; i < 10; ++i) facts.strings.serial += "2414";
  const Identified r = Identify(facts);
  ASSERT_GE(r.debug.size(), 5u);
  EXPECT_EQ(r.debug.back(), "正在執行 WinXP SN 墩...              ");
  std::string swapped;
  for (int i = 0; i < 10; ++i) swapped += "4241";
  EXPECT_EQ(r.debug[r.debug.size() - 5], "SerialNumber: " + swapped);
}

TEST(IdentifyDevice, ModelFirmwareAndBlankRules) {
  struct Case {
    std::string vendor, product, revision;
    std::string model, fw;
  };
  const Case cases[] = {
      {"", "X", "1", " X", "1"},
      {"A ", " B", " 2 ", "A B", "2"},
      {"", "", "", "存放裝置          ", "0000"},
      {" \t", "  ", "  ", "存放裝置          ", "0000"},
      {"Caf\xE9", "D\xFF", "r\xB5", "Caf\xC3\xA9 D\xC3\xBF", "r\xC2\xB5"},
  };
  for (const Case& c : cases) {
    DriveFacts facts;
    facts.strings = {c.vendor, c.product, c.revision, "", false};
    const Identified r = Identify(facts);
    ASSERT_EQ(r.status, 0);
    EXPECT_EQ(r.data.Model, c.model) << c.vendor << "|" << c.product;
    EXPECT_EQ(r.data.FW, c.fw);
  }
}

TEST(IdentifyDevice, SectorSizeTransferAndSectorCount) {
  struct Case {
    uint32_t bytesPerSector;
    uint32_t maximumTransfer;
    int64_t length;
    int64_t lba, sectorSize, maxSectors;
  };
  const Case cases[] = {
      {512, 65536, 1024000, 2000, 512, 128}, {4096, 2097152, 4096 * 1000 + 100, 1000, 4096, 250},
      {512, 128000, 512, 1, 512, 250},       {512, 511, 512, 1, 512, 0},
      {0, 65536, 1 << 20, 0, 512, 128},      {256, 65536, 1 << 20, 0, 512, 128},
  };
  for (const Case& c : cases) {
    DriveFacts facts;
    facts.bytesPerSector = c.bytesPerSector;
    facts.maximumTransfer = c.maximumTransfer;
    facts.length = c.length;
    const Identified r = Identify(facts);
    ASSERT_EQ(r.status, 0);
    EXPECT_EQ(r.data.LBA, c.lba) << c.bytesPerSector;
    EXPECT_EQ(r.data.SectorSize, c.sectorSize);
    EXPECT_EQ(r.data.MaximumSectorsTransfer, c.maxSectors);
    EXPECT_NE(std::find(r.debug.begin(), r.debug.end(),
                        "SectorSize: " + std::to_string(c.bytesPerSector)),
              r.debug.end())
        << "the reported size is logged, not the raised one";
  }
}

TEST(IdentifyDevice, AdapterFailureGivesDefaultsWhateverTheCode) {
  for (uint32_t code : {0u, 1u, 50u}) {
    FakeDevice io;
    io.Answer(kPath, ioctl::IOCTL_DISK_GET_DRIVE_GEOMETRY,
              FakeDevice::Ok(test::GeometryReply(512)));
    io.Answer(kPath, ioctl::IOCTL_DISK_GET_LENGTH_INFO, FakeDevice::Ok(test::LengthReply(1 << 30)));
    io.Refuse(kPath, ioctl::IOCTL_STORAGE_QUERY_PROPERTY, code);
    io.Answer(kPath, ioctl::IOCTL_STORAGE_QUERY_PROPERTY,
              FakeDevice::Ok(test::DeviceDescriptorReply({"V", "P", "R", "", false})));
    const Identified r = Identify(io);
    ASSERT_EQ(r.status, 0) << code;
    EXPECT_EQ(r.data.BusType, 201);
    EXPECT_EQ(r.data.MaximumSectorsTransfer, 128);
    EXPECT_EQ(r.debug[7], "被跳過     0");
    EXPECT_EQ(r.data.IsIDESlave, 0);
  }
}

TEST(IdentifyDevice, FailuresWithCodeZeroCountAsSuccessWithZeroedReplies) {
  FakeDevice io;
  io.Refuse(kPath, ioctl::IOCTL_DISK_GET_DRIVE_GEOMETRY, 0);
  io.Refuse(kPath, ioctl::IOCTL_DISK_GET_LENGTH_INFO, 0);
  io.Answer(kPath, ioctl::IOCTL_STORAGE_QUERY_PROPERTY,
            FakeDevice::Ok(test::AdapterReply(65536, 7)));
  io.Refuse(kPath, ioctl::IOCTL_STORAGE_QUERY_PROPERTY, 0);
  const Identified r = Identify(io);
  ASSERT_EQ(r.status, 0);
  EXPECT_TRUE(r.fatalText.empty());
  EXPECT_EQ(r.debug[1], "完成   0");
  EXPECT_EQ(r.debug[2], "磁區大小 =        0");
  EXPECT_EQ(r.debug[4], "完成   0");
  EXPECT_EQ(r.debug[5], "媒體「長度」 =         0");
  EXPECT_EQ(r.debug[9], "完成   0");
  const TIdentifyDeviceData want{"存放裝置          ", "0000", "000000", 0, 512, 7, 128, false, 0};
  EXPECT_EQ(r.data, want);
}

TEST(IdentifyDevice, RefusedRequestsEndIdentificationAndKeepTheRecord) {
  {
    FakeDevice io;
    io.Refuse(kPath, ioctl::IOCTL_DISK_GET_DRIVE_GEOMETRY, 21);
    const Identified r = Identify(io);
    EXPECT_EQ(r.status, -1);
    EXPECT_EQ(r.data.Model, "untouched");
    EXPECT_EQ(r.debug, std::vector<std::string>{"正在取得幾何...          "});
    EXPECT_EQ(io.CodesSent().size(), 1u);
  }
  {
    FakeDevice io;
    io.Answer(kPath, ioctl::IOCTL_DISK_GET_DRIVE_GEOMETRY,
              FakeDevice::Ok(test::GeometryReply(512)));
    io.Refuse(kPath, ioctl::IOCTL_DISK_GET_LENGTH_INFO, 5);
    const Identified r = Identify(io);
    EXPECT_EQ(r.status, -1);
    EXPECT_EQ(r.data.Model, "untouched");
    EXPECT_EQ(r.debug.back(), "存取裝置發生錯誤:               error 5");
    EXPECT_TRUE(r.fatalText.empty());
  }
  {
    FakeDevice io;
    io.Answer(kPath, ioctl::IOCTL_DISK_GET_DRIVE_GEOMETRY,
              FakeDevice::Ok(test::GeometryReply(512)));
    io.Answer(kPath, ioctl::IOCTL_DISK_GET_LENGTH_INFO, FakeDevice::Ok(test::LengthReply(1 << 20)));
    io.Answer(kPath, ioctl::IOCTL_STORAGE_QUERY_PROPERTY,
              FakeDevice::Ok(test::AdapterReply(65536, 3)));
    io.Refuse(kPath, ioctl::IOCTL_STORAGE_QUERY_PROPERTY, 1117);
    const Identified r = Identify(io);
    EXPECT_EQ(r.status, -1);
    EXPECT_EQ(r.data.Model, "untouched");
    EXPECT_EQ(r.fatalText, "存取裝置發生錯誤:               error 1117");
    EXPECT_EQ(r.debug.back(), "正在查詢儲存區屬性(裝置)...                     ");
    EXPECT_EQ(io.CodesSent().back(), ioctl::IOCTL_STORAGE_QUERY_PROPERTY)
        << "nothing is asked after the fatal failure";
  }
}

TEST(IdentifyDevice, PropertyQueriesAskForTheAdapterThenTheDevice) {
  FakeDevice io;
  AnswerIdentification(io, kPath, DriveFacts{});
  Identify(io);
  std::vector<std::vector<uint8_t>> queries;
  for (const auto& request : io.requests) {
    if (request.code == ioctl::SMART_GET_VERSION) continue;  // the slave query
    if (request.code == ioctl::IOCTL_STORAGE_QUERY_PROPERTY) queries.push_back(request.input);
    EXPECT_EQ(request.outCapacity, 512u) << "each reply buffer holds 512 bytes";
  }
  const std::vector<uint8_t> adapter = {1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  const std::vector<uint8_t> device(12, 0);
  EXPECT_EQ(queries, (std::vector<std::vector<uint8_t>>{adapter, device}));
}

// Offsets and Size are the device's word: whatever they say, text ends at the reply's end.
TEST(IdentifyDevice, DescriptorTextNeverReadsPastTheReplyOrSize) {
  struct Case {
    uint32_t offset;
    uint32_t size;
    std::string vendor;
  };
  const Case cases[] = {
      {500, 0xFFFFFFFF, "MNOPQRSTUVWX"},  // runs to byte 511, the end of the reply
      {500, 502, "MNO"},                  // up to and including position Size
      {500, 499, ""},                     // Size below the offset
      {511, 600, "X"},
      {512, 0xFFFFFFFF, ""},
      {0xFFFFFFFF, 0xFFFFFFFF, ""},
      {0, 0xFFFFFFFF, ""},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> reply(600, 'A');  // longer than the 512-byte buffer it lands in
    for (size_t i = 500; i < 600; ++i) reply[i] = static_cast<uint8_t>('M' + (i - 500) % 13);
    win::STORAGE_DEVICE_DESCRIPTOR d{};
    d.Size = c.size;
    d.VendorIdOffset = c.offset;
    d.ProductIdOffset = 0;
    d.ProductRevisionOffset = 0;
    d.SerialNumberOffset = c.offset;
    win::StoreLayout(d, reply.data(), 36);
    FakeDevice io;
    DriveFacts facts;
    AnswerIdentification(io, kPath, facts);
    io.targets[kPath].replies[ioctl::IOCTL_STORAGE_QUERY_PROPERTY].back().bytes = reply;
    const Identified r = Identify(io);
    ASSERT_EQ(r.status, 0);
    const std::string model = c.vendor.empty() ? "存放裝置          " : c.vendor + " ";
    EXPECT_EQ(r.data.Model, model) << c.offset << " " << c.size;
    EXPECT_EQ(r.debug[11], "VendorID: " + c.vendor + " ");
  }
}

TEST(IdentifyDevice, SerialStopsAtTheFirstZeroByteAndAtTheReplyEnd) {
  const std::pair<std::vector<uint8_t>, std::string> cases[] = {
      {{'2', '1', '4', '3'}, "1234"},
      {{'2', '1', 0, '3'}, "12"},
  };
  for (const auto& [tail, sn] : cases) {
    std::vector<uint8_t> reply(508, 0);
    reply.insert(reply.end(), tail.begin(), tail.end());
    win::STORAGE_DEVICE_DESCRIPTOR d{};
    d.Size = 0xFFFFFFFF;
    d.SerialNumberOffset = 508;
    win::StoreLayout(d, reply.data(), 36);
    FakeDevice io;
    AnswerIdentification(io, kPath, DriveFacts{});
    io.targets[kPath].replies[ioctl::IOCTL_STORAGE_QUERY_PROPERTY].back().bytes = reply;
    EXPECT_EQ(Identify(io).data.SN, sn);
  }
}

TEST(IdentifyDevice, SlaveQueryOnlyOnAtaAndSataBuses) {
  for (uint8_t bus : {0, 1, 3, 7, 11, 17}) {
    FakeDevice io;
    DriveFacts facts;
    facts.busType = bus;
    facts.strings.removable = bus == 7;
    AnswerIdentification(io, kPath, facts);
    io.Answer(kPath, ioctl::SMART_GET_VERSION, FakeDevice::Ok(SmartVersion(0x02)));
    const Identified r = Identify(io);
    ASSERT_EQ(r.status, 0);
    const bool ata = bus == 3 || bus == 11;
    EXPECT_EQ(r.data.IsIDESlave, ata ? 1 : 0) << int(bus);
    EXPECT_EQ(r.data.BusType, bus);
    EXPECT_EQ(r.data.RemovableMedia, bus == 7);
    const auto codes = io.CodesSent();
    EXPECT_EQ(std::count(codes.begin(), codes.end(), ioctl::SMART_GET_VERSION), ata ? 1 : 0);
  }
}

TEST(QueryIDESlave, DeviceMapSlavePositions) {
  const std::pair<uint8_t, uint8_t> cases[] = {
      {0x00, 0}, {0x01, 0}, {0x02, 1}, {0x04, 0}, {0x08, 1}, {0x10, 0},
      {0x20, 1}, {0x40, 0}, {0x80, 1}, {0x55, 0}, {0xFF, 1},
  };
  for (const auto& [map, slave] : cases) {
    FakeDevice io;
    io.Answer(kPath, ioctl::SMART_GET_VERSION, FakeDevice::Ok(SmartVersion(map)));
    const Handle h = io.Open(kPath, OpenMode::Identification);
    EXPECT_EQ(QueryIDESlave(io, h), slave) << int(map);
    ASSERT_EQ(io.requests.size(), 1u);
    EXPECT_EQ(io.requests[0].outCapacity, 28u);
  }
}

TEST(QueryIDESlave, FallsBackToTheInquiryDataTargetIdentifier) {
  struct Case {
    bool inquiryOk;
    uint8_t targetId;
    uint8_t slave;
  };
  for (const Case& c : {Case{true, 1, 1}, Case{true, 3, 1}, Case{true, 2, 0}, Case{false, 1, 0}}) {
    FakeDevice io;
    io.Refuse(kPath, ioctl::SMART_GET_VERSION, 1);
    std::vector<uint8_t> inquiry(64, 0);
    inquiry[0] = 1;  // one bus
    inquiry[13] = c.targetId;
    if (c.inquiryOk) {
      io.Answer(kPath, ioctl::IOCTL_SCSI_GET_INQUIRY_DATA, FakeDevice::Ok(inquiry));
    }
    const Handle h = io.Open(kPath, OpenMode::Identification);
    EXPECT_EQ(QueryIDESlave(io, h), c.slave);
    EXPECT_EQ(io.CodesSent(), (std::vector<uint32_t>{ioctl::SMART_GET_VERSION,
                                                     ioctl::IOCTL_SCSI_GET_INQUIRY_DATA}));
  }
}

}  // namespace
}  // namespace fw
