#include "device/linux/mountinfo.hpp"

#include <optional>

#include "device/linux/block_devices.hpp"

namespace fw::linuxio {
namespace {

std::vector<std::string_view> SplitFields(std::string_view line) {
  std::vector<std::string_view> fields;
  size_t at = 0;
  while (at < line.size()) {
    while (at < line.size() && (line[at] == ' ' || line[at] == '\t')) ++at;
    if (at >= line.size()) break;
    size_t end = at;
    while (end < line.size() && line[end] != ' ' && line[end] != '\t') ++end;
    fields.push_back(line.substr(at, end - at));
    at = end;
  }
  return fields;
}

template <class Fn>
void ForEachLine(std::string_view text, Fn fn) {
  size_t at = 0;
  while (at < text.size()) {
    size_t end = text.find('\n', at);
    if (end == std::string_view::npos) end = text.size();
    fn(text.substr(at, end - at));
    at = end + 1;
  }
}

}  // namespace

std::string UnescapeOctal(std::string_view text) {
  auto octal = [](char ch) { return ch >= '0' && ch <= '7'; };
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\\' && i + 3 < text.size() && octal(text[i + 1]) &&
        octal(text[i + 2]) && octal(text[i + 3])) {
      out.push_back(static_cast<char>(((text[i + 1] - '0') << 6) | ((text[i + 2] - '0') << 3) |
                                      (text[i + 3] - '0')));
      i += 3;
    } else {
      out.push_back(text[i]);
    }
  }
  return out;
}

std::vector<MountEntry> ParseMountInfo(std::string_view text) {
  std::vector<MountEntry> entries;
  ForEachLine(text, [&](std::string_view line) {
    // id parent maj:min root mountpoint options [optional...] - fstype source superoptions
    const std::vector<std::string_view> fields = SplitFields(line);
    size_t dash = 6;
    while (dash < fields.size() && fields[dash] != "-") ++dash;
    if (dash + 2 >= fields.size()) return;
    MountEntry entry;
    const std::optional<Devno> devno = ParseDevno(std::string(fields[2]));
    if (!devno) return;
    entry.major = devno->major;
    entry.minor = devno->minor;
    entry.root = UnescapeOctal(fields[3]);
    entry.mountPoint = UnescapeOctal(fields[4]);
    entry.fsType = UnescapeOctal(fields[dash + 1]);
    entry.source = UnescapeOctal(fields[dash + 2]);
    entries.push_back(std::move(entry));
  });
  return entries;
}

}  // namespace fw::linuxio
