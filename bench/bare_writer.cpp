// The device's limit as a program reaches it: one page-aligned 32 MiB zero buffer written with
// O_DIRECT from byte 0 to the end, then one fsync so that the zeros are on the medium, as the
// format run makes sure too; nothing else. The throughput benchmark holds the format run
// against it.
#include <cstring>

#include "bare_device.hpp"

int main(int argc, char** argv) {
  const std::optional<BareDevice> device = OpenBareDevice(argc, argv, O_WRONLY, "bare_writer");
  if (!device) return 1;
  std::memset(device->buffer, 0, kBareBlock);
  if (!EveryBlock(*device, "pwrite", [&](off_t offset, size_t count) {
        return ::pwrite(device->fd, device->buffer, count, offset);
      })) {
    return 1;
  }
  std::free(device->buffer);
  if (::fsync(device->fd) != 0) {
    std::perror("fsync");
    return 1;
  }
  return ::close(device->fd) == 0 ? 0 : 1;
}
