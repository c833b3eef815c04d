#include <cstdlib>
#include <iostream>
#include <string>

#include "device/backends.hpp"

namespace fw {

std::unique_ptr<DeviceIo> CreateDeviceBackend() {
  const char* folder = std::getenv("FERROWIPE_DISKS");
  if (folder != nullptr && *folder != '\0') {
    std::string errors;
    std::unique_ptr<DeviceIo> io = CreateImageDeviceIo(folder, &errors);
    // Bad metadata leaves its drive out; saying why is the only way to notice.
    if (!errors.empty()) std::cerr << errors << std::flush;
    return io;
  }
  return CreateLinuxDeviceIo("/");
}

}  // namespace fw
