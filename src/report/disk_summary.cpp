#include "report/disk_summary.hpp"

#include "core/text.hpp"
#include "report/text_format.hpp"

namespace fw {

const DiskSummaryLabels kDiskSummaryEnglish{
    "Path:      ", "By id:     ", "Model:     ", "Serial:    ", "Size:      ", " bytes",
    "Contents:  ", " partition table", " file system", "no partition table or file system found",
    "Partition ", "mounted on ", "Mounted:   ", "nothing",
    "This disk carries the running system."};

const DiskSummaryLabels kDiskSummaryChinese{
    "路徑: ", "識別名稱: ", "型號: ", "序號: ", "容量: ", " 位元組", "內容: ", " 分割表",
    " 檔案系統", "找不到分割表或檔案系統", "分割區 ", "掛載於 ", "已掛載: ", "無",
    "此磁碟載有正在執行的系統。"};

namespace {

std::string Join(const std::vector<std::string>& items) {
  std::string text;
  for (const std::string& item : items) text += (text.empty() ? "" : ", ") + item;
  return text;
}

// "ext4 file system "root"", or empty when nothing was found.
std::string FileSystemText(const std::string& type, const std::string& label,
                           const DiskSummaryLabels& labels) {
  if (type.empty()) return {};
  std::string text = type + std::string(labels.fileSystem);
  if (!label.empty()) text += " \"" + label + "\"";
  return text;
}

}  // namespace

std::vector<std::string> DiskSummaryLines(const TDeviceTable& row, const DiskContents& contents,
                                          const DiskSummaryLabels& labels) {
  const TIdentifyDeviceData& id = row.IdentifyData;
  const int64_t bytes = CapacityBytes(id);
  std::vector<std::string> lines;
  lines.push_back(std::string(labels.path) + row.DevicePath);
  for (const std::string& link : contents.byIdLinks) lines.push_back(std::string(labels.byId) + link);
  lines.push_back(std::string(labels.model) + Trim(id.Model));
  lines.push_back(std::string(labels.serial) + Trim(id.SN));
  lines.push_back(std::string(labels.size) + std::to_string(bytes) + std::string(labels.bytes) +
                  " (" + CapacityToStr(bytes) + ")");

  std::string what;
  if (!contents.partitionTable.empty()) {
    what = contents.partitionTable + std::string(labels.partitionTable);
  } else {
    what = FileSystemText(contents.fsType, contents.label, labels);
  }
  if (what.empty() && contents.partitions.empty()) what = labels.nothingFound;
  lines.push_back(std::string(labels.contents) + what);
  for (const PartitionContents& p : contents.partitions) {
    std::string line = "  " + std::string(labels.partition) + std::to_string(p.number);
    if (!p.path.empty()) line += " (" + p.path + ")";
    line += ":";
    const std::string fs = FileSystemText(p.fsType, p.label, labels);
    if (!fs.empty()) line += " " + fs + ",";
    if (p.bytes > 0) line += " " + std::to_string(p.bytes) + std::string(labels.bytes);
    if (!p.mountPoints.empty()) line += ", " + std::string(labels.mountedOn) + Join(p.mountPoints);
    lines.push_back(line);
  }

  const std::vector<std::string> mounted = contents.AllMountPoints();
  lines.push_back(std::string(labels.mounted) +
                  (mounted.empty() ? std::string(labels.nothingMounted) : Join(mounted)));
  if (contents.carriesSystem) lines.push_back(std::string(labels.carriesSystem));
  return lines;
}

std::string DiskSummaryText(const TDeviceTable& row, const DiskContents& contents,
                            const DiskSummaryLabels& labels) {
  std::string text;
  for (const std::string& line : DiskSummaryLines(row, contents, labels)) {
    text += (text.empty() ? "" : "\n") + line;
  }
  return text;
}

}  // namespace fw
