#include "report/nvme_details.hpp"

#include <array>
#include <cstdio>
#include <string_view>

#include "device/erase_facts.hpp"
#include "device/nvme_protocol.hpp"
#include "report/erase_details.hpp"
#include "report/report_header.hpp"
#include "report/text_format.hpp"

namespace fw {

namespace {

constexpr std::string_view kNvme = "NVMe:";
constexpr std::string_view kVendor = "PCI 廠商 ID:      ";
constexpr std::string_view kVersion = "NVMe 版本:      ";
constexpr std::string_view kNamespaceSize = "命名空間大小:      ";
constexpr std::string_view kSectors = " 個磁區 (";
constexpr std::string_view kBytesClose = " bytes)";
constexpr std::string_view kFormatInUse = "使用中的 LBA 格式:      ";
constexpr std::string_view kFormats = "支援的 LBA 格式:";
constexpr std::string_view kFormatEntry = "    LBA 格式 ";
constexpr std::string_view kInUseMark = " (使用中)";
constexpr std::string_view kDataSize = "資料 ";
constexpr std::string_view kMetadataSize = " bytes, 中繼資料 ";
constexpr std::string_view kBytes = " bytes";
constexpr std::string_view kNamespaceUnavailable = "命名空間的詳細資料不可用。";
constexpr std::string_view kTotalCapacity = "控制器總容量:      ";
constexpr std::string_view kNotReported = "未回報";

constexpr std::string_view kFeatures = "功能:      ";
constexpr std::string_view kSupported = "支援 ";
constexpr std::string_view kNotSupported = "不支援 ";
constexpr std::string_view kVolatileWriteCache = "揮發性寫入快取";
constexpr std::string_view kFormatNvm = "Format NVM";
constexpr std::string_view kCryptographicErase = "加密抹除";
constexpr std::string_view kSanitizeCrypto = "Sanitize 加密抹除";
constexpr std::string_view kSanitizeBlock = "Sanitize 區塊抹除";
constexpr std::string_view kSanitizeOverwrite = "Sanitize 覆寫";
constexpr std::string_view kWriteZeroes = "Write Zeroes";

constexpr std::string_view kTemperatures = "溫度:      ";
constexpr std::string_view kWarningThreshold = "警告溫度臨界值:      ";
constexpr std::string_view kCriticalThreshold = "嚴重溫度臨界值:      ";
constexpr std::string_view kDegrees = " °C";
constexpr std::string_view kNamespaceCount = "命名空間數目:      ";

std::string FormatText(const NvmeLbaFormat& format) {
  return Join(kDataSize, std::to_string(format.dataBytes)) + std::string(kMetadataSize) +
         std::to_string(format.metadataBytes) + std::string(kBytes);
}

// major.minor, and .tertiary when there is one (as nvme-cli and smartctl show it).
std::string VersionText(uint32_t version) {
  if (version == 0) return std::string(kNotReported);
  std::string text = std::to_string(version >> 16) + "." + std::to_string((version >> 8) & 0xFF);
  // Appended piece by piece: GCC 12 at -O3 misreads "." + string as an overlapping copy.
  if ((version & 0xFF) != 0) text.append(".").append(std::to_string(version & 0xFF));
  return text;
}

// A threshold of 0 Kelvin is a field the controller leaves unreported.
std::string ThresholdText(uint16_t kelvin) {
  if (kelvin == 0) return std::string(kNotReported);
  return std::to_string(KelvinToCelsius(kelvin)) + std::string(kDegrees);
}

void AddNamespaceLines(const NvmeNamespaceFacts& space, std::vector<std::string>& lines) {
  const NvmeLbaFormat* inUse = space.InUse();
  std::string size = Join(kNamespaceSize, GroupThousandsWide(space.sectors)) + std::string(kSectors);
  size += inUse != nullptr
              ? GroupThousandsWide(static_cast<UInt128>(space.sectors) * inUse->dataBytes)
              : std::string(kNotReported);
  size += kBytesClose;
  lines.push_back(size);
  lines.push_back(Join(kFormatInUse, inUse != nullptr ? FormatText(*inUse)
                                                      : std::string(kNotReported)));
  lines.emplace_back(kFormats);
  for (const NvmeLbaFormat& format : space.formats) {
    std::string line = Join(kFormatEntry, std::to_string(format.index)) + ": " + FormatText(format);
    if (&format == inUse) line += kInUseMark;
    lines.push_back(line);
  }
}

}  // namespace

std::optional<NvmeDetails> ReadNvmeDetails(DeviceIo& io, Handle handle) {
  nvme::IdentifyPage page{};
  if (!NvmeIdentifyController(io, handle, page)) return std::nullopt;
  NvmeDetails details;
  details.controller = DecodeNvmeIdentifyController(page);
  details.erase = ReadNvmeEraseFacts(io, handle, page);
  if (NvmeIdentifyNamespace(io, handle, page)) details.space = DecodeNvmeIdentifyNamespace(page);
  return details;
}

std::vector<std::string> NvmeDetailsLines(const NvmeDetails& details) {
  const NvmeControllerFacts& c = details.controller;
  std::vector<std::string> lines;
  const auto add = [&lines](std::string_view line) { lines.emplace_back(line); };
  const auto feature = [&lines](bool supported, std::string_view name) {
    lines.push_back(Join(supported ? kSupported : kNotSupported, name));
  };

  add(kReportSeparator);
  add(kNvme);
  std::array<char, 8> vendor{};
  std::snprintf(vendor.data(), vendor.size(), "0x%04X", static_cast<unsigned>(c.pciVendorId));
  add(Join(kVendor, vendor.data()));
  add(Join(kVersion, VersionText(c.version)));
  if (details.space) {
    AddNamespaceLines(*details.space, lines);
  } else {
    add(kNamespaceUnavailable);
  }
  add(Join(kTotalCapacity, c.totalCapacity == 0
                               ? std::string(kNotReported)
                               : GroupThousandsWide(c.totalCapacity) + std::string(kBytes)));
  add(kReportSeparator);

  add(kFeatures);
  feature(c.volatileWriteCache, kVolatileWriteCache);
  feature(c.formatNvm, kFormatNvm);
  feature(c.cryptographicErase, kCryptographicErase);
  feature(c.sanitizeCrypto, kSanitizeCrypto);
  feature(c.sanitizeBlock, kSanitizeBlock);
  feature(c.sanitizeOverwrite, kSanitizeOverwrite);
  feature(c.writeZeroes, kWriteZeroes);
  add(kReportSeparator);

  add(kTemperatures);
  add(Join(kWarningThreshold, ThresholdText(c.warningTemperatureKelvin)));
  add(Join(kCriticalThreshold, ThresholdText(c.criticalTemperatureKelvin)));
  add(kReportSeparator);
  add(Join(kNamespaceCount, std::to_string(c.namespaceCount)));
  if (details.erase) {
    for (std::string& line : EraseDetailsLines(*details.erase)) lines.push_back(std::move(line));
  }
  return lines;
}

}  // namespace fw
