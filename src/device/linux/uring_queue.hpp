#pragma once
// The engine's queued transfers through io_uring (liburing): the device gets the next write or
// read while the program handles the last one, with no thread of its own.
#include <cstdint>
#include <functional>
#include <memory>

#include "device/io_queue.hpp"

namespace fw::linuxio {

// The Windows error code of a transfer that failed with `error` (an errno).
using TransferErrorCode = std::function<uint32_t(int error, TransferKind kind)>;

// A queue of `depth` transfers on `fd`, which stays open for the queue's life; nothing, with
// *refusal set to the errno, where the system refuses io_uring (a kernel without it, a seccomp
// profile, kernel.io_uring_disabled).
std::unique_ptr<IoQueue> MakeUringQueue(int fd, int depth, TransferErrorCode errorCode,
                                        int* refusal);

}  // namespace fw::linuxio
