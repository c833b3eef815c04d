#pragma once
// libblkid's view of what lies on a device or an image file: partition table, file system,
// label and the partitions the table lists. Read-only.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace fw::linuxio {

struct ProbedPartition {
  uint32_t number = 0;
  int64_t start = 0;  // bytes from the start of what was probed
  int64_t bytes = 0;
};

struct ProbedContents {
  std::string partitionTable;  // PTTYPE
  std::string fsType;          // TYPE
  std::string label;           // LABEL
  std::vector<ProbedPartition> partitions;
};

// Probes `path` from byte `offset` for `size` bytes (0: to the end). Nothing when the path does
// not open (no rights included).
std::optional<ProbedContents> ProbeContents(const std::string& path, int64_t offset = 0,
                                            int64_t size = 0);

}  // namespace fw::linuxio
