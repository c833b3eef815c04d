#pragma once
// Which disk a file lies on: the block device of its file system, followed down through what is
// stacked on it (device-mapper and md through their slaves, a loop device through its backing
// file) until a disk is reached. A report written to the disk being erased would be erased
// with it, or would reappear in its place when the run ends.
#include <functional>
#include <optional>
#include <string>

#include "device/linux/block_devices.hpp"
#include "device/linux/sys_tree.hpp"

namespace fw::linuxio {

// The device number of the file system holding `path` (a stat's st_dev), or nothing.
using DeviceOfFile = std::function<std::optional<Devno>(const std::string& path)>;

// true when the block device `devno` is the disk `diskName`, one of its partitions, or lies on
// them through any number of layers (up to a depth no real stack reaches).
bool DevnoLiesOnDisk(const SysTree& sys, Devno devno, const std::string& diskName,
                     const DeviceOfFile& deviceOfFile);

// The running system's answer for `path`: its st_dev through stat.
std::optional<Devno> DeviceOfFileOnSystem(const std::string& path);

}  // namespace fw::linuxio
