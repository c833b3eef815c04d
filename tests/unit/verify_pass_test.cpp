// The verify pass over the scriptable fake disk: what it reads, what it names, how it ends.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "fake_device.hpp"
#include "format/format_texts.hpp"
#include "format/zero_fill.hpp"
#include "format_test_support.hpp"
#include "report/text_format.hpp"

namespace fw {
namespace {

using test::FakeDevice;

constexpr int64_t MiB = 1 << 20;
const std::string kDisk = "/dev/sdx";

class VerifyPass : public ::testing::Test {
 protected:
  void SetUp() override {
    log.session.ClearStop();
    io.At(kDisk);
    handle = io.Open(kDisk, OpenMode::Working);
    view.onPump = [this](int) { clock.now += 10; };
  }
  void TearDown() override { log.session.ClearStop(); }

  ZeroFillResult Run(int64_t bytes, bool quick = false, bool verify = true) {
    TIdentifyDeviceData device;
    device.LBA = bytes / 512;
    device.SectorSize = 512;
    io.At(kDisk).size = bytes;
    return ZeroFillDevice(io, handle, device, quick, log.session, view, clock, verify);
  }

  // The byte ranges read back, merged where they touch.
  std::vector<WipeRegion> ReadRanges() const {
    std::vector<WipeRegion> ranges;
    for (const auto& r : io.reads) {
      if (!ranges.empty() && ranges.back().offset + ranges.back().length == r.offset) {
        ranges.back().length += r.count;
      } else {
        ranges.push_back(WipeRegion{r.offset, r.count});
      }
    }
    return ranges;
  }

  size_t CountLines(std::string_view start) const {
    const auto lines = log.messages();
    return static_cast<size_t>(std::count_if(lines.begin(), lines.end(), [&](const auto& l) {
      return l.starts_with(start);
    }));
  }

  FakeDevice io;
  Handle handle = kInvalidHandle;
  test::ManualClock clock;
  test::RecordingView view;
  test::FormatLogCapture log;
};

TEST_F(VerifyPass, ReadsBackExactlyWhatTheRunWroteAndPasses) {
  struct Case {
    int64_t bytes;
    bool quick;
    std::vector<WipeRegion> regions;
  };
  const int64_t big = 100 * MiB;
  for (const Case& c : {Case{big, false, {{0, big}}},
                        Case{big, true, {{0, kQuickWipeBytes}, {big - MiB, MiB}}},
                        Case{kQuickWipeBytes + MiB - 512, true, {{0, kQuickWipeBytes + MiB - 512}}}}) {
    io.reads.clear();
    log.clear();
    const ZeroFillResult result = Run(c.bytes, c.quick);
    ASSERT_EQ(result.outcome, ZeroFillOutcome::Completed);
    EXPECT_EQ(result.regions, c.regions);
    EXPECT_EQ(ReadRanges(), c.regions) << c.bytes;
    for (const auto& r : io.reads) EXPECT_LE(r.count, kZeroBufferBytes);
    int64_t total = 0;
    for (const WipeRegion& r : c.regions) total += r.length;
    EXPECT_EQ(result.verify.outcome, VerifyOutcome::Passed);
    EXPECT_EQ(result.verify.bytesChecked, total);
    const auto lines = log.messages();
    const auto start = std::find(lines.begin(), lines.end(), format_text::kVerifying);
    ASSERT_NE(start, lines.end());
    EXPECT_EQ(*(start - 1), format_text::kFormatCompleted);  // only after the write pass
    EXPECT_EQ(lines.back(), std::string(format_text::kVerifyPassed) + GroupThousands(total));
    EXPECT_EQ(view.progress.back(), 100);
  }
}

TEST_F(VerifyPass, NotAskedOrAfterAStoppedWriteNothingIsRead) {
  Run(8 * MiB, false, false);
  EXPECT_TRUE(io.reads.empty());
  EXPECT_EQ(CountLines(format_text::kVerifying), 0u);
  io.afterWrite = [this](const FakeDevice::WriteRecord&) { log.session.RequestStop(); };
  const ZeroFillResult stopped = Run(8 * MiB);
  EXPECT_EQ(stopped.outcome, ZeroFillOutcome::Cancelled);
  EXPECT_EQ(stopped.verify.outcome, VerifyOutcome::NotRun);
  EXPECT_TRUE(io.reads.empty());
}

// Lost writes leave old data behind: each stretch is named once with its offset and LBA, a
// stretch running over a block boundary included.
TEST_F(VerifyPass, DataThatIsNotZeroIsNamedByOffsetAndLba) {
  const std::vector<WipeRegion> planted{{4096, 512}, {32 * MiB - 1024, 2048}, {40 * MiB, 1}};
  io.readContent = [&](int64_t offset, uint8_t* bytes, int64_t count) {
    for (const WipeRegion& p : planted) {
      for (int64_t at = std::max(p.offset, offset); at < std::min(p.offset + p.length, offset + count);
           ++at) {
        bytes[at - offset] = 0x5A;
      }
    }
  };
  const ZeroFillResult result = Run(64 * MiB);
  EXPECT_EQ(result.verify.outcome, VerifyOutcome::Failed);
  EXPECT_EQ(result.verify.nonZeroRegions, 3);
  EXPECT_EQ(result.verify.unreadableRegions, 0);
  ASSERT_EQ(result.verify.problems.size(), 3u);
  EXPECT_EQ(result.verify.problems[1].offset, 32 * MiB - 1024);
  EXPECT_EQ(result.verify.problems[1].length, 2048);
  EXPECT_EQ(result.verify.problems[2].length, 512);  // whole sectors
  const auto lines = log.messages();
  EXPECT_NE(std::find(lines.begin(), lines.end(),
                      std::string(format_text::kVerifyNotZeroAt) + "33,553,408" +
                          std::string(format_text::kLbaLabel) + "65,534"),
            lines.end());
  EXPECT_EQ(CountLines(format_text::kVerifyNotZeroAt), 3u);
  EXPECT_EQ(lines.back(), std::string(format_text::kVerifyFailed) + "67,108,864" +
                              std::string(format_text::kVerifyNotZeroCount) + "3" +
                              std::string(format_text::kVerifyUnreadableCount) + "0");
}

TEST_F(VerifyPass, UnreadableBlocksAreNamedWithTheirCodeAndAGoneDeviceEndsThePass) {
  io.readError = [](int64_t offset, int64_t) {
    return offset == 32 * MiB ? win::ERROR_IO_DEVICE : 0u;
  };
  ZeroFillResult result = Run(96 * MiB);
  EXPECT_EQ(result.verify.outcome, VerifyOutcome::Failed);
  EXPECT_EQ(result.verify.unreadableRegions, 1);
  EXPECT_EQ(result.verify.bytesChecked, 80 * MiB);  // all but the 16 MiB block
  const auto lines = log.messages();
  EXPECT_NE(std::find(lines.begin(), lines.end(),
                      std::string(format_text::kVerifyReadErrorAt) + "33,554,432" +
                          std::string(format_text::kLbaLabel) + "65,536:   1117 - Device I/O error"),
            lines.end());

  io.readError = [](int64_t offset, int64_t) {
    return offset == 32 * MiB ? win::ERROR_DEV_NOT_EXIST : 0u;
  };
  io.reads.clear();
  result = Run(96 * MiB);
  EXPECT_EQ(result.verify.outcome, VerifyOutcome::Aborted);
  EXPECT_EQ(io.reads.size(), 3u) << "nothing is read after the device has gone";
  EXPECT_EQ(result.verify.position, 32 * MiB);
  EXPECT_EQ(CountLines(format_text::kVerifyAbortedAt), 1u);
}

TEST_F(VerifyPass, AfterAHundredNamedRegionsOneLineCountsThemAll) {
  io.readContent = [](int64_t, uint8_t* bytes, int64_t count) {
    for (int64_t at = 0; at < count; at += 1024) bytes[at] = 1;  // every other sector
  };
  const ZeroFillResult result = Run(MiB);
  EXPECT_EQ(result.verify.nonZeroRegions, 1024);
  EXPECT_EQ(result.verify.problems.size(), static_cast<size_t>(kListedVerifyProblems));
  EXPECT_EQ(CountLines(format_text::kVerifyNotZeroAt), 100u);
  EXPECT_EQ(CountLines(std::string(format_text::kVerifyMoreProblems) + "1024" +
                       std::string(format_text::kVerifyListedOnly)),
            1u);
}

// Stop is clicked in the second pump of the verify pass: the block in hand is checked, nothing
// after it.
TEST_F(VerifyPass, StopDuringTheVerifyEndsItCancelledAndClearsTheFlag) {
  int verifyPumps = 0;
  view.onPump = [&](int) {
    clock.now += 10;
    const auto lines = log.messages();
    if (std::find(lines.begin(), lines.end(), format_text::kVerifying) == lines.end()) return;
    if (++verifyPumps == 2) log.session.RequestStop();
  };
  const ZeroFillResult result = Run(128 * MiB);
  EXPECT_EQ(result.outcome, ZeroFillOutcome::Completed);
  EXPECT_EQ(result.verify.outcome, VerifyOutcome::Cancelled);
  EXPECT_EQ(result.verify.bytesChecked, 32 * MiB);
  EXPECT_EQ(result.verify.position, 32 * MiB);
  EXPECT_LE(io.reads.size(), 3u) << "at most one block is read ahead";
  EXPECT_FALSE(log.session.StopRequested());
  EXPECT_EQ(CountLines(std::string(format_text::kVerifyCancelledAt) + "33,554,432"), 1u);
  EXPECT_EQ(CountLines(format_text::kVerifyUnfinished), 1u);
}

}  // namespace
}  // namespace fw
