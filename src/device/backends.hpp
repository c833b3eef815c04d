#pragma once
// Constructors of the concrete backends. CreateDeviceBackend (device_io.hpp) picks one.
#include <memory>
#include <string>

#include "core/clock.hpp"
#include "device/device_io.hpp"

namespace fw {

// The machine's block devices. `root` prefixes every /sys, /proc and /run path read (fixture
// trees in tests); device nodes are opened as /dev/NAME under the real root.
std::unique_ptr<DeviceIo> CreateLinuxDeviceIo(const std::string& root = "/");

// Simulated disks: the *.img files of `folder`, in name order, with their NAME.json metadata.
// Bad metadata is reported through *errors (one line per problem, naming file and key); the
// drive concerned is left out and the rest stay usable. A drive's sanitize runs by `clock`
// (none: the monotonic clock).
std::unique_ptr<DeviceIo> CreateImageDeviceIo(const std::string& folder,
                                              std::string* errors = nullptr,
                                              std::shared_ptr<Clock> clock = nullptr);

}  // namespace fw
