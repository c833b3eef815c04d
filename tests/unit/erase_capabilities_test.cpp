#include "device/erase_capabilities.hpp"

#include <gtest/gtest.h>

#include <fstream>
#include <string>

namespace fw {
namespace {

IdentifySector LoadIdentify(const std::string& name) {
  std::ifstream in(std::string(FIXTURES_DIR) + "/drives/" + name + ".identify", std::ios::binary);
  IdentifySector s{};
  in.read(reinterpret_cast<char*>(s.data()), s.size());
  EXPECT_EQ(in.gcount(), 512) << name;
  return s;
}

void SetWord(IdentifySector& s, size_t n, uint16_t value) {
  s[2 * n] = static_cast<uint8_t>(value & 0xFF);
  s[2 * n + 1] = static_cast<uint8_t>(value >> 8);
}

// ---- What real drives' IDENTIFY sectors say ----

struct DriveCase {
  const char* file;
  // word 128
  bool securitySupported, enabled, locked, frozen, enhanced, levelMaximum;
  std::optional<uint32_t> normalMinutes, enhancedMinutes;
  bool hpa, dco, ama, lba48, nonRotating, rotating;
  int64_t sectors;
};

TEST(EraseCapabilitiesDecode, RealDrives) {
  const std::nullopt_t none = std::nullopt;
  const DriveCase cases[] = {
      // Security enabled and frozen at maximum level, enhanced erase; an SSD by word 217.
      {"INTEL_SSDSA2CW120G3--4PC10302", true, true, false, true, true, true, 2u, 2u, true, true,
       false, true, true, false, 234441648},
      // A frozen SSD with the enhanced erase.
      {"SAMSUNG_MMCQE28G8MUP--0VA_VAM08L1Q", true, false, false, true, true, false, 6u, 6u, true,
       true, false, true, true, false, 250069680},
      // Word 119 = 0020h lacks its validity bits: no Accessible Max Address from it.
      {"TOSHIBA_MK1651GSY--38IGT0G5T", true, false, false, true, false, false, 68u, none, true,
       true, false, true, false, false, 312581808},
      // An SSD of its time that does not report its rotation; 28-bit only.
      {"MCCOE64GEMPP--2.9.09", true, false, false, false, false, false, 2u, none, true, true,
       false, false, false, false, 117231408},
      {"SAMSUNG_HD501LJ--CR100-12", true, false, false, false, true, false, 168u, 168u, true,
       true, false, true, false, false, 976773168},
      // No time reported (word 89 = 0); a DCO without 48-bit addressing.
      {"ST320410A--3.39", true, false, false, false, false, false, none, none, true, true, false,
       false, false, false, 39100223},
      // No security feature set at all.
      {"Maxtor_96147H8--BAC51KJ0", false, false, false, false, false, false, none, none, true,
       false, false, false, false, false, 120060864},
  };
  for (const DriveCase& c : cases) {
    const AtaEraseFeatures f = DecodeAtaEraseFeatures(LoadIdentify(c.file));
    SCOPED_TRACE(c.file);
    EXPECT_FALSE(f.sanitize);  // none of these drives has the sanitize feature set
    EXPECT_EQ(f.security.supported, c.securitySupported);
    EXPECT_EQ(f.security.enabled, c.enabled);
    EXPECT_EQ(f.security.locked, c.locked);
    EXPECT_EQ(f.security.frozen, c.frozen);
    EXPECT_EQ(f.security.enhancedSupported, c.enhanced);
    EXPECT_EQ(f.security.levelMaximum, c.levelMaximum);
    EXPECT_EQ(f.security.normalEraseMinutes, c.normalMinutes);
    EXPECT_EQ(f.security.enhancedEraseMinutes, c.enhancedMinutes);
    EXPECT_EQ(f.hpaSupported, c.hpa);
    EXPECT_EQ(f.dcoSupported, c.dco);
    EXPECT_EQ(f.amaSupported, c.ama);
    EXPECT_EQ(f.lba48, c.lba48);
    EXPECT_EQ(f.nonRotating, c.nonRotating);
    EXPECT_EQ(f.rotating, c.rotating);
    EXPECT_EQ(f.accessibleSectors, c.sectors);
  }
}

TEST(EraseCapabilitiesDecode, SanitizeWordAndValidity) {
  struct Case {
    uint16_t w59, w83, w119;
    bool sanitize, crypto, overwrite, block, antifreeze, dco, ama;
  };
  const Case cases[] = {
      {0xF400, 0x4800, 0x4100, true, true, true, true, true, true, true},
      {0x9000, 0x4800, 0x4000, true, false, false, true, false, true, false},
      // Mode bits without the feature set bit (12) offer nothing.
      {0xE400, 0x4800, 0x4100, false, false, false, false, false, true, true},
      // Words 83 and 119 that fail their 15:14 = 01 check are not read.
      {0x3000, 0xFFFF, 0xFFFF, true, true, false, false, false, false, false},
      {0x3000, 0x0800, 0x0100, true, true, false, false, false, false, false},
  };
  for (const Case& c : cases) {
    IdentifySector s{};
    SetWord(s, 59, c.w59);
    SetWord(s, 83, c.w83);
    SetWord(s, 119, c.w119);
    const AtaEraseFeatures f = DecodeAtaEraseFeatures(s);
    SCOPED_TRACE(testing::Message() << std::hex << c.w59 << " " << c.w83 << " " << c.w119);
    EXPECT_EQ(f.sanitize, c.sanitize);
    EXPECT_EQ(f.sanitizeCrypto, c.crypto);
    EXPECT_EQ(f.sanitizeOverwrite, c.overwrite);
    EXPECT_EQ(f.sanitizeBlock, c.block);
    EXPECT_EQ(f.sanitizeAntifreeze, c.antifreeze);
    EXPECT_EQ(f.dcoSupported, c.dco);
    EXPECT_EQ(f.amaSupported, c.ama);
  }
}

TEST(EraseCapabilitiesDecode, EraseTimeWords) {
  const std::pair<uint16_t, std::optional<uint32_t>> cases[] = {
      {0x0000, std::nullopt}, {0x0001, 2u},           {0x0054, 168u}, {0x00FF, 508u},
      {0x3254, 168u} /* bits 14:8 are not part of the short form */,
      {0x8000, std::nullopt}, {0x8003, 6u},           {0x8100, 512u}, {0xFFFF, 65532u},
  };
  for (const auto& [word, minutes] : cases) {
    EXPECT_EQ(EraseTimeMinutes(word), minutes) << std::hex << word;
  }
}

TEST(EraseCapabilitiesDecode, NvmeController) {
  std::ifstream in(std::string(FIXTURES_DIR) +
                       "/drives/EXAMPLE_NVMe_SSD_1TB--1.2.3.nvme_identify_controller",
                   std::ios::binary);
  nvme::IdentifyPage page{};
  in.read(reinterpret_cast<char*>(page.data()), page.size());
  ASSERT_EQ(in.gcount(), 4096);
  // OACS 0016h, FNA 04h, SANICAP 3.
  NvmeEraseFeatures want;
  want.formatNvm = true;
  want.cryptoFormat = true;
  want.sanitizeCrypto = true;
  want.sanitizeBlock = true;
  want.namespaceCount = 1;
  EXPECT_EQ(DecodeNvmeEraseFeatures(page, 1), want);

  page[nvme::ctrl::kFna] = 0x03;
  want.formatAppliesToAll = true;
  want.secureEraseAppliesToAll = true;
  want.cryptoFormat = false;
  want.namespaceCount = 2;
  EXPECT_EQ(DecodeNvmeEraseFeatures(page, 2), want);
}

TEST(EraseCapabilitiesDecode, MediaType) {
  AtaEraseFeatures flash, disk, silent;
  flash.nonRotating = true;
  disk.rotating = true;
  struct Case {
    int64_t bus;
    bool removable;
    std::optional<AtaEraseFeatures> ata;
    MediaType want;
  };
  const Case cases[] = {
      {kBusTypeNvme, false, std::nullopt, MediaType::Nvme},
      {kBusTypeSata, false, flash, MediaType::Ssd},
      {kBusTypeSata, false, disk, MediaType::Hdd},
      {kBusTypeAta, false, silent, MediaType::Unknown},
      {7, false, flash, MediaType::Ssd},  // a SATA SSD behind a USB bridge that passes IDENTIFY
      {7, true, std::nullopt, MediaType::UsbFlash},
      {7, false, std::nullopt, MediaType::Unknown},
  };
  for (const Case& c : cases) {
    TIdentifyDeviceData device;
    device.BusType = c.bus;
    device.RemovableMedia = c.removable;
    EXPECT_EQ(MediaTypeOf(device, c.ata), c.want) << c.bus << " " << c.removable;
  }
}

// ---- The NIST category a method earns per medium ----

TEST(EraseCapabilitiesCategory, PerMedium) {
  using M = EraseMethod;
  using T = MediaType;
  constexpr auto C = EraseCategory::Clear;
  constexpr auto P = EraseCategory::Purge;
  // Columns: HDD, SSD, NVMe, USB flash, Unknown.
  struct Row {
    M method;
    EraseCategory hdd, ssd, nvme, usb, unknown;
  };
  const Row rows[] = {
      {M::Zero, C, C, C, C, C},
      {M::SanitizeCrypto, P, P, P, P, P},
      {M::SanitizeBlock, C, P, P, P, C},
      {M::SanitizeOverwrite, P, C, P, C, C},
      {M::FormatNvm, C, C, P, C, C},
      {M::FormatNvmCrypto, P, P, P, P, P},
      {M::SecureErase, C, C, C, C, C},
      {M::SecureEraseEnhanced, P, C, C, C, C},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(EraseMethodWord(r.method));
    EXPECT_EQ(EraseCategoryOn(T::Hdd, r.method), r.hdd);
    EXPECT_EQ(EraseCategoryOn(T::Ssd, r.method), r.ssd);
    EXPECT_EQ(EraseCategoryOn(T::Nvme, r.method), r.nvme);
    EXPECT_EQ(EraseCategoryOn(T::UsbFlash, r.method), r.usb);
    EXPECT_EQ(EraseCategoryOn(T::Unknown, r.method), r.unknown);
  }
}

// ---- Which methods a disk opens, and what `purge` stands for ----

AtaEraseFeatures AtaWith(bool crypto, bool block, bool overwrite, bool security, bool enhanced) {
  AtaEraseFeatures a;
  a.sanitize = crypto || block || overwrite;
  a.sanitizeCrypto = crypto;
  a.sanitizeBlock = block;
  a.sanitizeOverwrite = overwrite;
  a.security.supported = security;
  a.security.enhancedSupported = enhanced;
  return a;
}

NvmeEraseFeatures NvmeWith(bool crypto, bool block, bool format, bool cryptoFormat,
                           uint32_t namespaces = 1, bool formatAll = false) {
  NvmeEraseFeatures n;
  n.sanitizeCrypto = crypto;
  n.sanitizeBlock = block;
  n.formatNvm = format;
  n.cryptoFormat = cryptoFormat;
  n.namespaceCount = namespaces;
  n.formatAppliesToAll = formatAll;
  return n;
}

DriveEraseFacts Ata(MediaType media, AtaEraseFeatures ata) {
  DriveEraseFacts f;
  f.media = media;
  f.passThrough = true;
  f.ata = ata;
  return f;
}

DriveEraseFacts Nvme(NvmeEraseFeatures nvme) {
  DriveEraseFacts f;
  f.media = MediaType::Nvme;
  f.passThrough = true;
  f.nvme = nvme;
  return f;
}

struct StatesCase {
  const char* name;
  DriveEraseFacts facts;
  // The refusal word of each method in kEraseMethods' order ("-" open): zero, sanitize-block,
  // sanitize-crypto, sanitize-overwrite, format-nvm, format-nvm-crypto, secure-erase,
  // secure-erase-enhanced, purge.
  std::vector<std::string> refusals;
  std::optional<EraseMethod> strongest;
};

void PrintTo(const StatesCase& c, std::ostream* os) { *os << c.name; }

class EraseMethodChoice : public testing::TestWithParam<StatesCase> {};

TEST_P(EraseMethodChoice, RefusalsAndStrongestPurge) {
  const StatesCase& c = GetParam();
  const std::vector<EraseMethodState> states = EraseMethodStates(c.facts);
  ASSERT_EQ(states.size(), std::size(kEraseMethods));
  std::vector<std::string> got;
  for (size_t i = 0; i < states.size(); ++i) {
    EXPECT_EQ(states[i].method, kEraseMethods[i]);
    EXPECT_EQ(states[i].category, EraseCategoryOn(c.facts.media, kEraseMethods[i]));
    got.push_back(states[i].available() ? "-" : std::string(EraseRefusalWord(states[i].refusal)));
  }
  EXPECT_EQ(got, c.refusals);
  EXPECT_EQ(StrongestPurge(c.facts), c.strongest);

  // `purge` on the disk is what it stands for, or refused with the list's reason.
  const EraseMethodState purge = EraseMethodOn(c.facts, EraseMethod::Purge);
  EXPECT_EQ(purge.method, c.strongest.value_or(EraseMethod::Purge));
  EXPECT_EQ(purge.refusal, states.back().refusal);
  EXPECT_EQ(purge.category, EraseCategory::Purge);
}

DriveEraseFacts Modified(DriveEraseFacts f, void (*change)(DriveEraseFacts&)) {
  change(f);
  return f;
}

const std::string o = "-";
const std::string U = "unsupported";
const std::string F = "frozen";
const std::string L = "locked";
const std::string NP = "no-passthrough";
const std::string ON = "other-namespaces";
const std::string IP = "in-progress";

using M = EraseMethod;
using T = MediaType;

INSTANTIATE_TEST_SUITE_P(
    Purge, EraseMethodChoice,
    testing::Values(
        StatesCase{"SsdWithSanitize", Ata(T::Ssd, AtaWith(true, true, false, true, true)),
                   {o, o, o, U, U, U, o, o, o}, M::SanitizeCrypto},
        // A security erase of flash is only Clear: nothing for `purge` to stand for.
        StatesCase{"SsdWithoutSanitize", Ata(T::Ssd, AtaWith(false, false, false, true, true)),
                   {o, U, U, U, U, U, o, o, U}, std::nullopt},
        StatesCase{"SsdSecurityFrozen",
                   Modified(Ata(T::Ssd, AtaWith(false, true, false, true, true)),
                            [](DriveEraseFacts& f) { f.ata->security.frozen = true; }),
                   {o, o, U, U, U, U, F, F, o}, M::SanitizeBlock},
        StatesCase{"SsdSanitizeFrozen",
                   Modified(Ata(T::Ssd, AtaWith(true, true, false, true, true)),
                            [](DriveEraseFacts& f) { f.sanitizeFrozen = true; }),
                   {o, F, F, U, U, U, o, o, F}, std::nullopt},
        StatesCase{"HddWithEnhancedErase", Ata(T::Hdd, AtaWith(false, false, false, true, true)),
                   {o, U, U, U, U, U, o, o, o}, M::SecureEraseEnhanced},
        StatesCase{"HddFrozen",
                   Modified(Ata(T::Hdd, AtaWith(false, false, false, true, true)),
                            [](DriveEraseFacts& f) { f.ata->security.frozen = true; }),
                   {o, U, U, U, U, U, F, F, F}, std::nullopt},
        // Overwrite sanitize of a hard disk is Purge and outranks its enhanced erase.
        StatesCase{"HddWithOverwriteSanitize",
                   Ata(T::Hdd, AtaWith(false, false, true, true, true)),
                   {o, U, U, o, U, U, o, o, o}, M::SanitizeOverwrite},
        StatesCase{"HddLocked",
                   Modified(Ata(T::Hdd, AtaWith(false, false, true, true, true)),
                            [](DriveEraseFacts& f) {
                              f.ata->security.enabled = true;
                              f.ata->security.locked = true;
                            }),
                   {L, U, U, L, U, U, L, L, L}, std::nullopt},
        StatesCase{"NvmeWithCrypto", Nvme(NvmeWith(true, true, true, true)),
                   {o, o, o, U, o, o, U, U, o}, M::SanitizeCrypto},
        StatesCase{"NvmeFormatOnly", Nvme(NvmeWith(false, false, true, false)),
                   {o, U, U, U, o, U, U, U, o}, M::FormatNvm},
        StatesCase{"NvmeCryptoFormatOutranksUserDataFormat", Nvme(NvmeWith(false, false, true, true)),
                   {o, U, U, U, o, o, U, U, o}, M::FormatNvmCrypto},
        // A sanitize reaches every namespace; a format only its own unless FNA says otherwise.
        StatesCase{"NvmeTwoNamespaces", Nvme(NvmeWith(true, true, true, false, 2)),
                   {o, ON, ON, U, o, U, U, U, o}, M::FormatNvm},
        StatesCase{"NvmeTwoNamespacesFormatForAll", Nvme(NvmeWith(true, true, true, true, 2, true)),
                   {o, ON, ON, U, ON, ON, U, U, ON}, std::nullopt},
        StatesCase{"NvmeTwoNamespacesSecureEraseForAll",
                   Modified(Nvme(NvmeWith(false, false, true, true, 2)),
                            [](DriveEraseFacts& f) { f.nvme->secureEraseAppliesToAll = true; }),
                   {o, U, U, U, ON, ON, U, U, ON}, std::nullopt},
        // A USB stick: nothing known of the drive, nothing reaches it.
        StatesCase{"NoPassThrough",
                   Modified(DriveEraseFacts{}, [](DriveEraseFacts& f) { f.media = T::UsbFlash; }),
                   {o, NP, NP, NP, NP, NP, NP, NP, NP}, std::nullopt},
        // A bridge that passes IDENTIFY but not the erase commands.
        StatesCase{"BridgeWithoutPassThrough",
                   Modified(Ata(T::Ssd, AtaWith(true, false, false, true, false)),
                            [](DriveEraseFacts& f) { f.passThrough = false; }),
                   {o, U, NP, U, U, U, NP, U, NP}, std::nullopt},
        StatesCase{"SanitizeInProgress",
                   Modified(Ata(T::Ssd, AtaWith(true, true, false, true, true)),
                            [](DriveEraseFacts& f) { f.sanitizeInProgress = true; }),
                   {IP, IP, IP, U, U, U, IP, IP, IP}, std::nullopt},
        StatesCase{"NvmeSanitizeInProgress",
                   Modified(Nvme(NvmeWith(true, true, true, true)),
                            [](DriveEraseFacts& f) { f.sanitizeInProgress = true; }),
                   {IP, IP, IP, U, IP, IP, U, U, IP}, std::nullopt},
        // Unknown medium: block erase and enhanced erase may be Clear there, crypto is Purge.
        StatesCase{"UnknownMediumWithBlockErase",
                   Ata(T::Unknown, AtaWith(false, true, false, true, true)),
                   {o, o, U, U, U, U, o, o, U}, std::nullopt}),
    [](const testing::TestParamInfo<StatesCase>& info) { return info.param.name; });

TEST(EraseMethodWords, StableForScripts) {
  std::string words;
  for (EraseMethod m : kEraseMethods) {
    words += std::string(EraseMethodWord(m)) + " ";
    EXPECT_EQ(ParseEraseMethod(EraseMethodWord(m)), m);
  }
  EXPECT_EQ(words,
            "zero sanitize-block sanitize-crypto sanitize-overwrite format-nvm format-nvm-crypto "
            "secure-erase secure-erase-enhanced purge ");
  for (const char* wrong : {"", "Zero", "sanitize", "purge ", "secure_erase"}) {
    EXPECT_EQ(ParseEraseMethod(wrong), std::nullopt) << wrong;
  }
  EXPECT_EQ(EraseCategoryWord(EraseCategory::None), "none");
  EXPECT_EQ(EraseCategoryWord(EraseCategory::Clear), "clear");
  EXPECT_EQ(EraseCategoryWord(EraseCategory::Purge), "purge");
  EXPECT_EQ(EraseRefusalWord(EraseRefusal::None), "");
}

}  // namespace
}  // namespace fw
