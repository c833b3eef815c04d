#include "report/text_format.hpp"

#include <array>
#include <cstdint>
#include <string_view>

#include "core/text.hpp"
#include "core/user_locale.hpp"

namespace fw {

namespace {

constexpr std::string_view kUnknownBus = "未知     ";

// Puts a "," before every group of three digits counted from the right.
std::string GroupDigits(std::string_view digits) {
  std::string out;
  const size_t count = digits.size();
  for (size_t i = 0; i < count; ++i) {
    if (i != 0 && (count - i) % 3 == 0) out.push_back(',');
    out.push_back(digits[i]);
  }
  return out;
}

}  // namespace

std::string GroupThousands(int64_t value) {
  const std::string digits = std::to_string(value);
  if (digits.size() <= 4) return digits;
  if (digits[0] == '-') {
    // Built in place: GCC 12 at -O3 misreads "-" + string as an overlapping copy.
    std::string text(1, '-');
    return text.append(GroupDigits(std::string_view(digits).substr(1)));
  }
  return GroupDigits(digits);
}

std::string GroupThousandsWide(UInt128 value) {
  const std::string digits = DecimalText(value);
  return digits.size() <= 4 ? digits : GroupDigits(digits);
}

std::string CapacityToStr(int64_t bytes) {
  if (bytes < 99'999) return std::to_string(bytes) + " bytes";
  return CapacityToStrWide(static_cast<UInt128>(bytes));
}

std::string CapacityToStrWide(UInt128 bytes) {
  if (bytes < 99'999) return DecimalText(bytes) + " bytes";
  UInt128 hundredths = 0;
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
  std::string text = DecimalText(hundredths / 100);
  if (const auto cents = static_cast<int>(hundredths % 100); cents != 0) {
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
  static constexpr std::array<std::string_view, 18> kNames{
      kUnknownBus, "SCSI", "ATAPI", "ATA", "IEEE 1394", "SSA", "FIBRE", "USB",
      "RAID", "ISCSI", "SAS", "SATA", "SD", "MMC", "VIRTUAL", "FBVIRTUAL",
      kUnknownBus /* Spaces */, "NVMe"};
  if (busType >= 0 && busType < static_cast<int64_t>(kNames.size())) {
    return std::string(kNames[static_cast<size_t>(busType)]);
  }
  if (busType == kBusTypeAdapterUnknown) return "FLASH";
  return std::string(kUnknownBus);
}

}  // namespace fw
