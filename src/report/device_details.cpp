// Placeholder until the device-details report lands.
#include "report/device_details.hpp"

namespace fw {
void ShowDeviceDetails(DeviceIo&, Handle, const TDeviceTableRows&, int64_t) {}
}  // namespace fw
