// Which disk a file lies on, over a fixture sysfs tree with a stack on its disks: dm-0 on sda2,
// md0 on sdb, loop0 backed by a file of dm-0's file system.
#include "device/linux/file_location.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "temp_folder.hpp"

namespace fw::linuxio {
namespace {

namespace fs = std::filesystem;

struct LocationCase {
  const char* name;
  Devno devno;  // of the file system holding the file
  const char* disk;
  bool onDisk;
};

class FileLocation : public ::testing::TestWithParam<LocationCase> {
 protected:
  static void SetUpTestSuite() {
    root = new test::TempFolder("ferrowipe-stack");
    fs::copy(std::string(FIXTURES_DIR) + "/sysfs/machine", root->Path(),
             fs::copy_options::recursive | fs::copy_options::copy_symlinks);
    for (const auto& [holder, slave] : {std::pair{"dm-0", "sda2"}, std::pair{"md0", "sdb"}}) {
      fs::create_directories(fs::path(root->Path()) / "sys/class/block" / holder / "slaves" / slave);
    }
  }
  static void TearDownTestSuite() {
    delete root;
    root = nullptr;
  }
  static test::TempFolder* root;
};

test::TempFolder* FileLocation::root = nullptr;

TEST_P(FileLocation, FollowsTheStackDownToTheDisk) {
  const LocationCase& c = GetParam();
  // loop0's backing file lies on dm-0; a backing file that points back at loop0 must end.
  const DeviceOfFile deviceOfFile = [](const std::string& path) -> std::optional<Devno> {
    if (path == "/tmp/disk image.img") return Devno{252, 0};
    return Devno{7, 0};
  };
  EXPECT_EQ(DevnoLiesOnDisk(SysTree(root->Path()), c.devno, c.disk, deviceOfFile), c.onDisk);
}

INSTANTIATE_TEST_SUITE_P(
    Stacks, FileLocation,
    ::testing::Values(LocationCase{"TheDiskItself", {8, 0}, "sda", true},
                      LocationCase{"APartition", {8, 1}, "sda", true},
                      LocationCase{"DeviceMapperOnAPartition", {252, 0}, "sda", true},
                      LocationCase{"LoopBackedByAFileOnIt", {7, 0}, "sda", true},
                      LocationCase{"RaidOnAnotherDisk", {9, 0}, "sda", false},
                      LocationCase{"RaidOnThisDisk", {9, 0}, "sdb", true},
                      LocationCase{"AnotherDisk", {8, 16}, "sda", false},
                      LocationCase{"NoBlockDevice", {0, 45}, "sda", false}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace fw::linuxio
