// The device's read limit as a program reaches it: one page-aligned 32 MiB buffer read with
// O_DIRECT from byte 0 to the end, nothing checked. Prints the seconds the reads took, so that
// the verify benchmark holds the verify pass (timed by the engine itself) against the same span.
#include <chrono>

#include "bare_device.hpp"

int main(int argc, char** argv) {
  const std::optional<BareDevice> device = OpenBareDevice(argc, argv, O_RDONLY, "bare_reader");
  if (!device) return 1;
  const auto start = std::chrono::steady_clock::now();
  if (!EveryBlock(*device, "pread", [&](off_t offset, size_t count) {
        return ::pread(device->fd, device->buffer, count, offset);
      })) {
    return 1;
  }
  const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
  std::printf("%.3f\n", took.count());
  std::free(device->buffer);
  return ::close(device->fd) == 0 ? 0 : 1;
}
