#pragma once
// The six cells of a drive in the selection list (bus, model, firmware, serial, sectors,
// capacity), shared by the selection window and `ferrowipe-cli list`.
#include <array>
#include <string>

#include "core/device_types.hpp"

namespace fw {

using DriveListRow = std::array<std::string, 6>;

// Model trimmed; firmware and serial exactly as stored; sectors in plain decimal.
DriveListRow DriveListCells(const TDeviceTable& row);

}  // namespace fw
