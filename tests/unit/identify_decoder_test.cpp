#include "device/identify_decoder.hpp"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

namespace fw {
namespace {

void SetWord(Sector& s, size_t n, uint16_t value) {
  s[2 * n] = static_cast<uint8_t>(value & 0xFF);
  s[2 * n + 1] = static_cast<uint8_t>(value >> 8);
}

void SetWords64(Sector& s, size_t first, uint64_t value) {
  for (size_t i = 0; i < 4; ++i) SetWord(s, first + i, static_cast<uint16_t>(value >> (16 * i)));
}

// ATA text: the first character of each pair in the word's high byte, padded with blanks.
void SetText(Sector& s, size_t first, size_t words, const std::string& text) {
  std::string padded = text;
  padded.resize(2 * words, ' ');
  for (size_t i = 0; i < words; ++i) {
    SetWord(s, first + i,
            static_cast<uint16_t>((static_cast<uint8_t>(padded[2 * i]) << 8) |
                                  static_cast<uint8_t>(padded[2 * i + 1])));
  }
}

Sector Load(const std::string& name) {
  std::ifstream in(std::string(FIXTURES_DIR) + "/drives/" + name, std::ios::binary);
  Sector s{};
  in.read(reinterpret_cast<char*>(s.data()), s.size());
  EXPECT_EQ(in.gcount(), 512) << name;
  return s;
}

TEST(DecodeIdentifySector, AllZeroSector) {
  T_IDE_PASSPORT want;
  want.sectorsize = 512;
  EXPECT_EQ(DecodeIdentifySector(Sector{}), want);
}

TEST(DecodeIdentifySector, Capacity) {
  struct Case {
    uint16_t w49, w83;
    uint64_t lba48;
    bool lba28support, lba48support;
    int64_t lba28, lba48sectors, lbasectors;
  };
  const Case cases[] = {
      {0x0200, 0x0400, 976773168, true, true, 268435455, 976773168, 976773168},
      {0x0200, 0x0400, 268435455, true, false, 268435455, 0, 268435455},
      {0x0200, 0x0400, 100, true, false, 268435455, 0, 268435455},
      {0x0200, 0x0000, 976773168, true, false, 268435455, 0, 268435455},
      {0x0000, 0x0400, 976773168, false, false, 0, 0, 0},
      // Compared as a signed number: a count with the top bit set is not larger.
      {0x0200, 0x0400, 0x8000000000000000ULL, true, false, 268435455, 0, 268435455},
  };
  for (const Case& c : cases) {
    Sector s{};
    SetWord(s, 49, c.w49);
    SetWord(s, 60, 0xFFFF);
    SetWord(s, 61, 0x0FFF);
    SetWord(s, 83, c.w83);
    SetWords64(s, 100, c.lba48);
    const T_IDE_PASSPORT p = DecodeIdentifySector(s);
    SCOPED_TRACE(testing::Message() << std::hex << c.w49 << " " << c.w83 << " " << c.lba48);
    EXPECT_EQ(p.lba28support, c.lba28support);
    EXPECT_EQ(p.lba48support, c.lba48support);
    EXPECT_EQ(p.lba28sectors, c.lba28);
    EXPECT_EQ(p.lba48sectors, c.lba48sectors);
    EXPECT_EQ(p.lbasectors, c.lbasectors);
  }
}

TEST(DecodeIdentifySector, Lba28CountIsUnsigned32Bit) {
  Sector s{};
  SetWord(s, 49, 0x0200);
  SetWord(s, 60, 0xFFFF);
  SetWord(s, 61, 0xFFFF);
  EXPECT_EQ(DecodeIdentifySector(s).lba28sectors, 4294967295);
}

TEST(DecodeIdentifySector, LogicalSectorSize) {
  struct Case {
    uint16_t w106, w117, w118;
    int64_t bytes;
  };
  const Case cases[] = {
      {0x5000, 2048, 0, 4096},        {0x7003, 2048, 0, 4096},  {0x6003, 2048, 0, 512},
      {0x4000, 2048, 0, 512},         {0xD000, 2048, 0, 512},   {0x1000, 2048, 0, 512},
      {0x0000, 2048, 0, 512},         {0x5000, 256, 0, 512},    {0x5000, 255, 0, 512},
      {0x5000, 0, 0, 512},            {0x5000, 260, 0, 520},
      {0x5000, 0xFFFF, 0xFFFF, 8589934590},
  };
  for (const Case& c : cases) {
    Sector s{};
    SetWord(s, 106, c.w106);
    SetWord(s, 117, c.w117);
    SetWord(s, 118, c.w118);
    EXPECT_EQ(DecodeIdentifySector(s).sectorsize, c.bytes) << std::hex << c.w106 << " " << c.w117;
  }
}

TEST(DecodeIdentifySector, Security) {
  struct Case {
    uint16_t w82, w128;
    bool support, locked, lockedmax;
  };
  // Word 128: bit 1 a password is set, bit 2 locked, bit 8 level maximum.
  const Case cases[] = {
      {0x0002, 0x0002, true, false, false},  {0x0002, 0x0004, true, true, false},
      {0x0002, 0x0106, true, true, true},    {0x0002, 0x0102, true, false, true},
      {0x0002, 0x0000, true, false, false},  {0x0000, 0x0106, false, false, false},
      {0xFFFD, 0xFFFF, false, false, false},
  };
  for (const Case& c : cases) {
    Sector s{};
    SetWord(s, 82, c.w82);
    SetWord(s, 128, c.w128);
    const T_IDE_PASSPORT p = DecodeIdentifySector(s);
    EXPECT_EQ(p.securitysupport, c.support) << c.w82 << " " << c.w128;
    EXPECT_EQ(p.locked, c.locked) << c.w82 << " " << c.w128;
    EXPECT_EQ(p.lockedmax, c.lockedmax) << c.w82 << " " << c.w128;
  }
}

TEST(DecodeIdentifySector, FeatureFlags) {
  Sector s{};
  SetWord(s, 82, 0x0401);  // SMART, HPA
  SetWord(s, 85, 0x0001);
  SetWord(s, 83, 0x0200);  // AAM
  SetWord(s, 84, 0x0010);  // streaming
  T_IDE_PASSPORT p = DecodeIdentifySector(s);
  EXPECT_TRUE(p.smartsupport);
  EXPECT_TRUE(p.smartenabled);
  EXPECT_TRUE(p.hpasupport);
  EXPECT_TRUE(p.aamsupport);
  EXPECT_TRUE(p.StreamingSupported);
  EXPECT_FALSE(p.isremovable);
  EXPECT_FALSE(p.ispacket);

  SetWord(s, 82, 0x0000);  // SMART enabled means nothing without SMART support
  p = DecodeIdentifySector(s);
  EXPECT_FALSE(p.smartsupport);
  EXPECT_FALSE(p.smartenabled);
}

TEST(DecodeIdentifySector, UltraDmaModes) {
  struct Case {
    uint16_t w49, w53, w88;
    bool dma;
    uint8_t supported, selected;
  };
  const Case cases[] = {
      {0x0100, 0x0004, 0x207F, true, 6, 5},  {0x0100, 0x0004, 0x0407, true, 2, 2},
      {0x0100, 0x0004, 0x0000, true, 0, 0},  {0x0100, 0x0004, 0x8080, true, 0, 0},
      {0x0100, 0x0000, 0x207F, false, 0, 0}, {0x0000, 0x0004, 0x207F, false, 0, 0},
  };
  for (const Case& c : cases) {
    Sector s{};
    SetWord(s, 49, c.w49);
    SetWord(s, 53, c.w53);
    SetWord(s, 88, c.w88);
    const T_IDE_PASSPORT p = DecodeIdentifySector(s);
    EXPECT_EQ(p.dmasupport, c.dma) << std::hex << c.w88;
    EXPECT_EQ(p.dmamodesupport, c.supported) << std::hex << c.w88;
    EXPECT_EQ(p.dmamodeselected, c.selected) << std::hex << c.w88;
  }
}

TEST(DecodeIdentifySector, NumbersFromSingleWords) {
  Sector s{};
  SetWord(s, 21, 16384);
  SetWord(s, 75, 31);
  SetWord(s, 47, 0x8010);
  T_IDE_PASSPORT p = DecodeIdentifySector(s);
  EXPECT_EQ(p.buffersize, 8388608u);
  EXPECT_TRUE(p.QueueSupported);
  EXPECT_EQ(p.QueueDepth, 31);
  EXPECT_EQ(p.readmultiplesectors, 0x10);
  EXPECT_EQ(p.sectorsize, 512);

  SetWord(s, 75, 0xFFFF);
  SetWord(s, 21, 0xFFFF);
  p = DecodeIdentifySector(s);
  EXPECT_EQ(p.QueueDepth, 0xFFFF) << "the whole word, not masked";
  EXPECT_EQ(p.buffersize, 0xFFFFu * 512u);

  SetWord(s, 75, 0);
  p = DecodeIdentifySector(s);
  EXPECT_FALSE(p.QueueSupported);
  EXPECT_EQ(p.QueueDepth, 0);
}

TEST(DecodeIdentifySector, Texts) {
  Sector s{};
  // Serial stored as the bytes 2, 1, 4, 3, then blanks and zeros.
  s[20] = '2';
  s[21] = '1';
  s[22] = '4';
  s[23] = '3';
  s[24] = ' ';
  s[25] = ' ';
  SetText(s, 27, 20, "   MODEL  X   ");
  SetText(s, 23, 4, "FW\xE9");
  const T_IDE_PASSPORT p = DecodeIdentifySector(s);
  EXPECT_EQ(p.sn, "1234");
  EXPECT_EQ(p.name, "MODEL  X");
  EXPECT_EQ(p.fw, "FW\xC3\xA9");
}

TEST(DecodeIdentifySector, TheCallersSectorIsLeftAlone) {
  Sector s{};
  SetText(s, 27, 20, "AB");
  const Sector before = s;
  DecodeIdentifySector(s);
  EXPECT_EQ(s, before);
}

TEST(DecodeIdentifySector, RealDrives) {
  const T_IDE_PASSPORT samsung = DecodeIdentifySector(Load("SAMSUNG_HD501LJ--CR100-12.identify"));
  EXPECT_EQ(samsung.name, "SAMSUNG HD501LJ");
  EXPECT_EQ(samsung.fw, "CR100-12");
  EXPECT_EQ(samsung.sn, "S0MUJ1NQ110060");
  EXPECT_TRUE(samsung.lba48support);
  EXPECT_EQ(samsung.lba28sectors, 268435455);
  EXPECT_EQ(samsung.lbasectors, 976773168);
  EXPECT_EQ(samsung.readmultiplesectors, 16);
  EXPECT_TRUE(samsung.securitysupport);
  EXPECT_FALSE(samsung.locked);
  EXPECT_TRUE(samsung.hpasupport);
  EXPECT_TRUE(samsung.smartsupport);
  EXPECT_TRUE(samsung.smartenabled);
  EXPECT_TRUE(samsung.aamsupport);
  EXPECT_TRUE(samsung.dmasupport);
  EXPECT_EQ(samsung.dmamodesupport, 6);
  EXPECT_EQ(samsung.dmamodeselected, 6);
  EXPECT_EQ(samsung.buffersize, 16777216u);
  EXPECT_EQ(samsung.QueueDepth, 31);
  EXPECT_FALSE(samsung.StreamingSupported);

  // The SSD reports the same count in both places: no 48-bit capacity of its own.
  const T_IDE_PASSPORT intel = DecodeIdentifySector(Load("INTEL_SSDSA2CW120G3--4PC10302.identify"));
  EXPECT_EQ(intel.name, "INTEL SSDSA2CW120G3");
  EXPECT_EQ(intel.sn, "CVPR109301UZ120LGN");
  EXPECT_FALSE(intel.lba48support);
  EXPECT_EQ(intel.lbasectors, 234441648);
  EXPECT_TRUE(intel.securitysupport);
  EXPECT_FALSE(intel.locked) << "a password is set, but the drive is not locked";
  EXPECT_TRUE(intel.lockedmax);
  EXPECT_EQ(intel.buffersize, 0u);
}

}  // namespace
}  // namespace fw
