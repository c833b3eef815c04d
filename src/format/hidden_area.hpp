#pragma once
// The sectors an ATA disk hides from the system (a Host Protected Area, an Accessible Max
// Address below the native size, a Device Configuration Overlay): said before a zero-fill that
// would not reach them, and opened for the run when asked. A DCO is only ever reported.
#include <cstdint>
#include <optional>

#include "device/device_io.hpp"
#include "device/erase_capabilities.hpp"
#include "format/format_session.hpp"

namespace fw {

// The warning lines of a full zero-fill of a disk with hidden sectors (or a DCO); nothing
// for a disk that hides none.
void LogHiddenArea(const FormatSession& session, const HiddenArea& hidden);

// Sets the disk's max address to its native size (SET ACCESSIBLE MAX ADDRESS EXT where the
// drive has the Accessible Max Address feature, otherwise READ NATIVE MAX ADDRESS EXT and a
// volatile SET MAX ADDRESS EXT) and has the system read its size again. The disk's size in
// bytes as the system now sees it once that is the native size; nothing (with the reason
// logged) when the drive refused or the system still sees the old size.
std::optional<int64_t> OpenHiddenArea(DeviceIo& io, Handle handle, const FormatSession& session,
                                      const AtaEraseFeatures& ata, const HiddenArea& hidden,
                                      int64_t sectorSize);

}  // namespace fw
