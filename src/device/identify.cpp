// Placeholder until identification lands.
#include "device/identify.hpp"

namespace fw {
int64_t IdentifyDevice(DeviceIo&, Handle, TIdentifyDeviceData&, std::string*) { return -1; }
uint8_t QueryIDESlave(DeviceIo&, Handle) { return 0; }
}  // namespace fw
