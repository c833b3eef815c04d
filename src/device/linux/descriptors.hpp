#pragma once
// The Windows replies the Linux backend builds from what it read (pure): device and adapter
// descriptors, geometry, the SMART version block, and the small decoders of sysfs and udev
// formats they need.
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "device/win_layouts.hpp"

namespace fw::linuxio {

// What the device descriptor says about a disk.
struct DeviceStrings {
  std::string vendor;
  std::string product;
  std::string revision;
  std::string serial;  // as the device reports it
};

// The vendor a SCSI disk's descriptor carries: "ATA" is what libata and every SAT layer put
// in INQUIRY for a disk that has no vendor field, and Windows reports no vendor for ATA disks,
// so that the model is the drive's own alone.
std::string DescriptorVendor(std::string_view inquiryVendor);

// The serial in ATA word order: padded with one blank to even length, then each byte pair
// swapped. Identification swaps the pairs back, so the serial it shows is the real one.
std::string AtaWordOrder(std::string_view serial);

// STORAGE_DEVICE_DESCRIPTOR with its strings, NUL-terminated, after the 40-byte header; an
// empty string has offset 0. Size is the total length.
std::vector<uint8_t> BuildDeviceDescriptor(const DeviceStrings& strings, bool removable,
                                           uint8_t busType);

win::STORAGE_ADAPTER_DESCRIPTOR BuildAdapterDescriptor(uint8_t busType, uint64_t maxTransferBytes,
                                                       uint32_t maxSegments,
                                                       uint32_t alignmentMask);

// Heads and sectors per track as the driver reports them (0 when it has no geometry: 255/63
// then); cylinders follow from the length.
win::DISK_GEOMETRY BuildGeometry(uint64_t lengthBytes, uint32_t bytesPerSector, uint32_t heads,
                                 uint32_t sectorsPerTrack, bool removable);

// The device map marks device 0 (master) or device 1 (slave) of the first channel.
win::GETVERSIONINPARAMS BuildSmartVersion(bool slave);

// The serial of a VPD page 0x80 (Unit Serial Number) as sysfs holds it, blanks trimmed.
std::optional<std::string> SerialFromVpd80(std::string_view page);

// The E:KEY=VALUE lines of a udev database file.
std::map<std::string, std::string> ParseUdevProperties(std::string_view text);

// udev's *_ENC values carry unsafe bytes as \xHH.
std::string DecodeUdevString(std::string_view encoded);

// Leading and trailing blanks and NULs removed, inner runs of blanks kept.
std::string TrimBlanks(std::string_view text);

}  // namespace fw::linuxio
