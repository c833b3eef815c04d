// Placeholder until the S.M.A.R.T. report lands.
#include "report/smart_report.hpp"

namespace fw {
void ShowSmartReport(DeviceIo&, Handle, const TDeviceTableRows&, int64_t) {}
std::string SmartAttributeName(int) { return {}; }
}  // namespace fw
