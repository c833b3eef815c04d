#pragma once
// Where a run writes: the whole disk, or for a quick wipe its first bytes and its last MiB.
#include <cstdint>
#include <vector>

namespace fw {

inline constexpr int64_t kQuickWipeBytes = 10'240'000;
// A quick wipe also zeroes the disk's last MiB: the backup GPT, and the RAID and ZFS labels kept
// at the end, would otherwise bring the partitions back.
inline constexpr int64_t kQuickWipeTailBytes = 1'048'576;
inline constexpr int64_t kZeroBufferBytes = 33'554'432;

// A stretch of the disk a run writes, and the verify pass reads back.
struct WipeRegion {
  int64_t offset = 0;
  int64_t length = 0;
  bool operator==(const WipeRegion&) const = default;
};

// What a run writes: the whole disk, or for a quick wipe the first 10,240,000 bytes and the
// last MiB (the whole disk again when it is too small to hold both apart).
std::vector<WipeRegion> WipeRegions(int64_t capacity, bool quickWipe);

}  // namespace fw
