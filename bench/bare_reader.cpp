// The device's read limit as a program reaches it: one page-aligned 32 MiB buffer read with
// O_DIRECT from byte 0 to the end, nothing checked. Prints the seconds the reads took, so that
// the verify benchmark holds the verify pass (timed by the engine itself) against the same span.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: bare_reader DEVICE\n");
    return 2;
  }
  constexpr size_t kBlock = size_t{32} << 20;
  const int fd = ::open(argv[1], O_RDONLY | O_DIRECT | O_CLOEXEC);
  if (fd < 0) {
    std::perror(argv[1]);
    return 1;
  }
  const off_t size = ::lseek(fd, 0, SEEK_END);
  void* buffer = nullptr;
  if (size < 0 || posix_memalign(&buffer, 4096, kBlock) != 0) return 1;
  const auto start = std::chrono::steady_clock::now();
  for (off_t offset = 0; offset < size;) {
    const auto count = static_cast<size_t>(std::min<off_t>(size - offset, kBlock));
    const ssize_t n = ::pread(fd, buffer, count, offset);
    if (n <= 0) {
      std::perror("pread");
      return 1;
    }
    offset += n;
  }
  const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
  std::printf("%.3f\n", took.count());
  std::free(buffer);
  return ::close(fd) == 0 ? 0 : 1;
}
