#include "device/image/image_contents.hpp"

#include <unistd.h>

#include <algorithm>

#include "device/linux/blkid_probe.hpp"

namespace fw::image {

DiskContents DescribeImageDrive(const ImageDrive& drive, const std::vector<ImageMount>& mounted) {
  DiskContents contents;
  contents.readOnly = ::access(drive.path.c_str(), W_OK) != 0;
  if (const auto probed = linuxio::ProbeContents(drive.path)) {
    contents.partitionTable = probed->partitionTable;
    contents.fsType = probed->fsType;
    contents.label = probed->label;
    for (const linuxio::ProbedPartition& found : probed->partitions) {
      PartitionContents partition;
      partition.number = found.number;
      partition.bytes = found.bytes;
      if (const auto inside = linuxio::ProbeContents(drive.path, found.start, found.bytes)) {
        partition.fsType = inside->fsType;
        partition.label = inside->label;
      }
      contents.partitions.push_back(std::move(partition));
    }
  }
  for (const ImageMount& mount : mounted) {
    contents.carriesSystem = contents.carriesSystem || IsSystemMountPoint(mount.mountPoint);
    if (mount.partition == 0) {
      contents.mountPoints.push_back(mount.mountPoint);
      continue;
    }
    // The metadata may simulate a volume that no partition table of the image lists.
    auto at = std::find_if(contents.partitions.begin(), contents.partitions.end(),
                           [&](const PartitionContents& p) { return p.number == mount.partition; });
    if (at == contents.partitions.end()) {
      PartitionContents partition;
      partition.number = mount.partition;
      contents.partitions.push_back(partition);
      at = contents.partitions.end() - 1;
    }
    at->mountPoints.push_back(mount.mountPoint);
  }
  std::sort(contents.partitions.begin(), contents.partitions.end(),
            [](const PartitionContents& a, const PartitionContents& b) { return a.number < b.number; });
  return contents;
}

}  // namespace fw::image
