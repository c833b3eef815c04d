#pragma once
// The engine's blocks in flight on a device queue, handed back in the order they were sent
// whatever order the device finishes them in: the log, the progress and the position where a
// run ends read as if the blocks had been written one after another.
#include <cstdint>
#include <deque>
#include <optional>
#include <utility>

#include "device/device_io.hpp"
#include "device/io_queue.hpp"
#include "format/pass_lines.hpp"

namespace fw {

template <typename Block>
class InOrderQueue {
 public:
  struct Ended {
    Block block;
    TransferDone done;
  };

  // `byteLimit`: no more is sent while this many bytes are out, however many transfers the
  // queue takes.
  explicit InOrderQueue(IoQueue& queue, int64_t byteLimit = INT64_MAX)
      : m_queue(queue), m_byteLimit(byteLimit) {}

  int Depth() const { return m_queue.Depth(); }
  bool Full() const {
    return static_cast<int>(m_sent.size()) >= m_queue.Depth() || m_bytesOut >= m_byteLimit;
  }
  bool Empty() const { return m_sent.empty(); }
  // Some transfer, not necessarily the oldest, found the device gone: nothing more is worth
  // sending.
  bool DeviceGoneSeen() const { return m_goneSeen; }

  // The caller keeps the queue from being Full() before it sends.
  void Send(const Block& block, Transfer transfer) {
    transfer.tag = m_nextTag++;
    m_sent.push_back(Sent{block, transfer.tag, transfer.count, std::nullopt});
    m_bytesOut += transfer.count;
    m_queue.Submit(transfer);
  }

  // The oldest block sent, once it has ended, with how; nothing when none is in flight.
  std::optional<Ended> Retire() {
    while (!m_sent.empty() && !m_sent.front().done) {
      const std::optional<TransferDone> done = m_queue.Reap();
      if (!done) {
        // The queue lost what it was given: what is left counts as failed, never as written.
        for (Sent& sent : m_sent) {
          if (!sent.done) sent.done = TransferDone{sent.tag, -1, win::ERROR_IO_DEVICE, false};
        }
        break;
      }
      if (done->bytes < 0 && pass_lines::MeansUnplugged(done->error)) m_goneSeen = true;
      for (Sent& sent : m_sent) {
        if (sent.tag == done->tag) sent.done = *done;
      }
    }
    if (m_sent.empty()) return std::nullopt;
    Ended ended{std::move(m_sent.front().block), *m_sent.front().done};
    m_bytesOut -= m_sent.front().count;
    m_sent.pop_front();
    return ended;
  }

 private:
  struct Sent {
    Block block;
    uint64_t tag;
    int64_t count;
    std::optional<TransferDone> done;
  };

  IoQueue& m_queue;
  int64_t m_byteLimit;
  int64_t m_bytesOut = 0;  // sent and not yet handed back
  std::deque<Sent> m_sent;
  uint64_t m_nextTag = 1;
  bool m_goneSeen = false;
};

}  // namespace fw
