#pragma once
// Reads the kernel's and udev's files (/sys, /proc, /run) under a root folder, util-linux's
// path-prefix idea: "/" on a running system, a fixture tree in the tests. Every path argument
// is an absolute path as seen on the running system ("/sys/block"); the root is put in front.
#include <optional>
#include <string>
#include <vector>

namespace fw::linuxio {

class SysTree {
 public:
  explicit SysTree(std::string root = "/");

  const std::string& Root() const { return m_root; }

  // The whole file, or nothing when it cannot be read.
  std::optional<std::string> Read(const std::string& path) const;
  // The first line without its line end and without trailing blanks.
  std::optional<std::string> ReadLine(const std::string& path) const;
  std::optional<long long> ReadNumber(const std::string& path) const;
  bool Exists(const std::string& path) const;
  // Writes `text` to an existing file (a sysfs attribute), in one write; false when refused.
  bool Write(const std::string& path, const std::string& text) const;
  // Entry names of a folder, "." and ".." left out, in no particular order.
  std::vector<std::string> List(const std::string& path) const;
  // The path with every symbolic link resolved, as seen from the root ("/sys/devices/..."),
  // or nothing when it does not exist or leads outside the root.
  std::optional<std::string> Resolve(const std::string& path) const;

 private:
  std::string Full(const std::string& path) const;

  std::string m_root;  // without a trailing slash; empty for "/"
};

}  // namespace fw::linuxio
