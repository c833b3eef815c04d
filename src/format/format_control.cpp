// Placeholder until the format control lands.
#include "format/format_control.hpp"

namespace fw {
FormatAttemptResult RunFormatAttempt(DeviceIo&, Handle, const TDeviceTableRows&, int64_t,
                                     const std::string&, bool, FormatView&, Clock&) {
  return {};
}
std::string FormatConfirmTitle() { return {}; }
std::string FormatConfirmInstruction() { return {}; }
std::string FormatConfirmContent(const std::string&) { return {}; }
}  // namespace fw
