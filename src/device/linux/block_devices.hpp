#pragma once
// The machine's block devices as sysfs describes them: which are drives, what a device number
// belongs to, and the facts the descriptors are built from. Everything is read through a
// SysTree, so a fixture tree stands in for /sys and /run in the tests.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "device/linux/descriptors.hpp"
#include "device/linux/sys_tree.hpp"

namespace fw::linuxio {

// The last component of a path.
std::string BaseName(const std::string& path);

// Name order with runs of digits compared as numbers: sda < sdb, nvme2n1 < nvme10n1.
bool NaturalLess(const std::string& a, const std::string& b);

// Where a disk of this name sorts among the drives: real disks (sd, nvme, vd, xvd, hd,
// mmcblk...) 0, md arrays 1, loop and nbd devices 2, so that the many loop devices of a desktop
// never push a real disk out of the 15-row table.
int DiskKindRank(const std::string& name);

// The whole disks that count as drives, by kind and then in natural name order. Left out: RAM
// disks (ram, zram), loop devices without a backing file or read-only (snaps), unconnected nbd
// devices, optical drives (sr, SCSI type 5), floppies, device-mapper devices (their disks are
// listed themselves), hidden devices and partitions.
std::vector<std::string> ListWholeDisks(const SysTree& sys);

struct Devno {
  uint32_t major = 0;
  uint32_t minor = 0;
  bool operator==(const Devno&) const = default;
};

std::optional<Devno> ParseDevno(const std::string& text);

// What stat(2) tells of a file: the file system it lies on and its inode, and, for a block
// device node, the device it stands for. Two paths name the same file (a hard link, a bind-mounted
// folder) exactly when both numbers agree; their strings never tell.
struct FileId {
  Devno dev;
  uint64_t ino = 0;
  std::optional<Devno> block;  // st_rdev of a block device node
  bool operator==(const FileId&) const = default;
};

// The identity of `path` on the system the tree stands for: stat(2), following links, on a
// running system. A fixture tree's files are not that machine's, so a fixture says it in its
// file /identities, one line per path: "PATH MAJ:MIN INO" for a file, "PATH MAJ:MIN INO b MAJ:MIN"
// for a block device node.
std::optional<FileId> IdentifyPath(const SysTree& sys, const std::string& path);

// The backing file of loop device `loopName` as the kernel holds it (LOOP_GET_STATUS64: right
// also when the file was renamed or deleted, or lies in another mount namespace), else as its
// loop/backing_file names it; nothing for a loop device without one.
std::optional<FileId> LoopBacking(const SysTree& sys, const std::string& loopName);

// A block device and the whole disk it lies on.
struct BlockNode {
  std::string name;        // sda1
  std::string disk;        // sda
  uint32_t partition = 0;  // 0 for the whole disk
};

std::optional<BlockNode> NodeOfDevno(const SysTree& sys, Devno devno);

// The device number of a block device named as in /dev ("sda1", "dm-0").
std::optional<Devno> DevnoOfName(const SysTree& sys, const std::string& name);

struct DiskFacts {
  std::string name;
  Devno devno;
  DeviceStrings strings;
  std::string transport;  // as lsblk's TRAN
  uint8_t busType = 0;
  bool removable = false;
  bool ataSlave = false;  // device 1 of a parallel-ATA channel
  uint64_t maxTransferBytes = 0;
  uint32_t maxSegments = 0;
  uint32_t dmaAlignment = 0;
};

DiskFacts ReadDiskFacts(const SysTree& sys, const std::string& diskName);

}  // namespace fw::linuxio
