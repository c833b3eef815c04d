#include "select/drive_list.hpp"

#include "core/text.hpp"
#include "report/text_format.hpp"

namespace fw {

DriveListRow DriveListCells(const TDeviceTable& row) {
  const TIdentifyDeviceData& id = row.IdentifyData;
  return {BusTypeToStr(id.BusType),        Trim(id.Model), id.FW, id.SN, std::to_string(id.LBA),
          CapacityToStr(CapacityBytes(id))};
}

}  // namespace fw
