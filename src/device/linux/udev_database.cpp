#include "device/linux/udev_database.hpp"

#include <libudev.h>
#include <sys/sysmacros.h>

#include <algorithm>
#include <memory>

namespace fw::linuxio {
namespace {

struct UdevFree {
  void operator()(udev* u) const { udev_unref(u); }
  void operator()(udev_device* d) const { udev_device_unref(d); }
};

std::optional<UdevRecord> FromLibudev(Devno devno) {
  const std::unique_ptr<udev, UdevFree> context(udev_new());
  if (!context) return std::nullopt;
  const std::unique_ptr<udev_device, UdevFree> device(
      udev_device_new_from_devnum(context.get(), 'b', makedev(devno.major, devno.minor)));
  // A device that udev has not processed has sysfs facts only: nothing of its database.
  if (!device || udev_device_get_is_initialized(device.get()) <= 0) return std::nullopt;
  UdevRecord record;
  udev_list_entry* entry = nullptr;
  udev_list_entry_foreach(entry, udev_device_get_properties_list_entry(device.get())) {
    const char* name = udev_list_entry_get_name(entry);
    const char* value = udev_list_entry_get_value(entry);
    if (name != nullptr) record.properties[name] = value != nullptr ? value : "";
  }
  udev_list_entry_foreach(entry, udev_device_get_devlinks_list_entry(device.get())) {
    if (const char* link = udev_list_entry_get_name(entry)) record.devlinks.emplace_back(link);
  }
  std::sort(record.devlinks.begin(), record.devlinks.end());
  return record;
}

}  // namespace

UdevRecord ParseUdevRecord(std::string_view text) {
  UdevRecord record;
  record.properties = ParseUdevProperties(text);
  size_t at = 0;
  while (at < text.size()) {
    size_t end = text.find('\n', at);
    if (end == std::string_view::npos) end = text.size();
    const std::string_view line = text.substr(at, end - at);
    if (line.size() > 2 && line.substr(0, 2) == "S:") {
      record.devlinks.push_back("/dev/" + std::string(line.substr(2)));
    }
    at = end + 1;
  }
  std::sort(record.devlinks.begin(), record.devlinks.end());
  return record;
}

UdevRecord ReadUdevRecord(const SysTree& sys, Devno devno) {
  if (sys.Root().empty()) {
    if (std::optional<UdevRecord> record = FromLibudev(devno)) return *std::move(record);
  }
  const std::optional<std::string> db = sys.Read(
      "/run/udev/data/b" + std::to_string(devno.major) + ":" + std::to_string(devno.minor));
  return db ? ParseUdevRecord(*db) : UdevRecord{};
}

}  // namespace fw::linuxio
