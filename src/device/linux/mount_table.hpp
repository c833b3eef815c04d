#pragma once
// The running system's mount tree and swap areas as libmount reads them (escapes, optional
// fields and the tree's IDs taken care of), and mounting a file system again as it was.
#include <optional>
#include <string>
#include <vector>

#include "device/linux/block_devices.hpp"
#include "device/linux/sys_tree.hpp"

namespace fw::linuxio {

struct MountNode {
  int id = 0;
  int parent = 0;   // the mount this one is attached to (stacked on, or inside)
  Devno dev;        // st_dev of the mounted file system
  std::string root;    // the folder of the file system that is mounted ("/" for all of it)
  std::string target;  // the mount point
  std::string fsType;
  std::string source;
  std::string options;  // mount and file-system options together, as mount(8) takes them
  std::string vfsOptions;   // the mount's own flags alone (ro, nosuid, nodev, noexec, atime)
  std::string propagation;  // mountinfo's optional fields ("shared:1 master:2"), empty: private
};

// The name of the block device a mount source names under /dev ("sda1" for /dev/sda1 or for a
// /dev/disk/by-uuid link to it), or empty for a source that is no device path.
std::string SourceDeviceName(const std::string& source);

// The block device a mount lies on: its st_dev, or, for file systems with an anonymous st_dev
// (btrfs), the device its source names, as lsblk matches them; nothing for a mount of no block
// device (proc, tmpfs, nfs).
std::optional<Devno> BlockDeviceOfMount(const SysTree& sys, const MountNode& mount);

// A mountinfo file (the running system's own by default, a fixture tree's in the tests) in file
// order (parents before the mounts on them); lines that cannot be read are left out, and the
// table is empty when the file cannot be read.
std::vector<MountNode> ReadMountTable(const std::string& path = "/proc/self/mountinfo");

// The paths of the active swap areas in a swaps file (the running system's own by default, a
// fixture tree's in the tests).
std::vector<std::string> ActiveSwaps(const std::string& path = "/proc/swaps");

// The mount options that give a mount the propagation its optional fields name.
std::string PropagationOptions(const std::string& fields);

// Mounts `mount` again at its mount point: the whole file system from its source, or, for a
// mount of one of its folders, bound from `folder` (that folder where the file system is
// mounted now); either way with its own flags and its propagation (shared, slave, private,
// unbindable) as they were. Never through fstab or a mount helper.
bool MountAgain(const MountNode& mount, const std::optional<std::string>& folder);

}  // namespace fw::linuxio
