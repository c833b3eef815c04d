#include "core/small_file.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <vector>

namespace fw {

namespace {

std::string NotRegular(mode_t mode) {
  const char* what = S_ISDIR(mode)    ? "a folder"
                     : S_ISFIFO(mode) ? "a FIFO"
                     : S_ISCHR(mode)  ? "a character device"
                     : S_ISBLK(mode)  ? "a block device"
                     : S_ISSOCK(mode) ? "a socket"
                                      : "a special file";
  return std::string("it is ") + what + ", not a regular file";
}

std::string TooLarge(size_t limit) {
  return "it holds more than " + std::to_string(limit) + " bytes";
}

}  // namespace

SmallFileRead ReadBoundedFile(const std::string& path, size_t limit, bool followLink) {
  SmallFileRead result;
  const int flags = O_RDONLY | O_NONBLOCK | O_CLOEXEC | (followLink ? 0 : O_NOFOLLOW);
  const int fd = open(path.c_str(), flags);
  if (fd < 0) {
    result.problem = errno == ELOOP && !followLink ? "it is a symbolic link, which is not followed"
                                                   : std::strerror(errno);
    return result;
  }
  struct stat info {};
  if (fstat(fd, &info) != 0) {
    result.problem = std::strerror(errno);
  } else if (!S_ISREG(info.st_mode)) {
    result.problem = NotRegular(info.st_mode);
  } else if (static_cast<uintmax_t>(info.st_size) > limit) {
    result.problem = TooLarge(limit);
  } else {
    // The size is checked again while reading: the file may grow after the fstat.
    std::array<char, 4096> block{};
    for (;;) {
      const ssize_t n = read(fd, block.data(), block.size());
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) {
        result.problem = std::strerror(errno);
        break;
      }
      if (n == 0) {
        result.ok = true;
        break;
      }
      if (static_cast<size_t>(n) > limit - result.content.size()) {
        result.problem = TooLarge(limit);
        break;
      }
      result.content.append(block.data(), static_cast<size_t>(n));
    }
  }
  close(fd);
  if (!result.ok) result.content.clear();
  return result;
}

std::string ReadSmallFile(const std::string& path) {
  return ReadBoundedFile(path, std::numeric_limits<size_t>::max()).content;
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
