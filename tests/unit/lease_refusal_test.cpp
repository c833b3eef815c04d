// One table of refusals run on both backends, a simulated disk and a loop device: the same
// line after the lock-failure line, every volume still mounted, every byte as it was. The loop
// rows need root and loop devices, and skip visibly otherwise.
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "device/backends.hpp"
#include "format/format_control.hpp"
#include "format_test_support.hpp"
#include "loop_device.hpp"
#include "select/scan.hpp"
#include "sleeper.hpp"
#include "temp_folder.hpp"

namespace fw {
namespace {

using test::LoopDevice;

constexpr int64_t kDiskBytes = 64ll << 20;
constexpr size_t kPartStart = 2048;     // sectors
constexpr size_t kPartSectors = 61440;  // 30 MiB
const std::string kLockFailed = "無法鎖住裝置。請確定您沒有在此裝置上開啟檔案後再試一次。";

enum class Backend { Image, Loop };
enum class Refusal { BusyVolume, GrownAfterScan };

struct RefusalCase {
  const char* name;
  Backend backend;
  Refusal refusal;
  std::string cause;  // how the line after the lock-failure line begins
};

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  std::string bytes(static_cast<size_t>(std::max<std::streamoff>(in.tellg(), 0)), '\0');
  in.seekg(0);
  in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return bytes;
}

void WritePattern(const std::string& path) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  const std::string mib(1 << 20, '\xAB');
  for (int64_t i = 0; i < kDiskBytes; i += mib.size()) out << mib;
}

// The disk under test with its one volume, on either backend.
class Disk {
 public:
  Disk(Backend backend, bool busy) : m_backend(backend) {
    if (backend == Backend::Image) {
      WritePattern(m_folder / "disk.img");
      m_folder.Write("disk.json", std::string(R"({"mounts": [{"mount_point": "/media/fw", "busy": )") +
                                      (busy ? "true" : "false") + "}]}");
      m_path = m_folder / "disk.img";
      m_mountPoint = "/media/fw";
      m_io = CreateImageDeviceIo(m_folder.Path());
      return;
    }
    m_loop.emplace();
    if (!m_loop->Ok()) return;
    WritePattern(m_loop->Image());
    // The volume is a partition: a mounted file system changes its own blocks now and then,
    // the rest of the disk only a format can change.
    const std::string partition = m_loop->AddPartition(1, kPartStart, kPartSectors);
    if (partition.empty()) return;
    m_mountPoint = m_loop->MountExt4(partition);
    if (m_mountPoint.empty()) return;
    if (busy) {
      m_holder.emplace([this] { return ::chdir(m_mountPoint.c_str()) == 0; });
      if (!m_holder->Ok()) return;
    }
    m_path = m_loop->Path();
    m_io = CreateLinuxDeviceIo();
  }

  bool Ok() const { return m_io != nullptr; }
  std::string Error() const { return m_loop ? m_loop->Error() : "no simulated disk"; }
  DeviceIo& Io() { return *m_io; }
  const std::string& Path() const { return m_path; }
  std::string Bytes() const {
    if (m_backend == Backend::Image) return ReadFile(m_path);
    std::string bytes = ReadFile(m_loop->Image());
    if (bytes.size() >= (kPartStart + kPartSectors) * 512) {
      bytes.erase(kPartStart * 512, kPartSectors * 512);
    }
    return bytes;
  }

  // The disk grows by a MiB, as a grown virtual disk or a resized loop device does.
  bool Grow() {
    const std::string image = m_backend == Backend::Image ? m_path : m_loop->Image();
    if (::truncate(image.c_str(), kDiskBytes + (1 << 20)) != 0) return false;
    return m_backend == Backend::Image || test::RunCommand("losetup -c " + m_path).status == 0;
  }

  bool VolumeMounted() {
    if (m_backend == Backend::Loop) return test::IsMounted(m_mountPoint);
    const std::vector<std::string> drives = m_io->LogicalDrives();
    return std::find(drives.begin(), drives.end(), m_mountPoint) != drives.end();
  }

 private:
  Backend m_backend;
  test::TempFolder m_folder;
  std::optional<LoopDevice> m_loop;
  std::optional<test::Sleeper> m_holder;
  std::string m_path;
  std::string m_mountPoint;
  std::unique_ptr<DeviceIo> m_io;
};

class RefusalsOnBothBackends : public ::testing::TestWithParam<RefusalCase> {};

TEST_P(RefusalsOnBothBackends, ChangeNothing) {
  const RefusalCase& c = GetParam();
  if (c.backend == Backend::Loop) {
    if (const std::string reason = LoopDevice::SkipReason(); !reason.empty()) GTEST_SKIP() << reason;
  }
  Disk disk(c.backend, c.refusal == Refusal::BusyVolume);
  ASSERT_TRUE(disk.Ok()) << disk.Error();
  ScanPhysicalDrives(disk.Io());
  int64_t row = 0;
  for (int64_t r = 1; r <= DeviceCount; ++r) {
    if (DeviceTable[r].DevicePath == disk.Path()) row = r;
  }
  ASSERT_GT(row, 0) << "the scan did not find " << disk.Path();
  // Between the scan and the claim: the user chose the disk by the size the list showed.
  if (c.refusal == Refusal::GrownAfterScan) {
    ASSERT_TRUE(disk.Grow());
  }
  const std::string before = disk.Bytes();

  const Handle working = disk.Io().Open(disk.Path(), OpenMode::Working);
  ASSERT_NE(working, kInvalidHandle);
  test::FormatLogCapture log;
  test::ManualClock clock;
  test::RecordingView view;
  const FormatAttemptResult result =
      RunFormatAttempt(disk.Io(), working, DeviceTable, row, "the disk", false, log.session,
                       view, clock);
  disk.Io().Close(working);

  EXPECT_FALSE(result.locked);
  const std::vector<std::string> lines = log.messages();
  const auto failed = std::find_if(lines.begin(), lines.end(), [](const std::string& line) {
    return line.starts_with(kLockFailed);
  });
  ASSERT_NE(failed, lines.end());
  ASSERT_NE(failed + 1, lines.end());
  EXPECT_TRUE(failed[1].starts_with(c.cause)) << failed[1];
  EXPECT_TRUE(disk.VolumeMounted());
  EXPECT_TRUE(disk.Bytes() == before) << "a refusal writes nothing";
}

const std::string kBusy = "磁碟區正在使用中，無法卸載: ";
const std::string kGrown =
    "掃描後裝置容量已改變，不能格式化: 67,108,864 -> 68,157,440 位元組";

INSTANTIATE_TEST_SUITE_P(
    Lease, RefusalsOnBothBackends,
    ::testing::Values(RefusalCase{"BusyVolumeOnASimulatedDisk", Backend::Image, Refusal::BusyVolume, kBusy},
                      RefusalCase{"BusyVolumeOnALoopDevice", Backend::Loop, Refusal::BusyVolume, kBusy},
                      RefusalCase{"GrownSimulatedDisk", Backend::Image, Refusal::GrownAfterScan, kGrown},
                      RefusalCase{"GrownLoopDevice", Backend::Loop, Refusal::GrownAfterScan, kGrown}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace fw
