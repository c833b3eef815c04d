#pragma once
// What the bare writer and the bare reader share: the device named on the command line opened
// with O_DIRECT, its size, one page-aligned 32 MiB buffer, and the walk over it in such blocks.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <optional>

struct BareDevice {
  int fd = -1;
  off_t size = 0;
  void* buffer = nullptr;
};

inline constexpr size_t kBareBlock = size_t{32} << 20;

// argv[1] opened with `flags` | O_DIRECT; nullopt after saying why on standard error.
inline std::optional<BareDevice> OpenBareDevice(int argc, char** argv, int flags,
                                                const char* program) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s DEVICE\n", program);
    return std::nullopt;
  }
  BareDevice device;
  device.fd = ::open(argv[1], flags | O_DIRECT | O_CLOEXEC);
  if (device.fd < 0) {
    std::perror(argv[1]);
    return std::nullopt;
  }
  device.size = ::lseek(device.fd, 0, SEEK_END);
  if (device.size < 0 || posix_memalign(&device.buffer, 4096, kBareBlock) != 0) {
    return std::nullopt;
  }
  return device;
}

// Calls `transfer(offset, count)` (a pread or pwrite of the buffer) from byte 0 to the end;
// false after saying on standard error which call failed.
template <typename Transfer>
bool EveryBlock(const BareDevice& device, const char* call, Transfer transfer) {
  for (off_t offset = 0; offset < device.size;) {
    const auto count = static_cast<size_t>(std::min<off_t>(device.size - offset, kBareBlock));
    const ssize_t n = transfer(offset, count);
    if (n <= 0) {
      std::perror(call);
      return false;
    }
    offset += n;
  }
  return true;
}
