#include "device/linux/transport_type.hpp"

#include "device/win_layouts.hpp"

namespace fw::linuxio {
namespace {

bool StartsWith(const std::string& text, const char* prefix) {
  return text.rfind(prefix, 0) == 0;
}

}  // namespace

std::string DeriveTransport(const TransportFacts& f) {
  if (f.isScsi) {
    if (f.spiHost) return "spi";
    if (f.fcHost) return f.fcSymbolicName.find(" over ") != std::string::npos ? "fcoe" : "fc";
    if (f.sasHost || f.sasDevice) return "sas";
    if (f.ieee1394Id) return "sbp";
    if (f.iscsiHost) return "iscsi";
    if (f.devicePath.find("usb") != std::string::npos) return "usb";
    if (StartsWith(f.procName, "ahci") || StartsWith(f.procName, "sata")) return "sata";
    if (f.procName.find("ata") != std::string::npos) return "ata";
    return "";
  }
  if (StartsWith(f.diskName, "nvme")) return "nvme";
  if (StartsWith(f.diskName, "vd")) return "virtio";
  if (StartsWith(f.diskName, "mmcblk")) return "mmc";
  return "";
}

uint8_t BusTypeFor(const std::string& transport, const std::string& diskName) {
  struct Entry {
    const char* transport;
    uint8_t bus;
  };
  static constexpr Entry kTable[] = {
      {"sata", win::BusTypeSata}, {"ata", win::BusTypeAta},     {"usb", win::BusTypeUsb},
      {"spi", win::BusTypeScsi},  {"sas", win::BusTypeSas},     {"iscsi", win::BusTypeiScsi},
      {"fc", win::BusTypeFibre},  {"fcoe", win::BusTypeFibre},  {"sbp", win::BusType1394},
      {"mmc", win::BusTypeMmc},   {"nvme", win::BusTypeNvme},   {"virtio", win::BusTypeVirtual},
  };
  for (const Entry& e : kTable) {
    if (transport == e.transport) return e.bus;
  }
  if (transport.empty()) {
    if (StartsWith(diskName, "loop")) return win::BusTypeFileBackedVirtual;
    if (StartsWith(diskName, "md")) return win::BusTypeRAID;
  }
  return win::BusTypeUnknown;
}

}  // namespace fw::linuxio
