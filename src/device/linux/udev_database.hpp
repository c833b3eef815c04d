#pragma once
// udev's record of a block device: its properties (ID_MODEL_ENC, ID_SERIAL_SHORT, ID_BUS...)
// and the links it made for it (/dev/disk/by-id/...).
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "device/linux/block_devices.hpp"
#include "device/linux/sys_tree.hpp"

namespace fw::linuxio {

struct UdevRecord {
  std::map<std::string, std::string> properties;  // values as udev stores them (*_ENC escaped)
  std::vector<std::string> devlinks;              // full paths, sorted
};

// On the running system through libudev. Under a fixture root, and where libudev has no
// record (no udev running, a device it has not seen yet), from the tree's /run/udev/data file;
// an empty record when there is none.
UdevRecord ReadUdevRecord(const SysTree& sys, Devno devno);

// A /run/udev/data file: its E:KEY=VALUE properties and S:LINK lines (relative to /dev).
UdevRecord ParseUdevRecord(std::string_view text);

}  // namespace fw::linuxio
