// Placeholder until the list, details and smart commands land.
#include "cli/commands.hpp"

namespace fw::cli {
int RunList(DeviceIo&, const Args&) { return kExitFailure; }
int RunDetails(DeviceIo&, const Args&) { return kExitFailure; }
int RunSmart(DeviceIo&, const Args&) { return kExitFailure; }
}  // namespace fw::cli
