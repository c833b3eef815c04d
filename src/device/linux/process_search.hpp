#pragma once
// Which program keeps a file system or a block device busy, found as fuser finds it: through
// each process's working folder, root, open files and mapped files in /proc, read through the
// tree's root (a fixture's /proc in the tests).
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "device/linux/block_devices.hpp"
#include "device/linux/sys_tree.hpp"

namespace fw::linuxio {

struct ProcessUse {
  int64_t pid = 0;
  std::string command;
};

// The first process but this one whose working folder, root, open files or mapped files lie on
// one of `fileSystems` (st_dev), or that has one of the block devices `nodes` open.
std::optional<ProcessUse> FindProcessUsing(const std::vector<Devno>& fileSystems,
                                           const std::vector<Devno>& nodes,
                                           const SysTree& sys = SysTree());

}  // namespace fw::linuxio
