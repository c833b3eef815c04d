#include "device/purge_commands.hpp"

#include <gtest/gtest.h>

#include <vector>

#include "dco_sector.hpp"

namespace fw {
namespace {

// ---- ATA command words, field by field (ACS-3 command tables) ----

struct AtaCase {
  const char* name;
  AtaCommand command;
  uint8_t opcode;
  uint16_t feature;
  uint16_t count;
  uint64_t lba;  // the key of a sanitize, the address of a max-address command
  uint8_t device;
  AtaProtocol protocol;
  bool extended;
  uint32_t timeoutSeconds;
};

void PrintTo(const AtaCase& c, std::ostream* os) { *os << c.name; }

class AtaCommandWords : public testing::TestWithParam<AtaCase> {};

TEST_P(AtaCommandWords, FieldsFollowThePublishedLayout) {
  const AtaCase& c = GetParam();
  const AtaTaskFile& r = c.command.registers;
  EXPECT_EQ(r.command, c.opcode);
  EXPECT_EQ(r.feature, c.feature);
  EXPECT_EQ(r.count, c.count);
  EXPECT_EQ(r.lba, c.lba) << std::hex << r.lba;
  EXPECT_EQ(r.device, c.device);
  EXPECT_EQ(c.command.protocol, c.protocol);
  EXPECT_EQ(c.command.extended, c.extended);
  EXPECT_EQ(c.command.timeoutSeconds, c.timeoutSeconds);
}

using P = AtaProtocol;
constexpr uint64_t kLba48Max = 0xFFFFFFFFFFFF;

INSTANTIATE_TEST_SUITE_P(
    Purge, AtaCommandWords,
    testing::Values(
        AtaCase{"BlockErase", AtaSanitize(SanitizeAction::BlockErase), 0xB4, 0x0012, 0,
                0x426B4572, 0, P::NonData, true, 60},
        AtaCase{"CryptoScramble", AtaSanitize(SanitizeAction::CryptoErase), 0xB4, 0x0011, 0,
                0x43727970, 0, P::NonData, true, 60},
        AtaCase{"OverwriteOnePass", AtaSanitize(SanitizeAction::Overwrite, 0xA5C3E1F0, 1), 0xB4,
                0x0014, 1, 0x4F57A5C3E1F0, 0, P::NonData, true, 60},
        // The passes field holds 1-15, and 0 for sixteen.
        AtaCase{"OverwriteSixteenPasses", AtaSanitize(SanitizeAction::Overwrite, 0, 16), 0xB4,
                0x0014, 0, 0x4F5700000000, 0, P::NonData, true, 60},
        AtaCase{"OverwriteNoPassesIsOne", AtaSanitize(SanitizeAction::Overwrite, 0, 0), 0xB4,
                0x0014, 1, 0x4F5700000000, 0, P::NonData, true, 60},
        AtaCase{"SanitizeStatus", AtaSanitizeStatus(), 0xB4, 0x0000, 0, 0, 0, P::NonData, true,
                15},
        AtaCase{"SanitizeStatusClearingFailure", AtaSanitizeStatus(true), 0xB4, 0x0000, 1, 0, 0,
                P::NonData, true, 15},
        AtaCase{"SecuritySetPassword", AtaSecuritySetPassword(), 0xF1, 0, 1, 0, 0, P::PioDataOut,
                false, 15},
        AtaCase{"SecurityErasePrepare", AtaSecurityErasePrepare(), 0xF3, 0, 0, 0, 0, P::NonData,
                false, 15},
        AtaCase{"SecurityEraseUnit", AtaSecurityEraseUnit(7 * 3600), 0xF4, 0, 1, 0, 0,
                P::PioDataOut, false, 7 * 3600},
        AtaCase{"SecurityDisablePassword", AtaSecurityDisablePassword(), 0xF6, 0, 1, 0, 0,
                P::PioDataOut, false, 15},
        AtaCase{"SecurityUnlock", AtaSecurityUnlock(), 0xF2, 0, 1, 0, 0, P::PioDataOut, false,
                15},
        AtaCase{"ReadNativeMaxExt", AtaReadNativeMaxExt(), 0x27, 0, 0, 0, 0x40, P::NonData, true,
                15},
        AtaCase{"SetMaxVolatile", AtaSetMaxAddressExt(0x1D1C5970AB), 0x37, 0, 0, 0x1D1C5970AB,
                0x40, P::NonData, true, 15},
        // Count bit 0 set keeps the new maximum over a power cycle (hdparm -N p).
        AtaCase{"SetMaxKept", AtaSetMaxAddressExt(1000, true), 0x37, 0, 1, 1000, 0x40,
                P::NonData, true, 15},
        // An address past 48 bits would wrap to a tiny maximum that hides the disk; it is held
        // at the largest one instead, which the drive refuses.
        AtaCase{"SetMaxBeyond48Bits", AtaSetMaxAddressExt((uint64_t{1} << 48) + 5), 0x37, 0, 0,
                kLba48Max, 0x40, P::NonData, true, 15},
        AtaCase{"GetNativeMaxAddress", AtaGetNativeMaxAddress(), 0x78, 0x0000, 0, 0, 0,
                P::NonData, true, 15},
        AtaCase{"SetAccessibleMaxAddress", AtaSetAccessibleMaxAddress(0x3A385AF), 0x78, 0x0001, 0,
                0x3A385AF, 0, P::NonData, true, 15},
        AtaCase{"SetAccessibleMaxBeyond48Bits", AtaSetAccessibleMaxAddress(~uint64_t{0}), 0x78,
                0x0001, 0, kLba48Max, 0, P::NonData, true, 15},
        AtaCase{"DcoIdentify", AtaDcoIdentify(), 0xB1, 0x00C2, 1, 0, 0, P::PioDataIn, false,
                15}),
    [](const testing::TestParamInfo<AtaCase>& info) { return info.param.name; });

// ---- NVMe admin command dwords (NVMe Base 2.0) ----

struct NvmeCase {
  const char* name;
  NvmeAdminCommand command;
  uint8_t opcode;
  uint32_t nsid;
  uint32_t cdw10;
  uint32_t cdw11;
  uint32_t dataLength;
  NvmeDataDirection direction;
  uint32_t timeoutMs;
};

void PrintTo(const NvmeCase& c, std::ostream* os) { *os << c.name; }

class NvmeCommandWords : public testing::TestWithParam<NvmeCase> {};

TEST_P(NvmeCommandWords, DwordsFollowThePublishedLayout) {
  const NvmeCase& c = GetParam();
  EXPECT_EQ(c.command.opcode, c.opcode);
  EXPECT_EQ(c.command.nsid, c.nsid);
  EXPECT_EQ(c.command.cdw10, c.cdw10) << std::hex << c.command.cdw10;
  EXPECT_EQ(c.command.cdw11, c.cdw11);
  EXPECT_EQ(c.command.cdw12 | c.command.cdw13 | c.command.cdw14 | c.command.cdw15, 0u);
  EXPECT_EQ(c.command.dataLength, c.dataLength);
  EXPECT_EQ(c.command.direction, c.direction);
  EXPECT_EQ(c.command.timeoutMs, c.timeoutMs);
}

using D = NvmeDataDirection;

INSTANTIATE_TEST_SUITE_P(
    Purge, NvmeCommandWords,
    testing::Values(
        // SANACT in bits 2:0; an overwrite also says one pass (OWPASS, bits 7:4).
        NvmeCase{"SanitizeBlock", NvmeSanitize(SanitizeAction::BlockErase), 0x84, 0, 2, 0, 0,
                 D::None, 60000},
        NvmeCase{"SanitizeCrypto", NvmeSanitize(SanitizeAction::CryptoErase), 0x84, 0, 4, 0, 0,
                 D::None, 60000},
        NvmeCase{"SanitizeOverwrite", NvmeSanitize(SanitizeAction::Overwrite, 0xDEADBEEF), 0x84,
                 0, 0x13, 0xDEADBEEF, 0, D::None, 60000},
        // SES in bits 11:9; the format index's low bits in 3:0 and its bits 5:4 in 13:12.
        NvmeCase{"FormatUserData", NvmeFormat(1, 0, false), 0x80, 1, 0x200, 0, 0, D::None,
                 600000},
        NvmeCase{"FormatCrypto", NvmeFormat(1, 2, true), 0x80, 1, 0x402, 0, 0, D::None, 600000},
        NvmeCase{"FormatHighIndex", NvmeFormat(3, 21, false), 0x80, 3, 0x1205, 0, 0, D::None,
                 600000},
        NvmeCase{"SanitizeStatusLog", NvmeSanitizeStatusLog(), 0x02, 0xFFFFFFFF, 0x007F0081, 0,
                 512, D::FromDevice, 0},
        NvmeCase{"ActiveNamespaceList", NvmeActiveNamespaceList(), 0x06, 0, 0x02, 0, 4096,
                 D::FromDevice, 0}),
    [](const testing::TestParamInfo<NvmeCase>& info) { return info.param.name; });

// ---- SANITIZE STATUS EXT and the Sanitize Status log ----

AtaReply Reply(CommandOutcome outcome, bool valid, uint16_t count, uint64_t lba) {
  AtaReply r;
  r.outcome = outcome;
  r.registersValid = valid;
  r.registers.count = count;
  r.registers.lba = lba;
  return r;
}

struct StatusCase {
  const char* name;
  AtaReply reply;
  SanitizeProgress want;
};

TEST(PurgeSanitizeStatus, AtaReturnedRegisters) {
  using S = SanitizeState;
  using O = CommandOutcome;
  const StatusCase cases[] = {
      {"in progress, half", Reply(O::Success, true, 0x4000, 0x8000), {S::InProgress, 0.5}},
      // The completed bit of an earlier sanitize stays set while a new one runs.
      {"in progress after an earlier one", Reply(O::Success, true, 0xC000, 0x4000),
       {S::InProgress, 0.25}},
      {"progress is LBA 15:0 only", Reply(O::Success, true, 0x4000, 0xFFFF0000), {S::InProgress, 0.0}},
      {"completed", Reply(O::Success, true, 0x8000, 0), {S::Completed, std::nullopt}},
      {"frozen", Reply(O::Success, true, 0x2000, 0), {S::Frozen, std::nullopt}},
      {"antifreeze alone is idle", Reply(O::Success, true, 0x1000, 0), {S::Idle, std::nullopt}},
      {"idle", Reply(O::Success, true, 0, 0), {S::Idle, std::nullopt}},
      {"error: last sanitize failed", Reply(O::DeviceError, true, 0, 0x01), {S::Failed, std::nullopt}},
      {"error: unsupported", Reply(O::DeviceError, true, 0, 0x02), {S::Unsupported, std::nullopt}},
      {"error: frozen", Reply(O::DeviceError, true, 0, 0x03), {S::Frozen, std::nullopt}},
      {"error without registers", Reply(O::DeviceError, false, 0, 0), {S::Failed, std::nullopt}},
      {"no pass-through", Reply(O::NotSupported, false, 0, 0), {S::Unsupported, std::nullopt}},
      {"success without registers", Reply(O::Success, false, 0x4000, 0), {S::Unsupported, std::nullopt}},
  };
  for (const StatusCase& c : cases) {
    const SanitizeProgress got = DecodeAtaSanitizeStatus(c.reply);
    EXPECT_EQ(got.state, c.want.state) << c.name;
    ASSERT_EQ(got.fraction.has_value(), c.want.fraction.has_value()) << c.name;
    if (got.fraction) {
      EXPECT_DOUBLE_EQ(*got.fraction, *c.want.fraction) << c.name;
    }
  }
}

std::vector<uint8_t> SanitizeLog(uint16_t sprog, uint16_t sstat, size_t size = 512) {
  std::vector<uint8_t> page(size, 0);
  page[0] = sprog & 0xFF;
  page[1] = sprog >> 8;
  page[2] = sstat & 0xFF;
  page[3] = sstat >> 8;
  return page;
}

void PutLe32(std::vector<uint8_t>& page, size_t offset, uint32_t value) {
  for (size_t i = 0; i < 4; ++i) page[offset + i] = static_cast<uint8_t>(value >> (8 * i));
}

TEST(PurgeSanitizeStatus, NvmeLogPage) {
  using S = SanitizeState;
  struct Case {
    const char* name;
    std::vector<uint8_t> page;
    SanitizeProgress want;
  };
  const Case cases[] = {
      {"in progress, a quarter", SanitizeLog(0x4000, 2), {S::InProgress, 0.25}},
      // Bits 7:3 count the overwrite passes done; bit 8 says data was erased globally.
      {"in progress, passes counted", SanitizeLog(0x8000, 0x0012), {S::InProgress, 0.5}},
      {"completed", SanitizeLog(0xFFFF, 0x0101), {S::Completed, std::nullopt}},
      {"completed without deallocation", SanitizeLog(0xFFFF, 4), {S::Completed, std::nullopt}},
      {"failed", SanitizeLog(0xFFFF, 3), {S::Failed, std::nullopt}},
      {"never sanitized", SanitizeLog(0xFFFF, 0), {S::Idle, std::nullopt}},
      {"a status this program does not know", SanitizeLog(0, 5), {S::Unsupported, std::nullopt}},
      {"a page too short", SanitizeLog(0x4000, 2, 16), {S::Unsupported, std::nullopt}},
  };
  for (const Case& c : cases) {
    const SanitizeProgress got = DecodeNvmeSanitizeLog(c.page);
    EXPECT_EQ(got.state, c.want.state) << c.name;
    ASSERT_EQ(got.fraction.has_value(), c.want.fraction.has_value()) << c.name;
    if (got.fraction) {
      EXPECT_DOUBLE_EQ(*got.fraction, *c.want.fraction) << c.name;
    }
  }
}

TEST(PurgeSanitizeStatus, NvmeEstimatesPerAction) {
  std::vector<uint8_t> page = SanitizeLog(0xFFFF, 0);
  PutLe32(page, 8, 3600);         // overwrite
  PutLe32(page, 12, 0xFFFFFFFF);  // block erase: not reported
  PutLe32(page, 16, 0);           // crypto erase: done when the command completes
  PutLe32(page, 20, 111);         // the no-deallocate times are not the ones asked for
  EXPECT_EQ(NvmeSanitizeEstimateSeconds(page, SanitizeAction::Overwrite), 3600u);
  EXPECT_EQ(NvmeSanitizeEstimateSeconds(page, SanitizeAction::BlockErase), std::nullopt);
  EXPECT_EQ(NvmeSanitizeEstimateSeconds(page, SanitizeAction::CryptoErase), 0u);
  EXPECT_EQ(NvmeSanitizeEstimateSeconds(std::span(page).first(16), SanitizeAction::Overwrite),
            std::nullopt);
}

// ---- Security: the data sector and the erase's timeout ----

TEST(PurgeSecurity, DataSector) {
  struct Case {
    const char* name;
    std::string password;
    bool enhanced;
    uint8_t word0Low;
    std::string field;  // the 32 bytes of words 1-16
  };
  const std::string full32 = "0123456789abcdefghijklmnopqrstuv";
  const Case cases[] = {
      {"user, normal", "ferrowipe", false, 0x00, std::string("ferrowipe") + std::string(23, '\0')},
      {"user, enhanced", "ferrowipe", true, 0x02, std::string("ferrowipe") + std::string(23, '\0')},
      {"thirty-two bytes", full32, false, 0x00, full32},
      {"longer is cut", full32 + "XYZ", false, 0x00, full32},
      {"empty", "", false, 0x00, std::string(32, '\0')},
  };
  for (const Case& c : cases) {
    const auto sector = SecuritySector(c.password, c.enhanced);
    EXPECT_EQ(sector[0], c.word0Low) << c.name;
    EXPECT_EQ(sector[1], 0) << c.name << ": level high, user identifier";
    EXPECT_EQ(std::string(sector.begin() + 2, sector.begin() + 34), c.field) << c.name;
    EXPECT_TRUE(std::all_of(sector.begin() + 34, sector.end(), [](uint8_t b) { return b == 0; }))
        << c.name;
  }
}

TEST(PurgeSecurity, EraseUnitTimeout) {
  struct Case {
    const char* name;
    std::optional<uint32_t> estimateMinutes;
    int64_t capacityBytes;
    uint32_t want;
  };
  const Case cases[] = {
      // 500 GB at 30 MB/s plus half an hour.
      {"no estimate", std::nullopt, 500'000'000'000, 16666 + 1800},
      {"zero estimate is none", 0u, 500'000'000'000, 16666 + 1800},
      // Twice the estimate plus an hour.
      {"estimate longer than the floor", 168u, 500'000'000'000, (168 * 2 + 60) * 60},
      {"estimate shorter than the floor", 2u, 120'000'000'000, 4000 + 1800},
      {"more than 508 minutes", 508u, 100'000'000, (508 * 2 + 60) * 60},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(SecurityEraseTimeoutSeconds(c.estimateMinutes, c.capacityBytes), c.want) << c.name;
  }
}

// ---- Hidden areas ----

TEST(PurgeHiddenArea, NativeSectorsFromReply) {
  using O = CommandOutcome;
  EXPECT_EQ(NativeSectorsFromReply(Reply(O::Success, true, 0, 0x1D1C5970)), 0x1D1C5971);
  EXPECT_EQ(NativeSectorsFromReply(Reply(O::Success, true, 0, 0xFFFF'0000'0000'0010)), 0x11)
      << "only the 48 LBA bits count";
  EXPECT_EQ(NativeSectorsFromReply(Reply(O::Success, false, 0, 0x1000)), std::nullopt);
  EXPECT_EQ(NativeSectorsFromReply(Reply(O::DeviceError, true, 0, 0x1000)), std::nullopt);
}

using test::DcoSector;

TEST(PurgeHiddenArea, DcoMaximum) {
  EXPECT_EQ(DcoMaxSectors(DcoSector(976773167)), 976773168);
  EXPECT_EQ(DcoMaxSectors(DcoSector(0xFFFFFFFFFFFF)), 0x1000000000000);
  auto badSum = DcoSector(976773167);
  badSum[100] ^= 0x01;
  EXPECT_EQ(DcoMaxSectors(badSum), std::nullopt);
  EXPECT_EQ(DcoMaxSectors(DcoSector(976773167, false)), std::nullopt);
  EXPECT_EQ(DcoMaxSectors(std::array<uint8_t, 512>{}), std::nullopt);
}

TEST(PurgeNamespaces, ActiveListCount) {
  std::vector<uint8_t> list(4096, 0);
  EXPECT_EQ(CountActiveNamespaces(list), 0u);
  PutLe32(list, 0, 1);
  EXPECT_EQ(CountActiveNamespaces(list), 1u);
  PutLe32(list, 4, 7);
  PutLe32(list, 12, 9);  // after a zero entry: the list has ended
  EXPECT_EQ(CountActiveNamespaces(list), 2u);
  for (size_t i = 0; i < 1024; ++i) PutLe32(list, 4 * i, static_cast<uint32_t>(i + 1));
  EXPECT_EQ(CountActiveNamespaces(list), 1024u);
}

}  // namespace
}  // namespace fw
