#include "format/purge_verify.hpp"

#include <algorithm>
#include <memory>
#include <new>
#include <random>
#include <set>
#include <utility>

#include "format/format_texts.hpp"
#include "format/pass_lines.hpp"
#include "format/purge_texts.hpp"
#include "format/wipe_regions.hpp"
#include "report/text_format.hpp"

namespace fw {

namespace {

namespace text = format_text;

// Direct I/O wants a page-aligned destination.
constexpr std::align_val_t kPageAlignment{4096};

struct AlignedFree {
  void operator()(uint8_t* p) const { ::operator delete[](p, kPageAlignment); }
};
using AlignedBytes = std::unique_ptr<uint8_t[], AlignedFree>;

AlignedBytes AllocateAligned(int64_t bytes) {
  auto* memory = static_cast<uint8_t*>(
      ::operator new[](static_cast<size_t>(bytes), kPageAlignment, std::nothrow));
  return AlignedBytes(memory);
}

// FNV-1a: the sample only has to tell a sector that changed from one that did not.
uint64_t HashBytes(const uint8_t* bytes, int64_t count) {
  uint64_t hash = 14695981039346656037ULL;
  for (int64_t i = 0; i < count; ++i) {
    hash ^= bytes[i];
    hash *= 1099511628211ULL;
  }
  return hash;
}

std::string LbaText(int64_t lba) { return GroupThousands(lba); }

}  // namespace

ReadBackCheck VerifyReadBack(DeviceIo& io, Handle handle, int64_t sectorSize, int64_t capacity,
                             FormatSession& session, FormatView& view, Clock& clock) {
  ReadBackCheck check;
  const AlignedBytes buffer = AllocateAligned(kZeroBufferBytes);
  if (!buffer) {
    session.AddFormatLogLine("Not enough memory for the 32 MiB read-back buffer: nothing was verified");
    return check;
  }
  uint8_t expected = 0;
  if (sectorSize > 0 && io.ReadAt(handle, 0, buffer.get(), sectorSize) > 0) expected = buffer[0];
  check.verify = VerifyUniformRegions(io, handle, sectorSize, session, buffer.get(),
                                      {WipeRegion{0, capacity}}, view, clock, expected);
  if (check.verify.outcome == VerifyOutcome::Passed) {
    check.pattern = expected == 0 ? "zeros" : "uniform " + ByteText(expected);
  } else if (check.verify.outcome == VerifyOutcome::Failed) {
    check.pattern = "mixed";
  }
  return check;
}

std::vector<int64_t> SectorSample::Choose(int64_t sectors, uint64_t seed) {
  std::set<int64_t> chosen;
  if (sectors <= 0) return {};
  chosen.insert(0);
  chosen.insert(sectors - 1);
  const int64_t wanted = std::min<int64_t>(sectors, kSampleRandomSectors + 2);
  std::mt19937_64 random(seed);
  std::uniform_int_distribution<int64_t> lba(0, sectors - 1);
  while (static_cast<int64_t>(chosen.size()) < wanted) chosen.insert(lba(random));
  return {chosen.begin(), chosen.end()};
}

SectorSample::SectorSample(DeviceIo& io, Handle handle, const FormatSession& session,
                           int64_t sectorSize, std::vector<int64_t> lbas)
    : m_sectorSize(sectorSize), m_lbas(std::move(lbas)) {
  session.AddFormatLogLine(std::string(text::kSampleBefore) +
                   GroupThousands(static_cast<int64_t>(m_lbas.size())));
  const AlignedBytes sector = AllocateAligned(std::max<int64_t>(sectorSize, 1));
  for (const int64_t lba : m_lbas) {
    const bool read =
        sector && io.ReadAt(handle, lba * sectorSize, sector.get(), sectorSize) == sectorSize;
    m_readBefore.push_back(read);
    m_hashes.push_back(read ? HashBytes(sector.get(), sectorSize) : 0);
  }
}

VerifyResult SectorSample::Compare(DeviceIo& io, Handle handle, const FormatSession& session,
                                   FormatView& view) const {
  session.AddFormatLogLine(text::kSampleAfter);
  VerifyResult result;
  const AlignedBytes sector = AllocateAligned(std::max<int64_t>(m_sectorSize, 1));
  const int64_t total = static_cast<int64_t>(m_lbas.size()) * m_sectorSize;
  view.StartPass(total);
  int64_t done = 0;
  const auto problem = [&](int64_t lba, uint32_t code) {
    ++(code == 0 ? result.nonZeroRegions : result.unreadableRegions);
    if (static_cast<int64_t>(result.problems.size()) < kListedVerifyProblems) {
      result.problems.push_back(VerifyProblem{lba * m_sectorSize, m_sectorSize, code});
      session.AddFormatLogLine(std::string(code == 0 ? text::kSampleUnchangedAt
                                             : text::kSampleUnreadableAt) +
                       LbaText(lba) + (code == 0 ? "" : pass_lines::ErrorCodeSuffix(code)));
    }
  };
  for (size_t i = 0; i < m_lbas.size(); ++i) {
    const int64_t lba = m_lbas[i];
    pass_lines::ShowBlock(view, done + m_sectorSize, total, (lba + 1) * m_sectorSize,
                          m_sectorSize);
    view.PumpMessages();
    done += m_sectorSize;
    result.position = (lba + 1) * m_sectorSize;
    if (!m_readBefore[i]) continue;
    const int64_t read =
        sector ? io.ReadAt(handle, lba * m_sectorSize, sector.get(), m_sectorSize) : -1;
    if (read != m_sectorSize) {
      problem(lba, read < 0 ? io.LastError() : win::ERROR_IO_DEVICE);
      continue;
    }
    result.bytesChecked += m_sectorSize;
    if (HashBytes(sector.get(), m_sectorSize) == m_hashes[i]) problem(lba, 0);
  }
  const std::string compared = GroupThousands(result.bytesChecked / std::max<int64_t>(m_sectorSize, 1));
  // A sample of which nothing could be compared proves nothing.
  if (result.FoundProblems() || result.bytesChecked == 0) {
    session.AddFormatLogLine(std::string(text::kSampleFailed) + GroupThousands(result.nonZeroRegions) +
                     std::string(text::kSampleUnreadable) +
                     GroupThousands(result.unreadableRegions));
    result.outcome = VerifyOutcome::Failed;
  } else {
    view.SetProgress(100);
    session.AddFormatLogLine(std::string(text::kSamplePassed) + compared);
    result.outcome = VerifyOutcome::Passed;
  }
  return result;
}

}  // namespace fw
