#pragma once
// The only place where numbers, capacities, device captions and bus names become text.
#include <cstdint>
#include <string>

#include "core/text.hpp"
#include "select/device_table.hpp"

namespace fw {

// Digit groups of three separated by ","; up to four digits stay ungrouped (1234).
std::string GroupThousands(int64_t value);

// Decimal units (bytes, KB, MB, GB), truncated to hundredths, trailing zero decimals dropped,
// with the user's decimal separator.
std::string CapacityToStr(int64_t bytes);

// The same texts for the 128-bit counts of NVMe data.
std::string GroupThousandsWide(UInt128 value);
std::string CapacityToStrWide(UInt128 bytes);

// LBA x SectorSize; a product beyond 64 bits (no real device has one) saturates.
int64_t CapacityBytes(const TIdentifyDeviceData& id);

// "[N]  MODEL    FW    [CAPACITY]    (LBA SECTORSIZE-byte sectors)" of row 1..16.
std::string DeviceCaption(const TDeviceTableRows& table, int64_t row);

// Short bus name of a STORAGE_BUS_TYPE value (201: the adapter query failed).
std::string BusTypeToStr(int64_t busType);

}  // namespace fw
