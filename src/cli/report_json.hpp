#pragma once
// `details --json` and `smart --json`: the facts the two reports decode, for scripts (the
// schemas are in ferrowipe-cli(1)).
#include <string>

#include "report/device_details.hpp"
#include "report/smart_report.hpp"
#include "select/device_table.hpp"

namespace fw::cli {

std::string DetailsJson(const TDeviceTable& row, const DetailsReading& reading);
std::string SmartJson(const TDeviceTable& row, const SmartReading& reading);

}  // namespace fw::cli
