#pragma once
// The NVMe S.M.A.R.T. report: the SMART / Health Information log as a table, and a verdict.
#include <optional>
#include <string>
#include <vector>

#include "device/device_io.hpp"
#include "device/nvme_decoder.hpp"

namespace fw {

// The disk's health log; nullopt when it cannot be read.
std::optional<NvmeHealth> ReadNvmeHealth(DeviceIo& io, Handle handle);

// The lines after the report's header: column header, one row per value, the verdict last.
std::vector<std::string> NvmeHealthLines(const NvmeHealth& health);

}  // namespace fw
