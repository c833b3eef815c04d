#include "app/program_end.hpp"

#include <cstdio>
#include <cstdlib>
#include <utility>

namespace fw {

namespace {
std::function<void(int)>& Handler() {
  static std::function<void(int)> handler;
  return handler;
}
}  // namespace

void EndProgram(int code) {
  if (Handler()) {
    Handler()(code);
    return;
  }
  // Nothing is saved and every file we wrote is closed; the kernel closes the device handle.
  // Running the toolkit's teardown from inside a nested dialog loop is what we avoid here.
  std::fflush(nullptr);
  std::_Exit(code);
}

std::function<void(int)> SetProgramEndHandler(std::function<void(int)> handler) {
  return std::exchange(Handler(), std::move(handler));
}

}  // namespace fw
