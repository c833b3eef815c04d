#include "device/linux/sys_tree.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace fw::linuxio {

SysTree::SysTree(std::string root) : m_root(std::move(root)) {
  while (!m_root.empty() && m_root.back() == '/') m_root.pop_back();
}

std::string SysTree::Full(const std::string& path) const { return m_root + path; }

std::optional<std::string> SysTree::Read(const std::string& path) const {
  std::ifstream in(Full(path), std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream text;
  text << in.rdbuf();
  if (in.bad()) return std::nullopt;
  return text.str();
}

std::optional<std::string> SysTree::ReadLine(const std::string& path) const {
  std::optional<std::string> text = Read(path);
  if (!text) return std::nullopt;
  std::string line = text->substr(0, text->find('\n'));
  while (!line.empty() && (line.back() == ' ' || line.back() == '\r' || line.back() == '\t')) {
    line.pop_back();
  }
  return line;
}

std::optional<long long> SysTree::ReadNumber(const std::string& path) const {
  std::optional<std::string> line = ReadLine(path);
  if (!line || line->empty()) return std::nullopt;
  char* end = nullptr;
  const long long value = std::strtoll(line->c_str(), &end, 0);
  if (end == line->c_str() || *end != '\0') return std::nullopt;
  return value;
}

bool SysTree::Exists(const std::string& path) const {
  struct stat st {};
  return ::stat(Full(path).c_str(), &st) == 0;
}

bool SysTree::Write(const std::string& path, const std::string& text) const {
  // No O_CREAT: a missing attribute is a refusal, never a new file under the root.
  const int fd = ::open(Full(path).c_str(), O_WRONLY | O_CLOEXEC);
  if (fd < 0) return false;
  const ssize_t written = ::write(fd, text.data(), text.size());
  const bool closed = ::close(fd) == 0;
  return written == static_cast<ssize_t>(text.size()) && closed;
}

std::vector<std::string> SysTree::List(const std::string& path) const {
  std::vector<std::string> names;
  DIR* dir = ::opendir(Full(path).c_str());
  if (dir == nullptr) return names;
  while (const dirent* entry = ::readdir(dir)) {
    const std::string name = entry->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  ::closedir(dir);
  return names;
}

std::optional<std::string> SysTree::Resolve(const std::string& path) const {
  char resolved[PATH_MAX];
  if (::realpath(Full(path).c_str(), resolved) == nullptr) return std::nullopt;
  std::string result = resolved;
  if (m_root.empty()) return result;
  char rootResolved[PATH_MAX];
  if (::realpath(m_root.c_str(), rootResolved) == nullptr) return std::nullopt;
  const std::string root = rootResolved;
  if (result == root) return std::string("/");
  if (result.compare(0, root.size() + 1, root + "/") != 0) return std::nullopt;
  return result.substr(root.size());
}

}  // namespace fw::linuxio
