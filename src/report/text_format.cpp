#include "report/text_format.hpp"

#include <array>
#include <cstdint>
#include <string_view>

#include "core/text.hpp"
#include "core/user_locale.hpp"

namespace fw {

namespace {
constexpr std::string_view kUnknownBus = "未知     ";
}

std::string GroupThousands(int64_t value) {
  const std::string digits = std::to_string(value);
  if (digits.size() <= 4) return digits;
  const size_t sign = (digits[0] == '-') ? 1 : 0;
  std::string out;
  const size_t count = digits.size() - sign;
  out.append(digits, 0, sign);
  for (size_t i = 0; i < count; ++i) {
    if (i != 0 && (count - i) % 3 == 0) out.push_back(',');
    out.push_back(digits[sign + i]);
  }
  return out;
}

std::string CapacityToStr(int64_t bytes) {
  if (bytes < 99'999) return std::to_string(bytes) + " bytes";
  int64_t hundredths = 0;
  std::string_view suffix;
  if (bytes < 9'999'999) {
    hundredths = bytes / 10;
    suffix = " KB";
  } else if (bytes < 9'999'999'999) {
    hundredths = bytes / 10'000;
    suffix = " MB";
  } else {
    hundredths = bytes / 10'000'000;
    suffix = " GB";
  }
  std::string text = std::to_string(hundredths / 100);
  if (const int64_t cents = hundredths % 100; cents != 0) {
    text += CurrentUserLocale().decimalSeparator;
    text += static_cast<char>('0' + cents / 10);
    if (cents % 10 != 0) text += static_cast<char>('0' + cents % 10);
  }
  text += suffix;
  return text;
}

int64_t CapacityBytes(const TIdentifyDeviceData& id) {
  int64_t bytes = 0;
  if (__builtin_mul_overflow(id.LBA, id.SectorSize, &bytes)) return INT64_MAX;
  return bytes;
}

std::string DeviceCaption(const TDeviceTableRows& table, int64_t row) {
  const TDeviceTable& entry = table[row];
  const TIdentifyDeviceData& id = entry.IdentifyData;
  std::string caption = "[";
  caption += std::to_string(entry.DeviceNumber);
  caption += "]  ";
  caption += Trim(id.Model);
  caption += "    ";
  caption += Trim(id.FW);
  caption += "    [";
  caption += CapacityToStr(CapacityBytes(id));
  caption += "]    (";
  caption += std::to_string(id.LBA);
  caption += " ";
  caption += std::to_string(id.SectorSize);
  caption += "-byte sectors)";
  return caption;
}

std::string BusTypeToStr(int64_t busType) {
  static constexpr std::array<std::string_view, 16> kNames{
      kUnknownBus, "SCSI", "ATAPI", "ATA", "IEEE 1394", "SSA", "FIBRE", "USB",
      "RAID", "ISCSI", "SAS", "SATA", "SD", "MMC", "VIRTUAL", "FBVIRTUAL"};
  if (busType >= 0 && busType < static_cast<int64_t>(kNames.size())) {
    return std::string(kNames[static_cast<size_t>(busType)]);
  }
  if (busType == kBusTypeAdapterUnknown) return "FLASH";
  return std::string(kUnknownBus);
}

}  // namespace fw
