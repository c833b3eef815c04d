#pragma once
// Small text helpers shared by identification, reports and logs. All texts are UTF-8.
#include <cstdint>
#include <string>
#include <string_view>

namespace fw {

// NVMe counters are 128 bits wide; they are shown exactly, never cut to 64 bits.
__extension__ typedef unsigned __int128 UInt128;

// Removes every leading and trailing character whose code is 0 to 32; inner ones stay.
std::string Trim(std::string_view text);

// Each byte becomes the character whose code is the byte's value (0..255), encoded as UTF-8.
std::string Latin1ToUtf8(std::string_view bytes);

// Boolean text of the log lines: "-1" for true, "0" for false.
inline std::string_view BoolText(bool value) { return value ? "-1" : "0"; }

// Number of characters (code points) of a UTF-8 text.
size_t CharCount(std::string_view utf8);

// Display columns of a UTF-8 text on a terminal or in the memo's font: CJK and full-width
// characters (from U+1100 on) take two, the others one.
size_t DisplayColumns(std::string_view utf8);

// Blanks appended (PadRight) or put in front (PadLeft) until the text has at least `width`
// characters; a longer text is never shortened.
std::string PadRight(std::string_view text, size_t width);
std::string PadLeft(std::string_view text, size_t width);

// Plain decimal digits of a 128-bit value.
std::string DecimalText(UInt128 value);

}  // namespace fw
