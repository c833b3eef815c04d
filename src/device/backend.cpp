// Placeholder until the backends land.
#include "device/backends.hpp"

namespace fw {
std::unique_ptr<DeviceIo> CreateDeviceBackend() { return nullptr; }
}  // namespace fw
