#pragma once
// errno to Windows error code, in one table, and the error texts the program shows.
#include <cstdint>
#include <string>

#include "device/drive_commands.hpp"

namespace fw::linuxio {

// Where an errno came from: a few errnos mean different things on different calls.
enum class ErrnoSite {
  Open,   // open(2): EPERM is a refusal of access
  Write,  // write(2): EPERM is a read-only device
  Lock,   // flock(2): EWOULDBLOCK is someone else's lock
  Other,  // ioctl, lseek, umount, fdatasync
};

uint32_t WindowsErrorFromErrno(int error, ErrnoSite site);

// A drive command whose SG_IO or NVMe admin ioctl failed: a path that does not carry the
// command at all (a loop device, a bridge, a driver without pass-through) sent nothing.
CommandOutcome CommandOutcomeFromErrno(int error);
// Its Windows code: the same as any call's, except that a path not carrying the command says
// so (ERROR_INVALID_FUNCTION) whatever errno it chose.
uint32_t CommandErrorFromErrno(int error);

// The code a drive command's failed send reports, when no errno of our own gave one.
uint32_t WindowsErrorOfOutcome(CommandOutcome outcome);

// The errno whose text stands for a Windows code when no errno of our own produced it.
int ErrnoForWindowsError(uint32_t code);

// strerror of `error`, with trailing blanks, control characters and full stops removed.
std::string ErrnoText(int error);

// Trailing characters of code 0 to 32 and trailing full stops removed.
std::string CleanErrorText(std::string text);

}  // namespace fw::linuxio
