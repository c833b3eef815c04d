#include "device/image/image_drive.hpp"

#include <algorithm>
#include <array>
#include <filesystem>
#include <limits>
#include <map>
#include <nlohmann/json.hpp>
#include <string_view>
#include <system_error>
#include <utility>

#include "core/small_file.hpp"
#include "core/terminal_safe.hpp"

namespace fw::image {

namespace {

namespace fs = std::filesystem;
using nlohmann::json;

// Metadata is a few hundred bytes, three levels deep; these bounds keep a hostile file from
// taking the memory or the stack.
constexpr size_t kMetadataLimit = 1 << 20;
constexpr int kNestingLimit = 16;

// Reads the keys of one metadata file and keeps the first problem found. Every reader returns
// false once a problem is recorded, so that a parse reads `return Fail(...)` on its error path.
class MetadataReader {
 public:
  MetadataReader(const std::string& jsonPath, std::string* error)
      : m_jsonPath(jsonPath), m_error(error) {}

  bool Fail(const std::string& key, const std::string& problem) {
    if (m_error != nullptr) *m_error = m_jsonPath + ": key \"" + key + "\": " + problem;
    return false;
  }

  bool FailWhole(const std::string& problem) {
    if (m_error != nullptr) *m_error = m_jsonPath + ": " + problem;
    return false;
  }

  // Only the keys in `known` may appear: a misspelt key would otherwise be silently ignored.
  bool OnlyKnownKeys(const json& object, const std::string& prefix,
                     std::initializer_list<const char*> known) {
    for (const auto& item : object.items()) {
      const bool ok =
          std::any_of(known.begin(), known.end(), [&](const char* k) { return item.key() == k; });
      if (!ok) return Fail(prefix + item.key(), "unknown key");
    }
    return true;
  }

  bool Object(const json& value, const std::string& key) {
    return value.is_object() || Fail(key, "expected an object, found " + Found(value));
  }

  bool Array(const json& value, const std::string& key) {
    return value.is_array() || Fail(key, "expected an array, found " + Found(value));
  }

  bool Bool(const json& value, const std::string& key, bool& out) {
    if (!value.is_boolean()) return Fail(key, "expected true or false, found " + Found(value));
    out = value.get<bool>();
    return true;
  }

  template <class T>
  bool Integer(const json& value, const std::string& key, T& out) {
    constexpr auto low = static_cast<long double>(std::numeric_limits<T>::min());
    constexpr auto high = static_cast<long double>(std::numeric_limits<T>::max());
    const std::string range = "expected a whole number from " +
                              std::to_string(std::numeric_limits<T>::min()) + " to " +
                              std::to_string(std::numeric_limits<T>::max());
    if (value.is_number_unsigned()) {
      const auto v = value.get<uint64_t>();
      if (static_cast<long double>(v) > high) return Fail(key, range + ", found " + value.dump());
      out = static_cast<T>(v);
      return true;
    }
    if (value.is_number_integer()) {
      const auto v = value.get<int64_t>();
      if (static_cast<long double>(v) < low || static_cast<long double>(v) > high) {
        return Fail(key, range + ", found " + value.dump());
      }
      out = static_cast<T>(v);
      return true;
    }
    return Fail(key, range + ", found " + Found(value));
  }

  // A descriptor string: one byte per character, as a device stores it, so the text must be
  // Latin-1 and hold no zero character (the descriptor's terminator).
  bool DescriptorString(const json& value, const std::string& key, std::string& out) {
    if (!value.is_string()) return Fail(key, "expected a string, found " + Found(value));
    const auto& utf8 = value.get_ref<const std::string&>();
    out.clear();
    for (size_t i = 0; i < utf8.size();) {
      const auto b = static_cast<unsigned char>(utf8[i]);
      if (b == 0) return Fail(key, "a zero character cannot be part of a device string");
      if (b < 0x80) {
        out.push_back(static_cast<char>(b));
        ++i;
      } else if ((b == 0xC2 || b == 0xC3) && i + 1 < utf8.size()) {
        out.push_back(static_cast<char>(((b & 0x03) << 6) | (utf8[i + 1] & 0x3F)));
        i += 2;
      } else {
        return Fail(key, "only characters up to U+00FF fit in a device string");
      }
    }
    return true;
  }

  // A data file of exactly N bytes: a 512-byte sector file, or an NVMe page. It lies in the
  // metadata file's folder, the disk set: a name leading out of it (an absolute path elsewhere,
  // "..", a symbolic link anywhere on the way) is refused, so that a disk set read as root
  // never shows what another file of the machine holds.
  template <size_t N>
  bool DataFile(const json& value, const std::string& key, std::optional<std::array<uint8_t, N>>& out,
                std::string_view kind) {
    if (!value.is_string()) return Fail(key, "expected a file name, found " + Found(value));
    const std::string name = value.get<std::string>();
    fs::path folder = fs::path(m_jsonPath).parent_path();
    if (folder.empty()) folder = ".";
    fs::path relative = name;
    std::error_code ignored;
    if (relative.is_absolute()) {
      relative = relative.lexically_normal().lexically_relative(
          fs::absolute(folder, ignored).lexically_normal());
    }
    const fs::path file = fs::path(name).is_absolute() ? fs::path(name) : folder / name;
    const SmallFileRead read = ReadFileInFolder(folder.string(), relative.string(), N);
    if (!read.ok) return Fail(key, "cannot read " + file.string() + ": " + read.problem);
    if (read.content.size() != N) {
      return Fail(key, file.string() + " holds " + std::to_string(read.content.size()) +
                           " bytes; " + std::string(kind) + " holds exactly " + std::to_string(N));
    }
    std::array<uint8_t, N> data{};
    std::copy(read.content.begin(), read.content.end(), data.begin());
    out = data;
    return true;
  }

  bool SectorFile(const json& value, const std::string& key, std::optional<Sector>& out) {
    return DataFile(value, key, out, "a sector file");
  }

  static std::string Found(const json& value) {
    std::string text = value.dump();
    if (text.size() > 40) text = text.substr(0, 37) + "...";
    return std::string(value.type_name()) + " " + text;
  }

 private:
  std::string m_jsonPath;
  std::string* m_error;
};

bool ReadFaults(MetadataReader& r, const json& object, ImageFaults& fail) {
  if (!r.Object(object, "fail")) return false;
  const std::map<std::string, uint32_t*> keys = {
      {"geometry", &fail.geometry},        {"length", &fail.length},
      {"adapter", &fail.adapter},          {"device", &fail.device},
      {"smart_enable", &fail.smartEnable}, {"smart_read", &fail.smartRead},
      {"identify", &fail.identify},        {"lock", &fail.lock},
      {"open_working", &fail.openWorking},
      {"nvme_identify_controller", &fail.nvmeIdentifyController},
      {"nvme_identify_namespace", &fail.nvmeIdentifyNamespace},
      {"nvme_smart_log", &fail.nvmeSmartLog},
      {"sanitize", &fail.sanitize},
      {"security_erase", &fail.securityErase},
      {"format_nvm", &fail.formatNvm},
      {"set_max", &fail.setMax},
  };
  for (const auto& item : object.items()) {
    const auto key = keys.find(item.key());
    if (key == keys.end()) return r.Fail("fail." + item.key(), "unknown key");
    if (!r.Integer(item.value(), "fail." + item.key(), *key->second)) return false;
  }
  return true;
}

bool ReadWriteErrors(MetadataReader& r, const json& array, std::vector<ImageWriteError>& out) {
  if (!r.Array(array, "write_errors")) return false;
  for (size_t i = 0; i < array.size(); ++i) {
    const std::string key = "write_errors[" + std::to_string(i) + "]";
    const json& entry = array[i];
    if (!r.Object(entry, key) || !r.OnlyKnownKeys(entry, key + ".", {"offset", "code"})) {
      return false;
    }
    if (!entry.contains("offset")) return r.Fail(key + ".offset", "missing");
    if (!entry.contains("code")) return r.Fail(key + ".code", "missing");
    ImageWriteError error;
    if (!r.Integer(entry["offset"], key + ".offset", error.offset)) return false;
    if (error.offset < 0) return r.Fail(key + ".offset", "an offset cannot be negative");
    if (!r.Integer(entry["code"], key + ".code", error.code)) return false;
    out.push_back(error);
  }
  return true;
}

// [[offset, length], ...]: both whole numbers, the offset not negative, the length positive.
bool ReadLostWrites(MetadataReader& r, const json& array, std::vector<ImageLostWrite>& out) {
  if (!r.Array(array, "lost_writes")) return false;
  for (size_t i = 0; i < array.size(); ++i) {
    const std::string key = "lost_writes[" + std::to_string(i) + "]";
    const json& entry = array[i];
    if (!r.Array(entry, key)) return false;
    if (entry.size() != 2) {
      return r.Fail(key, "expected [offset, length], found " + std::to_string(entry.size()) +
                             " elements");
    }
    ImageLostWrite lost;
    if (!r.Integer(entry[0], key + "[0]", lost.offset)) return false;
    if (lost.offset < 0) return r.Fail(key + "[0]", "an offset cannot be negative");
    if (!r.Integer(entry[1], key + "[1]", lost.length)) return false;
    if (lost.length <= 0) return r.Fail(key + "[1]", "a length must be positive");
    if (lost.length > INT64_MAX - lost.offset) {
      return r.Fail(key + "[1]", "offset and length pass the largest position");
    }
    out.push_back(lost);
  }
  return true;
}

bool ReadMounts(MetadataReader& r, const json& array, std::vector<ImageMount>& out) {
  if (!r.Array(array, "mounts")) return false;
  for (size_t i = 0; i < array.size(); ++i) {
    const std::string key = "mounts[" + std::to_string(i) + "]";
    const json& entry = array[i];
    if (!r.Object(entry, key) ||
        !r.OnlyKnownKeys(entry, key + ".", {"mount_point", "partition", "busy"})) {
      return false;
    }
    ImageMount mount;
    if (!entry.contains("mount_point")) return r.Fail(key + ".mount_point", "missing");
    const json& point = entry["mount_point"];
    if (!point.is_string() || point.get_ref<const std::string&>().empty()) {
      return r.Fail(key + ".mount_point", "expected a non-empty path");
    }
    mount.mountPoint = point.get<std::string>();
    if (entry.contains("partition") &&
        !r.Integer(entry["partition"], key + ".partition", mount.partition)) {
      return false;
    }
    if (entry.contains("busy") && !r.Bool(entry["busy"], key + ".busy", mount.busy)) {
      return false;
    }
    out.push_back(mount);
  }
  return true;
}

bool ReadDrive(MetadataReader& r, const json& root, ImageDrive& drive) {
  if (!root.is_object()) return r.FailWhole("the metadata must be a JSON object");
  if (!r.OnlyKnownKeys(root, "",
                       {"vendor", "product", "revision", "serial", "bus_type", "sector_size",
                        "max_transfer", "removable", "slave", "identify", "smart", "thresholds",
                        "nvme_identify_controller", "nvme_identify_namespace", "nvme_smart_log",
                        "fail",
                        "write_errors", "lost_writes", "unplug_at", "mounts", "accessible_sectors",
                        "sanitize_seconds", "nvme_namespaces"})) {
    return false;
  }
  const auto has = [&root](const char* key) { return root.contains(key); };
  if (has("vendor") && !r.DescriptorString(root["vendor"], "vendor", drive.vendor)) return false;
  if (has("product") && !r.DescriptorString(root["product"], "product", drive.product)) {
    return false;
  }
  if (has("revision") && !r.DescriptorString(root["revision"], "revision", drive.revision)) {
    return false;
  }
  if (has("serial") && !r.DescriptorString(root["serial"], "serial", drive.serial)) return false;
  if (has("bus_type") && !r.Integer(root["bus_type"], "bus_type", drive.busType)) return false;
  if (has("sector_size") && !r.Integer(root["sector_size"], "sector_size", drive.sectorSize)) {
    return false;
  }
  if (has("max_transfer") && !r.Integer(root["max_transfer"], "max_transfer", drive.maxTransfer)) {
    return false;
  }
  if (has("removable") && !r.Bool(root["removable"], "removable", drive.removable)) return false;
  if (has("slave") && !r.Bool(root["slave"], "slave", drive.slave)) return false;
  if (has("identify") && !r.SectorFile(root["identify"], "identify", drive.identify)) {
    return false;
  }
  if (has("smart") && !r.SectorFile(root["smart"], "smart", drive.smart)) return false;
  if (has("thresholds") && !r.SectorFile(root["thresholds"], "thresholds", drive.thresholds)) {
    return false;
  }
  for (const auto& [key, page] : {std::pair{"nvme_identify_controller", &drive.nvmeController},
                                  std::pair{"nvme_identify_namespace", &drive.nvmeNamespace}}) {
    if (has(key) && !r.DataFile(root[key], key, *page, "an NVMe identify file")) return false;
  }
  if (has("nvme_smart_log") &&
      !r.DataFile(root["nvme_smart_log"], "nvme_smart_log", drive.nvmeHealth, "an NVMe log file")) {
    return false;
  }
  if (has("fail") && !ReadFaults(r, root["fail"], drive.fail)) return false;
  if (has("write_errors") && !ReadWriteErrors(r, root["write_errors"], drive.writeErrors)) {
    return false;
  }
  if (has("lost_writes") && !ReadLostWrites(r, root["lost_writes"], drive.lostWrites)) {
    return false;
  }
  if (has("unplug_at")) {
    int64_t at = 0;
    if (!r.Integer(root["unplug_at"], "unplug_at", at)) return false;
    if (at < 0) return r.Fail("unplug_at", "an offset cannot be negative");
    drive.unplugAt = at;
  }
  if (has("mounts") && !ReadMounts(r, root["mounts"], drive.mounts)) return false;
  if (has("accessible_sectors")) {
    int64_t sectors = 0;
    if (!r.Integer(root["accessible_sectors"], "accessible_sectors", sectors)) return false;
    if (sectors <= 0) return r.Fail("accessible_sectors", "a disk shows at least one sector");
    drive.accessibleSectors = sectors;
  }
  if (has("sanitize_seconds")) {
    const json& seconds = root["sanitize_seconds"];
    // A day is far more than any test waits and keeps the sum with a clock reading exact.
    if (!seconds.is_number() || seconds.get<double>() < 0 || seconds.get<double>() > 86400) {
      return r.Fail("sanitize_seconds",
                    "expected a number of seconds from 0 to 86400, found " + r.Found(seconds));
    }
    drive.sanitizeSeconds = seconds.get<double>();
  }
  if (has("nvme_namespaces")) {
    if (!r.Integer(root["nvme_namespaces"], "nvme_namespaces", drive.nvmeNamespaces)) return false;
    // An Identify list holds 1,024 namespace IDs.
    if (drive.nvmeNamespaces < 1 || drive.nvmeNamespaces > 1024) {
      return r.Fail("nvme_namespaces", "expected a whole number from 1 to 1024, found " +
                                           std::to_string(drive.nvmeNamespaces));
    }
  }
  return true;
}

// The image must hold the sectors the drive shows.
bool CheckImageSize(MetadataReader& r, const std::string& imagePath, const ImageDrive& drive) {
  if (!drive.accessibleSectors || drive.sectorSize == 0) return true;
  std::error_code ec;
  const auto bytes = fs::file_size(imagePath, ec);
  if (ec) return true;  // the image itself is checked where it is opened
  const int64_t sectors = static_cast<int64_t>(bytes / drive.sectorSize);
  if (*drive.accessibleSectors > sectors) {
    return r.Fail("accessible_sectors",
                  std::to_string(*drive.accessibleSectors) + " sectors, but " + imagePath +
                      " holds only " + std::to_string(sectors) + " of " +
                      std::to_string(drive.sectorSize) + " bytes");
  }
  return true;
}

bool IsImageName(const std::string& name) {
  constexpr std::string_view suffix = ".img";
  return name.size() > suffix.size() && name.ends_with(suffix);
}

}  // namespace

std::optional<ImageDrive> ParseImageDrive(const std::string& imagePath, const std::string& jsonPath,
                                          const std::string& text, std::string* error) {
  MetadataReader reader(jsonPath, error);
  if (text.size() > kMetadataLimit) {
    reader.FailWhole("more than " + std::to_string(kMetadataLimit) + " bytes of metadata");
    return std::nullopt;
  }
  try {
    // Containers nested deeper than any metadata needs are dropped while parsing and the
    // whole file refused, so that no depth of nesting can exhaust the stack.
    bool tooDeep = false;
    const json::parser_callback_t limitDepth = [&tooDeep](int depth, json::parse_event_t event,
                                                          json&) {
      const bool opens = event == json::parse_event_t::object_start ||
                         event == json::parse_event_t::array_start;
      if (opens && depth >= kNestingLimit) tooDeep = true;
      return !tooDeep;
    };
    json root;
    try {
      root = json::parse(text, limitDepth);
    } catch (const json::parse_error& e) {
      reader.FailWhole(std::string("not valid JSON: ") + e.what());
      return std::nullopt;
    }
    if (tooDeep) {
      reader.FailWhole("nested deeper than " + std::to_string(kNestingLimit) + " levels");
      return std::nullopt;
    }
    ImageDrive drive;
    drive.path = imagePath;
    if (!ReadDrive(reader, root, drive) || !CheckImageSize(reader, imagePath, drive)) {
      return std::nullopt;
    }
    return drive;
  } catch (const std::exception& e) {
    // Whatever else goes wrong with one drive's metadata leaves that drive out, not the scan.
    reader.FailWhole(std::string("cannot be read: ") + e.what());
    return std::nullopt;
  }
}

std::string DriveStatePath(const std::string& imagePath) {
  constexpr std::string_view suffix = ".img";
  const std::string stem =
      imagePath.ends_with(suffix) ? imagePath.substr(0, imagePath.size() - suffix.size()) : imagePath;
  return stem + ".state";
}

std::vector<ImageDrive> ScanImageFolder(const std::string& folder,
                                        std::vector<std::string>& errors) {
  std::vector<std::string> names;
  std::vector<std::string> links;
  std::error_code ec;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    std::error_code typeError;
    if (!IsImageName(name)) continue;
    // An image that is a link would make a disk of whatever it leads to, a real disk included.
    if (it->is_symlink(typeError)) {
      links.push_back(it->path().string() + ": it is a symbolic link, which is not followed; a "
                      "simulated disk must be a file of the folder itself");
    } else if (it->is_regular_file(typeError)) {
      names.push_back(name);
    }
  }
  if (ec) {
    errors.push_back(TerminalSafe(folder + ": cannot read the folder: " + ec.message()));
    return {};
  }
  std::sort(names.begin(), names.end());
  std::sort(links.begin(), links.end());
  for (const std::string& line : links) errors.push_back(TerminalSafe(line));

  std::vector<ImageDrive> drives;
  std::map<std::string, std::string> mountOwners;
  for (const std::string& name : names) {
    const std::string imagePath = (fs::path(folder) / name).string();
    const std::string jsonPath =
        (fs::path(folder) / (name.substr(0, name.size() - 4) + ".json")).string();
    std::optional<ImageDrive> drive;
    std::string error;
    std::error_code statusError;
    if (!fs::exists(fs::symlink_status(jsonPath, statusError))) {
      drive = ImageDrive{};
      drive->path = imagePath;
    } else if (const SmallFileRead read = ReadBoundedFile(jsonPath, kMetadataLimit, false);
               !read.ok) {
      error = jsonPath + ": cannot read the file: " + read.problem;
    } else {
      drive = ParseImageDrive(imagePath, jsonPath, read.content, &error);
    }
    if (drive) {
      // A mount point names one volume: a second drive claiming it would make it ambiguous.
      for (size_t i = 0; i < drive->mounts.size() && error.empty(); ++i) {
        const auto owner = mountOwners.find(drive->mounts[i].mountPoint);
        if (owner != mountOwners.end()) {
          error = jsonPath + ": key \"mounts[" + std::to_string(i) +
                  "].mount_point\": already a mount point of " + owner->second;
        }
      }
    }
    if (!error.empty()) {
      // File names and the values quoted come from whoever made the disk set.
      errors.push_back(TerminalSafe(error));
      continue;
    }
    for (const ImageMount& mount : drive->mounts) mountOwners.emplace(mount.mountPoint, name);
    drives.push_back(std::move(*drive));
  }
  return drives;
}

}  // namespace fw::image
