#include "device/linux/transport_type.hpp"

#include "device/win_layouts.hpp"

namespace fw::linuxio {

std::string DeriveTransport(const TransportFacts& f) {
  if (f.isScsi) {
    if (f.spiHost) return "spi";
    if (f.fcHost) return f.fcSymbolicName.find(" over ") != std::string::npos ? "fcoe" : "fc";
    if (f.sasHost || f.sasDevice) return "sas";
    if (f.ieee1394Id) return "sbp";
    if (f.iscsiHost) return "iscsi";
    if (f.devicePath.find("usb") != std::string::npos) return "usb";
    if (f.procName.starts_with("ahci") || f.procName.starts_with("sata")) return "sata";
    if (f.procName.find("ata") != std::string::npos) return "ata";
    return "";
  }
  if (f.diskName.starts_with("nvme")) return "nvme";
  if (f.diskName.starts_with("vd")) return "virtio";
  if (f.diskName.starts_with("mmcblk")) return "mmc";
  return "";
}

uint8_t BusTypeFor(const std::string& transport, const std::string& diskName,
                   const std::string& udevBus) {
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
    if (udevBus == "scsi") return win::BusTypeScsi;
    if (udevBus == "ata") return win::BusTypeAta;
    if (udevBus == "usb") return win::BusTypeUsb;
    if (diskName.starts_with("loop")) return win::BusTypeFileBackedVirtual;
    if (diskName.starts_with("md")) return win::BusTypeRAID;
  }
  return win::BusTypeUnknown;
}

}  // namespace fw::linuxio
