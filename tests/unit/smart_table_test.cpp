#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "report/smart_report.hpp"

namespace fw {
namespace {

constexpr const char* kColumnHeader =
    "          屬性                           目前值    最差     原始      注意                 ";
constexpr const char* kHyphens =
    "----------------------------------------------------------------------------------------";
constexpr const char* kUnknown = "未知                        ";
constexpr const char* kTemperatureName = "硬碟總成溫度              ";
constexpr const char* kPowerOnName = "總通電時間                ";

struct Entry {
  uint8_t id, current, worst;
  std::array<uint8_t, 6> raw;
};

Sector SectorWith(const std::vector<Entry>& entries) {
  Sector s{};
  s[0] = 0x10;  // revision: never shown
  for (size_t k = 0; k < entries.size(); ++k) {
    uint8_t* e = s.data() + 2 + 12 * k;
    e[0] = entries[k].id;
    e[1] = 0x33;  // status flags: never shown
    e[3] = entries[k].current;
    e[4] = entries[k].worst;
    for (size_t i = 0; i < 6; ++i) e[5 + i] = entries[k].raw[i];
    e[11] = 0x77;
  }
  return s;
}

TEST(SmartTable, RowsForTemperaturePowerOnAndUnknownIds) {
  const std::vector<std::string> lines = SmartTableLines(SectorWith({
      {194, 36, 45, {0x24, 0x00, 0x0E, 0x00, 0x2D, 0x00}},
      {194, 100, 100, {0x00, 0x01, 0, 0, 0, 0}},
      {9, 99, 99, {0x01, 0x02, 0x03, 0x04, 0x05, 0x06}},
      {170, 1, 2, {0, 0, 0, 0, 0, 0}},
      {5, 200, 200, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}},
  }));
  const std::vector<std::string> expected{
      kColumnHeader,
      kHyphens,
      std::string(" 194  C2  ") + kTemperatureName + "        36       45      193274445860" +
          "  (36 度)       ",
      std::string(" 194  C2  ") + kTemperatureName + "       100      100               256" +
          "  (0 度)       ",
      std::string(" 9    09  ") + kPowerOnName + "        99       99     6618611909121",
      std::string(" 170  AA  ") + kUnknown + "         1        2                 0",
      std::string(" 5    05  ") + "重定位磁區計數            " +
          "       200      200   281474976710655",
      " ",
  };
  EXPECT_EQ(lines, expected);
}

TEST(SmartTable, FirstIdZeroGivesNoRows) {
  Sector s = SectorWith({{0, 1, 1, {}}, {5, 1, 1, {}}});
  EXPECT_EQ(SmartTableLines(s), (std::vector<std::string>{kColumnHeader, kHyphens, " "}));
}

TEST(SmartTable, ThirtyEntriesAndNothingPastByte361) {
  std::vector<Entry> entries;
  for (uint8_t k = 0; k < 30; ++k) entries.push_back({static_cast<uint8_t>(k + 1), 100, 100, {}});
  Sector s = SectorWith(entries);
  // Bytes 362 on would make a 31st entry if they were read.
  for (size_t i = 362; i < s.size(); ++i) s[i] = 0xC2;
  const std::vector<std::string> lines = SmartTableLines(s);
  ASSERT_EQ(lines.size(), 2u + 30u + 1u);
  EXPECT_TRUE(lines[31].starts_with(" 30   1E  ")) << lines[31];
  EXPECT_EQ(lines[32], " ");
}

TEST(SmartAttributeName, FiftyFourNamesOfTwentySixColumnsTheRestUnknown) {
  // Display columns: a CJK character (three UTF-8 bytes here) counts as two.
  const auto columns = [](const std::string& s) {
    size_t n = 0;
    for (size_t i = 0; i < s.size();) {
      const auto c = static_cast<unsigned char>(s[i]);
      const size_t len = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
      n += len >= 3 ? 2 : 1;
      i += len;
    }
    return n;
  };
  int named = 0;
  for (int id = 1; id <= 255; ++id) {
    const std::string name = SmartAttributeName(id);
    if (name == kUnknown) continue;
    ++named;
    EXPECT_EQ(columns(name), 26u) << id;
  }
  EXPECT_EQ(named, 54);
  EXPECT_EQ(SmartAttributeName(1), "讀取錯誤率                ");
  EXPECT_EQ(SmartAttributeName(205), "Thermal Aspirates         ");
  EXPECT_EQ(SmartAttributeName(233), "介質耗損指標              ");
  EXPECT_EQ(SmartAttributeName(0), kUnknown);
  EXPECT_EQ(SmartAttributeName(191), kUnknown);
  EXPECT_EQ(SmartAttributeName(256), kUnknown);
}

}  // namespace
}  // namespace fw
