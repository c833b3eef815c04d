#include "device/linux/errno_map.hpp"

#include <cerrno>
#include <cstring>

#include "device/device_io.hpp"

namespace fw::linuxio {

uint32_t WindowsErrorFromErrno(int error, ErrnoSite site) {
  switch (error) {
    case 0: return win::ERROR_SUCCESS;
    case ENOENT: return win::ERROR_FILE_NOT_FOUND;
    case ENODEV:
    case ENXIO: return win::ERROR_DEV_NOT_EXIST;
    case EROFS: return win::ERROR_WRITE_PROTECT;
    case EPERM: return site == ErrnoSite::Write ? win::ERROR_WRITE_PROTECT : win::ERROR_ACCESS_DENIED;
    case EACCES: return win::ERROR_ACCESS_DENIED;
    case EBUSY: return win::ERROR_SHARING_VIOLATION;
    // A write to an active swap device: the device is in use by the system.
    case ETXTBSY: return win::ERROR_SHARING_VIOLATION;
    case ENOMEDIUM: return win::ERROR_NOT_READY;
    case ETIMEDOUT: return win::ERROR_SEM_TIMEOUT;
    case EIO:
    // The block layer's medium, target and transport errors are device I/O errors too.
    case ENODATA:
    case EREMOTEIO:
    case ENOLINK: return win::ERROR_IO_DEVICE;
    case ENOSPC: return win::ERROR_DISK_FULL;
    case EINVAL: return win::ERROR_INVALID_PARAMETER;
    case ENOTTY:
    case EOPNOTSUPP: return win::ERROR_INVALID_FUNCTION;
    case ENOMEM: return win::ERROR_NOT_ENOUGH_MEMORY;
    case EBADF: return win::ERROR_INVALID_HANDLE;
    default: break;
  }
  // EWOULDBLOCK is EAGAIN on Linux, so it cannot be a case label beside the others.
  if (error == EWOULDBLOCK) {
    return site == ErrnoSite::Lock ? win::ERROR_LOCK_VIOLATION : win::ERROR_IO_DEVICE;
  }
  return win::ERROR_IO_DEVICE;
}

CommandOutcome CommandOutcomeFromErrno(int error) {
  switch (error) {
    case 0: return CommandOutcome::Success;
    case EINVAL:
    case ENOTTY:
    case EOPNOTSUPP: return CommandOutcome::NotSupported;
    case ENODEV:
    case ENXIO: return CommandOutcome::NoDevice;
    case ETIMEDOUT: return CommandOutcome::Timeout;
    default: return CommandOutcome::TransportError;
  }
}

uint32_t CommandErrorFromErrno(int error) {
  if (CommandOutcomeFromErrno(error) == CommandOutcome::NotSupported) {
    return WindowsErrorOfOutcome(CommandOutcome::NotSupported);
  }
  return WindowsErrorFromErrno(error, ErrnoSite::Other);
}

uint32_t WindowsErrorOfOutcome(CommandOutcome outcome) {
  switch (outcome) {
    case CommandOutcome::Success: return win::ERROR_SUCCESS;
    case CommandOutcome::DeviceError:
    case CommandOutcome::TransportError: return WindowsErrorFromErrno(EIO, ErrnoSite::Other);
    case CommandOutcome::NotSupported: return WindowsErrorFromErrno(EOPNOTSUPP, ErrnoSite::Other);
    case CommandOutcome::Timeout: return WindowsErrorFromErrno(ETIMEDOUT, ErrnoSite::Other);
    case CommandOutcome::NoDevice: return WindowsErrorFromErrno(ENODEV, ErrnoSite::Other);
  }
  return win::ERROR_IO_DEVICE;
}

int ErrnoForWindowsError(uint32_t code) {
  switch (code) {
    case win::ERROR_SUCCESS: return 0;
    case win::ERROR_INVALID_FUNCTION: return EOPNOTSUPP;
    case win::ERROR_FILE_NOT_FOUND: return ENOENT;
    case win::ERROR_ACCESS_DENIED: return EACCES;
    case win::ERROR_INVALID_HANDLE: return EBADF;
    case win::ERROR_NOT_ENOUGH_MEMORY: return ENOMEM;
    case win::ERROR_WRITE_PROTECT: return EROFS;
    case win::ERROR_NOT_READY: return ENOMEDIUM;
    case win::ERROR_SHARING_VIOLATION: return EBUSY;
    case win::ERROR_LOCK_VIOLATION: return EWOULDBLOCK;
    case win::ERROR_DEV_NOT_EXIST: return ENODEV;
    case win::ERROR_INVALID_PARAMETER: return EINVAL;
    case win::ERROR_DISK_FULL: return ENOSPC;
    case win::ERROR_SEM_TIMEOUT: return ETIMEDOUT;
    case win::ERROR_INSUFFICIENT_BUFFER: return ENOBUFS;
    case win::ERROR_IO_DEVICE: return EIO;
    default: return -1;
  }
}

std::string CleanErrorText(std::string text) {
  while (!text.empty() &&
         (static_cast<unsigned char>(text.back()) <= 32 || text.back() == '.')) {
    text.pop_back();
  }
  return text;
}

std::string ErrnoText(int error) {
  char buffer[256];
  // The GNU strerror_r may return a static string instead of filling the buffer.
  const char* text = ::strerror_r(error, buffer, sizeof buffer);
  return CleanErrorText(text != nullptr ? text : "");
}

}  // namespace fw::linuxio
