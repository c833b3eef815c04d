#include "report/text_format.hpp"

#include <gtest/gtest.h>

#include <stdexcept>

#include "core/user_locale.hpp"

namespace fw {
namespace {

class PointLocale : public ::testing::Test {
 protected:
  void SetUp() override {
    UserLocale locale;
    locale.decimalSeparator = ".";
    SetUserLocale(locale);
  }
};

TEST(GroupThousands, GroupsFromFiveDigitsOn) {
  const std::pair<int64_t, const char*> cases[] = {
      {0, "0"},           {999, "999"},           {1000, "1000"},
      {9999, "9999"},     {12345, "12,345"},      {123456, "123,456"},
      {1234567, "1,234,567"}, {976773168, "976,773,168"}, {500107862016, "500,107,862,016"},
  };
  for (const auto& [value, text] : cases) {
    EXPECT_EQ(GroupThousands(value), text) << value;
    EXPECT_EQ(GroupThousandsWide(static_cast<UInt128>(value)), text) << value;
  }
  EXPECT_EQ(GroupThousandsWide(static_cast<UInt128>(1) << 64), "18,446,744,073,709,551,616");
}

TEST_F(PointLocale, CapacityThresholdsAndTruncation) {
  const std::pair<int64_t, const char*> cases[] = {
      {0, "0 bytes"},
      {512, "512 bytes"},
      {99998, "99998 bytes"},
      {99999, "99.99 KB"},
      {100000, "100 KB"},
      {123456, "123.45 KB"},
      {8388608, "8388.6 KB"},
      {9999998, "9999.99 KB"},
      {9999999, "9.99 MB"},
      {10000000, "10 MB"},
      {9999999998, "9999.99 MB"},
      {9999999999, "9.99 GB"},
      {40020664320, "40.02 GB"},
      {500107862016, "500.1 GB"},
      {1000000000000, "1000 GB"},
      {2000398934016, "2000.39 GB"},
  };
  for (const auto& [bytes, text] : cases) {
    EXPECT_EQ(CapacityToStr(bytes), text) << bytes;
    EXPECT_EQ(CapacityToStrWide(static_cast<UInt128>(bytes)), text) << bytes;
  }
  EXPECT_EQ(CapacityToStrWide(static_cast<UInt128>(1) << 64), "18446744073.7 GB");
}

TEST(CapacityToStr, UsesTheLocaleDecimalSeparator) {
  UserLocale comma;
  comma.decimalSeparator = ",";
  SetUserLocale(comma);
  EXPECT_EQ(CapacityToStr(123456), "123,45 KB");
  EXPECT_EQ(CapacityToStr(100000), "100 KB");
  SetUserLocale(UserLocale{});
}

TEST(BusTypeToStr, NamesAndUnknowns) {
  EXPECT_EQ(BusTypeToStr(0), "未知     ");
  EXPECT_EQ(BusTypeToStr(16), "未知     ");
  EXPECT_EQ(BusTypeToStr(17), "NVMe");
  EXPECT_EQ(BusTypeToStr(18), "未知     ");
  EXPECT_EQ(BusTypeToStr(-1), "未知     ");
  EXPECT_EQ(BusTypeToStr(201), "FLASH");
  EXPECT_EQ(BusTypeToStr(11), "SATA");
  EXPECT_EQ(BusTypeToStr(3), "ATA");
  EXPECT_EQ(BusTypeToStr(4), "IEEE 1394");
  EXPECT_EQ(BusTypeToStr(15), "FBVIRTUAL");
}

TEST_F(PointLocale, DeviceCaptionOfARow) {
  TDeviceTableRows table;
  table[1].DeviceNumber = 1;
  table[1].IdentifyData.Model = "EXAMPLE DISK 500   ";
  table[1].IdentifyData.FW = "1.00";
  table[1].IdentifyData.LBA = 976773168;
  table[1].IdentifyData.SectorSize = 512;
  EXPECT_EQ(DeviceCaption(table, 1),
            "[1]  EXAMPLE DISK 500    1.00    [500.1 GB]    (976773168 512-byte sectors)");

  table[2].IdentifyData.Model = "    ";
  table[2].IdentifyData.SectorSize = 512;
  EXPECT_EQ(DeviceCaption(table, 2), "[0]          [0 bytes]    (0 512-byte sectors)");
}

TEST(DeviceCaption, RowOutsideTheTableIsAnError) {
  TDeviceTableRows table;
  EXPECT_THROW(DeviceCaption(table, 0), std::out_of_range);
  EXPECT_THROW(DeviceCaption(table, 17), std::out_of_range);
  EXPECT_NO_THROW(DeviceCaption(table, 16));
}

TEST(CapacityBytes, SaturatesInsteadOfOverflowing) {
  TIdentifyDeviceData id;
  id.LBA = INT64_MAX / 2;
  id.SectorSize = 4096;
  EXPECT_EQ(CapacityBytes(id), INT64_MAX);
}

}  // namespace
}  // namespace fw
