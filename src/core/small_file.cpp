#include "core/small_file.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <vector>

namespace fw {

std::string ReadSmallFile(const std::string& path, size_t limit) {
  const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return {};
  std::string content;
  struct stat info {};
  if (fstat(fd, &info) == 0 && S_ISREG(info.st_mode) &&
      static_cast<size_t>(info.st_size) <= limit) {
    // One byte more than allowed tells a file that grew, or lied about its size, from one that
    // fits.
    std::array<char, 128> block{};
    while (content.size() <= limit) {
      const size_t want = std::min(block.size(), limit + 1 - content.size());
      const ssize_t n = read(fd, block.data(), want);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      content.append(block.data(), static_cast<size_t>(n));
    }
    if (content.size() > limit) content.clear();
  }
  close(fd);
  return content;
}

bool WriteSmallFile(const std::string& path, const std::string& text,
                    std::optional<FileOwner> owner) {
  std::vector<char> temp(path.begin(), path.end());
  for (const char c : std::string_view(".XXXXXX")) temp.push_back(c);
  temp.push_back('\0');
  const int fd = mkostemp(temp.data(), O_CLOEXEC);
  if (fd < 0) return false;
  bool ok = true;
  size_t done = 0;
  while (ok && done < text.size()) {
    const ssize_t n = write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    ok = n > 0;
    if (ok) done += static_cast<size_t>(n);
  }
  // mkostemp creates the file 0600; the marker is an ordinary user file.
  ok = ok && (!owner || fchown(fd, owner->uid, owner->gid) == 0);
  ok = ok && fchmod(fd, 0644) == 0 && fsync(fd) == 0;
  ok = close(fd) == 0 && ok;
  ok = ok && std::rename(temp.data(), path.c_str()) == 0;
  if (!ok) unlink(temp.data());
  return ok;
}

bool MakeUserFolder(const std::string& path, std::optional<FileOwner> owner) {
  for (size_t slash = path.find('/', 1); ; slash = path.find('/', slash + 1)) {
    const std::string part = path.substr(0, slash);
    if (!part.empty()) {
      if (mkdir(part.c_str(), 0700) == 0) {
        // A folder of root's in the user's home would keep the user's own programs out of it.
        if (owner && fchownat(AT_FDCWD, part.c_str(), owner->uid, owner->gid,
                              AT_SYMLINK_NOFOLLOW) != 0) {
          rmdir(part.c_str());
          return false;
        }
      } else if (errno != EEXIST) {
        return false;
      }
    }
    if (slash == std::string::npos) break;
  }
  struct stat info {};
  return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

}  // namespace fw
