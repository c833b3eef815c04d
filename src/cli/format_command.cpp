// Placeholder until the format command lands.
#include "cli/commands.hpp"

namespace fw::cli {
int RunFormat(DeviceIo&, const Args&) { return kExitFailure; }
}  // namespace fw::cli
