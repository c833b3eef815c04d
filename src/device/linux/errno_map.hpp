#pragma once
// errno to Windows error code, in one table, and the error texts the program shows.
#include <cstdint>
#include <string>

namespace fw::linuxio {

// Where an errno came from: a few errnos mean different things on different calls.
enum class ErrnoSite {
  Open,   // open(2): EPERM is a refusal of access
  Write,  // write(2): EPERM is a read-only device
  Lock,   // flock(2): EWOULDBLOCK is someone else's lock
  Other,  // ioctl, lseek, umount, fdatasync
};

uint32_t WindowsErrorFromErrno(int error, ErrnoSite site);

// The errno whose text stands for a Windows code when no errno of our own produced it.
int ErrnoForWindowsError(uint32_t code);

// strerror of `error`, with trailing blanks, control characters and full stops removed.
std::string ErrnoText(int error);

// Trailing characters of code 0 to 32 and trailing full stops removed.
std::string CleanErrorText(std::string text);

}  // namespace fw::linuxio
