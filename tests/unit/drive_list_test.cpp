#include "select/drive_list.hpp"

#include <gtest/gtest.h>

#include "core/user_locale.hpp"

namespace fw {
namespace {

TEST(DriveListCells, ModelTrimmedFirmwareAndSerialAsStoredSectorsUngrouped) {
  SetUserLocale(UserLocale{});
  TDeviceTable row;
  row.IdentifyData.BusType = kBusTypeSata;
  row.IdentifyData.Model = "  ATA EXAMPLE DISK 500   ";
  row.IdentifyData.FW = " 1.00 ";
  row.IdentifyData.SN = "S1234  ";
  row.IdentifyData.LBA = 976773168;
  row.IdentifyData.SectorSize = 512;
  EXPECT_EQ(DriveListCells(row), (DriveListRow{"SATA", "ATA EXAMPLE DISK 500", " 1.00 ", "S1234  ",
                                               "976773168", "500.1 GB"}));

  row.IdentifyData.BusType = kBusTypeAdapterUnknown;
  row.IdentifyData.LBA = 0;
  EXPECT_EQ(DriveListCells(row)[0], "FLASH");
  EXPECT_EQ(DriveListCells(row)[5], "0 bytes");
}

}  // namespace
}  // namespace fw
