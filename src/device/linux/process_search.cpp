#include "device/linux/process_search.hpp"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <sstream>

namespace fw::linuxio {
namespace {

bool Contains(const std::vector<Devno>& devnos, Devno devno) {
  return std::find(devnos.begin(), devnos.end(), devno) != devnos.end();
}

// /proc/PID/maps names the device of every mapped file as hex "maj:min" in its fourth field.
bool MapsUse(const std::string& maps, const std::vector<Devno>& fileSystems) {
  std::istringstream lines(maps);
  std::string line;
  while (std::getline(lines, line)) {
    std::istringstream fields(line);
    std::string range, perms, offset, dev;
    if (!(fields >> range >> perms >> offset >> dev)) continue;
    const size_t colon = dev.find(':');
    if (colon == std::string::npos) continue;
    const auto majorNumber = static_cast<uint32_t>(std::strtoul(dev.c_str(), nullptr, 16));
    const auto minorNumber = static_cast<uint32_t>(std::strtoul(dev.c_str() + colon + 1, nullptr, 16));
    if ((majorNumber != 0 || minorNumber != 0) &&
        Contains(fileSystems, Devno{majorNumber, minorNumber})) {
      return true;
    }
  }
  return false;
}

bool ProcessUses(const SysTree& sys, const std::string& base, const std::vector<Devno>& fileSystems,
                 const std::vector<Devno>& nodes) {
  std::vector<std::string> links = {base + "/cwd", base + "/root"};
  for (const std::string& fd : sys.List(base + "/fd")) links.push_back(base + "/fd/" + fd);
  for (const std::string& link : links) {
    const std::optional<FileId> id = IdentifyPath(sys, link);
    if (!id) continue;
    if (id->block && Contains(nodes, *id->block)) return true;
    if (Contains(fileSystems, id->dev)) return true;
  }
  if (fileSystems.empty()) return false;
  const std::optional<std::string> maps = sys.Read(base + "/maps");
  return maps && MapsUse(*maps, fileSystems);
}

}  // namespace

std::optional<ProcessUse> FindProcessUsing(const std::vector<Devno>& fileSystems,
                                           const std::vector<Devno>& nodes, const SysTree& sys) {
  // A fixture's processes are not this machine's: none of them is this one.
  const std::string self = sys.Root().empty() ? std::to_string(::getpid()) : std::string();
  std::vector<std::string> pids = sys.List("/proc");
  std::sort(pids.begin(), pids.end(), NaturalLess);
  for (const std::string& pid : pids) {
    if (pid.empty() || !std::all_of(pid.begin(), pid.end(), ::isdigit) || pid == self) continue;
    const std::string base = "/proc/" + pid;
    if (ProcessUses(sys, base, fileSystems, nodes)) {
      return ProcessUse{std::stoll(pid), sys.ReadLine(base + "/comm").value_or("")};
    }
  }
  return std::nullopt;
}

}  // namespace fw::linuxio
