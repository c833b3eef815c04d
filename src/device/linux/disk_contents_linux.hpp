#pragma once
// What a block device holds, as the kernel (sysfs), udev (/dev/disk/by-id), libblkid and
// mountinfo tell it.
#include <string>
#include <vector>

#include "device/disk_contents.hpp"
#include "device/linux/block_devices.hpp"
#include "device/linux/sys_tree.hpp"

namespace fw::linuxio {

struct BlockMount {
  Devno devno;
  std::string mountPoint;
};

// The names in `folder` (/dev/disk/by-id) that lead to the node `node`, as full paths, sorted.
std::vector<std::string> LinksTo(const std::string& folder, const std::string& node);

// Whether the running system's root, /usr or /boot (/boot/efi) is mounted from the disk, one of
// its partitions, or something stacked on them (device-mapper, md: sysfs holders).
bool CarriesRunningSystem(const SysTree& sys, const std::string& diskName,
                          const std::vector<BlockMount>& mounts);

// The partitions of the disk from sysfs (the kernel's view, which also holds partitions added
// with BLKPG), their file systems from libblkid, the mounts of each. Devices are probed only
// on a running system (a fixture tree's names are not this machine's nodes).
DiskContents ReadLinuxDiskContents(const SysTree& sys, const std::string& diskName,
                                   const std::vector<BlockMount>& mounts);

// "/dev/DISK" when `path` leads to a partition's node, else empty.
std::string WholeDiskOfPartitionNode(const SysTree& sys, const std::string& path);

}  // namespace fw::linuxio
