#include "device/linux/disk_contents_linux.hpp"

#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <algorithm>
#include <filesystem>

#include "device/linux/blkid_probe.hpp"
#include "device/linux/udev_database.hpp"
#include "device/linux/volume_plan.hpp"

namespace fw::linuxio {

namespace {

namespace fs = std::filesystem;

// The mount points of one block device, each once, in mount table order.
std::vector<std::string> MountPointsOf(const std::vector<MountNode>& table, const SysTree& sys,
                                       const std::string& name) {
  std::vector<std::string> points;
  const std::optional<Devno> devno = DevnoOfName(sys, name);
  if (!devno) return points;
  const DiskDevices device{name, {*devno}, {name}};
  for (const MountNode& mount : table) {
    if (MountOnDisk(sys, mount, device) &&
        std::find(points.begin(), points.end(), mount.target) == points.end()) {
      points.push_back(mount.target);
    }
  }
  return points;
}

}  // namespace

std::vector<std::string> LinksTo(const std::string& folder, const std::string& node) {
  std::vector<std::string> links;
  std::error_code error;
  const fs::path target = fs::canonical(node, error);
  if (error) return links;
  for (const fs::directory_entry& entry : fs::directory_iterator(folder, error)) {
    std::error_code ignored;
    if (entry.is_symlink(ignored) && fs::canonical(entry.path(), ignored) == target && !ignored) {
      links.push_back(entry.path().string());
    }
  }
  std::sort(links.begin(), links.end());
  return links;
}

DiskContents ReadLinuxDiskContents(const SysTree& sys, const std::string& diskName,
                                   const std::vector<MountNode>& table) {
  DiskContents contents;
  const bool running = sys.Root().empty();
  const std::string node = "/dev/" + diskName;
  contents.readOnly = sys.ReadNumber("/sys/block/" + diskName + "/ro").value_or(0) != 0;
  contents.mountPoints = MountPointsOf(table, sys, diskName);
  if (running) {
    // udev's own list of the links it made; the folder itself where udev has no record.
    if (const std::optional<Devno> devno = DevnoOfName(sys, diskName)) {
      for (const std::string& link : ReadUdevRecord(sys, *devno).devlinks) {
        if (link.starts_with("/dev/disk/by-id/")) contents.byIdLinks.push_back(link);
      }
    }
    if (contents.byIdLinks.empty()) contents.byIdLinks = LinksTo("/dev/disk/by-id", node);
    if (const std::optional<ProbedContents> probed = ProbeContents(node)) {
      contents.partitionTable = probed->partitionTable;
      contents.fsType = probed->fsType;
      contents.label = probed->label;
    }
  }
  // The volume plan's reading of the disk and its partitions serves here too.
  const DiskDevices devices = ReadDiskDevices(sys, diskName);
  for (size_t i = 1; i < devices.names.size(); ++i) {
    const std::string& name = devices.names[i];
    PartitionContents partition;
    partition.number = static_cast<uint32_t>(
        sys.ReadNumber("/sys/block/" + diskName + "/" + name + "/partition").value_or(0));
    partition.path = "/dev/" + name;
    partition.bytes =
        sys.ReadNumber("/sys/block/" + diskName + "/" + name + "/size").value_or(0) * 512;
    partition.mountPoints = MountPointsOf(table, sys, name);
    if (running) {
      if (const std::optional<ProbedContents> probed = ProbeContents(partition.path)) {
        partition.fsType = probed->fsType;
        partition.label = probed->label;
      }
    }
    contents.partitions.push_back(std::move(partition));
  }
  std::sort(contents.partitions.begin(), contents.partitions.end(),
            [](const PartitionContents& a, const PartitionContents& b) { return a.number < b.number; });
  contents.carriesSystem = RunningSystemOn(sys, devices, table).has_value();
  return contents;
}

std::string WholeDiskOfPartitionNode(const SysTree& sys, const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0 || !S_ISBLK(st.st_mode)) return {};
  const std::optional<BlockNode> node =
      NodeOfDevno(sys, Devno{major(st.st_rdev), minor(st.st_rdev)});
  if (!node || node->partition == 0) return {};
  return "/dev/" + node->disk;
}

}  // namespace fw::linuxio
