#include "fake_device.hpp"

#include <gtest/gtest.h>

#include "select/device_table.hpp"
#include "select/scan.hpp"

namespace fw {
namespace {

// The scan over a fake: drive numbers that do not open are skipped, and nothing past the
// fifteenth identified drive is tried. Identification itself is covered with the device layer.
TEST(Scan, SkipsDrivesThatDoNotOpenAndClosesEveryOpenedOne) {
  test::FakeDevice io;
  io.drivePaths = {"/dev/a", "/dev/b", "/dev/c"};
  io.At("/dev/a");
  io.At("/dev/c").openError = win::ERROR_SHARING_VIOLATION;
  DeviceTable.Clear();
  const ScanResult scan = ScanPhysicalDrives(io);
  EXPECT_FALSE(scan.fatalText);
  // Drive number 3 has no path: the namespace ends there.
  EXPECT_EQ(io.drivePathQueries.size(), 4u);
  EXPECT_EQ(io.OpenCount(), 0u);
  EXPECT_EQ(io.closes.size(), 1u);
}

}  // namespace
}  // namespace fw
