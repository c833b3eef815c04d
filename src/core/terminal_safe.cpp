#include "core/terminal_safe.hpp"

#include <cstdint>
#include <cstdio>

namespace fw {

namespace {

std::string Escape(const char* format, unsigned value) {
  char buffer[8];
  std::snprintf(buffer, sizeof buffer, format, value);
  return buffer;
}

// The length of the valid UTF-8 sequence at `at` and its code point, or 0 when it is not one.
size_t Utf8Sequence(std::string_view text, size_t at, uint32_t& codePoint) {
  const auto byte = [&](size_t i) { return static_cast<uint8_t>(text[i]); };
  const uint8_t lead = byte(at);
  size_t length = 0;
  uint32_t minimum = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2, codePoint = lead & 0x1Fu, minimum = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3, codePoint = lead & 0x0Fu, minimum = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4, codePoint = lead & 0x07u, minimum = 0x10000;
  } else {
    return 0;
  }
  if (at + length > text.size()) return 0;
  for (size_t i = 1; i < length; ++i) {
    if ((byte(at + i) & 0xC0u) != 0x80u) return 0;
    codePoint = (codePoint << 6) | (byte(at + i) & 0x3Fu);
  }
  const bool surrogate = codePoint >= 0xD800 && codePoint <= 0xDFFF;
  if (codePoint < minimum || codePoint > 0x10FFFF || surrogate) return 0;
  return length;
}

}  // namespace

std::string TerminalSafe(std::string_view text) {
  std::string safe;
  safe.reserve(text.size());
  for (size_t at = 0; at < text.size();) {
    const auto byte = static_cast<uint8_t>(text[at]);
    if (byte < 0x80) {
      if (byte < 0x20 || byte == 0x7F) {
        safe += Escape("\\x%02x", byte);
      } else {
        safe += static_cast<char>(byte);
      }
      ++at;
      continue;
    }
    uint32_t codePoint = 0;
    const size_t length = Utf8Sequence(text, at, codePoint);
    if (length == 0) {
      safe += Escape("\\x%02x", byte);
      ++at;
    } else if (codePoint >= 0x80 && codePoint <= 0x9F) {
      safe += Escape("\\u%04x", codePoint);
      at += length;
    } else {
      safe.append(text.substr(at, length));
      at += length;
    }
  }
  return safe;
}

}  // namespace fw
