#include "device/disk_contents.hpp"

#include <algorithm>
#include <array>

namespace fw {

std::vector<std::string> DiskContents::AllMountPoints() const {
  std::vector<std::string> points = mountPoints;
  for (const PartitionContents& partition : partitions) {
    points.insert(points.end(), partition.mountPoints.begin(), partition.mountPoints.end());
  }
  return points;
}

bool IsSystemMountPoint(const std::string& mountPoint) {
  constexpr std::array<const char*, 6> kSystemMounts{"/",        "/usr", "/boot",
                                                     "/boot/efi", "/var", "/home"};
  return std::find(kSystemMounts.begin(), kSystemMounts.end(), mountPoint) != kSystemMounts.end();
}

}  // namespace fw
