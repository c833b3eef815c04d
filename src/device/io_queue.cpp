#include "device/io_queue.hpp"

#include <deque>

#include "device/device_io.hpp"

namespace fw {

namespace {

class SyncIoQueue final : public IoQueue {
 public:
  SyncIoQueue(DeviceIo& io, Handle handle) : m_io(io), m_handle(handle) {}

  int Depth() const override { return 1; }

  void Submit(const Transfer& transfer) override {
    TransferDone done;
    done.tag = transfer.tag;
    if (transfer.kind == TransferKind::Read) {
      done.bytes = m_io.ReadAt(m_handle, transfer.offset, transfer.buffer, transfer.count);
    } else if (m_io.SeekDevice(m_handle, transfer.offset) != transfer.offset) {
      done.seekFailed = true;
    } else {
      done.bytes = m_io.Write(m_handle, transfer.buffer, transfer.count);
      // A short write is a failed one: the engine's blocks are written whole or not at all.
      if (done.bytes != transfer.count) done.bytes = -1;
    }
    if (done.bytes < 0) done.error = m_io.LastError();
    m_done.push_back(done);
  }

  std::optional<TransferDone> Reap() override {
    if (m_done.empty()) return std::nullopt;
    const TransferDone done = m_done.front();
    m_done.pop_front();
    return done;
  }

 private:
  DeviceIo& m_io;
  Handle m_handle;
  std::deque<TransferDone> m_done;
};

}  // namespace

std::unique_ptr<IoQueue> MakeSyncIoQueue(DeviceIo& io, Handle handle) {
  return std::make_unique<SyncIoQueue>(io, handle);
}

}  // namespace fw
