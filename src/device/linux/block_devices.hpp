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
