// The write and verify passes over a device queue that keeps several transfers in flight and
// ends them in an order the test picks: what a run logs, writes and reports must be what the
// same run one block at a time gives, while the window's messages are handled with transfers
// in flight.
#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "fake_device.hpp"
#include "format/format_texts.hpp"
#include "format/zero_fill.hpp"
#include "format_test_support.hpp"

namespace fw {
namespace {

using test::FakeDevice;

constexpr int64_t MiB = 1 << 20;
const std::string kDisk = "/dev/sdx";

// The order the device ends what is out: as sent, the second oldest before the oldest (so that
// several stay out), or all of them newest first.
enum class Order { OldestFirst, SecondOldestFirst, NewestFirst };
constexpr Order kOrders[] = {Order::OldestFirst, Order::SecondOldestFirst, Order::NewestFirst};
const char* OrderName(Order order) {
  switch (order) {
    case Order::OldestFirst: return "oldest first";
    case Order::SecondOldestFirst: return "second oldest first";
    case Order::NewestFirst: return "newest first";
  }
  return "";
}

// What the queue saw, kept past its life.
struct QueueLog {
  int maxInFlight = 0;
  int inFlight = 0;
  int leftAtEnd = -1;          // transfers still out when the engine let the queue go
  bool overlappingReads = false;  // two reads in flight into the same bytes
  std::vector<Transfer> sent;
};

// Holds what it is sent and ends one per Reap in the test's order; the transfer is done on the
// fake disk only then, so the fake's hooks (failures, planted data) see it as it ends.
class ScriptedQueue final : public IoQueue {
 public:
  ScriptedQueue(DeviceIo& io, Handle handle, int depth, Order order, QueueLog& log)
      : m_sync(MakeSyncIoQueue(io, handle)), m_depth(depth), m_order(order), m_log(log) {}
  ~ScriptedQueue() override { m_log.leftAtEnd = static_cast<int>(m_out.size()); }

  int Depth() const override { return m_depth; }

  void Submit(const Transfer& transfer) override {
    EXPECT_LT(static_cast<int>(m_out.size()), m_depth) << "more sent than the queue takes";
    for (const Transfer& other : m_out) {
      const auto* a = static_cast<const char*>(transfer.buffer);
      const auto* b = static_cast<const char*>(other.buffer);
      if (transfer.kind == TransferKind::Read && a < b + other.count && b < a + transfer.count) {
        m_log.overlappingReads = true;
      }
    }
    m_out.push_back(transfer);
    m_log.sent.push_back(transfer);
    m_log.inFlight = static_cast<int>(m_out.size());
    m_log.maxInFlight = std::max(m_log.maxInFlight, m_log.inFlight);
  }

  std::optional<TransferDone> Reap() override {
    if (m_out.empty()) return std::nullopt;
    auto which = m_out.begin();
    if (m_order == Order::NewestFirst) which = m_out.end() - 1;
    // The second oldest, then the oldest, in turn.
    m_tookSecond = m_order == Order::SecondOldestFirst && m_out.size() > 1 && !m_tookSecond;
    if (m_tookSecond) ++which;
    const Transfer transfer = *which;
    m_out.erase(which);
    m_log.inFlight = static_cast<int>(m_out.size());
    m_sync->Submit(transfer);
    return m_sync->Reap();
  }

 private:
  std::unique_ptr<IoQueue> m_sync;
  int m_depth;
  Order m_order;
  QueueLog& m_log;
  std::deque<Transfer> m_out;
  bool m_tookSecond = false;
};

class QueuedFake : public FakeDevice {
 public:
  int depth = 1;  // 1: the contract's own queue, one transfer at a time
  Order order = Order::NewestFirst;
  QueueLog queueLog;
  std::unique_ptr<IoQueue> OpenQueue(Handle handle, int wanted) override {
    if (depth == 1) return FakeDevice::OpenQueue(handle, wanted);
    return std::make_unique<ScriptedQueue>(*this, handle, std::min(depth, wanted), order,
                                           queueLog);
  }
};

struct Scenario {
  const char* name;
  int64_t bytes;
  bool quick = false;
  bool verify = false;
  int64_t failAt = -1;   // the write at this offset fails with failCode
  uint32_t failCode = 0;
  int stopAtPump = 0;    // this pump sees the Stop click (0: never)
  int64_t plantAt = -1;  // a byte read back that is not zero
  // The write pass announces and times the same blocks: not so where a gone device ends a run
  // with more blocks out than one.
  bool sameProgress = true;
};

// What a run leaves behind that a user or a report sees.
struct Seen {
  std::vector<std::string> log;
  ZeroFillOutcome outcome;
  int64_t position;
  int64_t failedBlocks;
  int64_t bytesWritten;
  VerifyOutcome verify;
  int64_t nonZeroRegions;
  std::vector<std::pair<int64_t, int64_t>> writes;  // (offset, count) in disk order
  std::vector<std::string> percentTexts;  // the write pass's
  bool operator==(const Seen&) const = default;
};

void PrintTo(const Seen& s, std::ostream* out) {
  *out << "outcome " << static_cast<int>(s.outcome) << ", position " << s.position << ", failed "
       << s.failedBlocks << ", written " << s.bytesWritten << ", verify "
       << static_cast<int>(s.verify) << ", not zero " << s.nonZeroRegions << ", "
       << s.writes.size() << " writes, " << s.percentTexts.size() << " percents, log:";
  for (const std::string& line : s.log) *out << "\n  " << line;
}

// Remembers where each pass's progress texts begin.
class PassView : public test::RecordingView {
 public:
  std::vector<size_t> passStarts;
  void StartPass(int64_t) override { passStarts.push_back(percentTexts.size()); }
};

class QueuedEngine : public ::testing::TestWithParam<Scenario> {
 protected:
  // One run of the scenario; `inFlightAtPumps` gets how many writes were out at each pump.
  Seen Run(QueuedFake& io, std::vector<int>* inFlightAtPumps = nullptr) {
    const Scenario& s = GetParam();
    test::FormatLogCapture log;
    test::ManualClock clock;
    PassView view;
    io.At(kDisk).size = s.bytes;
    // A device that has gone fails every write from then on.
    io.writeError = [&](int64_t offset, int64_t) {
      const bool gone = s.failCode == win::ERROR_DEV_NOT_EXIST && s.failAt >= 0 && offset > s.failAt;
      return offset == s.failAt || gone ? s.failCode : 0u;
    };
    io.readContent = [&](int64_t offset, uint8_t* bytes, int64_t count) {
      if (s.plantAt >= offset && s.plantAt < offset + count) bytes[s.plantAt - offset] = 0x5A;
    };
    view.onPump = [&](int pump) {
      clock.now += 10;
      if (pump == s.stopAtPump) log.session.RequestStop();
      if (inFlightAtPumps != nullptr) inFlightAtPumps->push_back(io.queueLog.inFlight);
    };
    const Handle handle = io.Open(kDisk, OpenMode::Working);
    TIdentifyDeviceData device;
    device.LBA = s.bytes / 512;
    device.SectorSize = 512;
    const ZeroFillResult r = ZeroFillDevice(io, handle, device, s.quick, log.session, view, clock, s.verify);
    const auto writePass = view.percentTexts.begin() +
                           static_cast<std::ptrdiff_t>(view.passStarts.size() > 1
                                                           ? view.passStarts[1]
                                                           : view.percentTexts.size());
    // Speeds follow the clock, which moves with every pump: the verify pass's parts, and so
    // its pumps, follow the queue's depth.
    std::vector<std::string> lines = log.messages();
    bool verifying = false;
    for (std::string& line : lines) {
      verifying = verifying || line == format_text::kVerifying;
      if ((verifying || !s.sameProgress) && line.starts_with(format_text::kAverageSpeed)) {
        line = "(speed)";
      }
    }
    Seen seen{lines, r.outcome, r.position, r.failedBlocks, r.bytesWritten,
              r.verify.outcome, r.verify.nonZeroRegions, {},
              std::vector<std::string>(view.percentTexts.begin(), writePass)};
    if (!s.sameProgress) seen.percentTexts.clear();
    // What reached the disk: a queue may have tried more blocks that the gone device refused.
    for (const auto& w : io.writes) {
      if (w.count > 0) seen.writes.emplace_back(w.offset, w.count);
    }
    std::sort(seen.writes.begin(), seen.writes.end());
    return seen;
  }
};

TEST_P(QueuedEngine, EndsAsTheSameRunOneBlockAtATimeWhateverOrderTheDeviceFinishesIn) {
  QueuedFake single;
  const Seen expected = Run(single);
  for (const Order order : kOrders) {
    QueuedFake queued;
    queued.depth = 4;
    queued.order = order;
    std::vector<int> inFlight;
    const Seen seen = Run(queued, &inFlight);
    const char* how = OrderName(order);
    EXPECT_EQ(seen, expected) << how;
    EXPECT_EQ(queued.queueLog.leftAtEnd, 0) << how << ": the run returned with transfers out";
    EXPECT_FALSE(queued.queueLog.overlappingReads) << how;
    // The flush comes after every write has ended.
    EXPECT_EQ(queued.flushedAfterWrites.size(), single.flushedAfterWrites.size());
    for (size_t f : queued.flushedAfterWrites) EXPECT_EQ(f, queued.writes.size());
    if (GetParam().bytes >= 64 * MiB && GetParam().stopAtPump == 0) {
      EXPECT_EQ(queued.queueLog.maxInFlight, 4) << how;
    }
    if (GetParam().bytes >= 64 * MiB && GetParam().stopAtPump == 0 &&
        order != Order::NewestFirst) {
      ASSERT_GE(inFlight.size(), 40u);
      // Past the first pass, every pump of the write pass runs while writes are out.
      const auto idle = std::count(inFlight.begin(), inFlight.begin() + 40, 0);
      EXPECT_LE(idle, 2) << how;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Runs, QueuedEngine,
    ::testing::Values(
        Scenario{"WholeDisk", 1024 * MiB + 1536},
        Scenario{"QuickWipe", 512 * MiB, true},
        Scenario{"WholeDiskVerified", 200 * MiB, false, true},
        Scenario{"NotZeroOnReadBack", 200 * MiB, false, true, -1, 0, 0, 100 * MiB + 7},
        Scenario{"AFailedWriteAmongThoseInFlight", MiB, false, false, 131'072,
                 win::ERROR_IO_DEVICE},
        Scenario{"TheDeviceGoneAmongThoseInFlight", MiB, false, true, 131'072,
                 win::ERROR_DEV_NOT_EXIST, 0, -1, false},
        Scenario{"TheLastWriteFails", MiB, false, false, MiB - 65'536, win::ERROR_WRITE_PROTECT},
        Scenario{"StopBetweenCompletions", 64 * MiB, false, true, -1, 0, 6},
        Scenario{"StopInTheQuickWipe", 512 * MiB, true, false, -1, 0, 3}),
    [](const auto& info) { return std::string(info.param.name); });

// Once a transfer finds the device gone, nothing more is sent, even while older ones are out.
TEST(QueuedEngineDeviceGone, NothingIsSentAfterTheDeviceWasSeenGone) {
  QueuedFake io;
  io.depth = 4;
  io.order = Order::NewestFirst;
  io.At(kDisk).size = 8 * MiB;
  io.writeError = [](int64_t offset, int64_t) {
    return offset >= 3 * 65'536 ? win::ERROR_DEV_NOT_EXIST : 0u;
  };
  test::FormatLogCapture log;
  test::ManualClock clock;
  test::RecordingView view;
  const Handle handle = io.Open(kDisk, OpenMode::Working);
  TIdentifyDeviceData device;
  device.LBA = 8 * MiB / 512;
  device.SectorSize = 512;
  const ZeroFillResult r = ZeroFillDevice(io, handle, device, false, log.session, view, clock, true);
  EXPECT_EQ(r.outcome, ZeroFillOutcome::Aborted);
  EXPECT_EQ(r.position, 3 * 65'536);
  EXPECT_EQ(r.verify.outcome, VerifyOutcome::NotRun);
  // The first failing block was out with three before it; nothing was sent once it ended.
  EXPECT_EQ(io.queueLog.sent.size(), 4u);
  EXPECT_EQ(r.failures.size(), 1u) << "blocks ending after the abort are not named";
  EXPECT_EQ(io.flushes, 0);
  EXPECT_EQ(io.queueLog.leftAtEnd, 0);
}

// The verify pass reads ahead into parts of the one buffer: never two reads into the same
// bytes, never a part read into again before its block was checked, and a stop checks the
// block in hand and nothing after it.
TEST(QueuedVerify, ReadsAheadIntoSeparatePartsAndStopsAfterTheBlockInHand) {
  for (const Order order : kOrders) {
    QueuedFake io;
    io.depth = 8;
    io.order = order;
    io.At(kDisk).size = 256 * MiB;
    test::FormatLogCapture log;
    test::ManualClock clock;
    test::RecordingView view;
    int verifyPumps = 0;
    view.onPump = [&](int) {
      clock.now += 10;
      const auto lines = log.messages();
      if (std::find(lines.begin(), lines.end(), format_text::kVerifying) == lines.end()) return;
      if (++verifyPumps == 5) log.session.RequestStop();
    };
    const Handle handle = io.Open(kDisk, OpenMode::Working);
    TIdentifyDeviceData device;
    device.LBA = 256 * MiB / 512;
    device.SectorSize = 512;
    const ZeroFillResult r = ZeroFillDevice(io, handle, device, false, log.session, view, clock, true);
    SCOPED_TRACE(OrderName(order));
    EXPECT_FALSE(io.queueLog.overlappingReads);
    EXPECT_EQ(io.queueLog.leftAtEnd, 0);
    EXPECT_EQ(r.verify.outcome, VerifyOutcome::Cancelled);
    ASSERT_FALSE(io.reads.empty());
    const int64_t block = io.reads.front().count;
    EXPECT_LE(block * 8, kZeroBufferBytes) << "eight reads in flight share the 32 MiB buffer";
    EXPECT_EQ(r.verify.bytesChecked, 5 * block);
    EXPECT_EQ(r.verify.position, 5 * block);
    // Read ahead by at most the queue's depth, nothing sent after the Stop was seen.
    EXPECT_LE(io.reads.size(), 5u + 8u);
  }
}

}  // namespace
}  // namespace fw
