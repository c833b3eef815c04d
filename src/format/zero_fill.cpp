// Placeholder until the engine lands.
#include "format/zero_fill.hpp"

namespace fw {
bool StopRequested = false;
ZeroFillResult ZeroFillDevice(DeviceIo&, Handle, const TIdentifyDeviceData&, bool, FormatView&,
                              Clock&) {
  return {};
}
}  // namespace fw
