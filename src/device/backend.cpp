#include <cstdlib>
#include <iostream>
#include <string>

#include "device/backends.hpp"

namespace fw {

std::unique_ptr<DeviceIo> CreateDeviceBackend() {
  const char* folder = std::getenv("FERROWIPE_DISKS");
  if (folder != nullptr && *folder == '\0') {
    // Set but empty is a mistake in a test script or a demo; taking the machine's own disks
    // instead would hand it real disks to erase.
    std::cerr << "FERROWIPE_DISKS is set but empty: no simulated disks, and the machine's own "
                 "disks are not used\n"
              << std::flush;
    return CreateImageDeviceIo({}, nullptr);
  }
  if (folder != nullptr) {
    std::string errors;
    std::unique_ptr<DeviceIo> io = CreateImageDeviceIo(folder, &errors);
    // Bad metadata leaves its drive out; saying why is the only way to notice.
    if (!errors.empty()) std::cerr << errors << std::flush;
    return io;
  }
  return CreateLinuxDeviceIo("/");
}

}  // namespace fw
