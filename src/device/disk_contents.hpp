#pragma once
// What a drive holds and how the system knows it, beyond the storage contract: the facts a user
// needs to tell one disk from another before erasing it (by-id names, partitions and their file
// systems, mounts, whether the running system lives there). Read-only and best effort: what
// cannot be read stays empty.
#include <cstdint>
#include <string>
#include <vector>

namespace fw {

struct PartitionContents {
  uint32_t number = 0;
  std::string path;  // the partition's node; empty where it has none (a partition in an image)
  int64_t bytes = 0;
  std::string fsType;  // libblkid's TYPE ("ext4", "vfat", "swap"); empty when none was found
  std::string label;
  std::vector<std::string> mountPoints;
};

struct DiskContents {
  std::vector<std::string> byIdLinks;  // /dev/disk/by-id/... names of the disk, sorted
  bool readOnly = false;
  std::string partitionTable;  // libblkid's PTTYPE ("gpt", "dos"); empty when none was found
  std::string fsType;          // a file system on the whole disk, without a partition table
  std::string label;
  std::vector<std::string> mountPoints;  // of the whole disk itself
  std::vector<PartitionContents> partitions;
  // The running system lives on the disk: the same rule that refuses to format it (a mount point
  // of IsSystemMountPoint on it or on what is stacked on it, or the root of the running system).
  bool carriesSystem = false;

  // Every mount point of the disk and of its partitions, in that order.
  std::vector<std::string> AllMountPoints() const;
};

// The mount points whose loss would take the running system with it, and so make a disk the
// one it lives on: "/", "/usr", "/boot", "/boot/efi", "/var", "/home".
bool IsSystemMountPoint(const std::string& mountPoint);

}  // namespace fw
