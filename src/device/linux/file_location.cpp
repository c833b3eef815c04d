#include "device/linux/file_location.hpp"

#include <sys/stat.h>
#include <sys/sysmacros.h>

namespace fw::linuxio {

namespace {

// Loops of loop devices, or a slave link leading back, must not send the walk round for ever.
constexpr int kDepthLimit = 16;

bool LiesOnDisk(const SysTree& sys, Devno devno, const std::string& diskName,
                const DeviceOfFile& deviceOfFile, int depth) {
  if (depth > kDepthLimit) return false;
  const std::optional<BlockNode> node = NodeOfDevno(sys, devno);
  if (!node) return false;
  if (node->disk == diskName) return true;
  const std::string dir = "/sys/class/block/" + node->name;
  for (const std::string& slave : sys.List(dir + "/slaves")) {
    const std::optional<Devno> below = DevnoOfName(sys, slave);
    if (below && LiesOnDisk(sys, *below, diskName, deviceOfFile, depth + 1)) return true;
  }
  if (const std::optional<std::string> backing = sys.ReadLine(dir + "/loop/backing_file")) {
    const std::optional<Devno> below = deviceOfFile(*backing);
    if (below && LiesOnDisk(sys, *below, diskName, deviceOfFile, depth + 1)) return true;
  }
  return false;
}

}  // namespace

bool DevnoLiesOnDisk(const SysTree& sys, Devno devno, const std::string& diskName,
                     const DeviceOfFile& deviceOfFile) {
  return LiesOnDisk(sys, devno, diskName, deviceOfFile, 0);
}

std::optional<Devno> DeviceOfFileOnSystem(const std::string& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) return std::nullopt;
  return Devno{major(info.st_dev), minor(info.st_dev)};
}

}  // namespace fw::linuxio
