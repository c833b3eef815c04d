#pragma once
// What the start-up reports about the system it runs on, and the facts it checks before it
// scans: the pure text rules, and the few queries that feed them.
#include <string>
#include <string_view>

namespace fw {

// The folder of the program file, ending in "/": characters are removed from the end until
// the last one is "/".
std::string ProgramFolder(std::string_view programFile);

// PRETTY_NAME of an os-release file's text, unquoted; empty when absent.
std::string PrettyName(std::string_view osRelease);

// "  (64 位元) " or "  (32 位元) ": the bitness of the running kernel.
std::string BitnessText(bool kernel64);

// "平台:       " + kernel release + "   " + distribution + the bitness text.
std::string PlatformLine(std::string_view kernelRelease, std::string_view distribution,
                         bool kernel64);

// true for a 32-bit build running on a 64-bit kernel.
bool RunningOnWow64();

// The bitness of the kernel: a 64-bit build, or a 32-bit one on a 64-bit kernel.
bool KernelIs64Bit();

// uname's release, e.g. "6.1.0-18-amd64".
std::string KernelRelease();

// The distribution's name from <root>etc/os-release, else <root>usr/lib/os-release.
std::string DistributionName(const std::string& root = "/");

// The device-setup check of the start-up: the scan reads <root>sys/block and the volume
// preparation reads <root>proc/self/mountinfo; without them the program cannot work.
bool DeviceSetupAvailable(const std::string& root = "/");

}  // namespace fw
