#include "report/nvme_health.hpp"

#include <array>
#include <cstdio>
#include <string_view>

#include "core/text.hpp"
#include "device/nvme_protocol.hpp"
#include "report/report_header.hpp"
#include "report/smart_health.hpp"
#include "report/text_format.hpp"

namespace fw {

namespace {

constexpr std::string_view kItem = "項目";
constexpr std::string_view kValue = "數值";
constexpr size_t kLabelColumns = 32;
constexpr size_t kHyphenCount = 60;

constexpr std::string_view kCriticalWarning = "重大警告";
constexpr std::string_view kTemperature = "複合溫度";
constexpr std::string_view kAvailableSpare = "可用備用空間";
constexpr std::string_view kSpareThreshold = "可用備用空間臨界值";
constexpr std::string_view kPercentageUsed = "已使用百分比";
constexpr std::string_view kDataUnitsRead = "讀取的資料單位";
constexpr std::string_view kDataUnitsWritten = "寫入的資料單位";
constexpr std::string_view kHostReads = "主機讀取命令";
constexpr std::string_view kHostWrites = "主機寫入命令";
constexpr std::string_view kBusyTime = "控制器忙碌時間";
constexpr std::string_view kPowerCycles = "電源循環次數";
constexpr std::string_view kPowerOnHours = "通電時數";
constexpr std::string_view kUnsafeShutdowns = "不安全關機次數";
constexpr std::string_view kMediaErrors = "媒體與資料完整性錯誤";
constexpr std::string_view kErrorLogEntries = "錯誤記錄項目數";
constexpr std::string_view kWarningTime = "警告溫度時間";
constexpr std::string_view kCriticalTime = "嚴重溫度時間";
constexpr std::string_view kSensor = "溫度感測器 ";

constexpr std::string_view kPercent = " %";
constexpr std::string_view kDegrees = " °C";
constexpr std::string_view kMinutes = " 分鐘";
constexpr std::string_view kHours = " 小時";
constexpr std::string_view kNotReported = "未回報";

constexpr std::string_view kVerdict = "整體健康狀態:      ";
constexpr std::string_view kHealthy = "良好";
constexpr std::string_view kWarning = "警告 - ";

// Critical warning bits 0 to 5 (NVMe Base 2.0, SMART / Health Information log byte 0).
constexpr std::array<std::string_view, 8> kWarningBits = {
    "可用備用空間低於臨界值",
    "溫度超出臨界值",
    "可靠性因媒體或內部錯誤而降低",
    "媒體已設為唯讀",
    "揮發性記憶體備份裝置故障",
    "持續性記憶體區域已設為唯讀",
    "保留位元 6",
    "保留位元 7",
};

std::string Row(std::string_view label, std::string_view value) {
  std::string row = "  ";
  row += label;
  for (size_t n = DisplayColumns(label); n < kLabelColumns; ++n) row += ' ';
  row += value;
  return row;
}

std::string Temperature(uint16_t kelvin) {
  if (kelvin == 0) return std::string(kNotReported);
  return std::to_string(KelvinToCelsius(kelvin)) + std::string(kDegrees);
}

// The count, and the bytes it stands for in capacity units (left out for a count whose bytes
// would not fit even 128 bits, which no disk reaches).
std::string DataUnits(UInt128 units) {
  UInt128 bytes = 0;
  if (__builtin_mul_overflow(units, static_cast<UInt128>(nvme::health::kDataUnitBytes), &bytes)) {
    return GroupThousandsWide(units);
  }
  return GroupThousandsWide(units) + " (" + CapacityToStrWide(bytes) + ")";
}

std::string WarningMeanings(uint8_t warning) {
  std::string text;
  for (unsigned bit = 0; bit < kWarningBits.size(); ++bit) {
    if (((warning >> bit) & 1u) == 0) continue;
    if (!text.empty()) text += "; ";
    text += kWarningBits[bit];
  }
  return text;
}

}  // namespace

std::optional<NvmeHealth> ReadNvmeHealth(DeviceIo& io, Handle handle) {
  nvme::HealthLog log{};
  if (!NvmeReadHealthLog(io, handle, log)) return std::nullopt;
  return DecodeNvmeHealthLog(log);
}

std::vector<std::string> NvmeHealthLines(const NvmeHealth& h) {
  std::vector<std::string> lines;
  lines.push_back(Row(kItem, kValue));
  lines.emplace_back(kHyphenCount, '-');

  std::array<char, 8> warning{};
  std::snprintf(warning.data(), warning.size(), "0x%02X", static_cast<unsigned>(h.criticalWarning));
  std::string warningText = warning.data();
  if (h.criticalWarning != 0) warningText += " (" + WarningMeanings(h.criticalWarning) + ")";
  lines.push_back(Row(kCriticalWarning, warningText));
  lines.push_back(Row(kTemperature, Temperature(h.temperatureKelvin)));
  lines.push_back(Row(kAvailableSpare, std::to_string(h.availableSpare) + std::string(kPercent)));
  lines.push_back(Row(kSpareThreshold, std::to_string(h.spareThreshold) + std::string(kPercent)));
  lines.push_back(Row(kPercentageUsed, std::to_string(h.percentageUsed) + std::string(kPercent)));
  lines.push_back(Row(kDataUnitsRead, DataUnits(h.dataUnitsRead)));
  lines.push_back(Row(kDataUnitsWritten, DataUnits(h.dataUnitsWritten)));
  lines.push_back(Row(kHostReads, GroupThousandsWide(h.hostReadCommands)));
  lines.push_back(Row(kHostWrites, GroupThousandsWide(h.hostWriteCommands)));
  lines.push_back(Row(kBusyTime, GroupThousandsWide(h.busyMinutes) + std::string(kMinutes)));
  lines.push_back(Row(kPowerCycles, GroupThousandsWide(h.powerCycles)));
  lines.push_back(Row(kPowerOnHours, GroupThousandsWide(h.powerOnHours) + std::string(kHours)));
  lines.push_back(Row(kUnsafeShutdowns, GroupThousandsWide(h.unsafeShutdowns)));
  lines.push_back(Row(kMediaErrors, GroupThousandsWide(h.mediaErrors)));
  lines.push_back(Row(kErrorLogEntries, GroupThousandsWide(h.errorLogEntries)));
  lines.push_back(
      Row(kWarningTime, GroupThousandsWide(h.warningTemperatureMinutes) + std::string(kMinutes)));
  lines.push_back(
      Row(kCriticalTime, GroupThousandsWide(h.criticalTemperatureMinutes) + std::string(kMinutes)));
  for (size_t i = 0; i < h.sensorKelvin.size(); ++i) {
    // A sensor that reports 0 Kelvin is not implemented.
    if (h.sensorKelvin[i] == 0) continue;
    lines.push_back(Row(std::string(kSensor) + std::to_string(i + 1), Temperature(h.sensorKelvin[i])));
  }
  lines.emplace_back(kReportSeparator);
  const uint8_t warnings = NvmeWarningBits(h);
  lines.push_back(std::string(kVerdict) + (warnings == 0 ? std::string(kHealthy)
                                                         : std::string(kWarning) +
                                                               WarningMeanings(warnings)));
  return lines;
}

}  // namespace fw
