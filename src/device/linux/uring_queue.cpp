#include "device/linux/uring_queue.hpp"

#include <liburing.h>

#include <cerrno>
#include <climits>
#include <deque>
#include <utility>
#include <vector>

namespace fw::linuxio {

namespace {

class UringQueue final : public IoQueue {
 public:
  UringQueue(int fd, int depth, TransferErrorCode errorCode)
      : m_fd(fd), m_slots(static_cast<size_t>(depth)), m_errorCode(std::move(errorCode)) {}

  // Set up apart from the constructor: a refusal is the caller's cue to do without.
  int Start() {
    const int error = -io_uring_queue_init(static_cast<unsigned>(m_slots.size()), &m_ring, 0);
    m_started = error == 0;
    return error;
  }

  // The kernel writes into or reads from the caller's buffer until each transfer has ended:
  // every one still out is waited for before the ring goes.
  ~UringQueue() override {
    if (!m_started) return;
    while (m_busy > 0) WaitOne();
    io_uring_queue_exit(&m_ring);
  }
  UringQueue(const UringQueue&) = delete;
  UringQueue& operator=(const UringQueue&) = delete;

  int Depth() const override { return static_cast<int>(m_slots.size()); }

  void Submit(const Transfer& transfer) override {
    size_t slot = 0;
    while (slot < m_slots.size() && m_slots[slot].busy) ++slot;
    if (slot == m_slots.size() || transfer.count < 0 || transfer.count > INT_MAX) {
      Finish(transfer, -1, m_errorCode(EINVAL, transfer.kind));
      return;
    }
    m_slots[slot] = Slot{transfer, 0, true};
    ++m_busy;
    Send(slot);
  }

  std::optional<TransferDone> Reap() override {
    while (m_ended.empty() && m_busy > 0) WaitOne();
    if (m_ended.empty()) return std::nullopt;
    const TransferDone done = m_ended.front();
    m_ended.pop_front();
    return done;
  }

 private:
  struct Slot {
    Transfer transfer;
    int64_t moved = 0;  // a transfer the kernel cut short goes on from here
    bool busy = false;
  };

  // Asks the kernel for what is left of the slot's transfer.
  void Send(size_t slot) {
    Slot& s = m_slots[slot];
    io_uring_sqe* sqe = io_uring_get_sqe(&m_ring);
    if (sqe == nullptr) {
      // Every entry stands for a slot, so the ring has room for each busy one.
      End(slot, -1, m_errorCode(EBUSY, s.transfer.kind));
      return;
    }
    auto* bytes = static_cast<char*>(s.transfer.buffer) + s.moved;
    const auto left = static_cast<unsigned>(s.transfer.count - s.moved);
    const auto at = static_cast<uint64_t>(s.transfer.offset + s.moved);
    if (s.transfer.kind == TransferKind::Write) {
      io_uring_prep_write(sqe, m_fd, bytes, left, at);
    } else {
      io_uring_prep_read(sqe, m_fd, bytes, left, at);
    }
    io_uring_sqe_set_data64(sqe, slot);
    int sent;
    do {
      sent = io_uring_submit(&m_ring);
    } while (sent == -EINTR || sent == -EAGAIN);
    if (sent < 0) End(slot, -1, m_errorCode(-sent, s.transfer.kind));
  }

  void WaitOne() {
    io_uring_cqe* cqe = nullptr;
    int waited;
    do {
      waited = io_uring_wait_cqe(&m_ring, &cqe);
    } while (waited == -EINTR);
    if (waited < 0 || cqe == nullptr) {
      // The ring itself failed: nothing more will come back, every busy slot ends with it.
      for (size_t slot = 0; slot < m_slots.size(); ++slot) {
        if (m_slots[slot].busy) End(slot, -1, m_errorCode(-waited, m_slots[slot].transfer.kind));
      }
      return;
    }
    const auto slot = static_cast<size_t>(io_uring_cqe_get_data64(cqe));
    const int result = cqe->res;
    io_uring_cqe_seen(&m_ring, cqe);
    if (slot >= m_slots.size() || !m_slots[slot].busy) return;
    Slot& s = m_slots[slot];
    if (result == -EINTR || result == -EAGAIN) {
      Send(slot);
    } else if (result < 0) {
      End(slot, -1, m_errorCode(-result, s.transfer.kind));
    } else if (result == 0) {
      // A read ends at the end of the disk; a write that moves nothing has run out of disk.
      if (s.transfer.kind == TransferKind::Read) {
        End(slot, s.moved, 0);
      } else {
        End(slot, -1, m_errorCode(ENOSPC, s.transfer.kind));
      }
    } else {
      s.moved += result;
      if (s.moved < s.transfer.count) {
        Send(slot);
      } else {
        End(slot, s.moved, 0);
      }
    }
  }

  void End(size_t slot, int64_t bytes, uint32_t error) {
    m_slots[slot].busy = false;
    --m_busy;
    Finish(m_slots[slot].transfer, bytes, error);
  }

  void Finish(const Transfer& transfer, int64_t bytes, uint32_t error) {
    TransferDone done;
    done.tag = transfer.tag;
    done.bytes = bytes;
    done.error = error;
    m_ended.push_back(done);
  }

  int m_fd;
  io_uring m_ring{};
  bool m_started = false;
  std::vector<Slot> m_slots;
  size_t m_busy = 0;
  std::deque<TransferDone> m_ended;
  TransferErrorCode m_errorCode;
};

}  // namespace

std::unique_ptr<IoQueue> MakeUringQueue(int fd, int depth, TransferErrorCode errorCode,
                                        int* refusal) {
  auto queue = std::make_unique<UringQueue>(fd, depth, std::move(errorCode));
  const int error = queue->Start();
  if (error != 0) {
    if (refusal != nullptr) *refusal = error;
    return nullptr;
  }
  return queue;
}

}  // namespace fw::linuxio
