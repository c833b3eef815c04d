#pragma once
// The facts that tell a disk from its neighbours, one per line: path, by-id names, model,
// serial, size, what is on it and what is mounted. The window's question dialog and row
// tooltips show them in Traditional Chinese, the CLI's confirmation in English.
#include <string>
#include <string_view>
#include <vector>

#include "core/device_types.hpp"
#include "device/disk_contents.hpp"

namespace fw {

struct DiskSummaryLabels {
  std::string_view path, byId, model, serial, size, bytes, contents, partitionTable, fileSystem,
      nothingFound, partition, mountedOn, mounted, nothingMounted, carriesSystem;
};

extern const DiskSummaryLabels kDiskSummaryEnglish;
extern const DiskSummaryLabels kDiskSummaryChinese;

std::vector<std::string> DiskSummaryLines(const TDeviceTable& row, const DiskContents& contents,
                                          const DiskSummaryLabels& labels);

// The same lines joined by line breaks, for a tooltip or a message box's detailed text.
std::string DiskSummaryText(const TDeviceTable& row, const DiskContents& contents,
                            const DiskSummaryLabels& labels);

}  // namespace fw
