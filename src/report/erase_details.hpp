#pragma once
// The device-details report's part on the drive's own erase and its hidden area: one line per
// capability, after what the identify data already gave.
#include <string>
#include <vector>

#include "device/erase_capabilities.hpp"

namespace fw {

std::vector<std::string> EraseDetailsLines(const DriveEraseFacts& facts);

}  // namespace fw
