#pragma once
// Windows control codes, with their Windows values (winioctl.h, ntddscsi.h, ntdddisk.h).
#include <cstdint>

namespace fw::ioctl {

inline constexpr uint32_t IOCTL_DISK_GET_DRIVE_GEOMETRY = 0x00070000;
inline constexpr uint32_t IOCTL_DISK_GET_LENGTH_INFO = 0x0007405C;
inline constexpr uint32_t IOCTL_STORAGE_QUERY_PROPERTY = 0x002D1400;
inline constexpr uint32_t SMART_GET_VERSION = 0x00074080;
inline constexpr uint32_t IOCTL_SCSI_GET_INQUIRY_DATA = 0x0004100C;
inline constexpr uint32_t SMART_SEND_DRIVE_COMMAND = 0x0007C084;
inline constexpr uint32_t SMART_RCV_DRIVE_DATA = 0x0007C088;
inline constexpr uint32_t IOCTL_SCSI_MINIPORT = 0x0004D008;
inline constexpr uint32_t IOCTL_SCSI_MINIPORT_IDENTIFY = 0x001B0501;
inline constexpr uint32_t IOCTL_STORAGE_GET_DEVICE_NUMBER = 0x002D1080;
inline constexpr uint32_t FSCTL_LOCK_VOLUME = 0x00090018;
inline constexpr uint32_t FSCTL_DISMOUNT_VOLUME = 0x00090020;
inline constexpr uint32_t FSCTL_ALLOW_EXTENDED_DASD_IO = 0x00090083;
inline constexpr uint32_t IOCTL_DISK_UPDATE_PROPERTIES = 0x00070140;

}  // namespace fw::ioctl
