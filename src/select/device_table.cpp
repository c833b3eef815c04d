#include "select/device_table.hpp"

#include <stdexcept>
#include <string>

namespace fw {

TDeviceTableRows DeviceTable;
int64_t DeviceCount = 0;
int64_t ChosenIndex = -1;

namespace {
size_t RowPosition(int64_t row) {
  if (row < 1 || row > kDeviceTableRows) {
    throw std::out_of_range("device table row " + std::to_string(row) + " is outside 1..16");
  }
  return static_cast<size_t>(row - 1);
}
}  // namespace

TDeviceTable& TDeviceTableRows::operator[](int64_t row) { return m_rows[RowPosition(row)]; }
const TDeviceTable& TDeviceTableRows::operator[](int64_t row) const {
  return m_rows[RowPosition(row)];
}
void TDeviceTableRows::Clear() { m_rows.fill(TDeviceTable{}); }

}  // namespace fw
