#pragma once
// The CLI prints device strings through the one escaping the whole program shares.
#include "core/terminal_safe.hpp"

namespace fw::cli {

using fw::TerminalSafe;

}  // namespace fw::cli
