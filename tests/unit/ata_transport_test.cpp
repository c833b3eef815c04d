#include "device/ata_transport.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>

#include "device/control_codes.hpp"
#include "device/win_layouts.hpp"
#include "fake_device.hpp"

namespace fw {
namespace {

using test::FakeDevice;

constexpr const char* kPath = "/dev/test";

// A reply whose byte i is i mod 251, so that any misplaced copy shows.
std::vector<uint8_t> Pattern(size_t size) {
  std::vector<uint8_t> bytes(size);
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(i % 251);
  return bytes;
}

Sector Marked(uint8_t value) {
  Sector s;
  s.fill(value);
  return s;
}

Sector Slice(const std::vector<uint8_t>& bytes, size_t from) {
  Sector s{};
  std::copy_n(bytes.begin() + static_cast<std::ptrdiff_t>(from), s.size(), s.begin());
  return s;
}

win::SENDCMDINPARAMS Params(const std::vector<uint8_t>& input, size_t offset = 0) {
  return win::LoadLayout<win::SENDCMDINPARAMS>(input.data(), input.size(), offset);
}

struct Drive {
  FakeDevice io;
  Handle h;
  Drive() {
    io.At(kPath);
    h = io.Open(kPath, OpenMode::Working);
  }
};

// Every command carries the selector in drive/head and, except for the SMART IDENTIFY path,
// in bDriveNumber.
TEST(AtaTransport, CommandBlocksForMasterAndSlave) {
  for (uint8_t selector : {0, 1}) {
    Drive s;
    s.io.Answer(kPath, ioctl::SMART_SEND_DRIVE_COMMAND, FakeDevice::Ok(Pattern(16)));
    s.io.Answer(kPath, ioctl::SMART_RCV_DRIVE_DATA, FakeDevice::Ok(Pattern(528)));
    s.io.Answer(kPath, ioctl::SMART_GET_VERSION, FakeDevice::Ok(Pattern(24)));
    Sector data{};
    ASSERT_TRUE(SmartEnable(s.io, s.h, selector));
    ASSERT_TRUE(SmartReadData(s.io, s.h, selector, data));
    ASSERT_TRUE(SmartDisable(s.io, s.h, selector));
    ASSERT_TRUE(ReadIdentifySector(s.io, s.h, selector, data));

    struct Expect {
      uint32_t code;
      uint32_t inSize, outCapacity, bufferSize;
      uint8_t features, cylLow, cylHigh, command, driveNumber;
    };
    const uint8_t head = selector == 0 ? 0xA0 : 0xB0;
    const Expect expected[] = {
        {ioctl::SMART_SEND_DRIVE_COMMAND, 32, 527, 0, 0xD8, 0x4F, 0xC2, 0xB0, selector},
        {ioctl::SMART_RCV_DRIVE_DATA, 32, 1039, 512, 0xD0, 0x4F, 0xC2, 0xB0, selector},
        {ioctl::SMART_SEND_DRIVE_COMMAND, 32, 527, 0, 0xD9, 0x4F, 0xC2, 0xB0, selector},
        {ioctl::SMART_GET_VERSION, 0, 28, 0, 0, 0, 0, 0, 0},
        {ioctl::SMART_RCV_DRIVE_DATA, 33, 528, 512, 0x00, 0x00, 0x00, 0xEC, 0},
    };
    ASSERT_EQ(s.io.requests.size(), std::size(expected));
    for (size_t i = 0; i < std::size(expected); ++i) {
      const auto& r = s.io.requests[i];
      const Expect& e = expected[i];
      SCOPED_TRACE(testing::Message() << "request " << i << " selector " << int(selector));
      EXPECT_EQ(r.code, e.code);
      EXPECT_EQ(r.input.size(), e.inSize);
      EXPECT_EQ(r.outCapacity, e.outCapacity);
      if (e.inSize == 0) continue;
      const auto p = Params(r.input);
      EXPECT_EQ(p.cBufferSize, e.bufferSize);
      EXPECT_EQ(p.irDriveRegs.bFeaturesReg, e.features);
      EXPECT_EQ(p.irDriveRegs.bSectorCountReg, 1);
      EXPECT_EQ(p.irDriveRegs.bSectorNumberReg, 1);
      EXPECT_EQ(p.irDriveRegs.bCylLowReg, e.cylLow);
      EXPECT_EQ(p.irDriveRegs.bCylHighReg, e.cylHigh);
      EXPECT_EQ(p.irDriveRegs.bDriveHeadReg, head);
      EXPECT_EQ(p.irDriveRegs.bCommandReg, e.command);
      EXPECT_EQ(p.irDriveRegs.bReserved, 0);
      EXPECT_EQ(p.bDriveNumber, e.driveNumber);
      for (size_t b = 13; b < r.input.size(); ++b) EXPECT_EQ(r.input[b], 0) << "byte " << b;
    }
  }
}

TEST(AtaTransport, DataIsTheLastSectorOfTheReturnedBytes) {
  struct Case {
    size_t replySize;
    std::optional<uint32_t> returned;
    bool ok;
    size_t from;
  };
  const Case cases[] = {
      {528, std::nullopt, true, 16},
      {600, std::nullopt, true, 88},
      {512, std::nullopt, true, 0},
      {1039, std::nullopt, true, 527},
      {511, std::nullopt, false, 0},
      {0, std::nullopt, false, 0},
      {528, 511u, false, 0},
      // A count larger than the buffer cannot be true: only what fits is taken.
      {1039, 5000u, true, 527},
  };
  for (const Case& c : cases) {
    Drive s;
    s.io.Answer(kPath, ioctl::SMART_RCV_DRIVE_DATA,
                FakeDevice::Ok(Pattern(c.replySize), c.returned));
    Sector data = Marked(0xEE);
    AtaRegisters regs;
    EXPECT_EQ(SmartReceiveSector(s.io, s.h, 0, regs, data), c.ok) << c.replySize;
    EXPECT_EQ(data, c.ok ? Slice(Pattern(c.replySize), c.from) : Marked(0xEE)) << c.replySize;
  }
}

TEST(AtaTransport, SmartReadDataRepeatsThroughSendWhenReceiveFallsShort) {
  Drive s;
  s.io.Answer(kPath, ioctl::SMART_RCV_DRIVE_DATA, FakeDevice::Ok(Pattern(511)));
  auto sendReply = Pattern(528);
  std::reverse(sendReply.begin(), sendReply.end());
  s.io.Answer(kPath, ioctl::SMART_SEND_DRIVE_COMMAND, FakeDevice::Ok(sendReply));
  Sector data{};
  ASSERT_TRUE(SmartReadData(s.io, s.h, 1, data));
  EXPECT_EQ(data, Slice(sendReply, 16));
  ASSERT_EQ(s.io.requests.size(), 2u);
  EXPECT_EQ(s.io.requests[1].code, ioctl::SMART_SEND_DRIVE_COMMAND);
  EXPECT_EQ(s.io.requests[1].input, s.io.requests[0].input) << "the same block, sent again";
  EXPECT_EQ(s.io.requests[1].outCapacity, 1039u);
}

TEST(AtaTransport, SmartReadDataFailsWhenBothRequestsFail) {
  Drive s;
  s.io.Refuse(kPath, ioctl::SMART_RCV_DRIVE_DATA, 1);
  s.io.Answer(kPath, ioctl::SMART_SEND_DRIVE_COMMAND, FakeDevice::Ok(Pattern(100)));
  Sector data = Marked(7);
  EXPECT_FALSE(SmartReadData(s.io, s.h, 0, data));
  EXPECT_EQ(data, Marked(7));
}

TEST(AtaTransport, SmartCommandReportsTheRequestResult) {
  Drive s;
  s.io.Refuse(kPath, ioctl::SMART_SEND_DRIVE_COMMAND, 1);
  EXPECT_FALSE(SmartEnable(s.io, s.h, 0));
  EXPECT_FALSE(SmartDisable(s.io, s.h, 0));
}

TEST(ReadIdentifySector, SmartPathTakesTheSectorAfterTheHeaderAndNeverTriesTheMiniport) {
  Drive s;
  s.io.Answer(kPath, ioctl::SMART_GET_VERSION, FakeDevice::Ok({}));
  s.io.Answer(kPath, ioctl::SMART_RCV_DRIVE_DATA, FakeDevice::Ok(Pattern(528)));
  Sector data{};
  ASSERT_TRUE(ReadIdentifySector(s.io, s.h, 1, data));
  EXPECT_EQ(data, Slice(Pattern(528), 16));
  EXPECT_EQ(s.io.CodesSent(),
            (std::vector<uint32_t>{ioctl::SMART_GET_VERSION, ioctl::SMART_RCV_DRIVE_DATA}));
}

void CheckMiniportRequest(const FakeDevice::Request& r, uint8_t selector) {
  EXPECT_EQ(r.code, ioctl::IOCTL_SCSI_MINIPORT);
  ASSERT_EQ(r.input.size(), 572u);
  EXPECT_EQ(r.outCapacity, 572u);
  const auto srb = win::LoadLayout<win::SRB_IO_CONTROL>(r.input.data(), r.input.size());
  EXPECT_EQ(srb.HeaderLength, 28u);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(srb.Signature), 8), "SCSIDISK");
  EXPECT_EQ(srb.Timeout, 120u);
  EXPECT_EQ(srb.ControlCode, 0x1B0501u);
  EXPECT_EQ(srb.ReturnCode, 0u);
  EXPECT_EQ(srb.Length, 544u);
  const auto p = Params(r.input, 28);
  EXPECT_EQ(p.cBufferSize, 512u);
  EXPECT_EQ(p.irDriveRegs.bCommandReg, 0xEC);
  EXPECT_EQ(p.irDriveRegs.bSectorCountReg, 1);
  EXPECT_EQ(p.irDriveRegs.bSectorNumberReg, 1);
  EXPECT_EQ(p.irDriveRegs.bDriveHeadReg, selector == 0 ? 0xA0 : 0xB0);
  EXPECT_EQ(p.bDriveNumber, selector);
  for (size_t b = 28 + 13; b < r.input.size(); ++b) EXPECT_EQ(r.input[b], 0) << "byte " << b;
}

TEST(ReadIdentifySector, MiniportPathWhenEitherSmartRequestFails) {
  for (bool versionFails : {true, false}) {
    for (uint8_t selector : {0, 1}) {
      Drive s;
      if (versionFails) {
        s.io.Refuse(kPath, ioctl::SMART_GET_VERSION, 1);
      } else {
        s.io.Answer(kPath, ioctl::SMART_GET_VERSION, FakeDevice::Ok({}));
        s.io.Refuse(kPath, ioctl::SMART_RCV_DRIVE_DATA, 1);
      }
      s.io.Answer(kPath, ioctl::IOCTL_SCSI_MINIPORT, FakeDevice::Ok(Pattern(572)));
      Sector data{};
      ASSERT_TRUE(ReadIdentifySector(s.io, s.h, selector, data));
      EXPECT_EQ(data, Slice(Pattern(572), 44));
      CheckMiniportRequest(s.io.requests.back(), selector);
    }
  }
}

TEST(ReadIdentifySector, ShortOrRefusedMiniportRepliesFail) {
  struct Case {
    bool ok;
    size_t size;
    bool expected;
  };
  for (const Case& c : {Case{true, 555, false}, Case{true, 0, false}, Case{false, 572, false},
                        Case{true, 556, true}}) {
    Drive s;
    s.io.Refuse(kPath, ioctl::SMART_GET_VERSION, 1);
    if (c.ok) {
      s.io.Answer(kPath, ioctl::IOCTL_SCSI_MINIPORT, FakeDevice::Ok(Pattern(c.size)));
    } else {
      s.io.Refuse(kPath, ioctl::IOCTL_SCSI_MINIPORT, 1);
    }
    Sector data = Marked(0x5A);
    EXPECT_EQ(ReadIdentifySector(s.io, s.h, 0, data), c.expected) << c.size;
    EXPECT_EQ(data, c.expected ? Slice(Pattern(556), 44) : Marked(0x5A)) << c.size;
  }
}

}  // namespace
}  // namespace fw
