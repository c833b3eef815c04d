#pragma once
// The transport of a block device as lsblk derives its TRAN column, from facts read out of
// sysfs, and the Windows STORAGE_BUS_TYPE that stands for it (pure).
#include <cstdint>
#include <string>

namespace fw::linuxio {

struct TransportFacts {
  std::string diskName;        // nvme0n1, sda, vda, mmcblk0, loop0, md0
  bool isScsi = false;         // the disk's device is a SCSI device H:C:T:L
  bool spiHost = false;        // /sys/class/spi_host/hostH
  bool fcHost = false;         // /sys/class/fc_host/hostH
  std::string fcSymbolicName;  // its symbolic_name
  bool sasHost = false;        // /sys/class/sas_host/hostH
  bool sasDevice = false;      // the SCSI device's sas_device folder
  bool ieee1394Id = false;     // the SCSI device's ieee1394_id attribute
  bool iscsiHost = false;      // /sys/class/iscsi_host/hostH
  std::string devicePath;      // the SCSI device's sysfs path, links resolved
  std::string procName;        // /sys/class/scsi_host/hostH/proc_name
};

// "sata", "ata", "usb", "spi", "fc", "fcoe", "sas", "sbp", "iscsi", "nvme", "virtio", "mmc",
// or empty.
std::string DeriveTransport(const TransportFacts& facts);

// The bus type of the adapter descriptor: the transport's; for devices without one, the bus
// udev's ID_BUS names (virtio-scsi and other SCSI hosts that sysfs gives no transport name),
// else the kind that their name tells (loop, md).
uint8_t BusTypeFor(const std::string& transport, const std::string& diskName,
                   const std::string& udevBus = "");

}  // namespace fw::linuxio
