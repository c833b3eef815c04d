#include "device/linux/block_devices.hpp"

#include <fcntl.h>
#include <linux/loop.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <sstream>

#include "device/linux/transport_type.hpp"
#include "device/linux/udev_database.hpp"

namespace fw::linuxio {
namespace {

std::string DirName(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos || slash == 0 ? std::string("/") : path.substr(0, slash);
}

// H:C:T:L, the name of a SCSI device.
struct Hctl {
  uint32_t host = 0, channel = 0, target = 0, lun = 0;
};

std::optional<Hctl> ParseHctl(const std::string& text) {
  Hctl h;
  uint32_t* parts[] = {&h.host, &h.channel, &h.target, &h.lun};
  const char* at = text.data();
  const char* end = text.data() + text.size();
  for (int i = 0; i < 4; ++i) {
    auto [ptr, ec] = std::from_chars(at, end, *parts[i]);
    if (ec != std::errc() || ptr == at) return std::nullopt;
    at = ptr;
    if (i < 3) {
      if (at == end || *at != ':') return std::nullopt;
      ++at;
    }
  }
  if (at != end) return std::nullopt;
  return h;
}

// The N of a path component "ataN" (libata's port), if any.
std::optional<uint32_t> AtaPort(const std::string& path) {
  size_t at = 0;
  while ((at = path.find("/ata", at)) != std::string::npos) {
    const size_t digits = at + 4;
    size_t end = digits;
    while (end < path.size() && std::isdigit(static_cast<unsigned char>(path[end]))) ++end;
    if (end > digits && (end == path.size() || path[end] == '/')) {
      uint32_t port = 0;
      std::from_chars(path.data() + digits, path.data() + end, port);
      return port;
    }
    at = digits;
  }
  return std::nullopt;
}

std::string ReadTrimmed(const SysTree& sys, const std::string& path) {
  std::optional<std::string> text = sys.Read(path);
  return text ? TrimBlanks(text->substr(0, text->find('\n'))) : std::string();
}

std::string FirstUdev(const std::map<std::string, std::string>& udev,
                      std::initializer_list<const char*> keys) {
  for (const char* key : keys) {
    auto it = udev.find(key);
    if (it != udev.end()) {
      std::string value = TrimBlanks(DecodeUdevString(it->second));
      if (!value.empty()) return value;
    }
  }
  return {};
}

Devno DevnoOf(uint64_t dev) { return Devno{major(dev), minor(dev)}; }

// The line of a fixture's /identities for `path`: the fields after the path, which may itself
// hold blanks.
std::optional<FileId> FixtureIdentity(const SysTree& sys, const std::string& path) {
  const std::optional<std::string> table = sys.Read("/identities");
  if (!table) return std::nullopt;
  std::istringstream lines(*table);
  std::string line;
  while (std::getline(lines, line)) {
    std::vector<std::string> fields;
    std::istringstream words(line);
    for (std::string word; words >> word;) fields.push_back(word);
    const bool block = fields.size() >= 5 && fields[fields.size() - 2] == "b";
    const size_t numbers = block ? 4 : 2;
    if (fields.size() < numbers + 1) continue;
    std::string named = fields[0];
    for (size_t i = 1; i + numbers < fields.size(); ++i) named += " " + fields[i];
    if (named != path) continue;
    const std::string& inode = fields[fields.size() - numbers + 1];
    FileId id;
    const std::optional<Devno> dev = ParseDevno(fields[fields.size() - numbers]);
    const auto [end, error] = std::from_chars(inode.data(), inode.data() + inode.size(), id.ino);
    if (!dev || error != std::errc() || end != inode.data() + inode.size()) return std::nullopt;
    id.dev = *dev;
    if (block) {
      id.block = ParseDevno(fields.back());
      if (!id.block) return std::nullopt;
    }
    return id;
  }
  return std::nullopt;
}

}  // namespace

std::optional<FileId> IdentifyPath(const SysTree& sys, const std::string& path) {
  if (!sys.Root().empty()) return FixtureIdentity(sys, path);
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return std::nullopt;
  FileId id{DevnoOf(st.st_dev), st.st_ino, std::nullopt};
  if (S_ISBLK(st.st_mode)) id.block = DevnoOf(st.st_rdev);
  return id;
}

std::optional<FileId> LoopBacking(const SysTree& sys, const std::string& loopName) {
  if (!loopName.starts_with("loop") || loopName.find('/') != std::string::npos) return std::nullopt;
  if (sys.Root().empty()) {
    // A read-only open of the whole device: no claim, and no change event when it closes.
    const int fd = ::open(("/dev/" + loopName).c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd >= 0) {
      loop_info64 info{};
      const int result = ::ioctl(fd, LOOP_GET_STATUS64, &info);
      const int error = errno;
      ::close(fd);
      if (result == 0) {
        // A loop device can only stand on a regular file or a block device; only the latter
        // has a device number of its own.
        FileId id{DevnoOf(info.lo_device), info.lo_inode, std::nullopt};
        if (info.lo_rdevice != 0) id.block = DevnoOf(info.lo_rdevice);
        return id;
      }
      if (error == ENXIO) return std::nullopt;  // nothing bound to it
    }
  }
  const std::optional<std::string> backing =
      sys.ReadLine("/sys/block/" + loopName + "/loop/backing_file");
  if (!backing || backing->empty()) return std::nullopt;
  return IdentifyPath(sys, *backing);
}

std::string BaseName(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool NaturalLess(const std::string& a, const std::string& b) {
  size_t i = 0, j = 0;
  auto digit = [](char ch) { return std::isdigit(static_cast<unsigned char>(ch)) != 0; };
  while (i < a.size() && j < b.size()) {
    if (digit(a[i]) && digit(b[j])) {
      size_t ie = i, je = j;
      while (ie < a.size() && digit(a[ie])) ++ie;
      while (je < b.size() && digit(b[je])) ++je;
      // Compare the numbers by value: strip leading zeros, then length, then digits.
      size_t is = i, js = j;
      while (is + 1 < ie && a[is] == '0') ++is;
      while (js + 1 < je && b[js] == '0') ++js;
      if (ie - is != je - js) return ie - is < je - js;
      const int cmp = a.compare(is, ie - is, b, js, je - js);
      if (cmp != 0) return cmp < 0;
      i = ie;
      j = je;
    } else {
      if (a[i] != b[j]) return a[i] < b[j];
      ++i;
      ++j;
    }
  }
  if ((a.size() - i) != (b.size() - j)) return a.size() - i < b.size() - j;
  return a < b;
}

std::optional<Devno> ParseDevno(const std::string& text) {
  const size_t colon = text.find(':');
  if (colon == std::string::npos) return std::nullopt;
  Devno d;
  auto a = std::from_chars(text.data(), text.data() + colon, d.major);
  auto b = std::from_chars(text.data() + colon + 1, text.data() + text.size(), d.minor);
  if (a.ec != std::errc() || a.ptr != text.data() + colon || b.ec != std::errc() ||
      b.ptr != text.data() + text.size()) {
    return std::nullopt;
  }
  return d;
}

int DiskKindRank(const std::string& name) {
  if (name.starts_with("md")) return 1;
  if (name.starts_with("loop") || name.starts_with("nbd")) return 2;
  return 0;
}

std::vector<std::string> ListWholeDisks(const SysTree& sys) {
  std::vector<std::string> disks;
  for (const std::string& name : sys.List("/sys/block")) {
    const std::string dir = "/sys/block/" + name;
    if (name.starts_with("ram") || name.starts_with("zram") || name.starts_with("sr") ||
        name.starts_with("fd") || name.starts_with("dm-")) {
      continue;
    }
    if (name.starts_with("loop")) {
      if (!sys.Exists(dir + "/loop/backing_file")) continue;
      // A read-only loop device (every snap is one) cannot be erased.
      if (sys.ReadNumber(dir + "/ro") == 1) continue;
    }
    // An nbd device has a server process only while it is connected.
    if (name.starts_with("nbd") && !sys.Exists(dir + "/pid")) continue;
    if (sys.ReadNumber(dir + "/device/type") == 5) continue;
    if (sys.ReadNumber(dir + "/hidden") == 1) continue;
    if (sys.Exists(dir + "/partition")) continue;
    disks.push_back(name);
  }
  std::sort(disks.begin(), disks.end(), [](const std::string& a, const std::string& b) {
    const int rankA = DiskKindRank(a);
    const int rankB = DiskKindRank(b);
    return rankA != rankB ? rankA < rankB : NaturalLess(a, b);
  });
  return disks;
}

std::optional<BlockNode> NodeOfDevno(const SysTree& sys, Devno devno) {
  const std::optional<std::string> path = sys.Resolve(
      "/sys/dev/block/" + std::to_string(devno.major) + ":" + std::to_string(devno.minor));
  if (!path) return std::nullopt;
  BlockNode node;
  node.name = BaseName(*path);
  if (std::optional<long long> number = sys.ReadNumber(*path + "/partition")) {
    node.partition = static_cast<uint32_t>(*number);
    node.disk = BaseName(DirName(*path));
  } else {
    node.disk = node.name;
  }
  return node;
}

std::optional<Devno> DevnoOfName(const SysTree& sys, const std::string& name) {
  if (name.empty() || name.find('/') != std::string::npos) return std::nullopt;
  const std::optional<std::string> dev = sys.ReadLine("/sys/class/block/" + name + "/dev");
  return dev ? ParseDevno(*dev) : std::nullopt;
}

DiskFacts ReadDiskFacts(const SysTree& sys, const std::string& diskName) {
  const std::string dir = "/sys/block/" + diskName;
  DiskFacts f;
  f.name = diskName;
  if (std::optional<std::string> dev = sys.ReadLine(dir + "/dev")) {
    f.devno = ParseDevno(*dev).value_or(Devno{});
  }
  f.removable = sys.ReadNumber(dir + "/removable").value_or(0) != 0;
  f.maxTransferBytes =
      static_cast<uint64_t>(std::max(0LL, sys.ReadNumber(dir + "/queue/max_hw_sectors_kb").value_or(0))) *
      1024;
  f.maxSegments = static_cast<uint32_t>(sys.ReadNumber(dir + "/queue/max_segments").value_or(0));
  f.dmaAlignment = static_cast<uint32_t>(sys.ReadNumber(dir + "/queue/dma_alignment").value_or(0));

  TransportFacts t;
  t.diskName = diskName;
  const std::optional<std::string> devicePath = sys.Resolve(dir + "/device");
  const std::optional<Hctl> hctl = devicePath ? ParseHctl(BaseName(*devicePath)) : std::nullopt;
  if (hctl) {
    const std::string host = "host" + std::to_string(hctl->host);
    t.isScsi = true;
    t.devicePath = *devicePath;
    t.spiHost = sys.Exists("/sys/class/spi_host/" + host);
    t.fcHost = sys.Exists("/sys/class/fc_host/" + host);
    if (t.fcHost) t.fcSymbolicName = ReadTrimmed(sys, "/sys/class/fc_host/" + host + "/symbolic_name");
    t.sasHost = sys.Exists("/sys/class/sas_host/" + host);
    t.sasDevice = sys.Exists(dir + "/device/sas_device");
    t.ieee1394Id = sys.Exists(dir + "/device/ieee1394_id");
    t.iscsiHost = sys.Exists("/sys/class/iscsi_host/" + host);
    t.procName = ReadTrimmed(sys, "/sys/class/scsi_host/" + host + "/proc_name");
    // libata puts device 1 of a parallel channel at target 1 of channel 0, and names it devN.1.
    if (const std::optional<uint32_t> port = AtaPort(*devicePath)) {
      f.ataSlave = hctl->channel == 0 && hctl->target == 1 &&
                   sys.Exists("/sys/class/ata_device/dev" + std::to_string(*port) + ".1");
    }
  }
  // lsblk's order: the udev database first, then what sysfs holds.
  const std::map<std::string, std::string> udev = ReadUdevRecord(sys, f.devno).properties;
  f.transport = DeriveTransport(t);
  f.busType = BusTypeFor(f.transport, diskName, FirstUdev(udev, {"ID_BUS"}));

  // Only a SCSI device has a vendor text (INQUIRY); virtio's device/vendor is a PCI number.
  if (t.isScsi) f.strings.vendor = DescriptorVendor(ReadTrimmed(sys, dir + "/device/vendor"));
  f.strings.product = FirstUdev(udev, {"ID_MODEL_ENC"});
  if (f.strings.product.empty()) f.strings.product = ReadTrimmed(sys, dir + "/device/model");
  f.strings.revision = FirstUdev(udev, {"ID_REVISION"});
  if (f.strings.revision.empty()) f.strings.revision = ReadTrimmed(sys, dir + "/device/rev");
  if (f.strings.revision.empty()) {
    f.strings.revision = ReadTrimmed(sys, dir + "/device/firmware_rev");
  }
  // A SCSI disk names its own serial in VPD page 0x80, where udev may hold the bridge's or a
  // made-up one (UAS: the USB serial). libata's page repeats IDENTIFY's serial, which udev
  // has in full; a bulk-only USB disk is known by its USB serial, as Windows knows it.
  std::string vpdSerial;
  if (std::optional<std::string> page = sys.Read(dir + "/device/vpd_pg80")) {
    vpdSerial = SerialFromVpd80(*page).value_or("");
  }
  const bool libata = f.transport == "sata" || f.transport == "ata";
  if (t.isScsi && !libata && t.procName != "usb-storage") f.strings.serial = vpdSerial;
  if (f.strings.serial.empty()) {
    f.strings.serial =
        FirstUdev(udev, {"SCSI_IDENT_SERIAL", "ID_SCSI_SERIAL", "ID_SERIAL_SHORT", "ID_SERIAL"});
  }
  if (f.strings.serial.empty()) f.strings.serial = vpdSerial;
  if (f.strings.serial.empty()) f.strings.serial = ReadTrimmed(sys, dir + "/device/serial");
  if (f.strings.serial.empty()) f.strings.serial = ReadTrimmed(sys, dir + "/serial");
  return f;
}

}  // namespace fw::linuxio
