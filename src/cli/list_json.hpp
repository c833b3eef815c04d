#pragma once
// `list --json`: every row of the device table with what a script needs to pick the right disk.
#include <string>

#include "device/device_io.hpp"

namespace fw::cli {

// The rows 1..DeviceCount as a JSON array (the schema is in ferrowipe-cli(1)). Device strings
// are JSON-escaped, so control characters never reach a terminal as they are.
std::string ListJson(DeviceIo& io);

}  // namespace fw::cli
