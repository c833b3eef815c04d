#include "device/image/scrambled_stretches.hpp"

#include <algorithm>
#include <utility>

namespace fw::image {

namespace {

// splitmix64: every 8-byte word of the medium gets its own well-mixed value, so that no two
// sectors read alike and none reads as zeros.
uint64_t Mix(uint64_t x) {
  x += 0x9E3779B97F4A7C15ULL;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ULL;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBULL;
  return x ^ (x >> 31);
}

}  // namespace

uint8_t ScrambledByte(uint64_t key, int64_t offset) {
  const uint64_t word = Mix(key ^ Mix(static_cast<uint64_t>(offset) / 8));
  return static_cast<uint8_t>(word >> (8 * (static_cast<uint64_t>(offset) % 8)));
}

void ScrambledStretches::ScrambleAll(uint64_t key, int64_t end) {
  m_key = key;
  m_stretches.clear();
  if (end > 0) m_stretches.emplace(0, end);
}

void ScrambledStretches::Written(int64_t begin, int64_t end) {
  if (begin >= end || m_stretches.empty()) return;
  // The first stretch that may overlap starts before `end` and ends after `begin`.
  auto it = m_stretches.upper_bound(begin);
  if (it != m_stretches.begin()) --it;
  while (it != m_stretches.end() && it->first < end) {
    const int64_t from = it->first;
    const int64_t to = it->second;
    if (to <= begin) {
      ++it;
      continue;
    }
    it = m_stretches.erase(it);
    if (from < begin) m_stretches.emplace(from, begin);
    if (to > end) {
      m_stretches.emplace(end, to);
      break;
    }
  }
}

void ScrambledStretches::Overlay(int64_t offset, uint8_t* bytes, int64_t count) const {
  if (count <= 0 || m_stretches.empty()) return;
  const int64_t end = offset + count;
  auto it = m_stretches.upper_bound(offset);
  if (it != m_stretches.begin()) --it;
  for (; it != m_stretches.end() && it->first < end; ++it) {
    const int64_t from = std::max(offset, it->first);
    const int64_t to = std::min(end, it->second);
    // One mixed word serves its eight bytes.
    for (int64_t at = from; at < to;) {
      const uint64_t word = Mix(m_key ^ Mix(static_cast<uint64_t>(at) / 8));
      const int64_t wordEnd = std::min(to, (at / 8 + 1) * 8);
      for (; at < wordEnd; ++at) bytes[at - offset] = static_cast<uint8_t>(word >> (8 * (at % 8)));
    }
  }
}

void ScrambledStretches::Restore(uint64_t key, std::map<int64_t, int64_t> stretches) {
  m_key = key;
  m_stretches = std::move(stretches);
}

}  // namespace fw::image
