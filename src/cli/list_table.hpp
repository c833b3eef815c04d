#pragma once
// The rows of `list` as a terminal shows them: a header and aligned columns, as lsblk prints
// its own; or, for scripts, the cells separated by tabs.
#include <string>
#include <vector>

namespace fw::cli {

// DISK, PATH, then the selection list's six cells; the cells are terminal-safe already.
using ListRow = std::vector<std::string>;

// The header line, then one line per row; every column as wide as its widest cell (CJK
// characters take two columns), two blanks between columns, no blanks at the end of a line.
std::vector<std::string> ListTable(const std::vector<ListRow>& rows);

// Any table of the same look: `rows` holds its header first.
std::vector<std::string> AlignedColumns(const std::vector<ListRow>& rows);

// One line per row, the cells joined by tabs.
std::vector<std::string> TabSeparated(const std::vector<ListRow>& rows);

}  // namespace fw::cli
