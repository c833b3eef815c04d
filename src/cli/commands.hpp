#pragma once
// ferrowipe-cli's commands. Each prints exactly the lines the window would show, one per line,
// to standard output, and returns the process exit status.
#include <string>
#include <vector>

#include "device/device_io.hpp"

namespace fw::cli {

// Exit statuses.
inline constexpr int kExitDone = 0;
inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;  // bad usage or no such disk
inline constexpr int kExitLockFailed = 3;
inline constexpr int kExitCancelled = 4;
inline constexpr int kExitAborted = 5;
inline constexpr int kExitFailedBlocks = 6;

using Args = std::vector<std::string>;

int RunList(DeviceIo& io, const Args& args);
int RunDetails(DeviceIo& io, const Args& args);
int RunSmart(DeviceIo& io, const Args& args);
int RunFormat(DeviceIo& io, const Args& args);

}  // namespace fw::cli
