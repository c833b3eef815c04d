#pragma once
// The device table: the one program-wide list of the disks the program can work on, filled
// once by the scan and read-only afterwards. Rows are numbered 1 to 16 everywhere.
#include <array>
#include <cstdint>

#include "core/device_types.hpp"

namespace fw {

inline constexpr int64_t kDeviceTableRows = 16;
// The scan stops once this many drives are in the table, so row 16 is never filled.
inline constexpr int64_t kMaxDeviceCount = 15;

class TDeviceTableRows {
 public:
  // Rows 1..16; any other number is a programming error and throws std::out_of_range.
  TDeviceTable& operator[](int64_t row);
  const TDeviceTable& operator[](int64_t row) const;
  void Clear();

 private:
  std::array<TDeviceTable, kDeviceTableRows> m_rows{};
};

extern TDeviceTableRows DeviceTable;
extern int64_t DeviceCount;  // 0..15
extern int64_t ChosenIndex;  // -1 until the user chooses, then 1..DeviceCount

}  // namespace fw
