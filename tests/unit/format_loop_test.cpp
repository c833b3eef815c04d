// The format command on loop devices the tests make themselves: what ends up on the disk, and
// that a disk in use is never written. Needs root and loop devices; skips visibly otherwise.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "loop_device.hpp"
#include "sleeper.hpp"

namespace fw {
namespace {

using test::IsMounted;
using test::LoopDevice;

constexpr uint8_t kPattern = 0xAB;
const std::string kFormatting = "正在格式化...      ";
const std::string kLockFailed = "無法鎖住裝置。請確定您沒有在此裝置上開啟檔案後再試一次。";
const std::string kCompleted = "低階格式化完成。                     ";

struct CliRun {
  int status = -1;
  std::string out;
  bool Logged(const std::string& text) const { return out.find(text) != std::string::npos; }
};

// The machine's block devices, never simulated ones: the loop device is a disk among them.
CliRun Format(const std::string& arguments) {
  const test::CommandResult r = test::RunCommand("(env -u FERROWIPE_DISKS '" CLI_PATH
                                                 "' format " + arguments + " </dev/null 2>/dev/null)");
  return CliRun{r.status, r.output};
}

std::vector<uint8_t> ReadImage(const LoopDevice& loop) {
  std::ifstream in(loop.Image(), std::ios::binary | std::ios::ate);
  std::vector<uint8_t> bytes(static_cast<size_t>(std::max<std::streamoff>(in.tellg(), 0)));
  in.seekg(0);
  in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  return bytes;
}

// Every byte of the image the loop device stands on becomes `value`, before anything reads it.
void FillImage(const LoopDevice& loop, uint8_t value) {
  const std::vector<uint8_t> bytes(static_cast<size_t>(LoopDevice::Options{}.size), value);
  std::ofstream(loop.Image(), std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

bool AllBytes(const std::vector<uint8_t>& bytes, size_t from, size_t to, uint8_t value) {
  const std::vector<uint8_t> same(1 << 20, value);
  for (size_t at = from; at < to; at += same.size()) {
    const size_t n = std::min(same.size(), to - at);
    if (std::memcmp(bytes.data() + at, same.data(), n) != 0) return false;
  }
  return true;
}


// The ext4 superblock (magic 0xEF53 at byte 1,080) is still where mkfs put it.
bool Ext4SuperblockKept(const LoopDevice& loop) {
  const std::vector<uint8_t> bytes = ReadImage(loop);
  return bytes.size() > 1082 && bytes[1080] == 0x53 && bytes[1081] == 0xEF;
}

// Refused: exit 3, nothing formatted, and the line right after the lock-failure line names
// the cause.
void ExpectCauseAfterLockFailure(const CliRun& run, const std::string& cause) {
  EXPECT_EQ(run.status, 3) << run.out;
  EXPECT_FALSE(run.Logged(kFormatting)) << run.out;
  const size_t at = run.out.find(kLockFailed);
  ASSERT_NE(at, std::string::npos) << run.out;
  const size_t next = run.out.find('\n', at) + 1;
  EXPECT_NE(run.out.substr(next, run.out.find('\n', next) - next).find(cause), std::string::npos)
      << run.out;
}

// The file systems mounted at `folder`, bottom first.
std::vector<std::string> MountsAt(const std::string& folder) {
  std::vector<std::string> types;
  const std::string table = test::RunCommand("findmnt -n -l -o TARGET,FSTYPE").output;
  std::istringstream lines(table);
  std::string target, type;
  while (lines >> target >> type) {
    if (target == folder) types.push_back(type);
  }
  return types;
}

class FormatOnLoop : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const std::string reason = LoopDevice::SkipReason(); !reason.empty()) {
      GTEST_SKIP() << reason;
    }
  }
};

TEST_F(FormatOnLoop, AFullRunLeavesEveryByteZero) {
  LoopDevice loop;
  ASSERT_TRUE(loop.Ok()) << loop.Error();
  FillImage(loop, kPattern);
  const CliRun run = Format("--yes " + loop.Path());
  EXPECT_EQ(run.status, 0) << run.out;
  EXPECT_TRUE(run.Logged(kCompleted));
  const std::vector<uint8_t> bytes = ReadImage(loop);
  ASSERT_EQ(bytes.size(), static_cast<size_t>(LoopDevice::Options{}.size));
  EXPECT_TRUE(AllBytes(bytes, 0, bytes.size(), 0));
}

// The verify pass reads the loop device back through the same direct-I/O handle: the whole
// disk, or both stretches of a quick wipe.
TEST_F(FormatOnLoop, AVerifiedRunReadsBackWhatItWrote) {
  LoopDevice loop;
  ASSERT_TRUE(loop.Ok()) << loop.Error();
  for (const auto& [options, checked] :
       {std::pair{"--verify", std::string("67,108,864")},
        std::pair{"--quick --verify", std::string("11,288,576")}}) {
    FillImage(loop, kPattern);
    const CliRun run = Format(std::string("--yes ") + options + " " + loop.Path());
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_TRUE(run.Logged("正在驗證寫入的資料..."));
    EXPECT_TRUE(run.Logged("驗證通過，全部為零。已檢查位元組: " + checked + "\n")) << run.out;
  }
}

// The backup GPT at the end of the disk goes too: no tool finds a partition table afterwards,
// and what lies between the two wiped stretches is untouched.
TEST_F(FormatOnLoop, AQuickWipeOfAGptDiskLeavesNoPartitionTable) {
  LoopDevice loop;
  ASSERT_TRUE(loop.Ok()) << loop.Error();
  FillImage(loop, kPattern);
  const auto probe = [&] {
    return test::RunCommand("wipefs -n " + loop.Image() + "; blkid -p -o export " + loop.Image());
  };
  ASSERT_EQ(test::RunCommand("echo 'label: gpt' | sfdisk -q " + loop.Image()).status, 0);
  ASSERT_NE(probe().output.find("gpt"), std::string::npos);

  const CliRun run = Format("--quick --yes " + loop.Path());
  EXPECT_EQ(run.status, 0) << run.out;
  const test::CommandResult after = probe();
  EXPECT_EQ(after.output.find("gpt"), std::string::npos) << after.output;
  EXPECT_EQ(after.output.find("PTTYPE"), std::string::npos) << after.output;
  const std::vector<uint8_t> bytes = ReadImage(loop);
  ASSERT_EQ(bytes.size(), static_cast<size_t>(LoopDevice::Options{}.size));
  const size_t tail = bytes.size() - (1 << 20);
  EXPECT_TRUE(AllBytes(bytes, 0, 10'240'000, 0));
  EXPECT_TRUE(AllBytes(bytes, 10'240'000, tail, kPattern));
  EXPECT_TRUE(AllBytes(bytes, tail, bytes.size(), 0));
}

// The zeros are durable before the run says so: the working handle, opened for direct I/O, is
// fsynced after its last write (which empties the device's write cache).
TEST_F(FormatOnLoop, AFullRunFsyncsTheDiskAfterItsLastWrite) {
  if (test::RunCommand("strace -V").status != 0) GTEST_SKIP() << "strace is not installed";
  LoopDevice loop;
  ASSERT_TRUE(loop.Ok()) << loop.Error();
  const std::string trace = loop.Image() + ".trace";
  const test::CommandResult run =
      test::RunCommand("strace -qq -o " + trace +
                       " -e trace=openat,write,fsync,io_uring_setup,io_uring_enter env -u " +
                       "FERROWIPE_DISKS '" CLI_PATH "' format --yes " + loop.Path() + " </dev/null");
  std::ifstream in(trace);
  std::string line;
  std::string fd;    // the working handle: the disk opened for writing with O_DIRECT
  std::string ring;  // where the system takes queues: the writes go through this ring
  std::vector<std::string> calls;
  while (std::getline(in, line)) {
    if (line.find("\"" + loop.Path() + "\"") != std::string::npos &&
        line.find("O_DIRECT") != std::string::npos) {
      fd = line.substr(line.rfind("= ") + 2);
    } else if (!fd.empty() && line.starts_with("io_uring_setup(")) {
      ring = line.substr(line.rfind("= ") + 2);
    } else if (!ring.empty() && line.starts_with("io_uring_enter(" + ring + ",")) {
      calls.push_back("write");
    } else if (!fd.empty() && (line.starts_with("write(" + fd + ",") ||
                               line.starts_with("fsync(" + fd + ")"))) {
      calls.push_back(line.substr(0, line.find('(')) + (line.ends_with("= 0") ? " ok" : ""));
    }
  }
  std::remove(trace.c_str());
  ASSERT_FALSE(fd.empty()) << run.output;
  ASSERT_GE(calls.size(), 2u);
  EXPECT_EQ(calls.back(), "fsync ok");
  EXPECT_EQ(calls[calls.size() - 2], "write");
}

// A mounted file system on the disk itself, or on a partition of it: it is unmounted first.
class MountedVolume : public FormatOnLoop, public ::testing::WithParamInterface<bool> {};

TEST_P(MountedVolume, IsUnmountedAndTheRunProceeds) {
  LoopDevice loop;
  ASSERT_TRUE(loop.Ok()) << loop.Error();
  FillImage(loop, kPattern);
  const bool onPartition = GetParam();
  const std::string volume = onPartition ? loop.AddPartition(1, 2048, 65'536) : loop.Path();
  ASSERT_FALSE(volume.empty()) << loop.Error();
  const std::string folder = loop.MountExt4(volume);
  ASSERT_FALSE(folder.empty()) << loop.Error();

  const CliRun run = Format("--yes " + loop.Path());
  EXPECT_EQ(run.status, 0) << run.out;
  EXPECT_FALSE(IsMounted(folder));
  const std::vector<uint8_t> bytes = ReadImage(loop);
  EXPECT_TRUE(AllBytes(bytes, 0, bytes.size(), 0));
}

INSTANTIATE_TEST_SUITE_P(FormatOnLoop, MountedVolume, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "OnPartition" : "OnDisk"; });

// Only the whole disk as the scan lists it can be chosen: neither a partition of it nor the
// file behind the loop device is a disk, and neither is written.
TEST_F(FormatOnLoop, APartitionOrTheBackingFileIsNeverFormatted) {
  LoopDevice loop;
  ASSERT_TRUE(loop.Ok()) << loop.Error();
  FillImage(loop, kPattern);
  const std::string partition = loop.AddPartition(1, 2048, 100'000);  // big enough to choose
  ASSERT_FALSE(partition.empty()) << loop.Error();
  for (const std::string& target : {partition, loop.Image()}) {
    const CliRun run = Format("--yes " + target);
    EXPECT_EQ(run.status, 2) << target << run.out;
    EXPECT_FALSE(run.Logged(kFormatting)) << target;
  }
  EXPECT_TRUE(AllBytes(ReadImage(loop), 0, static_cast<size_t>(LoopDevice::Options{}.size),
                       kPattern));
}

TEST_F(FormatOnLoop, AFileHeldOpenMakesTheLockFailAndNothingIsWritten) {
  LoopDevice loop;
  ASSERT_TRUE(loop.Ok()) << loop.Error();
  const std::string folder = loop.MountExt4(loop.Path());
  ASSERT_FALSE(folder.empty()) << loop.Error();
  std::ofstream held(folder + "/held.txt");
  held << "still here" << std::flush;

  const CliRun run = Format("--yes " + loop.Path());
  EXPECT_EQ(run.status, 3) << run.out;
  EXPECT_TRUE(run.Logged(kLockFailed));
  EXPECT_FALSE(run.Logged(kFormatting));
  EXPECT_TRUE(IsMounted(folder));
  EXPECT_TRUE(Ext4SuperblockKept(loop));
}

TEST_F(FormatOnLoop, ADiskClaimedElsewhereIsNeverWritten) {
  LoopDevice loop;
  ASSERT_TRUE(loop.Ok()) << loop.Error();
  FillImage(loop, kPattern);
  const int claim = ::open(loop.Path().c_str(), O_RDONLY | O_EXCL | O_CLOEXEC);
  ASSERT_GE(claim, 0);
  const CliRun run = Format("--yes " + loop.Path());
  ::close(claim);
  EXPECT_EQ(run.status, 3) << run.out;
  EXPECT_TRUE(run.Logged(kLockFailed));
  EXPECT_TRUE(AllBytes(ReadImage(loop), 0, static_cast<size_t>(LoopDevice::Options{}.size),
                       kPattern));
}

// Two partitions of 20 MiB with stretches of the pattern around them that no file system covers:
// a refused run must leave those as they were, byte for byte.
class RefusedOnLoop : public FormatOnLoop {
 protected:
  static constexpr int64_t kP1Start = 2048, kP2Start = 45'056, kSectors = 40'960;

  void SetUp() override {
    FormatOnLoop::SetUp();
    if (IsSkipped()) return;
    ASSERT_TRUE(loop.Ok()) << loop.Error();
    FillImage(loop, kPattern);
    p1 = loop.AddPartition(1, kP1Start, kSectors);
    p2 = loop.AddPartition(2, kP2Start, kSectors);
    ASSERT_FALSE(p1.empty() || p2.empty()) << loop.Error();
  }
  void TearDown() override {
    holder.reset();
    if (!swap.empty()) test::RunCommand("swapoff " + swap);
  }
  bool OutsideUntouched() const {
    const std::vector<uint8_t> bytes = ReadImage(loop);
    return bytes.size() == static_cast<size_t>(LoopDevice::Options{}.size) &&
           AllBytes(bytes, 0, kP1Start * 512, kPattern) &&
           AllBytes(bytes, (kP1Start + kSectors) * 512, kP2Start * 512, kPattern) &&
           AllBytes(bytes, (kP2Start + kSectors) * 512, bytes.size(), kPattern);
  }
  // A process (sleep) started with its working folder in `folder`, or in a new mount namespace
  // of its own (a copy of every mount) when `folder` is empty.
  void HoldWith(const std::string& folder) {
    holder.emplace([&] { return folder.empty() || ::chdir(folder.c_str()) == 0; }, folder.empty());
    ASSERT_TRUE(holder->Ok());
  }
  void ExpectRefused(const CliRun& run, const std::string& cause) {
    ExpectCauseAfterLockFailure(run, cause);
    EXPECT_TRUE(OutsideUntouched());
  }

  LoopDevice loop;
  std::string p1, p2, swap;
  std::optional<test::Sleeper> holder;
};

// Someone else's tmpfs on top of a volume: not ours to take away.
TEST_F(RefusedOnLoop, AForeignMountStackedOnAVolume) {
  const std::string folder = loop.MountExt4(p1);
  ASSERT_FALSE(folder.empty()) << loop.Error();
  ASSERT_TRUE(loop.MountOn("-t tmpfs stacked", folder)) << loop.Error();
  std::ofstream(folder + "/f") << "data";
  ExpectRefused(Format("--yes " + loop.Path()), "磁碟區上另有其他檔案系統掛載: " + folder + " (tmpfs)");
  std::ifstream kept(folder + "/f");
  std::string data;
  kept >> data;
  EXPECT_EQ(data, "data");
  EXPECT_EQ(MountsAt(folder), (std::vector<std::string>{"ext4", "tmpfs"}));
}

// The idle first partition stays mounted when the second one is busy or is active swap.
TEST_F(RefusedOnLoop, ABusyVolumeNamesTheMountPointAndTheProcess) {
  const std::string idle = loop.MountExt4(p1);
  const std::string busy = loop.MountExt4(p2);
  ASSERT_FALSE(idle.empty() || busy.empty()) << loop.Error();
  HoldWith(busy);
  ExpectRefused(Format("--yes " + loop.Path()), "磁碟區正在使用中，無法卸載: " + busy +
                                                    "   使用中的處理程序: " +
                                                    std::to_string(holder->Pid()) + " (sleep)");
  EXPECT_TRUE(IsMounted(idle));
  EXPECT_TRUE(IsMounted(busy));
}

TEST_F(RefusedOnLoop, ActiveSwapIsNamed) {
  const std::string idle = loop.MountExt4(p1);
  ASSERT_FALSE(idle.empty()) << loop.Error();
  const test::CommandResult on = test::RunCommand("mkswap -q " + p2 + " && swapon " + p2);
  if (on.status != 0) GTEST_SKIP() << "no swap here: " << on.output;
  swap = p2;
  ExpectRefused(Format("--yes " + loop.Path()), "此裝置上有使用中的置換空間: " + p2);
  EXPECT_TRUE(IsMounted(idle));
}

// A race lost after the unmounts (here: the file system is still mounted in another mount
// namespace, so the disk cannot be claimed): what was unmounted is mounted again, as it was.
TEST_F(RefusedOnLoop, WhatAFailedAttemptUnmountedIsMountedAgain) {
  const std::string folder = loop.MountExt4(p1);
  ASSERT_FALSE(folder.empty()) << loop.Error();
  std::ofstream(folder + "/f") << "data";
  const std::string before = test::RunCommand("findmnt -n -o SOURCE,FSTYPE,OPTIONS " + folder).output;
  HoldWith("");
  const CliRun run = Format("--yes " + loop.Path());
  ExpectRefused(run, "此裝置正由其他程式獨佔使用: " + loop.Path());
  EXPECT_TRUE(run.Logged("已將本次卸載的磁碟區重新掛載: " + folder)) << run.out;
  EXPECT_EQ(test::RunCommand("findmnt -n -o SOURCE,FSTYPE,OPTIONS " + folder).output, before);
  EXPECT_TRUE(std::ifstream(folder + "/f").good());
}

// What a failed claim puts back is each mount as it was: its own flags, its propagation, and
// a bind mount of one of its folders with flags of its own.
TEST_F(RefusedOnLoop, AFailedClaimRestoresFlagsPropagationAndBindMounts) {
  const std::string folder = loop.MountExt4(p1);
  ASSERT_FALSE(folder.empty()) << loop.Error();
  ASSERT_EQ(test::RunCommand("mount -o remount,nosuid,nodev,noexec " + folder +
                             " && mount --make-shared " + folder + " && mkdir " + folder + "/sub")
                .status,
            0);
  const std::string bind = loop.BindMount(folder + "/sub");
  ASSERT_FALSE(bind.empty()) << loop.Error();
  ASSERT_EQ(test::RunCommand("mount -o remount,bind,ro,nosuid " + bind + " && mount --make-private " +
                             bind).status,
            0);
  const auto shown = [](const std::string& at) {
    return test::RunCommand("findmnt -n -o SOURCE,FSTYPE,OPTIONS,PROPAGATION " + at).output;
  };
  const std::string before = shown(folder);
  const std::string bindBefore = shown(bind);
  ASSERT_NE(before.find("nosuid,nodev,noexec"), std::string::npos) << before;
  ASSERT_NE(before.find("shared"), std::string::npos) << before;
  HoldWith("");
  const CliRun run = Format("--yes " + loop.Path());
  ExpectRefused(run, "此裝置正由其他程式獨佔使用: " + loop.Path());
  EXPECT_EQ(shown(folder), before);
  EXPECT_EQ(shown(bind), bindBefore);
}

// The disk's own volume mounted inside another: the inner one comes off first, the run goes on.
TEST_F(RefusedOnLoop, NestedVolumesAreBothUnmountedAndTheRunCompletes) {
  const std::string outer = loop.MountExt4(p1);
  ASSERT_FALSE(outer.empty()) << loop.Error();
  ASSERT_EQ(test::RunCommand("mkfs.ext4 -q -F " + p2 + " && mkdir " + outer + "/sub").status, 0);
  ASSERT_TRUE(loop.MountOn(p2, outer + "/sub")) << loop.Error();
  const CliRun run = Format("--yes " + loop.Path());
  EXPECT_EQ(run.status, 0) << run.out;
  EXPECT_TRUE(run.Logged(kCompleted)) << run.out;
  EXPECT_FALSE(IsMounted(outer + "/sub"));
  EXPECT_FALSE(IsMounted(outer));
  EXPECT_TRUE(AllBytes(ReadImage(loop), 0, static_cast<size_t>(LoopDevice::Options{}.size), 0));
}

// A run started inside a chroot whose root is the chosen disk's file system: the disk carries
// the running system (this process's root) and is refused; the root stays read-write.
TEST_F(FormatOnLoop, TheDiskUnderTheRunsOwnRootIsRefused) {
  // The root holds a copy of the program, which the sanitizer build makes some 70 MB large.
  LoopDevice::Options options;
  options.size = 256ll << 20;
  LoopDevice loop(options);
  ASSERT_TRUE(loop.Ok()) << loop.Error();
  const std::string root = loop.MountExt4(loop.Path());
  ASSERT_FALSE(root.empty()) << loop.Error();
  const std::string inside =
      "set -e; cd " + root + "; mkdir usr etc proc sys dev; ln -s usr/lib lib; "
      "ln -s usr/lib64 lib64; ln -s usr/bin bin; mount --bind /usr usr; mount --bind /etc etc; "
      "mount -t proc proc proc; mount --rbind /sys sys; mount --rbind /dev dev; "
      "cp '" CLI_PATH "' ferrowipe-cli; set +e; "
      "chroot . /ferrowipe-cli format --yes " + loop.Path() + " </dev/null 2>/dev/null";
  const test::CommandResult r =
      test::RunCommand("env -u FERROWIPE_DISKS unshare -m sh -c \"" + inside + "\"");
  ExpectCauseAfterLockFailure(CliRun{r.status, r.output}, "此裝置上有執行中的系統，不能格式化: /");
  EXPECT_EQ(test::RunCommand("findmnt -n -o FS-OPTIONS " + root).output.substr(0, 2), "rw");
  EXPECT_TRUE(std::ofstream(root + "/still-writable").good());
  EXPECT_TRUE(Ext4SuperblockKept(loop));
}

// A second loop device over the same file would write the same bytes behind the run's back.
TEST_F(FormatOnLoop, AnotherLoopDeviceOverTheSameFileIsAHolder) {
  LoopDevice loop;
  ASSERT_TRUE(loop.Ok()) << loop.Error();
  FillImage(loop, kPattern);
  const test::CommandResult second = test::RunCommand("losetup -f --show " + loop.Image());
  ASSERT_EQ(second.status, 0) << second.output;
  const std::string other = test::FirstLine(second.output);
  const CliRun run = Format("--yes " + loop.Path());
  test::RunCommand("losetup -d " + other);
  ExpectCauseAfterLockFailure(run, "此裝置正由其他裝置使用中: " + other.substr(other.rfind('/') + 1));
  EXPECT_TRUE(AllBytes(ReadImage(loop), 0, static_cast<size_t>(LoopDevice::Options{}.size),
                       kPattern));
}

// After the run the partition table is read again; a program holding a partition open keeps
// the kernel from it, and the log names both.
TEST_F(FormatOnLoop, ARereadRefusedAfterTheRunNamesWhatHoldsThePartition) {
  LoopDevice::Options options;
  options.partitionScan = true;
  LoopDevice loop(options);
  ASSERT_TRUE(loop.Ok()) << loop.Error();
  const std::string partition = loop.AddPartition(1, 2048, 40'960);
  ASSERT_FALSE(partition.empty()) << loop.Error();
  test::Sleeper holder([&] {
    const int fd = ::open(partition.c_str(), O_RDONLY);
    return fd >= 0 && ::dup2(fd, STDIN_FILENO) >= 0;
  });
  ASSERT_TRUE(holder.Ok());
  const CliRun run = Format("--yes " + loop.Path());
  holder.Stop();
  EXPECT_EQ(run.status, 0) << run.out;
  EXPECT_TRUE(run.Logged("無法重新讀取分割表，系統仍在使用舊的分割區: " + partition +
                         "   使用中的處理程序: " + std::to_string(holder.Pid()) + " (sleep)"))
      << run.out;
}

struct SignalledRun {
  bool signalled = false;
  int status = -1;  // the wait status
  std::string log;
};

// ferrowipe-cli formats `loop` as a child; once it logs that it is formatting, `signal` is
// sent to it, or (signal 0) its standard output is closed.
SignalledRun RunAndSignal(const LoopDevice& loop, int signal, const std::string& report) {
  SignalledRun run;
  int out[2];
  if (::pipe(out) != 0) return run;
  const pid_t child = ::fork();
  if (child < 0) return run;
  if (child == 0) {
    ::dup2(out[1], STDOUT_FILENO);
    ::close(out[0]);
    ::close(out[1]);
    ::unsetenv("FERROWIPE_DISKS");
    ::execl(CLI_PATH, CLI_PATH, "format", "--yes", "--report", report.c_str(), loop.Path().c_str(),
            nullptr);
    ::_exit(127);
  }
  ::close(out[1]);
  char chunk[4096];
  for (ssize_t n = 0; out[0] >= 0 && (n = ::read(out[0], chunk, sizeof chunk)) > 0;) {
    run.log.append(chunk, static_cast<size_t>(n));
    if (!run.signalled && run.log.find(kFormatting) != std::string::npos) {
      run.signalled = true;
      if (signal == 0) {
        ::close(out[0]);
        out[0] = -1;
      } else {
        ::kill(child, signal);
      }
    }
  }
  if (out[0] >= 0) ::close(out[0]);
  ::waitpid(child, &run.status, 0);
  return run;
}

std::string ReadText(const std::string& path) {
  std::ifstream in(path);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class StopSignal : public FormatOnLoop, public ::testing::WithParamInterface<int> {};

// SIGINT, SIGTERM and SIGHUP are the Stop button: the run ends with its cancel line and exit
// status 4, and its report is written, saying so.
TEST_P(StopSignal, CancelsTheRunAndTheReportIsWritten) {
  LoopDevice::Options options;
  options.size = int64_t{8} << 30;  // sparse; far more than is written before the signal lands
  LoopDevice loop(options);
  ASSERT_TRUE(loop.Ok()) << loop.Error();
  const std::string report = loop.Image() + ".json";
  const SignalledRun run = RunAndSignal(loop, GetParam(), report);
  const std::string written = ReadText(report);
  ::unlink(report.c_str());
  ASSERT_TRUE(run.signalled) << run.log;
  ASSERT_TRUE(WIFEXITED(run.status)) << run.log;
  EXPECT_EQ(WEXITSTATUS(run.status), 4) << run.log;
  EXPECT_NE(run.log.find("操作取消在偏移"), std::string::npos) << run.log;
  EXPECT_NE(run.log.find("記得建立新的分割區。"), std::string::npos) << run.log;
  EXPECT_NE(written.find("\"cancelled\""), std::string::npos) << written;
}

INSTANTIATE_TEST_SUITE_P(FormatOnLoop, StopSignal, ::testing::Values(SIGINT, SIGTERM, SIGHUP),
                         [](const auto& info) {
                           return std::string(info.param == SIGINT    ? "Interrupt"
                                              : info.param == SIGTERM ? "Terminate"
                                                                      : "Hangup");
                         });

// A closed standard output ends nothing: the disk is still erased whole and its report
// written; the failed log is an ordinary error.
TEST_F(FormatOnLoop, AClosedOutputNeitherKillsTheRunNorLosesTheReport) {
  LoopDevice::Options options;
  options.size = int64_t{128} << 20;
  LoopDevice loop(options);
  ASSERT_TRUE(loop.Ok()) << loop.Error();
  FillImage(loop, kPattern);
  const std::string report = loop.Image() + ".json";
  const SignalledRun run = RunAndSignal(loop, 0, report);
  const std::string written = ReadText(report);
  ::unlink(report.c_str());
  ASSERT_TRUE(run.signalled) << run.log;
  ASSERT_TRUE(WIFEXITED(run.status)) << "ended by signal " << WTERMSIG(run.status);
  EXPECT_TRUE(WEXITSTATUS(run.status) == 0 || WEXITSTATUS(run.status) == 1) << WEXITSTATUS(run.status);
  EXPECT_NE(written.find("\"completed\""), std::string::npos) << written;
  const std::vector<uint8_t> bytes = ReadImage(loop);
  EXPECT_TRUE(AllBytes(bytes, 0, bytes.size(), 0));
}

}  // namespace
}  // namespace fw
