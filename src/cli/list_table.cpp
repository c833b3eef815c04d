#include "cli/list_table.hpp"

#include <algorithm>

#include "core/text.hpp"

namespace fw::cli {

namespace {

const ListRow kHeader{"DISK", "PATH", "BUS", "MODEL", "FIRMWARE", "SERIAL", "SECTORS", "CAPACITY"};
constexpr size_t kGap = 2;

}  // namespace

std::vector<std::string> ListTable(const std::vector<ListRow>& rows) {
  std::vector<ListRow> all{kHeader};
  all.insert(all.end(), rows.begin(), rows.end());
  return AlignedColumns(all);
}

std::vector<std::string> AlignedColumns(const std::vector<ListRow>& rows) {
  std::vector<size_t> widths(rows.empty() ? 0 : rows.front().size(), 0);
  for (const ListRow& row : rows) {
    for (size_t i = 0; i < row.size() && i < widths.size(); ++i) {
      widths[i] = std::max(widths[i], DisplayColumns(row[i]));
    }
  }
  std::vector<std::string> lines;
  for (const ListRow& row : rows) {
    std::string line;
    for (size_t i = 0; i < row.size(); ++i) {
      line += row[i];
      if (i + 1 == row.size()) break;
      const size_t width = i < widths.size() ? widths[i] : 0;
      line.append(width - std::min(width, DisplayColumns(row[i])) + kGap, ' ');
    }
    // An empty last cell must not leave the gap behind it.
    lines.push_back(line.erase(line.find_last_not_of(' ') + 1));
  }
  return lines;
}

std::vector<std::string> TabSeparated(const std::vector<ListRow>& rows) {
  std::vector<std::string> lines;
  for (const ListRow& row : rows) {
    std::string line;
    for (size_t i = 0; i < row.size(); ++i) {
      if (i > 0) line += '\t';
      line += row[i];
    }
    lines.push_back(line);
  }
  return lines;
}

}  // namespace fw::cli
