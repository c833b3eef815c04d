#include "device/erase_facts.hpp"

#include <gtest/gtest.h>

#include <functional>
#include <set>

#include "device/purge_commands.hpp"
#include "fake_device.hpp"
#include "nvme_pages.hpp"
#include "report/erase_details.hpp"

namespace fw {
namespace {

// The fake device with the drive's own commands answered by a script and recorded.
class CommandDevice : public test::FakeDevice {
 public:
  std::function<AtaReply(const AtaCommand&, std::span<uint8_t>)> ata;
  std::function<NvmeReply(const NvmeAdminCommand&, std::span<uint8_t>)> nvme;
  std::vector<AtaCommand> ataSent;
  std::vector<NvmeAdminCommand> nvmeSent;

  AtaReply SendAtaCommand(Handle, const AtaCommand& c, std::span<uint8_t> data) override {
    ataSent.push_back(c);
    return ata ? ata(c, data) : AtaReply{};
  }
  NvmeReply SendNvmeAdminCommand(Handle, const NvmeAdminCommand& c,
                                 std::span<uint8_t> data) override {
    nvmeSent.push_back(c);
    return nvme ? nvme(c, data) : NvmeReply{};
  }
};

AtaReply Answer(uint64_t lba = 0, uint16_t count = 0) {
  AtaReply r;
  r.outcome = CommandOutcome::Success;
  r.registersValid = true;
  r.registers.lba = lba;
  r.registers.count = count;
  return r;
}

constexpr int64_t kSectors = 976773168;

IdentifySector Identify(uint16_t w59, uint16_t w82, uint16_t w83, uint16_t w119,
                        uint16_t w217 = 1) {
  IdentifySector s{};
  auto set = [&s](size_t n, uint16_t v) {
    s[2 * n] = static_cast<uint8_t>(v & 0xFF);
    s[2 * n + 1] = static_cast<uint8_t>(v >> 8);
  };
  set(49, 0x0200);  // LBA
  set(60, 0xFFFF);
  set(61, 0x0FFF);
  for (size_t i = 0; i < 4; ++i) set(100 + i, static_cast<uint16_t>(uint64_t{kSectors} >> (16 * i)));
  set(59, w59);
  set(82, w82);
  set(83, w83);
  set(119, w119);
  set(128, 0x0021);  // security supported, enhanced erase
  set(217, w217);
  return s;
}

std::array<uint8_t, 512> DcoSector(uint64_t maxLba) {
  std::array<uint8_t, 512> s{};
  for (size_t i = 0; i < 6; ++i) s[6 + i] = static_cast<uint8_t>(maxLba >> (8 * i));
  s[510] = 0xA5;
  uint8_t sum = 0;
  for (size_t i = 0; i < 511; ++i) sum = static_cast<uint8_t>(sum + s[i]);
  s[511] = static_cast<uint8_t>(-sum);
  return s;
}

// A drive that answers every read the way a SATA SSD with sanitize, an HPA of 1000 sectors
// and a DCO that holds back 5000 more would.
AtaReply ScriptedDrive(const AtaCommand& c, std::span<uint8_t> data) {
  switch (c.registers.command) {
    case 0xB4: return Answer(0x8000, 0x4000);  // sanitize running, half done
    case 0x27:
    case 0x78: return Answer(kSectors + 1000 - 1);
    case 0xB1: {
      const auto dco = DcoSector(kSectors + 6000 - 1);
      std::copy(dco.begin(), dco.end(), data.begin());
      return Answer();
    }
    case 0xEC: return Answer();
  }
  AtaReply refused;
  refused.outcome = CommandOutcome::DeviceError;
  return refused;
}

// Every (command, feature) that only reads: the facts must never send anything else.
bool ReadOnly(const AtaCommand& c) {
  const AtaTaskFile& r = c.registers;
  switch (r.command) {
    case 0xB4: return r.feature == 0x0000 && (r.count & 1) == 0;  // status, failure kept
    case 0x78: return r.feature == 0x0000;
    case 0xB1: return r.feature == 0x00C2;
    case 0x27:
    case 0xEC: return true;
  }
  return false;
}

struct AtaFactsCase {
  const char* name;
  IdentifySector identify;
  bool answers;  // the path carries commands
  std::vector<uint8_t> commandsSent;
  bool passThrough;
  std::optional<HiddenArea> hidden;
  bool inProgress;
};

TEST(EraseFacts, AtaDrivesAskedOnlyWhatTheyOffer) {
  const HiddenArea hpaAndDco{kSectors + 1000, kSectors, true, kSectors + 6000};
  const HiddenArea hpaOnly{kSectors + 1000, kSectors, false, 0};
  const HiddenArea nothingHidden{kSectors, kSectors, false, 0};
  const AtaFactsCase cases[] = {
      {"sanitize, HPA, DCO", Identify(0xB000, 0x0400, 0x4C00, 0x4000), true, {0xB4, 0x27, 0xB1},
       true, hpaAndDco, true},
      // Accessible Max Address replaces the HPA's native-max command.
      {"AMA", Identify(0, 0x0400, 0x4400, 0x4100), true, {0x78}, true, hpaOnly, false},
      // Nothing to ask: IDENTIFY alone tells whether commands get through.
      {"nothing to ask", Identify(0, 0, 0x4400, 0x4000), true, {0xEC}, true, nothingHidden, false},
      // An HPA on a 28-bit drive: its native max is not asked for.
      {"28-bit HPA", Identify(0, 0x0400, 0x4000, 0x4000), true, {0xEC}, true, std::nullopt,
       false},
      {"bridge that carries nothing", Identify(0xB000, 0x0400, 0x4C00, 0x4000), false,
       {0xB4, 0x27}, false, std::nullopt, false},
  };
  for (const AtaFactsCase& c : cases) {
    SCOPED_TRACE(c.name);
    CommandDevice io;
    if (c.answers) io.ata = ScriptedDrive;
    TIdentifyDeviceData device;
    device.BusType = kBusTypeSata;
    const DriveEraseFacts facts = ReadAtaEraseFacts(io, 7, device, c.identify);
    std::vector<uint8_t> sent;
    for (const AtaCommand& command : io.ataSent) {
      sent.push_back(command.registers.command);
      EXPECT_TRUE(ReadOnly(command)) << std::hex << int{command.registers.command};
    }
    EXPECT_EQ(sent, c.commandsSent);
    EXPECT_TRUE(io.nvmeSent.empty());
    EXPECT_EQ(facts.passThrough, c.passThrough);
    EXPECT_EQ(facts.hidden, c.hidden);
    EXPECT_EQ(facts.sanitizeInProgress, c.inProgress);
    EXPECT_EQ(facts.media, MediaType::Ssd);
  }
}

NvmeReply NvmeOk() {
  NvmeReply r;
  r.outcome = CommandOutcome::Success;
  return r;
}

TEST(EraseFacts, NvmeNamespacesAndSanitizeLog) {
  CommandDevice io;
  io.nvme = [](const NvmeAdminCommand& c, std::span<uint8_t> data) {
    if (c.opcode == 0x06) {  // the active list: namespaces 1 and 2
      data[0] = 1;
      data[4] = 2;
    } else if (c.opcode == 0x02) {  // sanitize log: in progress
      data[2] = 2;
    }
    return NvmeOk();
  };
  const DriveEraseFacts facts = ReadNvmeEraseFacts(io, 3, test::DemoNvmeController());
  ASSERT_EQ(io.nvmeSent.size(), 2u);
  EXPECT_EQ(io.nvmeSent[0], NvmeActiveNamespaceList());
  EXPECT_EQ(io.nvmeSent[1], NvmeSanitizeStatusLog());
  EXPECT_TRUE(facts.passThrough);
  ASSERT_TRUE(facts.nvme);
  EXPECT_EQ(facts.nvme->namespaceCount, 2u);
  EXPECT_TRUE(facts.sanitizeInProgress);
  EXPECT_TRUE(io.ataSent.empty());

  // A path without admin commands: the controller's own count stands in, nothing else is asked.
  CommandDevice silent;
  const DriveEraseFacts unknown = ReadNvmeEraseFacts(silent, 3, test::DemoNvmeController());
  EXPECT_EQ(silent.nvmeSent.size(), 1u);
  EXPECT_FALSE(unknown.passThrough);
  EXPECT_EQ(unknown.nvme->namespaceCount, 1u);
}

TEST(EraseFacts, DetailsLines) {
  CommandDevice io;
  io.ata = ScriptedDrive;
  TIdentifyDeviceData device;
  device.BusType = kBusTypeSata;
  DriveEraseFacts facts = ReadAtaEraseFacts(io, 7, device, Identify(0xB000, 0x0400, 0x4C00, 0x4000));
  facts.sanitizeInProgress = false;
  const std::vector<std::string> want = {
      " ",
      "抹除:      ",
      "支援 Sanitize 功能集",
      "支援 Sanitize 加密抹除",
      "支援 Sanitize 區塊抹除",
      "不支援 Sanitize 覆寫",
      "支援增強型安全抹除",
      "安全性功能未凍結",
      "安全抹除預估時間:      未回報",
      "增強型安全抹除預估時間:      未回報",
      "不支援 Accessible Max Address",
      "支援 DCO (裝置組態覆蓋)",
      "原生磁區數:      976,774,168",
      "可存取磁區數:      976,773,168",
      "隱藏磁區數:      1000",  // the report groups from five digits on
      "DCO 允許的磁區數:      976,779,168",
      "最強的 Purge 方法:      sanitize-crypto",
  };
  EXPECT_EQ(EraseDetailsLines(facts), want);

  const std::vector<std::string> nvme = EraseDetailsLines(
      ReadNvmeEraseFacts(io, 3, test::DemoNvmeController()));  // no admin commands answered
  const std::vector<std::string> nvmeWant = {
      " ",
      "抹除:      ",
      "抹除命令無法經由此連接傳送到磁碟",
      "使用中的命名空間:      1",
      "不支援 Format 套用至所有命名空間",
      "不支援安全抹除套用至所有命名空間",
      "最強的 Purge 方法:      無",
  };
  EXPECT_EQ(nvme, nvmeWant);
}

}  // namespace
}  // namespace fw
