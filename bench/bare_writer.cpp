// The device's limit as a program reaches it: one page-aligned 32 MiB zero buffer written with
// O_DIRECT from byte 0 to the end, then one fsync so that the zeros are on the medium, as the
// format run makes sure too; nothing else. The throughput benchmark holds the format run
// against it.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: bare_writer DEVICE\n");
    return 2;
  }
  constexpr size_t kBlock = size_t{32} << 20;
  const int fd = ::open(argv[1], O_WRONLY | O_DIRECT | O_CLOEXEC);
  if (fd < 0) {
    std::perror(argv[1]);
    return 1;
  }
  const off_t size = ::lseek(fd, 0, SEEK_END);
  void* buffer = nullptr;
  if (size < 0 || posix_memalign(&buffer, 4096, kBlock) != 0) return 1;
  std::memset(buffer, 0, kBlock);
  for (off_t offset = 0; offset < size;) {
    const auto count = static_cast<size_t>(std::min<off_t>(size - offset, kBlock));
    const ssize_t n = ::pwrite(fd, buffer, count, offset);
    if (n <= 0) {
      std::perror("pwrite");
      return 1;
    }
    offset += n;
  }
  std::free(buffer);
  if (::fsync(fd) != 0) {
    std::perror("fsync");
    return 1;
  }
  return ::close(fd) == 0 ? 0 : 1;
}
