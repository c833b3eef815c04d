#include "format/zero_fill.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "fake_device.hpp"
#include "format_test_support.hpp"

namespace fw {
namespace {

using test::FakeDevice;
using test::FormatLogCapture;
using test::ManualClock;
using test::RecordingView;

constexpr int64_t KiB = 1024;
constexpr int64_t MiB = 1024 * KiB;
const std::string kDisk = "/dev/sdx";

// One engine run over the fake disk; the clock moves `msPerPass(pass)` inside every pass's
// pump, so ten passes take exactly the sum of ten of those.
class ZeroFill : public ::testing::Test {
 protected:
  void SetUp() override {
    log.session.ClearStop();
    io.At(kDisk);
    handle = io.Open(kDisk, OpenMode::Working);
  }
  void TearDown() override { log.session.ClearStop(); }

  ZeroFillResult Run(int64_t lba, int64_t sectorSize = 512, bool quick = false) {
    TIdentifyDeviceData device;
    device.LBA = lba;
    device.SectorSize = sectorSize;
    const auto userPump = view.onPump;
    view.onPump = [&, userPump](int pump) {
      if (pump > 1) clock.now += msPerPass(pump - 1);
      if (userPump) userPump(pump);
    };
    return ZeroFillDevice(io, handle, device, quick, log.session, view, clock);
  }

  std::vector<int64_t> WriteSizes() const {
    std::vector<int64_t> sizes;
    for (const auto& w : io.writes) sizes.push_back(w.count);
    return sizes;
  }
  int64_t BytesWritten() const {
    int64_t sum = 0;
    for (const auto& w : io.writes) sum += std::max<int64_t>(w.count, 0);
    return sum;
  }

  FakeDevice io;
  Handle handle = kInvalidHandle;
  ManualClock clock;
  RecordingView view;
  FormatLogCapture log;
  std::function<int64_t(int64_t pass)> msPerPass = [](int64_t) { return 10; };
};

TEST_F(ZeroFill, BlocksGrowFrom64KiBEveryTenFastPassesUpTo32MiBAndTheLastIsCut) {
  const int64_t lba = 2 * 1024 * 1024 + 3;  // 1 GiB and three sectors
  const ZeroFillResult result = Run(lba);
  const std::vector<int64_t> sizes = WriteSizes();
  ASSERT_GT(sizes.size(), 110u);
  for (size_t i = 0; i + 1 < sizes.size(); ++i) {
    const int64_t pass = static_cast<int64_t>(i) + 1;
    const int64_t doublings = pass < 20 ? 0 : std::min<int64_t>(pass / 10 - 1, 9);
    ASSERT_EQ(sizes[i], (64 * KiB) << doublings) << "pass " << pass;
  }
  int64_t before = 0;
  for (size_t i = 0; i + 1 < sizes.size(); ++i) before += sizes[i];
  EXPECT_EQ(sizes.back(), lba * 512 - before);
  EXPECT_LE(sizes.back(), 32 * MiB);
  EXPECT_EQ(io.writes.back().offset + sizes.back(), lba * 512);
  EXPECT_EQ(result.outcome, ZeroFillOutcome::Completed);
  EXPECT_EQ(result.position, lba * 512);
  EXPECT_EQ(result.failedBlocks, 0);
  EXPECT_EQ(io.flushedAfterWrites, std::vector<size_t>{io.writes.size()});
}

struct GrowthCase {
  const char* name;
  std::function<int64_t(int64_t)> msPerPass;
  std::vector<int64_t> sizesKiB;  // block sizes at passes 1, 10, 19, 20, 29, 30, 40
};

class BlockGrowth : public ZeroFill, public ::testing::WithParamInterface<GrowthCase> {};

TEST_P(BlockGrowth, DoublesOnlyWhileTenPassesTakeUnderASecond) {
  msPerPass = GetParam().msPerPass;
  Run(200'000);
  const std::vector<int64_t> sizes = WriteSizes();
  const std::vector<size_t> passes = {1, 10, 19, 20, 29, 30, 40};
  ASSERT_GT(sizes.size(), 40u);
  std::vector<int64_t> seen;
  for (size_t pass : passes) seen.push_back(sizes[pass - 1] / KiB);
  EXPECT_EQ(seen, GetParam().sizesKiB);
}

INSTANTIATE_TEST_SUITE_P(
    Clock, BlockGrowth,
    ::testing::Values(
        GrowthCase{"TenPassesInExactlyOneSecond", [](int64_t) { return 100; },
                   {64, 64, 64, 64, 64, 64, 64}},
        GrowthCase{"TenPassesIn999Ms",
                   [](int64_t pass) { return pass % 10 == 0 ? 99 : 100; },
                   {64, 64, 64, 128, 128, 256, 512}},
        // A clock that steps back (an interval below zero) counts as fast.
        GrowthCase{"ClockRunningBackwards", [](int64_t) { return -5; },
                   {64, 64, 64, 128, 128, 256, 512}},
        // Slow from pass 20 to 30, fast again afterwards.
        GrowthCase{"SlowStretch",
                   [](int64_t pass) { return pass >= 20 && pass < 30 ? 150 : 10; },
                   {64, 64, 64, 128, 128, 128, 256}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ZeroFill, QuickWipeWritesExactly10240000BytesThenTheLastMiBAndCompletes) {
  const int64_t capacity = int64_t{1'000'000'000} * 512;
  const ZeroFillResult result = Run(1'000'000'000, 512, true);
  EXPECT_EQ(BytesWritten(), 10'240'000 + MiB);
  ASSERT_GE(io.writes.size(), 3u);
  const auto& head = io.writes[io.writes.size() - 2];
  EXPECT_EQ(head.offset + head.count, 10'240'000);
  EXPECT_LT(head.count, io.writes[io.writes.size() - 3].count);
  EXPECT_EQ(io.writes.back().offset, capacity - MiB);
  EXPECT_EQ(io.writes.back().count, MiB);
  EXPECT_EQ(result.outcome, ZeroFillOutcome::Completed);
  EXPECT_EQ(result.position, 10'240'000);  // the tail is not shown: the log speaks of the head
  EXPECT_EQ(view.percentTexts.back(), "100% 完成      ");
  EXPECT_EQ(log.messages().back(), "低階格式化完成。                     ");
  // The flush comes after the last write, the tail's.
  EXPECT_EQ(io.flushedAfterWrites, std::vector<size_t>{io.writes.size()});
}

// Below 10,240,000 bytes and the last MiB together, the whole device is written, once.
class QuickWipeOfASmallDevice : public ZeroFill, public ::testing::WithParamInterface<int64_t> {};

TEST_P(QuickWipeOfASmallDevice, ErasesAllOfItOnce) {
  Run(GetParam(), 512, true);
  EXPECT_EQ(BytesWritten(), GetParam() * 512);
  EXPECT_EQ(io.writes.back().offset + io.writes.back().count, GetParam() * 512);
}

INSTANTIATE_TEST_SUITE_P(Engine, QuickWipeOfASmallDevice,
                         ::testing::Values(10'000, 20'000, 22'047));

TEST_F(ZeroFill, ACancelledQuickWipeWritesNoTail) {
  view.onPump = [this](int pump) {
    if (pump == 3) log.session.RequestStop();
  };
  Run(1'000'000'000, 512, true);
  EXPECT_EQ(io.writes.size(), 2u);
  EXPECT_EQ(io.flushedAfterWrites, std::vector<size_t>{2});
}

TEST_F(ZeroFill, PercentCountsTheBlockAboutToBeWrittenRoundsTiesToEvenAndStopsAt100) {
  Run(1024);  // eight blocks of 64 KiB
  EXPECT_EQ(view.percentTexts,
            (std::vector<std::string>{"12% 完成      ", "25% 完成      ", "38% 完成      ",
                                      "50% 完成      ", "62% 完成      ", "75% 完成      ",
                                      "88% 完成      ", "100% 完成      "}));
  EXPECT_EQ(view.positionTexts.front(), "現用磁區:           128");
  EXPECT_EQ(view.positionTexts.back(), "現用磁區:           1024");
  EXPECT_EQ(view.progress.back(), 100);
  EXPECT_LE(*std::max_element(view.progress.begin(), view.progress.end()), 100);
}

TEST_F(ZeroFill, SectorTextIsGroupedAndRounded) {
  Run(200'001, 512);
  EXPECT_EQ(view.positionTexts.back(), "現用磁區:           200,001");
  EXPECT_EQ(view.pumps, static_cast<int>(io.writes.size()) + 1);
}

TEST_F(ZeroFill, CompletedRunLogsAverageSpeedWithTheUsersSeparatorAndCompletion) {
  SetUserLocale(UserLocale{",", "%m/%d/%y", "%H:%M:%S"});
  msPerPass = [](int64_t) { return 1; };
  // 250 bytes in 1 ms is 0.25 MB/s, which "0.0" shows rounded half up.
  const ZeroFillResult result = Run(5, 50);
  EXPECT_EQ(log.messages(),
            (std::vector<std::string>{"平均速度:          0,3 MB/s",
                                      "低階格式化完成。                     "}));
  EXPECT_EQ(result.outcome, ZeroFillOutcome::Completed);
}

TEST_F(ZeroFill, SpeedIsTheAverageSinceTheStart) {
  msPerPass = [](int64_t) { return 2; };
  Run(2048);  // 1 MiB in 16 passes of 2 ms: 1,048,576 / 32 ms / 1000
  EXPECT_EQ(view.speed, "32.8 MB/s");
}

TEST_F(ZeroFill, ARunBeforeAMillisecondHasPassedKeepsThePreviousSpeed) {
  msPerPass = [](int64_t) { return 0; };
  view.speed = "87.5 MB/s";
  Run(256);
  EXPECT_EQ(log.messages().front(), "平均速度:          87.5 MB/s");
}

TEST_F(ZeroFill, ZeroSectorDeviceMakesNoPassAndCompletesAt100) {
  view.speed = "12.0 MB/s";
  const ZeroFillResult result = Run(0);
  EXPECT_TRUE(io.writes.empty());
  EXPECT_EQ(view.progress, std::vector<int>{100});
  EXPECT_EQ(log.messages(), (std::vector<std::string>{"平均速度:          12.0 MB/s",
                                                      "低階格式化完成。                     "}));
  EXPECT_EQ(result.outcome, ZeroFillOutcome::Completed);
}

struct StopCase {
  const char* name;
  int pump;  // the pump that sees the Stop click (1: before the first pass)
  int64_t lba;
  size_t writes;
  std::string cancelLine;
};

class StopDuringRun : public ZeroFill, public ::testing::WithParamInterface<StopCase> {};

TEST_P(StopDuringRun, FinishesTheBlockInHandThenCancelsAndClearsTheFlag) {
  view.onPump = [this](int pump) {
    if (pump == GetParam().pump) log.session.RequestStop();
  };
  view.speed = "1.0 MB/s";
  const ZeroFillResult result = Run(GetParam().lba);
  EXPECT_EQ(io.writes.size(), GetParam().writes);
  EXPECT_EQ(log.messages().back(), GetParam().cancelLine);
  EXPECT_EQ(result.outcome, ZeroFillOutcome::Cancelled);
  EXPECT_FALSE(log.session.StopRequested());
}

INSTANTIATE_TEST_SUITE_P(
    Engine, StopDuringRun,
    ::testing::Values(
        StopCase{"BeforeTheFirstPass", 1, 65'535, 0,
                 "操作取消在偏移                       0    LBA 0"},
        StopCase{"DuringTheFourthPass", 5, 65'535, 4,
                 "操作取消在偏移                       262,144    LBA 512"},
        // The last pass still writes; the run is cancelled at Total, not completed.
        StopCase{"DuringTheLastPass", 9, 1'000, 8,
                 "操作取消在偏移                       512,000    LBA 1000"}),
    [](const auto& info) { return std::string(info.param.name); });

struct WriteErrorCase {
  const char* name;
  uint32_t code;
  std::string errorLine;  // for a failure at offset 131,072
  bool aborts;
};

class WriteErrors : public ZeroFill, public ::testing::WithParamInterface<WriteErrorCase> {};

TEST_P(WriteErrors, AreLoggedAndEitherSkipOrAbort) {
  const uint32_t code = GetParam().code;
  io.writeError = [code](int64_t offset, int64_t) { return offset == 131'072 ? code : 0u; };
  const ZeroFillResult result = Run(2048);  // sixteen blocks
  std::vector<std::string> expected{GetParam().errorLine};
  if (GetParam().aborts) {
    expected.push_back("裝置被拔出，正在中止...                    ");
    expected.push_back("平均速度:          " + view.speed);
    expected.push_back("操作終止在偏移                        131,072    LBA 256");
    EXPECT_EQ(io.writes.size(), 3u);
    EXPECT_EQ(result.outcome, ZeroFillOutcome::Aborted);
    EXPECT_EQ(result.position, 131'072);
    EXPECT_EQ(io.flushes, 0);
  } else {
    expected.push_back("平均速度:          " + view.speed);
    expected.push_back("低階格式化完成。                     ");
    EXPECT_EQ(io.writes.size(), 16u);
    EXPECT_EQ(io.writes[3].offset, 196'608);
    EXPECT_EQ(result.outcome, ZeroFillOutcome::Completed);
    EXPECT_EQ(result.failedBlocks, 1);
  }
  EXPECT_EQ(log.messages(), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Engine, WriteErrors,
    ::testing::Values(
        WriteErrorCase{"FileNotFound", 2,
                       "格式錯誤發生在偏移                       131,072:   2 - Media was unplugged",
                       true},
        WriteErrorCase{"DevNotExist", 55,
                       "格式錯誤發生在偏移                       131,072:   55 - Media was unplugged",
                       true},
        WriteErrorCase{"WriteProtect", 19,
                       "格式錯誤發生在偏移                       131,072:   19 - The media is write "
                       "protected",
                       false},
        WriteErrorCase{"NotReady", 21,
                       "格式錯誤發生在偏移                       131,072:   21 - Device not ready "
                       "(Timeout)",
                       false},
        WriteErrorCase{"SemTimeout", 121,
                       "格式錯誤發生在偏移                       131,072:   121 - Device not ready "
                       "(Timeout)",
                       false},
        WriteErrorCase{"IoDevice", 1117,
                       "格式錯誤發生在偏移                       131,072:   1117 - Device I/O error",
                       false},
        WriteErrorCase{"Other", 112, "格式錯誤發生在偏移                       131,072:   112",
                       false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ZeroFill, AWriteProtectedDeviceGetsOneLinePerBlockAndStillCompletes) {
  io.writeError = [](int64_t, int64_t) { return win::ERROR_WRITE_PROTECT; };
  const ZeroFillResult result = Run(512);
  EXPECT_EQ(result.failedBlocks, 4);
  EXPECT_EQ(log.messages().size(), 6u);
  EXPECT_EQ(result.outcome, ZeroFillOutcome::Completed);
}

TEST_F(ZeroFill, AFailedSeekSkipsItsBlockWithoutWriting) {
  io.seekError = [](int64_t offset) { return offset == 65'536 ? win::ERROR_INVALID_PARAMETER : 0u; };
  const ZeroFillResult result = Run(512);
  EXPECT_EQ(io.writes.size(), 3u);
  EXPECT_EQ(log.messages().front(), "尋找錯誤發生在偏移                     65,536");
  EXPECT_EQ(result.failedBlocks, 1);
  EXPECT_EQ(result.outcome, ZeroFillOutcome::Completed);
}

TEST_F(ZeroFill, AFailedFlushIsAFailedBlockNeverASilentSuccess) {
  io.flushError = win::ERROR_IO_DEVICE;
  const ZeroFillResult result = Run(512);
  EXPECT_EQ(log.messages(),
            (std::vector<std::string>{
                "格式錯誤發生在偏移                       196,608:   1117 - Device I/O error",
                "平均速度:          " + view.speed, "低階格式化完成。                     "}));
  EXPECT_EQ(result.failedBlocks, 1);
  EXPECT_EQ(result.outcome, ZeroFillOutcome::Completed);
}

TEST_F(ZeroFill, AFlushThatFindsTheDeviceGoneAbortsAtTheLastBlock) {
  io.flushError = win::ERROR_DEV_NOT_EXIST;
  const ZeroFillResult result = Run(512);
  EXPECT_EQ(log.messages().back(), "操作終止在偏移                        196,608    LBA 384");
  EXPECT_EQ(result.outcome, ZeroFillOutcome::Aborted);
}

TEST_F(ZeroFill, EveryWriteComesFromOneAlignedZeroBuffer) {
  std::vector<const void*> sources;
  struct SourceSpy : FakeDevice {
    std::vector<const void*>* sources = nullptr;
    bool allZero = true;
    int64_t Write(Handle h, const void* buffer, int64_t count) override {
      sources->push_back(buffer);
      const auto* bytes = static_cast<const uint8_t*>(buffer);
      allZero = allZero && std::all_of(bytes, bytes + count, [](uint8_t b) { return b == 0; });
      return FakeDevice::Write(h, buffer, count);
    }
  } spy;
  spy.sources = &sources;
  spy.At(kDisk);
  const Handle h = spy.Open(kDisk, OpenMode::Working);
  TIdentifyDeviceData device;
  device.LBA = 300'000;
  device.SectorSize = 512;
  ZeroFillDevice(spy, h, device, false, log.session, view, clock);
  ASSERT_FALSE(sources.empty());
  EXPECT_TRUE(std::all_of(sources.begin(), sources.end(),
                          [&](const void* p) { return p == sources.front(); }));
  EXPECT_EQ(reinterpret_cast<uintptr_t>(sources.front()) % 4096, 0u);
  EXPECT_TRUE(spy.allZero);
}

// A disk of 2^63 bytes less 16 MiB: every block and region ends on it, none wraps into a negative
// offset (which left the quick wipe's tail and the last block looping for ever).
struct NearLimitCase {
  const char* name;
  bool quick;
  bool verify;
  ZeroFillOutcome outcome;
  int stopAfterWrites;  // 0: never
  int failWrite;        // 0: none; else this write finds the device gone
};

class ZeroFillNearTheLimit : public ZeroFill, public ::testing::WithParamInterface<NearLimitCase> {};

TEST_P(ZeroFillNearTheLimit, EveryBlockLiesOnTheDiskAndTheRunEnds) {
  const NearLimitCase& c = GetParam();
  const int64_t capacity = INT64_MAX - 16 * MiB + 1;
  io.At(kDisk).size = capacity;
  int writes = 0;
  io.afterWrite = [&](const FakeDevice::WriteRecord&) {
    if (++writes == c.stopAfterWrites) log.session.RequestStop();
  };
  io.writeError = [&](int64_t, int64_t) {
    return writes + 1 == c.failWrite ? win::ERROR_DEV_NOT_EXIST : 0u;
  };
  TIdentifyDeviceData device;
  device.LBA = capacity / 512;
  device.SectorSize = 512;
  const ZeroFillResult result = ZeroFillDevice(io, handle, device, c.quick, log.session, view,
                                               clock, c.verify);
  EXPECT_EQ(result.outcome, c.outcome);
  EXPECT_GE(result.position, 0);
  for (const auto* records : {&io.writes, &io.reads}) {
    for (const FakeDevice::WriteRecord& r : *records) {
      ASSERT_GE(r.offset, 0);
      ASSERT_LE(r.count, capacity - r.offset);
    }
  }
  if (c.quick) {
    ASSERT_FALSE(io.writes.empty());
    EXPECT_EQ(io.writes.back().offset + io.writes.back().count, capacity);
    EXPECT_EQ(BytesWritten(), kQuickWipeBytes + kQuickWipeTailBytes);
  }
  if (c.verify) {
    EXPECT_EQ(result.verify.outcome, VerifyOutcome::Passed);
    ASSERT_FALSE(io.reads.empty());
    EXPECT_EQ(io.reads.back().offset + io.reads.back().count, capacity);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Runs, ZeroFillNearTheLimit,
    ::testing::Values(
        NearLimitCase{"QuickWipeAndVerify", true, true, ZeroFillOutcome::Completed, 0, 0},
        NearLimitCase{"FullRunStopped", false, false, ZeroFillOutcome::Cancelled, 40, 0},
        NearLimitCase{"FullRunDeviceGone", false, false, ZeroFillOutcome::Aborted, 0, 30}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace fw
