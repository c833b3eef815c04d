// ferrowipe-cli format's progress on standard error, driven by the real engine over a fake disk
// on a clock that moves 250 ms in every pump: twenty 64 KiB blocks take five seconds.
#include "cli/terminal_view.hpp"

#include <gtest/gtest.h>

#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "fake_device.hpp"
#include "core/text.hpp"
#include "format/zero_fill.hpp"
#include "format_test_support.hpp"
#include "report_lines.hpp"

namespace fw::cli {
namespace {

const std::string kDisk = "/dev/sdx";
constexpr int64_t kSectors = 2'560;  // 1,310,720 bytes: twenty blocks of 64 KiB
constexpr int64_t kStepMs = 250;

// One engine run with a view of `style`; the pump with number `stopAt` asks to stop (the
// engine clears the request when it cancels).
class Progress : public ::testing::Test {
 protected:
  ZeroFillResult Run(ProgressStyle style, int stopAt = 0, bool verify = false,
                     std::function<int()> columns = {}) {
    TIdentifyDeviceData device;
    device.LBA = kSectors;
    device.SectorSize = 512;
    io.At(kDisk);
    int pumps = 0;
    TerminalView view(style, clock, out, log.session, [&] {
      clock.now += kStepMs;
      return ++pumps == stopAt;
    }, std::move(columns));
    const ZeroFillResult result =
        ZeroFillDevice(io, io.Open(kDisk, OpenMode::Working), device, false, log.session, view, clock,
                       verify);
    view.Finish();
    return result;
  }

  std::vector<std::string> Lines() {
    std::istringstream in(out.str());
    return test::SplitLines(in);
  }

  test::FakeDevice io;
  test::ManualClock clock;
  test::FormatLogCapture log;  // also fixes the decimal point
  std::ostringstream out;
};

TEST_F(Progress, PlainLinesComeOncePerSecondWithBytesSpeedAndTimes) {
  EXPECT_EQ(Run(ProgressStyle::Lines).outcome, ZeroFillOutcome::Completed);
  const std::vector<std::string> lines = Lines();
  ASSERT_EQ(lines.size(), 5u) << out.str();
  // The fourth block: a second after the first, four of twenty blocks, speed of three.
  EXPECT_EQ(lines[0], "20% 262144 of 1310720 bytes, 0.3 MB/s, 0:00:01 elapsed, 0:00:04 left");
  EXPECT_TRUE(lines[1].starts_with("40% 524288 of 1310720 bytes, ")) << lines[1];
  EXPECT_TRUE(lines[1].ends_with(", 0:00:02 elapsed, 0:00:03 left")) << lines[1];
  EXPECT_TRUE(lines[4].starts_with("100% 1310720 of 1310720 bytes, ")) << lines[4];
  EXPECT_TRUE(lines[4].ends_with(", 0:00:05 elapsed, 0:00:00 left")) << lines[4];
}

TEST_F(Progress, ARunStoppedBetweenTwoLinesEndsWithWhereItStopped) {
  EXPECT_EQ(Run(ProgressStyle::Lines, 7).outcome, ZeroFillOutcome::Cancelled);
  const std::vector<std::string> lines = Lines();
  ASSERT_EQ(lines.size(), 2u) << out.str();
  EXPECT_TRUE(lines[1].starts_with("30% 393216 of 1310720 bytes, ")) << lines[1];
}

// The verify pass is a pass of its own: its bytes and its times start again from zero, so the
// last line speaks of its single 250 ms block, not of the five seconds of writing before it.
TEST_F(Progress, TheVerifyPassIsTimedOnItsOwn) {
  EXPECT_EQ(Run(ProgressStyle::Lines, 0, true).verify.outcome, VerifyOutcome::Passed);
  const std::vector<std::string> lines = Lines();
  ASSERT_EQ(lines.size(), 6u) << out.str();
  EXPECT_TRUE(lines[4].ends_with(", 0:00:05 elapsed, 0:00:00 left")) << lines[4];
  EXPECT_TRUE(lines[5].starts_with("100% 1310720 of 1310720 bytes, ")) << lines[5];
  EXPECT_TRUE(lines[5].ends_with(", 0:00:00 elapsed, 0:00:00 left")) << lines[5];
}

TEST_F(Progress, OnATerminalOneLineIsRedrawnAndClearedAtTheEnd) {
  Run(ProgressStyle::Redrawn);
  const std::string text = out.str();
  EXPECT_NE(text.find("\r5% 完成   現用磁區:           128   "), std::string::npos);
  EXPECT_NE(text.find("   0:00:00 elapsed, 0:00:05 left\033[K"), std::string::npos) << text;
  EXPECT_TRUE(text.ends_with("0:00:05 elapsed, 0:00:00 left\033[K\r\033[K")) << text;
  EXPECT_EQ(text.find('\n'), std::string::npos);
}

// Each redraw as the terminal shows it: what follows a carriage return, up to the clear.
std::vector<std::string> Redraws(const std::string& text) {
  std::vector<std::string> redraws;
  for (size_t at = text.find('\r'); at != std::string::npos; at = text.find('\r', at + 1)) {
    const size_t end = text.find("\033[K", at);
    redraws.push_back(text.substr(at + 1, end - at - 1));
  }
  return redraws;
}

struct WidthCase {
  int columns;
  const char* first;  // the redraw after the first block
  const char* last;   // the redraw at 100 %
};

class ProgressWidth : public Progress, public ::testing::WithParamInterface<WidthCase> {};

// Shortened, never wrapped: no redraw reaches the last column, and none holds a line break.
TEST_P(ProgressWidth, TheRedrawnLineFitsTheTerminal) {
  const WidthCase& c = GetParam();
  Run(ProgressStyle::Redrawn, 0, false, [&] { return c.columns; });
  EXPECT_EQ(out.str().find('\n'), std::string::npos);
  const std::vector<std::string> redraws = Redraws(out.str());
  ASSERT_GT(redraws.size(), 2u);
  for (const std::string& line : redraws) {
    EXPECT_LT(DisplayColumns(line), static_cast<size_t>(c.columns)) << line;
  }
  EXPECT_EQ(redraws.front(), c.first);
  EXPECT_EQ(redraws[redraws.size() - 2], c.last);
  EXPECT_EQ(redraws.back(), "");  // cleared at the end
}

INSTANTIATE_TEST_SUITE_P(
    Columns, ProgressWidth,
    ::testing::Values(
        WidthCase{80, "5% 完成   現用磁區:           128   0:00:00 elapsed, 0:00:05 left",
                  "100% 完成   現用磁區:           2560   0.3 MB/s   0:00:05 elapsed, 0:00:00 left"},
        WidthCase{40, "5% 完成   0:00:00 elapsed, 0:00:05 left", "100% 完成   0:00:00 left"}));

TEST(FitProgressLine, WhatStillDoesNotFitIsCutAtAWholeCharacter) {
  EXPECT_EQ(FitProgressLine("100% 完成", "x", "y", "0:00:05 elapsed, 0:00:00 left",
                            "0:00:00 left", 8),
            "100% 完");
  EXPECT_EQ(FitProgressLine("100% 完成", "", "", "", "", 7), "100% ");
}

TEST_F(Progress, WithoutATerminalOrTheOptionNothingIsShown) {
  Run(ProgressStyle::None);
  EXPECT_EQ(out.str(), "");
  EXPECT_EQ(ChooseProgressStyle(false, false), ProgressStyle::None);
  EXPECT_EQ(ChooseProgressStyle(false, true), ProgressStyle::Lines);
  EXPECT_EQ(ChooseProgressStyle(true, false), ProgressStyle::Redrawn);
  EXPECT_EQ(ChooseProgressStyle(true, true), ProgressStyle::Redrawn);
}

TEST(DurationText, HoursMinutesAndWholeSeconds) {
  EXPECT_EQ(DurationText(-5), "0:00:00");
  EXPECT_EQ(DurationText(999), "0:00:00");
  EXPECT_EQ(DurationText(61'000), "0:01:01");
  EXPECT_EQ(DurationText(3'599'999), "0:59:59");
  EXPECT_EQ(DurationText(360'000'000), "100:00:00");
}

}  // namespace
}  // namespace fw::cli
