// A disk whose bytes another loop device reads and writes (a loop device over its node, over a
// hard link of its file, over its file seen through a bind-mounted folder) is never formatted,
// and the other device's mounted file system stays as it was. Needs root and loop devices;
// skips visibly otherwise.
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <string>
#include <vector>

#include "loop_device.hpp"

namespace fw {
namespace {

using test::LoopDevice;

const std::string kLockFailed = "無法鎖住裝置。請確定您沒有在此裝置上開啟檔案後再試一次。";
const std::string kHeldBy = "此裝置正由其他裝置使用中: ";

std::string Contents(const std::string& path) {
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  std::string bytes(static_cast<size_t>(std::max<std::streamoff>(in.tellg(), 0)), '\0');
  in.seekg(0);
  in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return bytes;
}

// A second loop device over `backing` with an ext4 file system on it, mounted read-only (so
// that nothing but a format could change its bytes); taken down before the disk under it.
class UpperLoop {
 public:
  explicit UpperLoop(const std::string& backing) {
    const test::CommandResult r = test::RunCommand("losetup -f --show " + backing);
    if (r.status != 0) {
      m_error = "losetup failed: " + test::FirstLine(r.output);
      return;
    }
    m_path = test::FirstLine(r.output);
    char dir[] = "/tmp/ferrowipe-upper-XXXXXX";
    if (::mkdtemp(dir) == nullptr) return;
    const test::CommandResult mounted =
        test::RunCommand("mkfs.ext4 -q -F " + m_path + " && mount -o ro " + m_path + " " + dir);
    m_folder = dir;
    if (mounted.status != 0) m_error = "mkfs/mount failed: " + test::FirstLine(mounted.output);
  }
  ~UpperLoop() {
    if (!m_folder.empty()) {
      ::umount2(m_folder.c_str(), 0);
      ::rmdir(m_folder.c_str());
    }
    if (!m_path.empty()) test::RunCommand("losetup -d " + m_path);
  }
  UpperLoop(const UpperLoop&) = delete;
  UpperLoop& operator=(const UpperLoop&) = delete;

  bool Ok() const { return m_error.empty() && !m_path.empty(); }
  const std::string& Error() const { return m_error; }
  const std::string& Path() const { return m_path; }
  const std::string& Folder() const { return m_folder; }
  std::string Name() const { return m_path.substr(m_path.rfind('/') + 1); }

 private:
  std::string m_path;
  std::string m_folder;
  std::string m_error;
};

// A hard link the test made, gone with the test whatever its outcome.
struct MadeLink {
  std::string path;
  ~MadeLink() {
    if (!path.empty()) ::unlink(path.c_str());
  }
};

enum class Reach { Node, HardLink, BindMountedFolder };

struct Case {
  const char* name;
  Reach reach;
  bool formatUpper;  // the loop device on top is the one chosen
};

class SharedBytesOnLoop : public ::testing::TestWithParam<Case> {};

TEST_P(SharedBytesOnLoop, TheFormatIsRefusedAndNothingChanges) {
  if (const std::string reason = LoopDevice::SkipReason(); !reason.empty()) GTEST_SKIP() << reason;
  const Case& c = GetParam();
  LoopDevice disk;
  ASSERT_TRUE(disk.Ok()) << disk.Error();
  std::string backing = disk.Path();
  MadeLink link;
  if (c.reach == Reach::HardLink) {
    ASSERT_EQ(::link(disk.Image().c_str(), (disk.Image() + "-link").c_str()), 0);
    link.path = backing = disk.Image() + "-link";
  } else if (c.reach == Reach::BindMountedFolder) {
    const std::string folder = disk.BindMount("/tmp");
    ASSERT_FALSE(folder.empty()) << disk.Error();
    backing = folder + disk.Image().substr(4);
  }
  UpperLoop upper(backing);
  ASSERT_TRUE(upper.Ok()) << upper.Error();
  const std::string before = Contents(disk.Image());
  const std::string chosen = c.formatUpper ? upper.Path() : disk.Path();
  const std::string holder = c.formatUpper ? disk.Name() : upper.Name();
  const test::CommandResult run = test::RunCommand(
      "(env -u FERROWIPE_DISKS '" CLI_PATH "' format --yes " + chosen + " </dev/null 2>/dev/null)");
  EXPECT_EQ(run.status, 3) << run.output;
  const size_t at = run.output.find(kLockFailed);
  ASSERT_NE(at, std::string::npos) << run.output;
  EXPECT_NE(run.output.find(kHeldBy + holder, at), std::string::npos) << run.output;
  EXPECT_TRUE(test::IsMounted(upper.Folder()));
  EXPECT_TRUE(Contents(disk.Image()) == before) << "the disk's bytes changed";
}

INSTANTIATE_TEST_SUITE_P(
    FormatOnLoop, SharedBytesOnLoop,
    ::testing::Values(Case{"LoopOverTheDisksNode", Reach::Node, false},
                      Case{"TheChosenLoopStandsOnAnotherDisk", Reach::Node, true},
                      Case{"LoopOverAHardLinkOfItsFile", Reach::HardLink, false},
                      Case{"LoopOverItsFileThroughABindMountedFolder", Reach::BindMountedFolder,
                           false}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace fw
