#include "cli/json_text.hpp"

#include <cstdint>
#include <cstdio>

namespace fw::cli {

namespace {

// JSON escapes C0 controls itself; DEL and the C1 controls (U+0080..U+009F, which some
// terminals obey in UTF-8 too) are left as they are. They can only stand inside strings.
std::string EscapeRemainingControls(const std::string& text) {
  std::string safe;
  safe.reserve(text.size());
  char escape[8];
  for (size_t i = 0; i < text.size(); ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    const auto next = i + 1 < text.size() ? static_cast<unsigned char>(text[i + 1]) : 0u;
    if (byte == 0x7F) {
      safe += "\\u007f";
    } else if (byte == 0xC2 && next >= 0x80 && next <= 0x9F) {
      std::snprintf(escape, sizeof escape, "\\u%04x", next);
      safe += escape;
      ++i;
    } else {
      safe += static_cast<char>(byte);
    }
  }
  return safe;
}

}  // namespace

std::string JsonText(const Json& document) {
  // Strings the device stores need not be UTF-8: a bad byte becomes U+FFFD rather than an error.
  return EscapeRemainingControls(document.dump(2, ' ', false, Json::error_handler_t::replace));
}

Json TextOrNull(const std::string& text) { return text.empty() ? Json(nullptr) : Json(text); }

Json Counter(UInt128 value) {
  if (value <= UINT64_MAX) return Json(static_cast<uint64_t>(value));
  return Json(DecimalText(value));
}

}  // namespace fw::cli
