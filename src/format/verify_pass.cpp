#include "format/verify_pass.hpp"

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>

#include "core/disk_offsets.hpp"
#include "core/logs.hpp"
#include "format/format_texts.hpp"
#include "format/pass_lines.hpp"
#include "format/purge_texts.hpp"
#include "format/zero_fill.hpp"
#include "report/text_format.hpp"

namespace fw {

namespace {

namespace text = format_text;
using namespace pass_lines;

// The verify pass reads into the two halves of the write buffer in turn.
constexpr int64_t kVerifyBlockBytes = kZeroBufferBytes / 2;


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

// Reads the regions in disk order, block by block, on a helper thread into the two halves of
// the buffer in turn: while the caller checks one half, the next block is being read into the
// other, and the one after it is asked for as soon as that half is handed back, so the device
// never waits for the check. The helper is the only caller of the backend while it runs; it
// stops after a read that finds the device gone. Without a thread to spare, Next() reads.
class ReadAhead {
 public:
  struct Filled {
    Block block;  // count 0: no more blocks
    ReadResult read;
    const uint8_t* bytes = nullptr;  // valid until the next call of Next()
  };

  ReadAhead(DeviceIo& io, Handle handle, const std::vector<WipeRegion>& regions, uint8_t* buffer)
      : m_io(io), m_handle(handle), m_regions(regions), m_buffer(buffer) {
    try {
      m_worker = std::thread([this] { Work(); });
    } catch (const std::system_error&) {
      m_inline = FirstBlock();
    }
  }
  ~ReadAhead() {
    {
      const std::lock_guard lock(m_mutex);
      m_stop = true;
    }
    m_changed.notify_all();
    if (m_worker.joinable()) m_worker.join();
  }
  ReadAhead(const ReadAhead&) = delete;
  ReadAhead& operator=(const ReadAhead&) = delete;

  Filled Next() {
    const int slot = static_cast<int>(m_taken % 2);
    if (!m_worker.joinable()) {
      const Block block = m_inline;
      if (block.count == 0) return Filled{};
      m_inline = NextBlock(block);
      ++m_taken;
      return Filled{block, Read(block, slot), Half(slot)};
    }
    std::unique_lock lock(m_mutex);
    if (m_taken > 0) m_slots[1 - slot].filled = false;  // the caller is done with it
    m_changed.notify_all();
    m_changed.wait(lock, [&] { return m_slots[slot].filled || m_finished; });
    if (!m_slots[slot].filled) return Filled{};
    ++m_taken;
    return Filled{m_slots[slot].block, m_slots[slot].read, Half(slot)};
  }

 private:
  struct Slot {
    Block block;
    ReadResult read;
    bool filled = false;
  };

  Block BlockAt(size_t region, int64_t offset) const {
    for (; region < m_regions.size(); ++region, offset = -1) {
      const WipeRegion& r = m_regions[region];
      if (offset < 0) offset = r.offset;
      const int64_t end = CheckedEnd(r.offset, r.length).value_or(INT64_MAX);
      if (const int64_t count = BlockBefore(offset, end, kVerifyBlockBytes); count > 0) {
        return Block{region, offset, count};
      }
    }
    return Block{};
  }
  Block FirstBlock() const { return BlockAt(0, -1); }
  Block NextBlock(const Block& block) const {
    return BlockAt(block.region, block.offset + block.count);
  }
  uint8_t* Half(int slot) const { return m_buffer + slot * kVerifyBlockBytes; }

  ReadResult Read(const Block& block, int slot) {
    ReadResult result;
    result.bytes = m_io.ReadAt(m_handle, block.offset, Half(slot), block.count);
    if (result.bytes != block.count) {
      // A short read is the end of a disk that shrank: the rest could not be read.
      result.error = result.bytes < 0 ? m_io.LastError() : win::ERROR_IO_DEVICE;
    }
    return result;
  }

  void Work() {
    int64_t index = 0;
    for (Block block = FirstBlock(); block.count > 0; block = NextBlock(block), ++index) {
      const int slot = static_cast<int>(index % 2);
      {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [&] { return m_stop || !m_slots[slot].filled; });
        if (m_stop) break;
      }
      const ReadResult read = Read(block, slot);
      {
        const std::lock_guard lock(m_mutex);
        m_slots[slot] = Slot{block, read, true};
      }
      m_changed.notify_all();
      if (read.bytes != block.count && MeansUnplugged(read.error)) break;
    }
    {
      const std::lock_guard lock(m_mutex);
      m_finished = true;
    }
    m_changed.notify_all();
  }

  DeviceIo& m_io;
  Handle m_handle;
  const std::vector<WipeRegion>& m_regions;
  uint8_t* m_buffer;
  std::mutex m_mutex;
  std::condition_variable m_changed;
  Slot m_slots[2];
  bool m_stop = false;
  bool m_finished = false;
  int64_t m_taken = 0;  // blocks handed to the caller
  Block m_inline;       // without a helper: the block the next call reads
  std::thread m_worker;
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
    ReadAhead reader(m_io, m_handle, regions, m_buffer);
    for (;;) {
      const ReadAhead::Filled filled = reader.Next();
      const Block& block = filled.block;
      if (block.count == 0) break;
      ShowBlock(m_view, done + block.count, total, block.offset + block.count, m_sectorSize);
      m_view.PumpMessages();
      m_result.position = block.offset;
      CheckBlock(block, filled.read, filled.bytes);
      if (filled.read.bytes != block.count && MeansUnplugged(filled.read.error)) {
        aborted = true;
        break;
      }
      done += block.count;
      m_result.position = block.offset + block.count;
      ShowSpeed(m_view, m_clock, startTime, done);
      if (m_session.StopRequested()) break;
    }

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
