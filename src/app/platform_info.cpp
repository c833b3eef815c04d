#include "app/platform_info.hpp"

#include <dirent.h>
#include <sys/utsname.h>

#include <fstream>
#include <sstream>

namespace fw {

namespace {

constexpr std::string_view kPlatformPrefix = "平台:       ";

std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return {};
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// os-release values follow shell quoting: "..." with \" \\ \$ \` escapes, or '...'.
std::string Unquote(std::string_view value) {
  if (value.size() >= 2 && value.front() == '\'' && value.back() == '\'') {
    return std::string(value.substr(1, value.size() - 2));
  }
  if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
    value = value.substr(1, value.size() - 2);
    std::string out;
    for (size_t i = 0; i < value.size(); ++i) {
      if (value[i] == '\\' && i + 1 < value.size() &&
          std::string_view("\"\\$`").find(value[i + 1]) != std::string_view::npos) {
        ++i;
      }
      out.push_back(value[i]);
    }
    return out;
  }
  return std::string(value);
}

}  // namespace

std::string ProgramFolder(std::string_view programFile) {
  while (!programFile.empty() && programFile.back() != '/') programFile.remove_suffix(1);
  return std::string(programFile);
}

std::string PrettyName(std::string_view osRelease) {
  constexpr std::string_view kKey = "PRETTY_NAME=";
  while (!osRelease.empty()) {
    const size_t end = osRelease.find('\n');
    std::string_view line = osRelease.substr(0, end);
    osRelease = end == std::string_view::npos ? std::string_view() : osRelease.substr(end + 1);
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.remove_suffix(1);
    if (line.substr(0, kKey.size()) == kKey) return Unquote(line.substr(kKey.size()));
  }
  return {};
}

std::string BitnessText(bool kernel64) { return kernel64 ? "  (64 位元) " : "  (32 位元) "; }

std::string PlatformLine(std::string_view kernelRelease, std::string_view distribution,
                         bool kernel64) {
  std::string line(kPlatformPrefix);
  line += kernelRelease;
  line += "   ";
  line += distribution;
  line += BitnessText(kernel64);
  return line;
}

bool RunningOnWow64() {
  if constexpr (sizeof(void*) >= 8) {
    return false;
  } else {
    utsname name{};
    if (uname(&name) != 0) return false;
    const std::string_view machine(name.machine);
    return machine.find("64") != std::string_view::npos || machine == "s390x";
  }
}

bool KernelIs64Bit() { return sizeof(void*) >= 8 || RunningOnWow64(); }

std::string KernelRelease() {
  utsname name{};
  if (uname(&name) != 0) return {};
  return name.release;
}

std::string DistributionName(const std::string& root) {
  std::string text = ReadText(root + "etc/os-release");
  if (text.empty()) text = ReadText(root + "usr/lib/os-release");
  return PrettyName(text);
}

bool DeviceSetupAvailable(const std::string& root) {
  DIR* blocks = opendir((root + "sys/block").c_str());
  if (blocks == nullptr) return false;
  closedir(blocks);
  std::ifstream mounts(root + "proc/self/mountinfo");
  return static_cast<bool>(mounts);
}

}  // namespace fw
