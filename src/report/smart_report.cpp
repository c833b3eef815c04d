#include "report/smart_report.hpp"

#include <array>
#include <cstdio>
#include <string_view>
#include <utility>

#include "core/logs.hpp"
#include "core/text.hpp"
#include "device/identify_decoder.hpp"
#include "report/nvme_health.hpp"
#include "report/report_header.hpp"
#include "report/text_format.hpp"

namespace fw {

namespace {

constexpr std::string_view kCaptionLabel = "SMART 資料-      ";
constexpr std::string_view kNotSupported = "此裝置不支援 SMART。                         ";
constexpr std::string_view kColumnHeader =
    "          屬性                           目前值    最差     原始      注意                 ";
constexpr std::string_view kHyphens =
    "----------------------------------------------------------------------------------------";
constexpr std::string_view kTemperatureOpen = "  (";
constexpr std::string_view kTemperatureClose = " 度)       ";
constexpr std::string_view kUnknownName = "未知                        ";

constexpr int kTemperatureId = 194;

// Each name is padded to 26 display columns (a CJK character counts as two) so that the value
// columns line up in the memo's font.
// clang-format off
constexpr std::pair<int, std::string_view> kNamedAttributes[] = {
    {1, "讀取錯誤率                "},
    {2, "讀寫通量效能              "},
    {3, "碟片啟動時間              "},
    {4, "碟片啟動時間數            "},
    {5, "重定位磁區計數            "},
    {6, "信道讀取餘量              "},
    {7, "尋道錯誤率                "},
    {8, "尋道效能                  "},
    {9, "總通電時間                "},
    {10, "啟動重試次數              "},
    {11, "磁頭校準重試              "},
    {12, "開關電源次數              "},
    {13, "軟體讀取錯誤率            "},
    {99, "平均飛行高度控制          "},
    {100, "最小 FHC                  "},
    {101, "最大 FHC                  "},
    {184, "終端校驗出錯              "},
    {187, "報告不可糾正錯誤          "},
    {188, "通訊超時                  "},
    {189, "磁頭寫入高度              "},
    {190, "氣流溫度                  "},
    {192, "電源關閉磁頭收回計數      "},
    {193, "磁頭升降計數              "},
    {194, "硬碟總成溫度              "},
    {195, "硬體錯誤修正編碼復原      "},
    {196, "重定位事件計數            "},
    {197, "等候重定的磁區計數        "},
    {198, "離線掃瞄無法修正磁區      "},
    {199, "UDMA33 傳輸錯誤率         "},
    {200, "寫入錯誤率                "},
    {201, "軟體讀取錯誤率            "},
    {202, "DAM 讀取錯誤              "},
    {203, "ECC 讀取錯誤              "},
    {204, "邏輯 ECC 糾正             "},
    {205, "Thermal Aspirates         "},
    {207, "主軸電機浪涌電流計數      "},
    {208, "旋轉蜂鳴                  "},
    {209, "離線定址效能              "},
    {210, "寫入時的震動              "},
    {211, "讀取時的震動              "},
    {212, "寫入時的衝擊              "},
    {220, "盤體偏移                  "},
    {221, "G-Sensor 震動計數器       "},
    {222, "資料載入時間              "},
    {223, "載入重試次數              "},
    {224, "負載摩擦                  "},
    {225, "載入迴圈計數              "},
    {226, "磁頭載入時間              "},
    {227, "Torque amplification      "},
    {228, "斷電縮回周期              "},
    {229, "飛行高度測量              "},
    {230, "巨磁阻式磁頭振幅          "},
    {232, "可用的保留空間            "},
    {233, "介質耗損指標              "},
};
// clang-format on

constexpr std::array<std::string_view, 256> BuildSmartAttributeNames() {
  std::array<std::string_view, 256> names{};
  for (const auto& [id, name] : kNamedAttributes) names[static_cast<size_t>(id)] = name;
  return names;
}

std::string AttributeRow(const SmartAttribute& attribute) {
  const int id = attribute.id;
  std::array<char, 3> hex{};
  std::snprintf(hex.data(), hex.size(), "%02X", static_cast<unsigned>(id));

  std::string row = " ";
  row += PadRight(std::to_string(id), 3);
  row += "  ";
  row += hex.data();
  row += "  ";
  row += SmartAttributeName(id);
  row += "     ";
  row += PadLeft(std::to_string(attribute.current), 5);
  row += "  ";
  row += PadLeft(std::to_string(attribute.worst), 7);
  row += "  ";
  row += PadLeft(std::to_string(attribute.raw), 16);
  if (id == kTemperatureId) {
    // The drive temperature in degrees Celsius is the lowest raw byte; the others hold
    // vendor-specific extremes.
    row += kTemperatureOpen;
    row += std::to_string(attribute.raw & 0xFF);
    row += kTemperatureClose;
  }
  return row;
}

}  // namespace

constexpr std::array<std::string_view, 256> SmartAttributeNames = BuildSmartAttributeNames();

std::string SmartAttributeName(int id) {
  if (id < 1 || id > 255 || SmartAttributeNames[static_cast<size_t>(id)].empty()) {
    return std::string(kUnknownName);
  }
  return std::string(SmartAttributeNames[static_cast<size_t>(id)]);
}

std::vector<std::string> SmartTableLines(const Sector& data) {
  std::vector<std::string> lines{std::string(kColumnHeader), std::string(kHyphens)};
  for (const SmartAttribute& attribute : DecodeSmartAttributes(data, std::nullopt)) {
    lines.push_back(AttributeRow(attribute));
  }
  lines.emplace_back(kReportSeparator);
  return lines;
}

SmartReading ReadSmart(DeviceIo& io, Handle deviceHandle, const TIdentifyDeviceData& device) {
  SmartReading reading;
  if (device.BusType == kBusTypeNvme) {
    const std::optional<NvmeHealth> health = ReadNvmeHealth(io, deviceHandle);
    if (health) {
      reading.kind = SmartReading::Kind::Nvme;
      reading.nvme = *health;
    }
    return reading;
  }

  const uint8_t selector = device.IsIDESlave;
  bool read = false;
  // The thresholds only give the data their meaning: they are read after the data, and a drive
  // that keeps them to itself still shows its table.
  const auto readBoth = [&] {
    if (!SmartReadData(io, deviceHandle, selector, reading.data)) return false;
    Sector thresholds{};
    if (SmartReadThresholds(io, deviceHandle, selector, thresholds)) {
      reading.thresholds = thresholds;
    }
    return true;
  };
  if (device.BusType == kBusTypeAta) {
    // A parallel-ATA drive may have SMART switched off; it is switched on for the read. The
    // drive keeps that state across power cycles, so it is switched off again afterwards,
    // whatever happened in between, only when IDENTIFY said it was off: a drive that had it on
    // keeps it on (smartd relies on that), and one whose IDENTIFY cannot be read is not
    // switched off on a guess.
    Sector identify{};
    const bool wasOff = ReadIdentifySector(io, deviceHandle, selector, identify) &&
                        !SmartEnabledInIdentify(identify);
    read = SmartEnable(io, deviceHandle, selector) && readBoth();
    if (wasOff) SmartDisable(io, deviceHandle, selector);
  } else {
    read = readBoth();
    // A SATA drive refuses READ DATA while its SMART is switched off, which is not the same as
    // having none: when IDENTIFY shows the feature set present but off, it is switched on for
    // the read and off again, as on the parallel bus.
    Sector identify{};
    if (!read && device.BusType == kBusTypeSata &&
        ReadIdentifySector(io, deviceHandle, selector, identify) &&
        SmartSupportedInIdentify(identify) && !SmartEnabledInIdentify(identify)) {
      read = SmartEnable(io, deviceHandle, selector) && readBoth();
      SmartDisable(io, deviceHandle, selector);
    }
  }
  if (read) reading.kind = SmartReading::Kind::Ata;
  return reading;
}

std::vector<SmartAttribute> SmartReading::Attributes() const {
  if (kind != Kind::Ata) return {};
  return DecodeSmartAttributes(data, thresholds);
}

HealthState SmartReading::Health() const {
  switch (kind) {
    case Kind::Ata: return JudgeSmart(Attributes(), thresholds.has_value()).state;
    case Kind::Nvme: return JudgeNvme(nvme);
    case Kind::Unavailable: break;
  }
  return HealthState::Unknown;
}

std::vector<std::string> SmartReadingLines(const SmartReading& reading) {
  switch (reading.kind) {
    case SmartReading::Kind::Nvme: return NvmeHealthLines(reading.nvme);
    case SmartReading::Kind::Ata: {
      std::vector<std::string> lines = SmartTableLines(reading.data);
      const std::vector<SmartAttribute> attributes = reading.Attributes();
      lines.push_back(
          SmartVerdictLine(JudgeSmart(attributes, reading.thresholds.has_value()), attributes));
      return lines;
    }
    case SmartReading::Kind::Unavailable: break;
  }
  return {std::string(kNotSupported)};
}

SmartReading ShowSmartReport(DeviceIo& io, Handle deviceHandle, const TDeviceTableRows& table,
                             int64_t chosenIndex) {
  for (const std::string& line :
       ReportHeaderLines(kCaptionLabel, DeviceCaption(table, chosenIndex))) {
    AddSmartLine(line);
  }
  const SmartReading reading = ReadSmart(io, deviceHandle, table[chosenIndex].IdentifyData);
  for (const std::string& line : SmartReadingLines(reading)) AddSmartLine(line);
  return reading;
}

}  // namespace fw
