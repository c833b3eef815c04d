#include "format/format_control.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "device/control_codes.hpp"
#include "fake_device.hpp"
#include "format_test_support.hpp"

namespace fw {
namespace {

using test::FakeDevice;
using test::FormatLogCapture;
using test::ManualClock;
using test::RecordingView;

const std::string kDisk = "/dev/sdb";
const std::string kCaption = "[1]  EXAMPLE DISK    1.00    [67.1 MB]    (131072 512-byte sectors)";

class FormatAttempt : public ::testing::Test {
 protected:
  void SetUp() override {
    log.session.ClearStop();
    DebugMode = false;
    io.At(kDisk);
    handle = io.Open(kDisk, OpenMode::Working);
    table[1].DevicePath = kDisk;
    table[1].DeviceNumber = 1;
    table[1].IdentifyData.LBA = 131'072;
    table[1].IdentifyData.SectorSize = 512;
    view.onPump = [this](int) { clock.now += 5; };
  }

  FormatAttemptResult Run(bool quick = false) {
    return RunFormatAttempt(io, handle, table, 1, kCaption, quick, log.session, view, clock);
  }
  std::vector<std::string> Header() const {
    return {" ",
            "=================================================",
            "Ferrowipe 4.30; https://ferrowipe.example.org/",
            "低階格式化:            " + kCaption,
            "裝置容量:            131,072 磁區     ",
            "正在鎖住裝置...         "};
  }

  FakeDevice io;
  Handle handle = kInvalidHandle;
  TDeviceTableRows table;
  ManualClock clock;
  RecordingView view;
  FormatLogCapture log;
};

TEST_F(FormatAttempt, ConfirmationTexts) {
  EXPECT_EQ(FormatConfirmTitle(), "警告     ");
  EXPECT_EQ(FormatConfirmInstruction(), "所選裝置上的所有資料將遺失                               ");
  EXPECT_EQ(FormatConfirmContent(kCaption),
            "您確定要不可逆轉地銷毀在此裝置上的所有資料嗎?" + std::string(58, ' ') +
                "\r\n\r\n" + kCaption);
}

TEST_F(FormatAttempt, ACompletedRunLogsExactlyTheseLinesInOrder) {
  const FormatAttemptResult result = Run();
  std::vector<std::string> expected = Header();
  expected.insert(expected.end(), {"正在格式化...      ", "平均速度:          " + view.speed,
                                   "低階格式化完成。                     ", "",
                                   "記得建立新的分割區。                        "});
  EXPECT_EQ(log.messages(), expected);
  EXPECT_FALSE(view.speed.empty());
  EXPECT_TRUE(result.locked);
  EXPECT_EQ(result.run.outcome, ZeroFillOutcome::Completed);
  EXPECT_EQ(view.calls,
            (std::vector<std::string>{"controls off", "running", "idle", "controls on"}));
  // The update request goes to the working handle while the disk is still claimed.
  ASSERT_EQ(io.requests.size(), 1u);
  EXPECT_EQ(io.requests[0].handle, handle);
  EXPECT_EQ(io.requests[0].code, ioctl::IOCTL_DISK_UPDATE_PROPERTIES);
  EXPECT_EQ(io.takeoverCalls.back(), "release");
  EXPECT_EQ(io.OpenCount(), 1u);  // only the working handle, which the attempt never closes
}

TEST_F(FormatAttempt, ACancelledRunStillEndsWithTheHint) {
  view.onPump = [this](int pump) {
    if (pump == 3) log.session.RequestStop();
  };
  const FormatAttemptResult result = Run();
  EXPECT_EQ(result.run.outcome, ZeroFillOutcome::Cancelled);
  EXPECT_EQ(log.messages().back(), "記得建立新的分割區。                        ");
  EXPECT_EQ(io.writes.size(), 2u);
}

TEST_F(FormatAttempt, AFailedLockWritesNothingAndReenablesTheControls) {
  io.At(kDisk).openErrorIn[OpenMode::Claim] = win::ERROR_SHARING_VIOLATION;
  const FormatAttemptResult result = Run();
  std::vector<std::string> expected = Header();
  expected.push_back("無法鎖住裝置。請確定您沒有在此裝置上開啟檔案後再試一次。" + std::string(62, ' '));
  EXPECT_EQ(log.messages(), expected);
  EXPECT_FALSE(result.locked);
  EXPECT_TRUE(io.writes.empty());
  EXPECT_EQ(view.calls, (std::vector<std::string>{"controls off", "controls on"}));
  EXPECT_EQ(io.CodesSent().front(), ioctl::IOCTL_DISK_UPDATE_PROPERTIES);
}

TEST_F(FormatAttempt, TheCauseOfAFailedLockFollowsTheLockFailureLine) {
  io.At(kDisk).openErrorIn[OpenMode::Claim] = win::ERROR_SHARING_VIOLATION;
  io.refusal = RefusalCause{RefusalKind::Swap, "/dev/sdb2", 0, "", {}};
  Run();
  std::vector<std::string> expected = Header();
  expected.push_back("無法鎖住裝置。請確定您沒有在此裝置上開啟檔案後再試一次。" + std::string(62, ' '));
  expected.push_back("此裝置上有使用中的置換空間: /dev/sdb2");
  EXPECT_EQ(log.messages(), expected);
}

TEST_F(FormatAttempt, DebugModePutsTheVolumeLinesBetweenLockingAndFormatting) {
  DebugMode = true;
  log.session.SetDebug(true);
  Run(true);
  const std::vector<std::string> messages = log.messages();
  ASSERT_GT(messages.size(), 9u);
  EXPECT_EQ(messages[5], "正在鎖住裝置...         ");
  EXPECT_EQ(messages[6], "正在尋找分割區...               ");
  EXPECT_EQ(messages[7], "完成   ");
  EXPECT_EQ(messages[8], "正在格式化...      ");
  DebugMode = false;
}

// How the attempt ends decides how the disk is given back: a run that wrote is released; one
// that wrote nothing (stopped before its first block) puts the volumes back as they were.
TEST_F(FormatAttempt, OnlyARunThatWroteNothingRestoresTheVolumes) {
  view.onPump = [this](int pump) {
    if (pump == 1) log.session.RequestStop();
  };
  EXPECT_EQ(Run().run.outcome, ZeroFillOutcome::Cancelled);
  EXPECT_TRUE(io.writes.empty());
  EXPECT_EQ(io.takeoverCalls.back(), "restore");

  view.onPump = [this](int pump) {
    if (pump == 3) log.session.RequestStop();
  };
  Run();
  EXPECT_FALSE(io.writes.empty());
  EXPECT_EQ(io.takeoverCalls.back(), "release");
}

// A disk whose size changes under the run is no longer the one being erased: the run aborts.
TEST_F(FormatAttempt, ASizeChangeDuringTheRunAbortsIt) {
  io.claimedSize = int64_t{131'072} * 512;
  view.onPump = [this](int pump) {
    clock.now += 5;
    if (pump == 25) io.claimedSize = int64_t{262'144} * 512;
  };
  const FormatAttemptResult result = Run();
  EXPECT_TRUE(result.locked);
  EXPECT_EQ(result.run.outcome, ZeroFillOutcome::Aborted);
  EXPECT_LT(result.run.bytesWritten, int64_t{131'072} * 512);
  const std::vector<std::string> messages = log.messages();
  EXPECT_NE(std::find(messages.begin(), messages.end(),
                      "裝置容量在執行期間改變，正在中止...                    "),
            messages.end());
  EXPECT_EQ(io.takeoverCalls.back(), "release");
}

// The scan counts whole sectors: a claimed size with a tail shorter than a sector is the same
// disk; one more sector is not.
TEST_F(FormatAttempt, TheClaimedSizeIsComparedInWholeSectors) {
  io.claimedSize = int64_t{131'072} * 512 + 511;
  EXPECT_TRUE(Run(true).locked);
  io.claimedSize = int64_t{131'073} * 512;
  EXPECT_FALSE(Run(true).locked);
  EXPECT_EQ(log.messages().back(), "掃描後裝置容量已改變，不能格式化: 67,108,864 -> 67,109,376 位元組");
}

TEST_F(FormatAttempt, TwoRunsAppendTheirLines) {
  Run(true);
  const size_t first = log.lines().size();
  Run(true);
  EXPECT_EQ(log.lines().size(), 2 * first);
}

}  // namespace
}  // namespace fw
