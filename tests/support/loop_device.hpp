#pragma once
// Loop devices that a test creates itself over an image in /tmp, and the mounts it makes on
// them; everything is undone when the guard goes, also when the test fails. Tests call
// SkipReason() first and skip visibly where the machine cannot give them a loop device.
#include <fcntl.h>
#include <sys/mount.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

namespace fw::test {

struct CommandResult {
  int status = -1;
  std::string output;  // standard output (standard error goes with it)
};

inline CommandResult RunCommand(const std::string& command) {
  CommandResult result;
  FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
  if (pipe == nullptr) return result;
  std::array<char, 4096> buffer{};
  size_t n;
  while ((n = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0) {
    result.output.append(buffer.data(), n);
  }
  const int status = ::pclose(pipe);
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

inline std::string FirstLine(const std::string& text) { return text.substr(0, text.find('\n')); }

// Whether something is mounted at `folder` in this mount namespace.
inline bool IsMounted(const std::string& folder) {
  std::ifstream mountinfo("/proc/self/mountinfo");
  std::string line;
  while (std::getline(mountinfo, line)) {
    if (line.find(" " + folder + " ") != std::string::npos) return true;
  }
  return false;
}

class LoopDevice {
 public:
  struct Options {
    int64_t size = 64ll << 20;
    int sectorSize = 0;  // 0: the default (512)
    bool readOnly = false;
    bool partitionScan = false;  // losetup -P: the kernel re-reads the table on BLKRRPART
  };

  // Why no loop device can be had here, or empty when one can.
  static std::string SkipReason() {
    if (::geteuid() != 0) return "loop devices need root";
    if (::access("/dev/loop-control", F_OK) != 0) return "no /dev/loop-control on this machine";
    if (RunCommand("losetup --version").status != 0) return "losetup is not installed";
    return {};
  }

  LoopDevice() : LoopDevice(Options{}) {}
  explicit LoopDevice(const Options& options) {
    char name[] = "/tmp/ferrowipe-loop-XXXXXX";
    const int fd = ::mkstemp(name);
    if (fd < 0) {
      m_error = "mkstemp failed";
      return;
    }
    m_image = name;
    const bool sized = ::ftruncate(fd, options.size) == 0;
    ::close(fd);
    if (!sized) {
      m_error = "ftruncate failed";
      return;
    }
    std::string command = "losetup -f --show";
    if (options.sectorSize != 0) command += " --sector-size " + std::to_string(options.sectorSize);
    if (options.readOnly) command += " -r";
    if (options.partitionScan) command += " -P";
    const CommandResult r = RunCommand(command + " " + m_image);
    if (r.status != 0) {
      m_error = "losetup failed: " + FirstLine(r.output);
      return;
    }
    m_path = FirstLine(r.output);
  }
  ~LoopDevice() {
    // Mounts first (latest first), then the device, then the image.
    for (auto it = m_mounts.rbegin(); it != m_mounts.rend(); ++it) {
      ::umount2(it->c_str(), MNT_DETACH);
      ::rmdir(it->c_str());
    }
    for (const std::string& partition : m_partitions) {
      RunCommand("delpart " + m_path + " " + partition);
    }
    if (!m_path.empty()) RunCommand("losetup -d " + m_path);
    if (!m_image.empty()) ::unlink(m_image.c_str());
  }
  LoopDevice(const LoopDevice&) = delete;
  LoopDevice& operator=(const LoopDevice&) = delete;

  bool Ok() const { return !m_path.empty(); }
  const std::string& Error() const { return m_error; }
  const std::string& Path() const { return m_path; }
  const std::string& Image() const { return m_image; }
  std::string Name() const { return m_path.substr(m_path.rfind('/') + 1); }

  // A partition made with BLKPG (addpart), since loop devices do not scan partition tables
  // here; its node is /dev/loopNpM. Empty on failure.
  std::string AddPartition(int number, int64_t startSector, int64_t sectors) {
    const CommandResult r = RunCommand("addpart " + m_path + " " + std::to_string(number) + " " +
                                       std::to_string(startSector) + " " + std::to_string(sectors));
    if (r.status != 0) {
      m_error = "addpart failed: " + FirstLine(r.output);
      return {};
    }
    m_partitions.push_back(std::to_string(number));
    const std::string node = m_path + "p" + std::to_string(number);
    for (int i = 0; i < 50 && ::access(node.c_str(), F_OK) != 0; ++i) ::usleep(20000);
    return node;
  }

  // An ext4 file system on `node`, mounted on a new folder in /tmp; the folder, or empty.
  std::string MountExt4(const std::string& node) {
    const CommandResult mk = RunCommand("mkfs.ext4 -q -F " + node);
    if (mk.status != 0) {
      m_error = "mkfs.ext4 failed: " + FirstLine(mk.output);
      return {};
    }
    return MountAt(node, "ext4", "");
  }

  // A file system already on `node` mounted on a new folder; the folder, or empty.
  std::string Mount(const std::string& node) { return MountAt(node, "", ""); }

  // A bind mount of `folder` on a new folder; the new folder, or empty.
  std::string BindMount(const std::string& folder) { return MountAt(folder, "", "--bind"); }

  // `mount ARGUMENTS FOLDER` on a folder that exists (inside or on top of another mount),
  // undone with the rest; false on failure.
  bool MountOn(const std::string& arguments, const std::string& folder) {
    const CommandResult r = RunCommand("mount " + arguments + " " + folder);
    if (r.status != 0) {
      m_error = "mount failed: " + FirstLine(r.output);
      return false;
    }
    m_mounts.push_back(folder);
    return true;
  }

 private:
  std::string MountAt(const std::string& source, const std::string& type, const std::string& how) {
    char dir[] = "/tmp/ferrowipe-mnt-XXXXXX";
    if (::mkdtemp(dir) == nullptr) {
      m_error = "mkdtemp failed";
      return {};
    }
    std::string command = "mount " + how;
    if (!type.empty()) command += " -t " + type;
    const CommandResult r = RunCommand(command + " " + source + " " + dir);
    if (r.status != 0) {
      ::rmdir(dir);
      m_error = "mount failed: " + FirstLine(r.output);
      return {};
    }
    m_mounts.push_back(dir);
    return dir;
  }

  std::string m_image;
  std::string m_path;
  std::string m_error;
  std::vector<std::string> m_partitions;
  std::vector<std::string> m_mounts;
};

}  // namespace fw::test
