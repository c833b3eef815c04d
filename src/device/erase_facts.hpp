#pragma once
// What one disk offers for its own erase and what it hides, read from the drive with read-only
// commands only: IDENTIFY DEVICE or Identify Controller, the active namespace list, the
// sanitize status, the native max address and the overlay's identify data. Nothing here changes
// a drive, so it may run on any disk the lists show.
#include "core/device_types.hpp"
#include "device/device_io.hpp"
#include "device/erase_capabilities.hpp"

namespace fw {

DriveEraseFacts ReadDriveEraseFacts(DeviceIo& io, Handle handle, const TIdentifyDeviceData& device);

// The same for an ATA disk whose IDENTIFY sector the caller has already read.
DriveEraseFacts ReadAtaEraseFacts(DeviceIo& io, Handle handle, const TIdentifyDeviceData& device,
                                  const IdentifySector& identify);
// The same for an NVMe disk whose Identify Controller page the caller has already read.
DriveEraseFacts ReadNvmeEraseFacts(DeviceIo& io, Handle handle,
                                   const nvme::IdentifyPage& controller);

}  // namespace fw
