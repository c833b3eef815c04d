#include "device/linux/blkid_probe.hpp"

#include <blkid/blkid.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>

namespace fw::linuxio {

namespace {

constexpr int64_t kBlkidSectorBytes = 512;  // libblkid counts partition offsets in these

std::string Value(blkid_probe probe, const char* name) {
  const char* data = nullptr;
  size_t length = 0;
  if (blkid_probe_lookup_value(probe, name, &data, &length) != 0 || data == nullptr) return {};
  // The value's length counts its terminating zero.
  return std::string(data, length > 0 && data[length - 1] == '\0' ? length - 1 : length);
}

}  // namespace

std::optional<ProbedContents> ProbeContents(const std::string& path, int64_t offset, int64_t size) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return std::nullopt;
  blkid_probe probe = blkid_new_probe();
  if (probe == nullptr || blkid_probe_set_device(probe, fd, offset, size) != 0) {
    if (probe != nullptr) blkid_free_probe(probe);
    ::close(fd);
    return std::nullopt;
  }
  ProbedContents contents;
  blkid_probe_enable_superblocks(probe, 1);
  blkid_probe_set_superblocks_flags(probe, BLKID_SUBLKS_TYPE | BLKID_SUBLKS_LABEL);
  blkid_probe_enable_partitions(probe, 1);
  if (blkid_do_safeprobe(probe) == 0) {
    contents.partitionTable = Value(probe, "PTTYPE");
    contents.fsType = Value(probe, "TYPE");
    contents.label = Value(probe, "LABEL");
  }
  if (blkid_partlist list = blkid_probe_get_partitions(probe)) {
    const int count = blkid_partlist_numof_partitions(list);
    for (int i = 0; i < count; ++i) {
      blkid_partition partition = blkid_partlist_get_partition(list, i);
      if (partition == nullptr) continue;
      ProbedPartition entry;
      entry.number = static_cast<uint32_t>(std::max(0, blkid_partition_get_partno(partition)));
      entry.start = static_cast<int64_t>(blkid_partition_get_start(partition)) * kBlkidSectorBytes;
      entry.bytes = static_cast<int64_t>(blkid_partition_get_size(partition)) * kBlkidSectorBytes;
      contents.partitions.push_back(entry);
    }
    if (contents.partitionTable.empty()) {
      if (blkid_parttable table = blkid_partlist_get_table(list)) {
        if (const char* type = blkid_parttable_get_type(table)) contents.partitionTable = type;
      }
    }
  }
  blkid_free_probe(probe);
  ::close(fd);
  return contents;
}

}  // namespace fw::linuxio
