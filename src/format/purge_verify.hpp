#pragma once
// Checking a drive's own erase. After a block erase, an overwrite or a format every byte is
// read back and the disk must read one byte value throughout; after a cryptographic erase,
// whose medium reads back as noise, sectors chosen and hashed before the erase must all read
// back changed.
#include <cstdint>
#include <string>
#include <vector>

#include "core/clock.hpp"
#include "device/device_io.hpp"
#include "format/format_session.hpp"
#include "format/format_view.hpp"
#include "format/verify_pass.hpp"

namespace fw {

// Pseudo-random sectors a sample holds besides the first and the last.
inline constexpr int64_t kSampleRandomSectors = 1'000;

// The read-back of the whole disk and what it read as: "zeros", "uniform 0xNN", "mixed"
// (empty when the pass did not finish).
struct ReadBackCheck {
  VerifyResult verify;
  std::string pattern;
};

// The byte value the disk must read as is the first byte of its first sector.
ReadBackCheck VerifyReadBack(DeviceIo& io, Handle handle, int64_t sectorSize, int64_t capacity,
                             FormatSession& session, FormatView& view, Clock& clock);

// Sectors read and hashed before a cryptographic erase.
class SectorSample {
 public:
  // The first and last sector and kSampleRandomSectors others drawn from `seed`, in disk order.
  static std::vector<int64_t> Choose(int64_t sectors, uint64_t seed);

  // Reads and hashes `lbas`; a sector that cannot be read now is left out of the comparison.
  SectorSample(DeviceIo& io, Handle handle, const FormatSession& session, int64_t sectorSize,
               std::vector<int64_t> lbas);

  // Reads the sample again: every sector must come back changed (or unreadable, which
  // fails as well); the result counts unchanged sectors as regions that are not erased.
  VerifyResult Compare(DeviceIo& io, Handle handle, const FormatSession& session,
                       FormatView& view) const;

  size_t size() const { return m_lbas.size(); }

 private:
  int64_t m_sectorSize;
  std::vector<int64_t> m_lbas;
  std::vector<uint64_t> m_hashes;
  std::vector<bool> m_readBefore;
};

}  // namespace fw
