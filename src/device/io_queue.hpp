#pragma once
// Queued transfers on one handle: several aligned writes or reads in flight at once, each
// completing on its own and in any order, so that the device always has the next request while
// the program looks at the last one.
#include <cstdint>
#include <memory>
#include <optional>

namespace fw {

class DeviceIo;
using Handle = int64_t;

enum class TransferKind { Write, Read };

struct Transfer {
  uint64_t tag = 0;  // the caller's, handed back with the completion
  TransferKind kind = TransferKind::Write;
  int64_t offset = 0;  // absolute, from the start of the disk
  // A write only reads it: one buffer may be the source of several writes in flight.
  void* buffer = nullptr;
  int64_t count = 0;
};

struct TransferDone {
  uint64_t tag = 0;
  // Bytes moved (a read: fewer only at the end of the disk), or -1 when the transfer failed.
  int64_t bytes = -1;
  uint32_t error = 0;       // Windows error code of a failed transfer
  bool seekFailed = false;  // the transfer never started: its position could not be reached
};

class IoQueue {
 public:
  virtual ~IoQueue() = default;

  // How many transfers may be outstanding at once; 1: each is done inside Submit.
  virtual int Depth() const = 0;

  // Starts a transfer; the caller keeps at most Depth() outstanding and leaves the buffer alone
  // until its completion is reaped.
  virtual void Submit(const Transfer& transfer) = 0;

  // Waits for one outstanding transfer to end and hands it back; nothing when none is
  // outstanding.
  virtual std::optional<TransferDone> Reap() = 0;
};

// One transfer at a time, done inside Submit through the handle's synchronous calls (SeekDevice
// and Write, or ReadAt): what every backend can do, and the way back where queues are refused.
std::unique_ptr<IoQueue> MakeSyncIoQueue(DeviceIo& io, Handle handle);

}  // namespace fw
