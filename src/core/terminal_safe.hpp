#pragma once
// Device strings and file names on a terminal: a model or a metadata file name holding ESC
// sequences or a line break must neither steer the terminal nor split a row.
#include <string>
#include <string_view>

namespace fw {

// `text` with every control character (C0, DEL, C1) and every byte that is not valid UTF-8
// shown as an escape (\x1b, \x0a, \u009b), never interpreted. Other characters are kept.
std::string TerminalSafe(std::string_view text);

}  // namespace fw
