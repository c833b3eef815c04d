#include "core/small_file.hpp"

#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <array>
#include <climits>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string_view>
#include <vector>

namespace fw {

namespace {

std::string TooLarge(size_t limit) {
  return "it holds more than " + std::to_string(limit) + " bytes";
}

constexpr const char* kLinkNotFollowed = "it is a symbolic link, which is not followed";

// Closes the descriptor when it goes.
class Fd {
 public:
  explicit Fd(int fd = -1) : m_fd(fd) {}
  ~Fd() {
    if (m_fd >= 0) close(m_fd);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  Fd& operator=(Fd&& other) noexcept {
    std::swap(m_fd, other.m_fd);
    return *this;
  }
  int get() const { return m_fd; }

 private:
  int m_fd;
};

// The names between the slashes; "." left out, so that "a/./b" walks as "a/b".
std::vector<std::string> Components(std::string_view path) {
  std::vector<std::string> parts;
  while (!path.empty()) {
    const size_t slash = path.find('/');
    const std::string_view part = path.substr(0, slash);
    if (!part.empty() && part != ".") parts.emplace_back(part);
    path.remove_prefix(slash == std::string_view::npos ? path.size() : slash + 1);
  }
  return parts;
}

// A link only this process's own rights could have made or changed: its effective user's
// (root's when raised), in a folder of that user's that nobody else may change (or only with
// the sticky bit, which keeps others from replacing its entries).
bool IsOwnLink(int folder, const std::string& name) {
  struct stat link {};
  struct stat parent {};
  const uid_t self = geteuid();
  if (fstatat(folder, name.c_str(), &link, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISLNK(link.st_mode) ||
      link.st_uid != self || fstat(folder, &parent) != 0 || parent.st_uid != self) {
    return false;
  }
  return (parent.st_mode & (S_IWGRP | S_IWOTH)) == 0 || (parent.st_mode & S_ISVTX) != 0;
}

// Opens the folder `path` one name at a time, each without following a link unless `links`
// allows it; with `create` missing folders are made (0700, `owner`'s). -1 and errno (ELOOP for a
// link refused) when it cannot.
int OpenFolder(const std::string& path, FolderLinks links, bool create = false,
               std::optional<FileOwner> owner = {}) {
  constexpr int kFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
  if (links == FolderLinks::Follow && !create) return open(path.empty() ? "." : path.c_str(), kFlags);
  Fd folder(open(!path.empty() && path[0] == '/' ? "/" : ".", kFlags));
  if (folder.get() < 0) return -1;
  for (const std::string& name : Components(path)) {
    int next = openat(folder.get(), name.c_str(), kFlags | O_NOFOLLOW);
    if (next < 0 && errno == ENOENT && create) {
      const bool made = mkdirat(folder.get(), name.c_str(), 0700) == 0;
      if (!made && errno != EEXIST) return -1;
      next = openat(folder.get(), name.c_str(), kFlags | O_NOFOLLOW);
      // A folder of root's in the user's home would keep the user's own programs out of it.
      if (made && next >= 0 && owner && fchown(next, owner->uid, owner->gid) != 0) {
        const int error = errno;
        close(next);
        unlinkat(folder.get(), name.c_str(), AT_REMOVEDIR);
        errno = error;
        return -1;
      }
    }
    if (next < 0 && (errno == ELOOP || errno == ENOTDIR)) {
      const int error = errno;
      const bool follow = links == FolderLinks::Follow || IsOwnLink(folder.get(), name);
      next = follow ? openat(folder.get(), name.c_str(), kFlags) : -1;
      // O_DIRECTORY meets a link before O_NOFOLLOW does: ENOTDIR, which would hide the cause.
      struct stat entry {};
      if (!follow) {
        errno = fstatat(folder.get(), name.c_str(), &entry, AT_SYMLINK_NOFOLLOW) == 0 &&
                        S_ISLNK(entry.st_mode)
                    ? ELOOP
                    : error;
      }
    }
    if (next < 0) return -1;
    folder = Fd(next);
  }
  return dup(folder.get());
}

std::string ProblemOfErrno(int error) {
  return error == ELOOP ? kLinkNotFollowed : std::strerror(error);
}

// Reads the open file whole when it is regular and holds at most `limit` bytes.
SmallFileRead ReadOpenFile(int fd, size_t limit) {
  SmallFileRead result;
  struct stat info {};
  if (fstat(fd, &info) != 0) {
    result.problem = std::strerror(errno);
  } else if (!S_ISREG(info.st_mode)) {
    result.problem = NotRegularFileProblem(info.st_mode);
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
  if (!result.ok) result.content.clear();
  return result;
}

SmallFileRead Refused(std::string problem) {
  SmallFileRead result;
  result.problem = std::move(problem);
  return result;
}

constexpr int kReadFlags = O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOFOLLOW;

// openat2 confines the walk in the kernel; older kernels (before 5.6) walk name by name.
int OpenBeneath(int folder, const std::string& relative) {
  open_how how{};
  how.flags = kReadFlags;
  how.resolve = RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS;
  const long fd = syscall(SYS_openat2, folder, relative.c_str(), &how, sizeof how);
  if (fd >= 0 || errno != ENOSYS) return static_cast<int>(fd);
  const std::vector<std::string> names = Components(relative);
  Fd at(dup(folder));
  for (size_t i = 0; i + 1 < names.size() && at.get() >= 0; ++i) {
    if (names[i] == "..") {
      errno = EXDEV;
      return -1;
    }
    at = Fd(openat(at.get(), names[i].c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  }
  if (at.get() < 0) return -1;
  if (names.empty() || names.back() == "..") {
    errno = names.empty() ? EISDIR : EXDEV;
    return -1;
  }
  return openat(at.get(), names.back().c_str(), kReadFlags);
}

// The sibling is the name, a dot and six letters.
constexpr size_t kSiblingExtra = 7;

// A name beside `name` that nothing else uses yet: its bytes go there before it takes the name.
int CreateSibling(int folder, const std::string& name, std::string& sibling) {
  constexpr std::string_view kLetters = "abcdefghijklmnopqrstuvwxyz0123456789";
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::array<uint8_t, 6> random{};
    if (getrandom(random.data(), random.size(), 0) != static_cast<ssize_t>(random.size())) {
      return -1;
    }
    sibling = name + ".";
    for (const uint8_t r : random) sibling += kLetters[r % kLetters.size()];
    const int fd = openat(folder, sibling.c_str(),
                          O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  errno = EEXIST;
  return -1;
}

bool Replaceable(mode_t mode) { return S_ISREG(mode) || S_ISLNK(mode); }

// Gives `sibling` the name `name` when that name is free or a regular file or a link. The
// exchange is atomic: what it took the place of is looked at afterwards and, when it is
// anything else, put back; no moment exists in which a device node planted at the last instant
// is replaced. File systems without exchange get a look right before a plain rename.
std::string TakeName(int folder, const std::string& sibling, const std::string& name) {
  for (int attempt = 0; attempt < 10; ++attempt) {
    if (renameat2(folder, sibling.c_str(), folder, name.c_str(), RENAME_NOREPLACE) == 0) return {};
    if (errno == EEXIST) {
      if (renameat2(folder, sibling.c_str(), folder, name.c_str(), RENAME_EXCHANGE) != 0) {
        if (errno == ENOENT) continue;  // gone again in between
        if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP) return std::strerror(errno);
        break;
      }
      struct stat old {};
      if (fstatat(folder, sibling.c_str(), &old, AT_SYMLINK_NOFOLLOW) == 0 &&
          !Replaceable(old.st_mode)) {
        renameat2(folder, sibling.c_str(), folder, name.c_str(), RENAME_EXCHANGE);
        return NotRegularFileProblem(old.st_mode);
      }
      unlinkat(folder, sibling.c_str(), 0);
      return {};
    }
    if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP) return std::strerror(errno);
    break;
  }
  struct stat old {};
  if (fstatat(folder, name.c_str(), &old, AT_SYMLINK_NOFOLLOW) == 0 && !Replaceable(old.st_mode)) {
    return NotRegularFileProblem(old.st_mode);
  }
  if (renameat(folder, sibling.c_str(), folder, name.c_str()) != 0) return std::strerror(errno);
  return {};
}

}  // namespace

std::string NotRegularFileProblem(mode_t mode) {
  if (S_ISREG(mode)) return {};
  if (S_ISLNK(mode)) return kLinkNotFollowed;
  const char* what = S_ISDIR(mode)    ? "a folder"
                     : S_ISFIFO(mode) ? "a FIFO"
                     : S_ISCHR(mode)  ? "a character device"
                     : S_ISBLK(mode)  ? "a block device"
                     : S_ISSOCK(mode) ? "a socket"
                                      : "a special file";
  return std::string("it is ") + what + ", not a regular file";
}

SmallFileRead ReadBoundedFile(const std::string& path, size_t limit, bool followLink) {
  const int flags = O_RDONLY | O_NONBLOCK | O_CLOEXEC | (followLink ? 0 : O_NOFOLLOW);
  const Fd fd(open(path.c_str(), flags));
  if (fd.get() < 0) {
    return Refused(errno == ELOOP && !followLink ? kLinkNotFollowed : std::strerror(errno));
  }
  return ReadOpenFile(fd.get(), limit);
}

SmallFileRead ReadFileInFolder(const std::string& folder, const std::string& relative,
                               size_t limit) {
  if (relative.empty() || relative[0] == '/') return Refused("it lies outside the folder");
  const Fd dir(open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir.get() < 0) return Refused(std::strerror(errno));
  const Fd fd(OpenBeneath(dir.get(), relative));
  if (fd.get() < 0) {
    return Refused(errno == EXDEV ? "it lies outside the folder" : ProblemOfErrno(errno));
  }
  return ReadOpenFile(fd.get(), limit);
}

SmallFileRead ReadUserFile(const std::string& path, size_t limit, FolderLinks links) {
  const size_t slash = path.rfind('/');
  const std::string folderPath = slash == std::string::npos ? "" : path.substr(0, slash + 1);
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  const Fd folder(OpenFolder(folderPath, links));
  if (folder.get() < 0) return Refused(ProblemOfErrno(errno));
  const Fd fd(openat(folder.get(), name.c_str(), kReadFlags));
  if (fd.get() < 0) return Refused(ProblemOfErrno(errno));
  return ReadOpenFile(fd.get(), limit);
}

std::string ReadSmallFile(const std::string& path) {
  return ReadBoundedFile(path, std::numeric_limits<size_t>::max()).content;
}

std::string FileTargetProblem(const std::string& path, FolderLinks links) {
  if (path.empty()) return "no file name given";
  const size_t slash = path.rfind('/');
  const std::string folderPath = slash == std::string::npos ? "" : path.substr(0, slash + 1);
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  if (name.empty() || name == "." || name == "..") return "it is a folder, not a regular file";
  if (name.size() + kSiblingExtra > NAME_MAX) {
    return "the name is too long: " + std::to_string(name.size()) + " bytes, at most " +
           std::to_string(NAME_MAX - kSiblingExtra) + " leave room for the file written beside it";
  }
  // The folder's own path counts too: the kernel refuses a longer name however it is reached.
  if (path.size() + kSiblingExtra >= PATH_MAX) {
    return "the path is too long: " + std::to_string(path.size()) + " bytes, at most " +
           std::to_string(PATH_MAX - 1 - kSiblingExtra);
  }
  const std::string shownFolder = folderPath.empty() ? "." : folderPath;
  const Fd folder(OpenFolder(folderPath, links));
  if (folder.get() < 0) return "no folder " + shownFolder + ": " + ProblemOfErrno(errno);
  struct stat existing {};
  if (fstatat(folder.get(), name.c_str(), &existing, AT_SYMLINK_NOFOLLOW) == 0) {
    if (!S_ISREG(existing.st_mode)) return NotRegularFileProblem(existing.st_mode);
  } else if (errno != ENOENT) {
    return std::strerror(errno);
  }
  if (faccessat(folder.get(), ".", W_OK | X_OK, AT_EACCESS) != 0) {
    return "the folder " + shownFolder + " is not writable: " + std::strerror(errno);
  }
  return {};
}

std::string WriteFileAtomically(const std::string& path, const std::string& text,
                                std::optional<FileOwner> owner, FolderLinks links) {
  const size_t slash = path.rfind('/');
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  if (name.empty() || name == "." || name == "..") return "it is a folder, not a regular file";
  const Fd folder(OpenFolder(slash == std::string::npos ? "" : path.substr(0, slash + 1), links));
  if (folder.get() < 0) return ProblemOfErrno(errno);
  std::string sibling;
  const Fd fd(CreateSibling(folder.get(), name, sibling));
  if (fd.get() < 0) return std::strerror(errno);
  std::string problem;
  for (size_t done = 0; problem.empty() && done < text.size();) {
    const ssize_t n = write(fd.get(), text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) problem = n < 0 ? std::strerror(errno) : "nothing could be written";
    if (n > 0) done += static_cast<size_t>(n);
  }
  // The sibling is created 0600; the marker and the reports are ordinary user files.
  if (problem.empty() && ((owner && fchown(fd.get(), owner->uid, owner->gid) != 0) ||
                          fchmod(fd.get(), 0644) != 0 || fsync(fd.get()) != 0)) {
    problem = std::strerror(errno);
  }
  if (problem.empty()) problem = TakeName(folder.get(), sibling, name);
  if (!problem.empty()) {
    unlinkat(folder.get(), sibling.c_str(), 0);
    return problem;
  }
  // Without this the new name may be lost in a crash, while the report says it was written.
  if (fsync(folder.get()) != 0 && errno != EINVAL) return std::strerror(errno);
  return {};
}

bool WriteSmallFile(const std::string& path, const std::string& text,
                    std::optional<FileOwner> owner) {
  return WriteFileAtomically(path, text, owner).empty();
}

bool MakeUserFolder(const std::string& path, std::optional<FileOwner> owner) {
  const Fd folder(OpenFolder(path, FolderLinks::OnlyOwnLinks, true, owner));
  return folder.get() >= 0;
}

}  // namespace fw
