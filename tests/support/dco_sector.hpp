#pragma once
// A DEVICE CONFIGURATION IDENTIFY sector as a drive returns it: revision 2, the maximum LBA in
// words 3-6, signature A5h and the checksum that makes all 512 bytes add up to zero.
#include <array>
#include <cstdint>

namespace fw::test {

inline std::array<uint8_t, 512> DcoSector(uint64_t maxLba, bool signature = true) {
  std::array<uint8_t, 512> s{};
  s[0] = 0x02;
  for (size_t i = 0; i < 6; ++i) s[6 + i] = static_cast<uint8_t>(maxLba >> (8 * i));
  if (signature) s[510] = 0xA5;
  uint8_t sum = 0;
  for (size_t i = 0; i < 511; ++i) sum = static_cast<uint8_t>(sum + s[i]);
  s[511] = static_cast<uint8_t>(-sum);
  return s;
}

}  // namespace fw::test
