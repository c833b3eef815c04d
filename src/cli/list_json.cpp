#include "cli/list_json.hpp"

#include <cstdio>
#include <nlohmann/json.hpp>

#include "core/text.hpp"
#include "report/text_format.hpp"
#include "select/device_table.hpp"

namespace fw::cli {

namespace {

using json = nlohmann::ordered_json;

json TextOrNull(const std::string& text) { return text.empty() ? json(nullptr) : json(text); }

json PartitionJson(const PartitionContents& p) {
  return {{"number", p.number},          {"path", TextOrNull(p.path)},
          {"bytes", p.bytes},            {"fs_type", TextOrNull(p.fsType)},
          {"label", TextOrNull(p.label)}, {"mount_points", p.mountPoints}};
}

json RowJson(const TDeviceTable& row, const DiskContents& contents) {
  const TIdentifyDeviceData& id = row.IdentifyData;
  json partitions = json::array();
  for (const PartitionContents& p : contents.partitions) partitions.push_back(PartitionJson(p));
  return {{"drive", row.DeviceNumber},
          {"path", row.DevicePath},
          {"by_id", contents.byIdLinks},
          {"model", Trim(id.Model)},
          {"firmware", Trim(id.FW)},
          {"serial", Trim(id.SN)},
          {"bus", Trim(BusTypeToStr(id.BusType))},
          {"bus_type", id.BusType},
          {"sectors", id.LBA},
          {"sector_size", id.SectorSize},
          {"bytes", CapacityBytes(id)},
          {"removable", id.RemovableMedia},
          {"read_only", contents.readOnly},
          {"partition_table", TextOrNull(contents.partitionTable)},
          {"fs_type", TextOrNull(contents.fsType)},
          {"label", TextOrNull(contents.label)},
          {"partitions", partitions},
          {"mount_points", contents.AllMountPoints()},
          {"system_disk", contents.carriesSystem}};
}

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

std::string ListJson(DeviceIo& io) {
  json rows = json::array();
  for (int64_t row = 1; row <= DeviceCount; ++row) {
    rows.push_back(RowJson(DeviceTable[row], io.DescribeDisk(DeviceTable[row].DevicePath)));
  }
  // Strings the device stores need not be UTF-8: a bad byte becomes U+FFFD rather than an error.
  return EscapeRemainingControls(rows.dump(2, ' ', false, json::error_handler_t::replace));
}

}  // namespace fw::cli
