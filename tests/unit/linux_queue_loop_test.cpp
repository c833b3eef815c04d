// The Linux backend's queued transfers on loop devices the tests make themselves: io_uring where
// the system allows it, one transfer at a time where a seccomp profile refuses it, and the two
// answering alike. Without root or loop devices the tests skip, saying why.
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

#include "device/backends.hpp"
#include "format/zero_fill.hpp"
#include "format_test_support.hpp"
#include "loop_device.hpp"

namespace fw {
namespace {

using test::LoopDevice;

constexpr int64_t MiB = 1 << 20;
constexpr int64_t kDiskBytes = 64 * MiB;

// Refuses io_uring_setup to the calling thread alone, as container profiles do to a whole
// program; false when the filter cannot be installed.
bool RefuseIoUringOnThisThread() {
  sock_filter filter[] = {
      BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_io_uring_setup, 0, 1),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | (EPERM & SECCOMP_RET_DATA)),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
  };
  sock_fprog program{static_cast<unsigned short>(std::size(filter)), filter};
  return ::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 &&
         ::prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) == 0;
}

// Runs `body` on a thread of its own, with io_uring refused there when asked.
void OnThread(bool refuseIoUring, const std::function<void()>& body) {
  std::thread worker([&] {
    if (refuseIoUring && !RefuseIoUringOnThisThread()) {
      ADD_FAILURE() << "no seccomp filter: " << std::strerror(errno);
      return;
    }
    body();
  });
  worker.join();
}

struct Aligned {
  explicit Aligned(int64_t size) : bytes(static_cast<uint8_t*>(std::aligned_alloc(4096, size))) {}
  ~Aligned() { std::free(bytes); }
  Aligned(const Aligned&) = delete;
  Aligned& operator=(const Aligned&) = delete;
  uint8_t* bytes;
};

// Sends every transfer, never more than the queue's depth at once, and collects the ends by tag.
std::vector<TransferDone> RunAll(IoQueue& queue, std::vector<Transfer> transfers) {
  std::vector<TransferDone> ends(transfers.size());
  size_t sent = 0;
  size_t out = 0;
  while (sent < transfers.size() || out > 0) {
    if (sent < transfers.size() && static_cast<int>(out) < queue.Depth()) {
      transfers[sent].tag = sent;
      queue.Submit(transfers[sent++]);
      ++out;
      continue;
    }
    const std::optional<TransferDone> done = queue.Reap();
    if (!done) break;
    --out;
    ends.at(done->tag) = *done;
  }
  return ends;
}

class LinuxQueueOnLoop : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override {
    const std::string why = LoopDevice::SkipReason();
    if (!why.empty()) GTEST_SKIP() << why;
    LoopDevice::Options options;
    options.size = kDiskBytes;
    loop = std::make_unique<LoopDevice>(options);
    if (!loop->Ok()) GTEST_SKIP() << "no loop device: " << loop->Error();
  }
  bool Refused() const { return GetParam(); }
  std::unique_ptr<LoopDevice> loop;
};

TEST_P(LinuxQueueOnLoop, TransfersInFlightLandWhereSentAndTheEndOfTheDiskAnswersAsOneAtATime) {
  OnThread(Refused(), [&] {
    std::unique_ptr<DeviceIo> io = CreateLinuxDeviceIo();
    const Handle h = io->Open(loop->Path(), OpenMode::Working);
    ASSERT_NE(h, kInvalidHandle);
    std::unique_ptr<IoQueue> queue = io->OpenQueue(h, 8);
    EXPECT_EQ(queue->Depth(), Refused() ? 1 : 8);

    // Eight 1 MiB parts of one buffer, each its own byte, written out of disk order.
    Aligned data(8 * MiB);
    std::vector<Transfer> writes;
    for (int part = 0; part < 8; ++part) {
      std::memset(data.bytes + part * MiB, 0x10 + part, MiB);
      writes.push_back(Transfer{0, TransferKind::Write, (7 - part) * 3 * MiB,
                                data.bytes + part * MiB, MiB});
    }
    for (const TransferDone& done : RunAll(*queue, writes)) EXPECT_EQ(done.bytes, MiB);

    Aligned back(8 * MiB);
    std::memset(back.bytes, 0xEE, 8 * MiB);
    std::vector<Transfer> reads;
    for (int part = 0; part < 8; ++part) {
      reads.push_back(Transfer{0, TransferKind::Read, (7 - part) * 3 * MiB,
                               back.bytes + part * MiB, MiB});
    }
    // Across the end of the disk a read gives what is there; at the end, nothing; a write at
    // the end has no room.
    Aligned end(2 * MiB);
    reads.push_back(Transfer{0, TransferKind::Read, kDiskBytes - 4096, end.bytes, MiB});
    reads.push_back(Transfer{0, TransferKind::Read, kDiskBytes, end.bytes + MiB, MiB});
    const std::vector<TransferDone> ends = RunAll(*queue, reads);
    for (int part = 0; part < 8; ++part) {
      EXPECT_EQ(ends[part].bytes, MiB);
      EXPECT_EQ(back.bytes[part * MiB], 0x10 + part);
      EXPECT_EQ(back.bytes[part * MiB + MiB - 1], 0x10 + part);
    }
    EXPECT_EQ(ends[8].bytes, 4096);
    EXPECT_EQ(ends[9].bytes, 0);
    const std::vector<TransferDone> full =
        RunAll(*queue, {Transfer{0, TransferKind::Write, kDiskBytes, data.bytes, 4096}});
    EXPECT_EQ(full[0].bytes, -1);
    EXPECT_EQ(full[0].error, win::ERROR_DISK_FULL);
    queue.reset();
    io->Close(h);
  });
}

TEST_P(LinuxQueueOnLoop, AZeroFillWithVerifyLeavesOnlyZeros) {
  {
    std::ofstream image(loop->Image(), std::ios::binary | std::ios::in | std::ios::out);
    const std::vector<char> old(kDiskBytes, '\x5A');
    image.write(old.data(), static_cast<std::streamsize>(old.size()));
  }
  OnThread(Refused(), [&] {
    std::unique_ptr<DeviceIo> io = CreateLinuxDeviceIo();
    const Handle h = io->Open(loop->Path(), OpenMode::Working);
    ASSERT_NE(h, kInvalidHandle);
    test::FormatLogCapture log;
    test::ManualClock clock;
    test::RecordingView view;
    view.onPump = [&](int) { clock.now += 1; };
    TIdentifyDeviceData device;
    device.LBA = kDiskBytes / 512;
    device.SectorSize = 512;
    const ZeroFillResult r = ZeroFillDevice(*io, h, device, false, log.session, view, clock, true);
    EXPECT_EQ(r.outcome, ZeroFillOutcome::Completed);
    EXPECT_EQ(r.bytesWritten, kDiskBytes);
    EXPECT_EQ(r.verify.outcome, VerifyOutcome::Passed);
    EXPECT_EQ(r.verify.bytesChecked, kDiskBytes);
    io->Close(h);
  });
  std::ifstream image(loop->Image(), std::ios::binary);
  std::vector<char> bytes(kDiskBytes);
  image.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  EXPECT_TRUE(std::all_of(bytes.begin(), bytes.end(), [](char b) { return b == 0; }));
}

INSTANTIATE_TEST_SUITE_P(IoUring, LinuxQueueOnLoop, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Refused" : "Allowed"; });

}  // namespace
}  // namespace fw
