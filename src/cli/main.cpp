// ferrowipe-cli: the program's operations without windows.
#include <clocale>
#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
  std::setlocale(LC_ALL, "");
  if (argc < 2) {
    std::fprintf(stderr, "usage: ferrowipe-cli [--debug] COMMAND\n");
    return 2;
  }
  (void)argv;
  return 2;
}
