#pragma once
// IDENTIFY DEVICE sectors changed word by word from real drives' sectors: for the simulated
// drives' tests, and the recipe of the demo SATA SSD's sector (tests/fixtures/drives/
// INTEL_SSDSA2CW120G3--4PC10302--sanitize.identify).
#include <array>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>

namespace fw::test {

using IdentifyWords = std::array<uint8_t, 512>;

inline IdentifyWords FixtureIdentify(const std::string& name) {
  std::ifstream in(std::string(FIXTURES_DIR) + "/drives/" + name, std::ios::binary);
  IdentifyWords sector{};
  in.read(reinterpret_cast<char*>(sector.data()), sector.size());
  return sector;
}

inline uint16_t IdentifyWord(const IdentifyWords& s, size_t word) {
  return static_cast<uint16_t>(s[2 * word] | s[2 * word + 1] << 8);
}

// Sets the word and keeps the sector's checksum (word 255) true.
inline void SetIdentifyWord(IdentifyWords& s, size_t word, uint16_t value) {
  s[2 * word] = static_cast<uint8_t>(value);
  s[2 * word + 1] = static_cast<uint8_t>(value >> 8);
  uint8_t sum = 0;
  for (size_t i = 0; i < 511; ++i) sum = static_cast<uint8_t>(sum + s[i]);
  s[511] = static_cast<uint8_t>(-sum);
}

// The demo SATA SSD: an Intel SSD 320 (no rotation, word 217) that declares the SANITIZE
// feature set with CRYPTO SCRAMBLE and BLOCK ERASE but not OVERWRITE (word 59 bits 12, 13,
// 15), and security supported with the enhanced erase, no password set, not frozen (word 128).
inline IdentifyWords DemoSanitizeSsdIdentify() {
  IdentifyWords s = FixtureIdentify("INTEL_SSDSA2CW120G3--4PC10302.identify");
  SetIdentifyWord(s, 59, static_cast<uint16_t>(IdentifyWord(s, 59) | 0xB000));
  SetIdentifyWord(s, 128, 0x0021);
  return s;
}

}  // namespace fw::test
