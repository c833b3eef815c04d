#include "format/verify_pass.hpp"

#include <algorithm>
#include <memory>
#include <string>

#include "core/disk_offsets.hpp"
#include "core/logs.hpp"
#include "format/format_texts.hpp"
#include "format/in_order_queue.hpp"
#include "format/pass_lines.hpp"
#include "format/purge_texts.hpp"
#include "format/zero_fill.hpp"
#include "report/text_format.hpp"

namespace fw {

namespace {

namespace text = format_text;
using namespace pass_lines;

// Reads in flight at once where the device takes a queue, each into its own part of the write
// buffer. One at a time, the buffer's two halves serve in turn.
constexpr int kReadsInFlight = 16;
// Each part starts on a page, as direct I/O wants.
constexpr int64_t kPartAlignment = 4096;

// Word-wise OR of the differences: the check must keep up with any disk. `count` is a multiple
// of 8 and `bytes` 8-aligned (whole sectors of the page-aligned buffer).
bool AllEqual(const uint8_t* bytes, int64_t count, uint8_t expected) {
  const auto* words = reinterpret_cast<const uint64_t*>(bytes);
  const uint64_t pattern = 0x0101010101010101ULL * expected;
  const int64_t n = count / 8;
  uint64_t any = 0;
  for (int64_t i = 0; i < n; ++i) any |= words[i] ^ pattern;
  for (int64_t i = n * 8; i < count; ++i) any |= bytes[i] ^ expected;
  return any == 0;
}

struct Block {
  size_t region = 0;
  int64_t offset = 0;
  int64_t count = 0;  // 0: past the last region
};

struct ReadResult {
  int64_t bytes = -1;
  uint32_t error = 0;
};

// The regions in disk order, block by block.
class BlockWalk {
 public:
  BlockWalk(const std::vector<WipeRegion>& regions, int64_t blockBytes)
      : m_regions(regions), m_blockBytes(blockBytes), m_next(At(0, -1)) {}

  // The next block, or one of count 0 past the last region.
  Block Take() {
    const Block block = m_next;
    if (block.count > 0) m_next = At(block.region, block.offset + block.count);
    return block;
  }
  bool Done() const { return m_next.count == 0; }

 private:
  Block At(size_t region, int64_t offset) const {
    for (; region < m_regions.size(); ++region, offset = -1) {
      const WipeRegion& r = m_regions[region];
      if (offset < 0) offset = r.offset;
      const int64_t end = CheckedEnd(r.offset, r.length).value_or(INT64_MAX);
      if (const int64_t count = BlockBefore(offset, end, m_blockBytes); count > 0) {
        return Block{region, offset, count};
      }
    }
    return Block{};
  }

  const std::vector<WipeRegion>& m_regions;
  int64_t m_blockBytes;
  Block m_next;
};

// A block being read, and the part of the buffer it is read into.
struct ReadBlock {
  Block block;
  int part = 0;
};

// Reads back every region into the write buffer and names each stretch that is not zero or
// cannot be read.
class ZeroVerifier {
 public:
  ZeroVerifier(DeviceIo& io, Handle handle, int64_t sectorSize, FormatSession& session,
               uint8_t* buffer, FormatView& view, Clock& clock, uint8_t expected)
      : m_io(io), m_handle(handle), m_sectorSize(sectorSize), m_session(session),
        m_buffer(buffer), m_view(view), m_clock(clock),
        m_unit(sectorSize >= 8 && sectorSize % 8 == 0 ? sectorSize : 512), m_expected(expected) {}

  VerifyResult Run(const std::vector<WipeRegion>& regions) {
    m_session.AddFormatLogLine(text::kVerifying);
    int64_t total = 0;
    for (const WipeRegion& region : regions) total += region.length;
    m_view.StartPass(total);
    const int64_t startTime = m_clock.NowMs();
    int64_t done = 0;
    bool aborted = false;

    // The device reads ahead into the parts of the buffer not being checked; each block is
    // checked, and its part sent out again, in disk order.
    const std::unique_ptr<IoQueue> queue = m_io.OpenQueue(m_handle, kReadsInFlight);
    InOrderQueue<ReadBlock> reads(*queue);
    const int parts = std::max(2, reads.Depth());
    const int64_t partBytes = kZeroBufferBytes / parts / kPartAlignment * kPartAlignment;
    std::vector<int> freeParts;
    for (int part = parts - 1; part >= 0; --part) freeParts.push_back(part);
    BlockWalk walk(regions, partBytes);
    const auto sendReads = [&] {
      while (!reads.Full() && !walk.Done() && !reads.DeviceGoneSeen() && !m_session.StopRequested()) {
        const ReadBlock read{walk.Take(), freeParts.back()};
        freeParts.pop_back();
        reads.Send(read, Transfer{0, TransferKind::Read, read.block.offset,
                                  m_buffer + read.part * partBytes, read.block.count});
      }
    };

    for (sendReads(); !reads.Empty(); sendReads()) {
      const auto ended = reads.Retire();
      const Block& block = ended->block.block;
      ReadResult read{ended->done.bytes, ended->done.error};
      // A short read is the end of a disk that shrank: the rest could not be read.
      if (read.bytes != block.count && read.error == 0) read.error = win::ERROR_IO_DEVICE;
      ShowBlock(m_view, done + block.count, total, block.offset + block.count, m_sectorSize);
      m_view.PumpMessages();
      m_result.position = block.offset;
      CheckBlock(block, read, m_buffer + ended->block.part * partBytes);
      freeParts.push_back(ended->block.part);
      if (read.bytes != block.count && MeansUnplugged(read.error)) {
        aborted = true;
        break;
      }
      done += block.count;
      m_result.position = block.offset + block.count;
      ShowSpeed(m_view, m_clock, startTime, done);
      if (m_session.StopRequested()) break;
    }
    // What is still in flight only ends: nothing after the block in hand is checked.
    while (!reads.Empty()) reads.Retire();

    const int64_t problems = m_result.nonZeroRegions + m_result.unreadableRegions;
    if (problems > kListedVerifyProblems) {
      m_session.AddFormatLogLine(std::string(text::kVerifyMoreProblems) + GroupThousands(problems) +
                       std::string(text::kVerifyListedOnly));
    }
    m_session.AddFormatLogLine(std::string(text::kAverageSpeed) + m_view.SpeedText());
    const std::string checked = GroupThousands(m_result.bytesChecked);
    std::string counts = std::string(text::kVerifyNotZeroCount) +
                         GroupThousands(m_result.nonZeroRegions) +
                         std::string(text::kVerifyUnreadableCount) +
                         GroupThousands(m_result.unreadableRegions);
    if (aborted || m_session.StopRequested()) {
      m_session.AddFormatLogLine(std::string(aborted ? text::kVerifyAbortedAt : text::kVerifyCancelledAt) +
                       OffsetAndLba(m_result.position, m_sectorSize));
      m_session.AddFormatLogLine(std::string(text::kVerifyUnfinished) + checked + counts);
      m_result.outcome = aborted ? VerifyOutcome::Aborted : VerifyOutcome::Cancelled;
      m_session.ClearStop();
    } else if (problems > 0) {
      m_session.AddFormatLogLine(std::string(text::kVerifyFailed) + checked + counts);
      m_result.outcome = VerifyOutcome::Failed;
    } else {
      m_view.SetProgress(100);
      m_session.AddFormatLogLine(m_expected == 0
                                     ? std::string(text::kVerifyPassed) + checked
                                     : std::string(text::kVerifyPassedPattern) +
                                           ByteText(m_expected) +
                                           std::string(text::kVerifyCheckedBytes) + checked);
      m_result.outcome = VerifyOutcome::Passed;
    }
    return std::move(m_result);
  }

 private:
  // Checks one block that was read into `bytes`, or names it as unreadable.
  void CheckBlock(const Block& block, const ReadResult& read, const uint8_t* bytes) {
    const int64_t at = block.offset;
    const int64_t count = block.count;
    if (read.bytes != count) {
      AddProblem(at, count, read.error);
      m_dirtyEnd = -1;
      return;
    }
    m_result.bytesChecked += count;
    if (AllEqual(bytes, count, m_expected)) return;
    // Rare: find the stretches of whole sectors that are not zero.
    for (int64_t unit = 0; unit < count; unit += m_unit) {
      const int64_t length = std::min(m_unit, count - unit);
      if (AllEqual(bytes + unit, length, m_expected)) continue;
      if (m_dirtyEnd != at + unit) {
        AddProblem(at + unit, length, 0);
      } else if (VerifyProblem* last = ListedEndingAt(m_dirtyEnd)) {
        last->length += length;  // the same stretch goes on
      }
      m_dirtyEnd = at + unit + length;
    }
  }

  // The listed stretch that is not zero and ends at `end`, if the list still takes it in.
  VerifyProblem* ListedEndingAt(int64_t end) {
    if (m_result.problems.empty()) return nullptr;
    VerifyProblem& last = m_result.problems.back();
    return last.code == 0 && last.offset + last.length == end ? &last : nullptr;
  }

  void AddProblem(int64_t offset, int64_t length, uint32_t code) {
    ++(code == 0 ? m_result.nonZeroRegions : m_result.unreadableRegions);
    if (static_cast<int64_t>(m_result.problems.size()) >= kListedVerifyProblems) return;
    m_result.problems.push_back(VerifyProblem{offset, length, code});
    if (code == 0) {
      m_session.AddFormatLogLine(
          std::string(m_expected == 0 ? text::kVerifyNotZeroAt : text::kVerifyMixedAt) +
          OffsetAndLba(offset, m_sectorSize));
    } else {
      m_session.AddFormatLogLine(std::string(text::kVerifyReadErrorAt) +
                       OffsetAndLba(offset, m_sectorSize) + ErrorCodeSuffix(code));
    }
  }

  DeviceIo& m_io;
  Handle m_handle;
  int64_t m_sectorSize;
  FormatSession& m_session;
  uint8_t* m_buffer;
  FormatView& m_view;
  Clock& m_clock;
  int64_t m_unit;           // the check's step in the rare slow path: one sector
  int64_t m_dirtyEnd = -1;  // where the last stretch that is not zero ended
  uint8_t m_expected;       // what every byte must be
  VerifyResult m_result;
};

}  // namespace

std::string ByteText(uint8_t value) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  return std::string("0x") + kDigits[value >> 4] + kDigits[value & 15];
}

VerifyResult VerifyZeroRegions(DeviceIo& io, Handle handle, int64_t sectorSize,
                               FormatSession& session, uint8_t* buffer,
                               const std::vector<WipeRegion>& regions, FormatView& view,
                               Clock& clock) {
  return VerifyUniformRegions(io, handle, sectorSize, session, buffer, regions, view, clock, 0);
}

VerifyResult VerifyUniformRegions(DeviceIo& io, Handle handle, int64_t sectorSize,
                                  FormatSession& session, uint8_t* buffer,
                                  const std::vector<WipeRegion>& regions, FormatView& view,
                                  Clock& clock, uint8_t expected) {
  ZeroVerifier verifier(io, handle, sectorSize, session, buffer, view, clock, expected);
  return verifier.Run(regions);
}

}  // namespace fw
