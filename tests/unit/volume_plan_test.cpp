// The plan for taking a disk, over fixture trees: what shares the disk's bytes is found by device
// numbers and inodes (loop devices over its nodes, over the same file through a hard link or a
// bind-mounted folder, over a file on its file systems, and what a loop device stands on), swap,
// the running system, nested and foreign mounts, and the processes that keep a volume busy.
// No root, nothing of this machine is read.
#include "device/linux/volume_plan.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "device/linux/sys_tree.hpp"
#include "temp_folder.hpp"

namespace fw::linuxio {
namespace {

namespace fs = std::filesystem;

const std::string kMachine = std::string(FIXTURES_DIR) + "/sysfs/machine";

struct Loop {
  int minor;
  std::string backingFile;
};

// What a case adds to the machine of the fixture tree. Its loop0 stands on "/tmp/disk image.img".
struct Additions {
  std::vector<Loop> loops{};
  std::string identities{};  // lines of /identities: what stat(2) answers on that machine
  std::string mounts{};      // lines added to /proc/self/mountinfo
  std::string swaps{};       // lines of /proc/swaps after its header
  std::vector<std::pair<std::string, std::string>> files{};  // more files of /proc
};

class Machine {
 public:
  explicit Machine(const Additions& more) : m_root("ferrowipe-plan") {
    fs::copy(kMachine, m_root.Path(),
             fs::copy_options::recursive | fs::copy_options::copy_symlinks);
    for (const Loop& loop : more.loops) {
      const std::string name = "loop" + std::to_string(loop.minor);
      const std::string dir = "sys/devices/virtual/block/" + name;
      fs::create_directories(m_root / (dir + "/loop"));
      m_root.Write(dir + "/dev", "7:" + std::to_string(loop.minor) + "\n");
      m_root.Write(dir + "/size", "131072\n");
      m_root.Write(dir + "/loop/backing_file", loop.backingFile + "\n");
      fs::create_symlink("../devices/virtual/block/" + name, m_root / ("sys/block/" + name));
      fs::create_symlink("../../devices/virtual/block/" + name,
                         m_root / ("sys/class/block/" + name));
      fs::create_symlink("../../devices/virtual/block/" + name,
                         m_root / ("sys/dev/block/7:" + std::to_string(loop.minor)));
    }
    m_root.Write("identities", more.identities);
    std::ofstream(m_root / "proc/self/mountinfo", std::ios::app) << more.mounts;
    m_root.Write("proc/swaps", "Filename\tType\tSize\tUsed\tPriority\n" + more.swaps);
    for (const auto& [path, content] : more.files) {
      fs::create_directories(fs::path(m_root / path).parent_path());
      m_root.Write(path, content);
    }
  }

  SysTree Sys() const { return SysTree(m_root.Path()); }

 private:
  test::TempFolder m_root;
};

// The machine's own block device nodes (devtmpfs is 0:5 there).
const std::string kNodes =
    "/dev/sdb 0:5 300 b 8:16\n/dev/sdc1 0:5 301 b 8:33\n/dev/loop0 0:5 302 b 7:0\n"
    "/dev/sda2 0:5 303 b 8:2\n/dev/loop2 0:5 304 b 7:2\n";
const std::string kDiskImage = "/tmp/disk image.img 0:30 100\n";

struct PlanCase {
  const char* name;
  const char* disk;
  RefusalKind kind;
  std::string subject;
  Additions more{};
};

std::ostream& operator<<(std::ostream& out, const PlanCase& c) { return out << c.name; }

class PlanOverFixture : public ::testing::TestWithParam<PlanCase> {};

using enum RefusalKind;

TEST_P(PlanOverFixture, FindsWhatStandsInTheWay) {
  const PlanCase& c = GetParam();
  const Machine machine(c.more);
  DiskPlan plan;
  const RefusalCause cause = PlanDisk(machine.Sys(), c.disk, plan);
  EXPECT_EQ(cause.kind, c.kind) << cause.subject;
  EXPECT_EQ(cause.subject, c.subject);
  // A busy volume names who keeps it so (every such case here has process 4242 at it).
  EXPECT_EQ(cause.pid, c.kind == RefusalKind::Busy ? 4242 : 0);
}

INSTANTIATE_TEST_SUITE_P(
    Holders, PlanOverFixture,
    ::testing::ValuesIn(std::vector<PlanCase>{
        {"LoopOverTheDisksNode", "sdb", Holder, "loop2",
         {.loops = {{2, "/dev/sdb"}}, .identities = kNodes}},
        {"LoopOverAPartitionsNode", "sdc", Holder, "loop2",
         {.loops = {{2, "/dev/sdc1"}}, .identities = kNodes}},
        {"LoopOverTheChosenLoopDevice", "loop0", Holder, "loop2",
         {.loops = {{2, "/dev/loop0"}}, .identities = kNodes + kDiskImage,
          .mounts = "40 26 7:2 / /mnt/over rw - ext4 /dev/loop2 rw\n"}},
        {"LoopOverALoopOverTheDisk", "sdb", Holder, "loop2",
         {.loops = {{2, "/dev/sdb"}, {3, "/dev/loop2"}}, .identities = kNodes}},
        // The chosen loop device writes what it stands on.
        {"TheChosenLoopStandsOnAnotherDisk", "loop2", Holder, "sdb",
         {.loops = {{2, "/dev/sdb"}}, .identities = kNodes}},
        {"TheChosenLoopStandsOnTheRunningSystem", "loop2", RunningSystem, "/",
         {.loops = {{2, "/dev/sda2"}}, .identities = kNodes}},
        {"HardLinkOfTheBackingFile", "loop0", Holder, "loop2",
         {.loops = {{2, "/srv/link to disk.img"}},
          .identities = kDiskImage + "/srv/link to disk.img 0:30 100\n"}},
        {"TheOtherLoopIsChosenAndTheFirstHoldsIt", "loop2", Holder, "loop0",
         {.loops = {{2, "/srv/link to disk.img"}},
          .identities = kDiskImage + "/srv/link to disk.img 0:30 100\n"}},
        {"BindMountedBackingFolder", "loop0", Holder, "loop2",
         {.loops = {{2, "/mnt/bound/disk image.img"}},
          .identities = kDiskImage + "/mnt/bound/disk image.img 0:30 100\n",
          .mounts = "40 26 0:30 / /mnt/bound rw - tmpfs tmpfs rw\n"}},
        {"AnotherFileOfTheSameFolderIsNoHolder", "loop0", None, "",
         {.loops = {{2, "/tmp/other.img"}},
          .identities = kDiskImage + "/tmp/other.img 0:30 101\n"}},
        {"LoopOverAFileOnTheDisksFileSystem", "sdc", Holder, "loop2",
         {.loops = {{2, "/media/user/My Stick/vm.img"}},
          .identities = "/media/user/My Stick/vm.img 8:33 12\n"}},
        {"ALoopOverAFileOfTheRootIsNoConcernOfAnotherDisk", "sdb", None, "",
         {.loops = {{2, "/var/vm.img"}}, .identities = "/var/vm.img 8:2 12\n"}},
    }),
    [](const auto& info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(
    SwapAndTheRunningSystem, PlanOverFixture,
    ::testing::ValuesIn(std::vector<PlanCase>{
        {"SwapPartition", "sdc", Swap, "/dev/sdc1",
         {.identities = kNodes, .swaps = "/dev/sdc1 partition 1024 0 -2\n"}},
        {"SwapFileOnAVolume", "sdc", Swap, "/media/user/My Stick/swapfile",
         {.identities = "/media/user/My Stick/swapfile 8:33 9\n",
          .swaps = "/media/user/My\\040Stick/swapfile file 1024 0 -2\n"}},
        {"SwapOnALoopOverTheDisk", "sdb", Swap, "/dev/loop2",
         {.loops = {{2, "/dev/sdb"}}, .identities = kNodes,
          .swaps = "/dev/loop2 partition 1024 0 -2\n"}},
        {"SwapFileElsewhere", "sdb", None, "",
         {.identities = "/tmp/swapfile 0:30 9\n", .swaps = "/tmp/swapfile file 1024 0 -2\n"}},
        {"TheRootPartition", "sda", RunningSystem, "/"},
        {"VarOnALoopOverAFileOnTheDisk", "sdc", RunningSystem, "/var",
         {.loops = {{2, "/media/user/My Stick/var.img"}},
          .identities = "/media/user/My Stick/var.img 8:33 5\n",
          .mounts = "40 26 7:2 / /var rw - ext4 /dev/loop2 rw\n"}},
        {"TheRootOfPid1OnALoopOverTheDisk", "sdb", RunningSystem, "/srv/chroot",
         {.loops = {{2, "/dev/sdb"}}, .identities = kNodes + "/proc/1/root 7:2 2\n",
          .mounts = "40 26 7:2 / /srv/chroot rw - ext4 /dev/loop2 rw\n"}},
        {"ThisProcesssRootOnTheDiskUnmounted", "sdb", RunningSystem, "/",
         {.identities = "/proc/self/root 8:16 2\n"}},
    }),
    [](const auto& info) { return std::string(info.param.name); });

// sdc1 is mounted on /media/user/My Stick (twice, one over the other) and on /mnt/bind.
INSTANTIATE_TEST_SUITE_P(
    MountsAndProcesses, PlanOverFixture,
    ::testing::ValuesIn(std::vector<PlanCase>{
        {"AForeignMountInsideAVolume", "sdc", ForeignMount, "/media/user/My Stick/t (tmpfs)",
         {.mounts = "40 29 0:50 / /media/user/My\\040Stick/t rw - tmpfs tmpfs rw\n"}},
        {"AProcessWorkingInAVolume", "sdc", Busy, "/media/user/My Stick",
         {.identities = "/proc/4242/cwd 8:33 77\n", .files = {{"proc/4242/comm", "editor\n"}}}},
        {"AProcessWithAFileOfAVolumeOpen", "sdc", Busy, "/media/user/My Stick",
         {.identities = "/proc/4242/fd/7 8:33 78\n",
          .files = {{"proc/4242/fd/7", ""}, {"proc/4242/comm", "editor\n"}}}},
        {"AProcessWithAFileOfAVolumeMapped", "sdc", Busy, "/media/user/My Stick",
         {.files = {{"proc/4242/maps",
                     "7f00-7f10 r--p 00000000 08:21 78 /media/user/My Stick/lib.so\n"}}}},
        {"AProcessElsewhere", "sdc", None, "",
         {.identities = "/proc/4242/cwd 8:2 77\n",
          .files = {{"proc/4242/maps", "7f00-7f10 r--p 00000000 08:02 78 /usr/lib/lib.so\n"}}}},
    }),
    [](const auto& info) { return std::string(info.param.name); });

// The disk's own volumes come off deepest first: what is mounted inside or over another before
// it, the later of two at the same depth first.
TEST(VolumePlan, NestedVolumesComeOffDeepestFirst) {
  const Machine machine(
      {.mounts = "40 29 8:33 /sub /media/user/My\\040Stick/sub rw - vfat /dev/sdc1 rw\n"});
  DiskPlan plan;
  ASSERT_EQ(PlanDisk(machine.Sys(), "sdc", plan).kind, RefusalKind::None);
  std::vector<std::string> order;
  for (const MountNode& mount : plan.mounts)
    order.push_back(mount.target + " #" + std::to_string(mount.id));
  const std::vector<std::string> expected = {"/media/user/My Stick/sub #40",
                                             "/media/user/My Stick #32", "/mnt/bind #30",
                                             "/media/user/My Stick #29"};
  EXPECT_EQ(order, expected);
  EXPECT_EQ(plan.devices.names, (std::vector<std::string>{"sdc", "sdc1"}));
}

// The injected probe decides for a mount it can see; a mount with volumes inside is judged by
// its processes, never probed.
TEST(VolumePlan, TheProbeDecidesForTheMountsItCanSee) {
  const Machine machine(
      {.mounts = "40 29 8:33 /sub /media/user/My\\040Stick/sub rw - vfat /dev/sdc1 rw\n"});
  std::vector<std::string> probed;
  const auto busyAt = [&](const std::string& target) {
    return [&probed, target](const MountNode& mount) {
      probed.push_back(mount.target);
      return mount.target == target ? MountUse::Busy : MountUse::Idle;
    };
  };
  DiskPlan plan;
  const RefusalCause cause = PlanDisk(machine.Sys(), "sdc", plan, busyAt("/mnt/bind"));
  EXPECT_EQ(cause.kind, RefusalKind::Busy);
  EXPECT_EQ(cause.subject, "/mnt/bind");
  EXPECT_EQ(probed, (std::vector<std::string>{"/media/user/My Stick/sub", "/media/user/My Stick",
                                              "/mnt/bind"}));
  EXPECT_TRUE(plan.mounts.empty()) << "a refused plan hands out no mounts to take off";
}

// The lists mark a disk by the same rule that refuses it.
TEST(VolumePlan, TheListsMarkTheDiskUnderALoopThatCarriesTheSystem) {
  const Machine machine({.loops = {{2, "/dev/sdb"}},
                         .identities = kNodes,
                         .mounts = "40 26 7:2 / /usr rw - ext4 /dev/loop2 rw\n"});
  const SysTree sys = machine.Sys();
  const std::vector<MountNode> table = ReadMountTable(sys.Root() + "/proc/self/mountinfo");
  EXPECT_EQ(RunningSystemOn(sys, ReadDiskDevices(sys, "sdb"), table), "/usr");
  EXPECT_EQ(RunningSystemOn(sys, ReadDiskDevices(sys, "sde"), table), std::nullopt);
}

}  // namespace
}  // namespace fw::linuxio
