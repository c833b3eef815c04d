#pragma once
// What a crypto erase leaves of a simulated disk: the stretches of the medium that read as bytes
// derived from the erase's key and the offset, never as what was written before, until they are
// written again. Nothing of it is stored in the image: the bytes are computed when read.
#include <cstdint>
#include <map>

namespace fw::image {

class ScrambledStretches {
 public:
  // From now on [0, end) reads as the key's bytes.
  void ScrambleAll(uint64_t key, int64_t end);
  void Clear() { m_stretches.clear(); }
  // [begin, end) holds what was written there again.
  void Written(int64_t begin, int64_t end);
  // Puts the key's bytes over the scrambled parts of `count` bytes read at `offset`.
  void Overlay(int64_t offset, uint8_t* bytes, int64_t count) const;

  bool empty() const { return m_stretches.empty(); }
  uint64_t key() const { return m_key; }
  // Begin -> end, not overlapping, not touching.
  const std::map<int64_t, int64_t>& stretches() const { return m_stretches; }
  void Restore(uint64_t key, std::map<int64_t, int64_t> stretches);

 private:
  uint64_t m_key = 0;
  std::map<int64_t, int64_t> m_stretches;
};

// The byte that offset `offset` reads as under `key`.
uint8_t ScrambledByte(uint64_t key, int64_t offset);

}  // namespace fw::image
