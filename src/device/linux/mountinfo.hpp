#pragma once
// /proc/self/mountinfo, parsed (pure).
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace fw::linuxio {

struct MountEntry {
  uint32_t major = 0;  // field 3, the st_dev of the mounted file system
  uint32_t minor = 0;
  std::string root;
  std::string mountPoint;
  std::string fsType;
  std::string source;  // the mount source, e.g. /dev/sda1 (unescaped)
};

// One entry per well-formed line, in file order; malformed lines are left out.
std::vector<MountEntry> ParseMountInfo(std::string_view text);

// The kernel writes blank, tab, newline and backslash in paths as \ooo octal escapes.
std::string UnescapeOctal(std::string_view text);

}  // namespace fw::linuxio
