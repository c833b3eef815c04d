#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "core/user_locale.hpp"
#include "report/device_details.hpp"

namespace fw {
namespace {

bool Has(const std::vector<std::string>& lines, const std::string& line) {
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

class DetailsLines : public ::testing::Test {
 protected:
  void SetUp() override { SetUserLocale(UserLocale{}); }
};

// A bare device: everything unsupported, nothing locked, no buffer, no queue.
TEST_F(DetailsLines, BareDeviceWholeText) {
  T_IDE_PASSPORT p;
  p.name = std::string("M");
  p.fw = std::string("F");
  p.sn = std::string("S");
  const std::vector<std::string> expected{
      std::string("型號:    ") + "M",
      std::string("韌體版本:              ") + "F",
      std::string("序號:            ") + "S",
      " ",
      "物理參數:               ",
      "不支援 LBA 模式               ",
      "不支援 LBA-48 模式               ",
      std::string("帶有 LBA 命令的磁區可用:                      ") + "0",
      std::string("帶有 LBA48 命令的磁區可用:                      ") + "0",
      std::string("全部裝置容量:               ") + "0 bytes",
      " ",
      "安全性:     ",
      "不支援安全性功能                          ",
      "裝置目前未鎖定                           ",
      " ",
      "功能:      ",
      "不支援 SMART             ",
      "不支援 HPA (主機保護區)                           ",
      "不支援 AAM (自動噪音管理)                                    ",
      "不支援串流功能集                              ",
      " ",
      "QUEUING:",
      "裝置不支援命令佇列                                     ",
  };
  EXPECT_EQ(DeviceDetailsLines(p), expected);
}

TEST_F(DetailsLines, SecurityLevels) {
  const std::string locked = "磁碟目前被鎖住                      ";
  const std::string maximum = "安全性層級: 最大              ";
  const std::string high = "安全性層級: 高            ";
  const std::string notLocked = "裝置目前未鎖定                           ";
  struct Case {
    bool locked, lockedmax;
    std::vector<std::string> section;
  };
  const Case cases[] = {
      {true,
       true,
       {"安全性:     ", "支援安全性功能                       ", locked, maximum,
        "裝置需要使用者密碼來解除鎖定。                           ",
        "如果使用者密碼未知，可以使用主密碼來抹除裝置。                                                      ",
        " "}},
      {true,
       false,
       {"安全性:     ", "支援安全性功能                       ", locked, high,
        "裝置需要使用者或主密碼來解除鎖定。                                          ", " "}},
      {false, true, {"安全性:     ", "支援安全性功能                       ", notLocked, " "}},
  };
  for (const Case& c : cases) {
    T_IDE_PASSPORT p;
    p.securitysupport = true;
    p.locked = c.locked;
    p.lockedmax = c.lockedmax;
    const std::vector<std::string> lines = DeviceDetailsLines(p);
    const auto start = std::find(lines.begin(), lines.end(), c.section.front());
    ASSERT_NE(start, lines.end());
    ASSERT_LE(c.section.size(), static_cast<size_t>(lines.end() - start));
    EXPECT_EQ(std::vector<std::string>(start, start + static_cast<long>(c.section.size())),
              c.section)
        << c.locked << c.lockedmax;
  }
}

TEST_F(DetailsLines, BufferCapacityAndQueueDepth) {
  T_IDE_PASSPORT p;
  p.buffersize = 8388608;
  p.lba28support = true;
  p.lba48support = true;
  p.lba28sectors = 268435455;
  p.lba48sectors = 976773168;
  p.lbasectors = 976773168;
  p.QueueDepth = 31;
  p.QueueSupported = true;
  const std::vector<std::string> lines = DeviceDetailsLines(p);
  EXPECT_EQ(lines[3], std::string("緩衝區大小:       ") + "8388.6 KB");
  EXPECT_EQ(lines[4], " ");
  EXPECT_TRUE(
      Has(lines, std::string("帶有 LBA 命令的磁區可用:                      ") + "268,435,455"));
  EXPECT_TRUE(
      Has(lines, std::string("帶有 LBA48 命令的磁區可用:                      ") + "976,773,168"));
  EXPECT_TRUE(Has(lines, std::string("全部裝置容量:               ") + "500,107,862,016 bytes"));
  EXPECT_EQ(lines.back(), std::string("最大佇列深度:              ") + "32");
  EXPECT_EQ(lines[lines.size() - 2], "裝置支援命令佇列                                  ");

  // A count or a sector length no real drive has must not wrap into a negative capacity.
  for (const auto& [sectors, sectorBytes] : {std::pair{INT64_MAX / 2, int64_t{512}},
                                             std::pair{int64_t{1} << 40, int64_t{8589934590}}}) {
    p.lbasectors = sectors;
    p.sectorsize = sectorBytes;
    EXPECT_TRUE(Has(DeviceDetailsLines(p), std::string("全部裝置容量:               ") +
                                               "9,223,372,036,854,775,807 bytes"));
  }
  p.lbasectors = 244190646;
  p.sectorsize = 4096;
  EXPECT_TRUE(Has(DeviceDetailsLines(p),
                  std::string("全部裝置容量:               ") + "1,000,204,886,016 bytes"));
}

}  // namespace
}  // namespace fw
