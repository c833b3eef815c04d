// Placeholder until volume preparation lands.
#include "format/volumes.hpp"

namespace fw {
void GetVolumeDeviceNumber(DeviceIo&, const std::string&, TVolumeDeviceNumber& info) { info = {}; }
bool LockDiskVolumes(DeviceIo&, int64_t, const std::string&) { return false; }
void ReleaseDiskVolumes(DeviceIo&) {}
}  // namespace fw
