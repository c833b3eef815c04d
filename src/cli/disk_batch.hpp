#pragma once
// ferrowipe-cli format over several disks at once. Before anything is touched every disk is
// resolved, the same disk named twice is refused and every disk's plan is made; then one
// thread per disk runs its own attempt (its own backend, lease, session, log, verify pass and
// report), and the command ends with a summary table and the most severe of their statuses.
#include <functional>
#include <memory>

#include "cli/commands.hpp"
#include "device/device_io.hpp"

namespace fw::cli {

// Each disk's thread talks to its disk through a backend of its own from `newBackend`, so that
// no two threads share a backend's state.
using BackendFactory = std::function<std::unique_ptr<DeviceIo>()>;

int RunFormatBatch(DeviceIo& io, const Options& options, const BackendFactory& newBackend);

}  // namespace fw::cli
