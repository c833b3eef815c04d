#include "cli/list_json.hpp"

#include "cli/json_text.hpp"
#include "core/text.hpp"
#include "device/erase_facts.hpp"
#include "report/text_format.hpp"
#include "select/device_table.hpp"

namespace fw::cli {

namespace {

using json = Json;

json PartitionJson(const PartitionContents& p) {
  return {{"number", p.number},          {"path", TextOrNull(p.path)},
          {"bytes", p.bytes},            {"fs_type", TextOrNull(p.fsType)},
          {"label", TextOrNull(p.label)}, {"mount_points", p.mountPoints}};
}

json EraseMethodsJson(const DriveEraseFacts& facts) {
  json methods = json::array();
  for (const EraseMethodState& s : EraseMethodStates(facts)) {
    methods.push_back({{"method", EraseMethodWord(s.method)},
                       {"available", s.available()},
                       {"reason", s.available() ? json(nullptr) : json(EraseRefusalWord(s.refusal))},
                       {"category", EraseCategoryWord(s.category)}});
  }
  return methods;
}

// 0 when none, null when it cannot be told; an NVMe namespace has no host protected area.
json HiddenSectorsJson(const DriveEraseFacts& facts) {
  if (facts.hidden) return facts.hidden->hiddenSectors();
  if (facts.media == MediaType::Nvme) return 0;
  return nullptr;
}

// Read-only commands on a handle of its own: the list changes no drive.
DriveEraseFacts ReadFacts(DeviceIo& io, const TDeviceTable& row) {
  const Handle handle = io.Open(row.DevicePath, OpenMode::Identification);
  if (handle == kInvalidHandle) {
    DriveEraseFacts facts;
    facts.media = MediaTypeOf(row.IdentifyData, std::nullopt);
    return facts;
  }
  DriveEraseFacts facts = ReadDriveEraseFacts(io, handle, row.IdentifyData);
  io.Close(handle);
  return facts;
}

json RowJson(const TDeviceTable& row, const DiskContents& contents, const DriveEraseFacts& erase) {
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
          {"system_disk", contents.carriesSystem},
          {"erase_methods", EraseMethodsJson(erase)},
          {"native_sectors", erase.hidden ? json(erase.hidden->nativeSectors) : json(nullptr)},
          {"hidden_sectors", HiddenSectorsJson(erase)}};
}

}  // namespace

std::string ListJson(DeviceIo& io) {
  json rows = json::array();
  for (int64_t row = 1; row <= DeviceCount; ++row) {
    const TDeviceTable& disk = DeviceTable[row];
    rows.push_back(RowJson(disk, io.DescribeDisk(disk.DevicePath), ReadFacts(io, disk)));
  }
  return JsonText(rows);
}

}  // namespace fw::cli
