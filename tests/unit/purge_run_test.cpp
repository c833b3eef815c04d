// The drive's own erase through a format attempt, over the fake drive: which methods a disk's
// facts refuse (and that nothing then reaches it), a sanitize followed by its progress, the
// drive's failures, the checks that follow, and the hidden area of a hard disk.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "device/control_codes.hpp"
#include "device/nvme_protocol.hpp"
#include "device/purge_commands.hpp"
#include "fake_drive.hpp"
#include "format/format_control.hpp"
#include "format/purge_run.hpp"
#include "format/purge_verify.hpp"
#include "format_test_support.hpp"

namespace fw {
namespace {

using test::FakeDrive;
using test::FormatLogCapture;
using test::ManualClock;
using test::RecordingView;

const std::string kDisk = "/dev/sdb";
const std::string kCaption = "[1]  EXAMPLE SSD    1.00    [67.1 MB]    (131072 512-byte sectors)";
constexpr int64_t kSectors = 131'072;
constexpr int64_t kBytes = kSectors * 512;

DriveEraseFacts SataSsd(bool sanitize) {
  DriveEraseFacts facts;
  facts.media = MediaType::Ssd;
  facts.passThrough = true;
  AtaEraseFeatures ata;
  ata.sanitize = ata.sanitizeBlock = ata.sanitizeCrypto = sanitize;
  ata.security.supported = true;
  ata.security.enhancedSupported = true;
  ata.security.normalEraseMinutes = 2;
  ata.lba48 = true;
  ata.nonRotating = true;
  ata.accessibleSectors = kSectors;
  facts.ata = ata;
  facts.hidden = HiddenArea{kSectors, kSectors, false, 0};
  return facts;
}

DriveEraseFacts NvmeDisk(uint32_t namespaces) {
  DriveEraseFacts facts;
  facts.media = MediaType::Nvme;
  facts.passThrough = true;
  NvmeEraseFeatures nvme;
  nvme.formatNvm = nvme.cryptoFormat = true;
  nvme.sanitizeBlock = nvme.sanitizeCrypto = true;
  nvme.namespaceCount = namespaces;
  facts.nvme = nvme;
  return facts;
}

// A hard disk whose Host Protected Area hides all but `accessible` of its kSectors.
DriveEraseFacts HddWithHpa(int64_t accessible) {
  DriveEraseFacts facts;
  facts.media = MediaType::Hdd;
  facts.passThrough = true;
  AtaEraseFeatures ata;
  ata.hpaSupported = ata.hpaEnabled = ata.lba48 = true;
  ata.accessibleSectors = accessible;
  facts.ata = ata;
  facts.hidden = HiddenArea{kSectors, accessible, false, 0};
  return facts;
}

// The view, with the Stop button's state while the drive erases.
class PurgeView : public RecordingView {
 public:
  void SetStopEnabled(bool enabled) override { calls.push_back(enabled ? "stop on" : "stop off"); }
};

AtaReply AtaOk(uint16_t count = 0, uint64_t lba = 0) {
  AtaReply reply;
  reply.outcome = CommandOutcome::Success;
  reply.registersValid = true;
  reply.registers.count = count;
  reply.registers.lba = lba;
  return reply;
}

AtaReply AtaAborted(uint64_t lba = 0) {
  AtaReply reply = AtaOk(0, lba);
  reply.outcome = CommandOutcome::DeviceError;
  reply.status = 0x51;
  reply.error = 0x04;
  return reply;
}

NvmeReply NvmeOk() { return NvmeReply{CommandOutcome::Success, 0, 0, 0}; }

// SANITIZE STATUS EXT: in progress at `percent`, or completed (ACS-3 count bits 14 and 15).
AtaReply SanitizeStatus(int percent) {
  if (percent >= 100) return AtaOk(0x8000);
  return AtaOk(0x4000, static_cast<uint64_t>(percent) * 65536 / 100);
}

// The Sanitize Status log: SPROG and SSTAT (2 in progress, 1 completed), no estimates.
void PutSanitizeLog(std::span<uint8_t> page, int percent) {
  std::fill(page.begin(), page.end(), 0xFF);
  const uint32_t progress = percent >= 100 ? 0xFFFF : percent * 65536 / 100;
  const uint16_t status = percent < 0 ? 0 : percent >= 100 ? 1 : 2;
  page[0] = progress & 0xFF;
  page[1] = progress >> 8;
  page[2] = status & 0xFF;
  page[3] = 0;
}

class PurgeAttempt : public ::testing::Test {
 protected:
  void SetUp() override {
    DebugMode = false;
    io.At(kDisk).size = kBytes;
    handle = io.Open(kDisk, OpenMode::Working);
    table[1].DevicePath = kDisk;
    table[1].DeviceNumber = 1;
    table[1].IdentifyData.LBA = kSectors;
    table[1].IdentifyData.SectorSize = 512;
    view.onPump = [this](int) { clock.now += 5; };
  }

  FormatAttemptResult Run(const std::optional<DriveEraseFacts>& facts, EraseMethod method,
                          bool openHiddenArea = false, bool quick = false) {
    return RunFormatAttemptWithFacts(io, handle, table, 1, kCaption, quick, log.session, view, clock,
                                     false,
                                     method, openHiddenArea, facts);
  }
  ::testing::AssertionResult Logged(const std::string& line) const {
    const std::vector<std::string> lines = log.messages();
    if (std::find(lines.begin(), lines.end(), line) != lines.end()) {
      return ::testing::AssertionSuccess();
    }
    ::testing::AssertionResult missing = ::testing::AssertionFailure();
    missing << "not in the log:";
    for (const std::string& l : lines) missing << "\n  " << l;
    return missing;
  }
  // Sanitize status polls answer in turn from `percents`; the last keeps answering.
  void AnswerAtaSanitize(std::vector<int> percents) {
    io.answerAta = [this, percents](const AtaCommand& command, std::span<uint8_t>) {
      if (command.registers.command != 0xB4) return AtaAborted();
      if (command.registers.feature != 0x0000) {
        erased = true;
        return AtaOk();
      }
      const int percent = percents[std::min(polls++, percents.size() - 1)];
      return SanitizeStatus(percent);
    };
  }
  void AnswerNvmeSanitize(std::vector<int> percents) {
    io.answerNvme = [this, percents](const NvmeAdminCommand& command, std::span<uint8_t> data) {
      if (command.opcode == 0x84) {
        erased = true;
        return NvmeOk();
      }
      if (command.opcode != 0x02) return NvmeReply{CommandOutcome::DeviceError, 0x0002, 0, 0};
      PutSanitizeLog(data, erased ? percents[std::min(polls++, percents.size() - 1)] : -1);
      return NvmeOk();
    };
  }

  FakeDrive io;
  Handle handle = kInvalidHandle;
  TDeviceTableRows table;
  ManualClock clock;
  PurgeView view;
  FormatLogCapture log;
  bool erased = false;
  size_t polls = 0;
};

// --- Refusals: the reason in the log, nothing unmounted, nothing sent --------------------

struct RefusalCase {
  const char* name;
  DriveEraseFacts (*facts)();
  EraseMethod method;
  EraseRefusal refusal;
  std::string reason;  // the log line after the one naming the method
};

class PurgeRefusal : public PurgeAttempt, public ::testing::WithParamInterface<RefusalCase> {};

TEST_P(PurgeRefusal, IsLoggedWithItsReasonAndNothingReachesTheDisk) {
  const RefusalCase& c = GetParam();
  const FormatAttemptResult result = Run(c.facts(), c.method);
  EXPECT_EQ(result.refusal, c.refusal);
  EXPECT_FALSE(result.locked);
  EXPECT_FALSE(result.purgeFailed);
  const std::vector<std::string> lines = log.messages();
  ASSERT_GE(lines.size(), 3u);
  EXPECT_EQ(std::vector<std::string>(lines.end() - 3, lines.end()),
            (std::vector<std::string>{
                "此裝置不能使用這種抹除方式: " + std::string(EraseMethodWord(c.method)), c.reason,
                "未傳送任何指令給裝置。"}));
  EXPECT_TRUE(io.sent.empty());
  EXPECT_TRUE(io.writes.empty());
  EXPECT_TRUE(io.takeoverCalls.empty());  // not even planned: nothing unmounted
  EXPECT_EQ(view.calls, (std::vector<std::string>{"controls off", "controls on"}));
}

INSTANTIATE_TEST_SUITE_P(
    Table, PurgeRefusal,
    ::testing::Values(
        RefusalCase{"SsdWithoutSanitize", [] { return SataSsd(false); },
                    EraseMethod::SanitizeBlock, EraseRefusal::Unsupported,
                    "裝置不支援這種抹除方式。"},
        RefusalCase{"FrozenSecurity",
                    [] {
                      DriveEraseFacts f = SataSsd(true);
                      f.ata->security.frozen = true;
                      return f;
                    },
                    EraseMethod::SecureErase, EraseRefusal::Frozen,
                    "裝置的安全功能已凍結 (通常由 BIOS 在開機時設定)。將電腦睡眠後再喚醒，或將裝置拔除後重新插上，即可解除凍結。"},
        RefusalCase{"Locked",
                    [] {
                      DriveEraseFacts f = SataSsd(true);
                      f.ata->security.enabled = f.ata->security.locked = true;
                      return f;
                    },
                    EraseMethod::SanitizeCrypto, EraseRefusal::Locked,
                    "裝置的安全功能已鎖定: 裝置設有密碼，必須先解除鎖定。"},
        RefusalCase{"SanitizeAlreadyRunning",
                    [] {
                      DriveEraseFacts f = SataSsd(true);
                      f.sanitizeInProgress = true;
                      return f;
                    },
                    EraseMethod::SanitizeBlock, EraseRefusal::InProgress,
                    "裝置正在執行 Sanitize，請等它完成後再試。"},
        RefusalCase{"NvmeWithTwoNamespaces", [] { return NvmeDisk(2); },
                    EraseMethod::SanitizeCrypto, EraseRefusal::OtherNamespaces,
                    "此 NVMe 控制器上還有其他命名空間，這種抹除會一併清除它們。"},
        RefusalCase{"UsbBridge", [] { return DriveEraseFacts{}; }, EraseMethod::SanitizeCrypto,
                    EraseRefusal::NoPassthrough,
                    "連接裝置的介面 (例如 USB 轉接器) 不會把這個指令傳給裝置。"},
        RefusalCase{"PurgeOnAHardDiskWithoutOne", [] { return HddWithHpa(kSectors); },
                    EraseMethod::Purge, EraseRefusal::Unsupported, "裝置不支援這種抹除方式。"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(PurgeAttempt, APathThatRefusesTheFirstCommandIsARefusalToo) {
  // The facts said the commands pass; the bridge says otherwise when the erase is sent.
  const FormatAttemptResult result = Run(SataSsd(true), EraseMethod::SanitizeBlock);
  EXPECT_EQ(result.refusal, EraseRefusal::NoPassthrough);
  EXPECT_FALSE(result.purgeFailed);
  EXPECT_TRUE(Logged("未傳送任何指令給裝置。"));
  EXPECT_TRUE(io.writes.empty());
  EXPECT_TRUE(io.reads.empty());
  // The disk was taken and is put back as it was: nothing changed on it.
  EXPECT_EQ(io.takeoverCalls.back(), "restore");
}

// --- A sanitize with its progress ----------------------------------------------------------

struct ProgressCase {
  const char* name;
  DriveEraseFacts (*facts)();
  bool nvme;
  std::string command;
};

class PurgeProgress : public PurgeAttempt, public ::testing::WithParamInterface<ProgressCase> {};

TEST_P(PurgeProgress, FollowsTheDriveToItsEndAndIsCheckedByReadingEveryByte) {
  const ProgressCase& c = GetParam();
  const std::vector<int> percents{25, 50, 75, 100};
  if (c.nvme) {
    AnswerNvmeSanitize(percents);
  } else {
    AnswerAtaSanitize(percents);
  }
  // The user presses Stop while the drive works: it is answered once and let go.
  const auto pumped = view.onPump;
  view.onPump = [&](int pump) {
    pumped(pump);
    if (erased && polls >= 2 && polls < 4) log.session.RequestStop();
  };
  const int64_t started = clock.now;
  const FormatAttemptResult result = Run(c.facts(), EraseMethod::SanitizeBlock);

  EXPECT_TRUE(result.locked);
  EXPECT_EQ(result.refusal, EraseRefusal::None);
  EXPECT_FALSE(result.purgeFailed);
  EXPECT_EQ(result.method, (EraseMethodState{EraseMethod::SanitizeBlock, EraseRefusal::None,
                                             EraseCategory::Purge}));
  EXPECT_EQ(result.run.outcome, ZeroFillOutcome::Completed);
  EXPECT_EQ(polls, 4u);
  EXPECT_GE(clock.now - started, 3 * kDrivePollMs);  // polled once a second, not spun
  // The bar follows the drive, in order, to its end.
  std::vector<int> shown;
  for (const int p : view.progress) {
    if (shown.empty() || shown.back() != p) shown.push_back(p);
  }
  const std::vector<int> drive(shown.begin(),
                               std::find(shown.begin(), shown.end(), 100) + 1);
  EXPECT_EQ(drive, (std::vector<int>{0, 25, 50, 75, 100}));

  EXPECT_TRUE(Logged("抹除方式:            sanitize-block"));
  EXPECT_TRUE(Logged("正在傳送指令:        " + c.command));
  EXPECT_TRUE(Logged("抹除由裝置自行執行，無法停止 (停止按鈕已停用)；即使斷電，裝置也會在重新通電後繼續抹除。"));
  const std::vector<std::string> lines = log.messages();
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "抹除由裝置自行執行，不能停止，仍在繼續..."), 1);
  EXPECT_FALSE(log.session.StopRequested());
  EXPECT_TRUE(Logged("裝置已完成抹除。"));
  EXPECT_TRUE(Logged("驗證通過，全部為零。已檢查位元組: 67,108,864"));
  EXPECT_EQ(lines.back(), "記得建立新的分割區。                        ");

  EXPECT_EQ(result.run.verify.outcome, VerifyOutcome::Passed);
  EXPECT_EQ(result.verifyMethod, "full read-back");
  EXPECT_EQ(result.readBackPattern, "zeros");
  EXPECT_TRUE(result.verifyAsked);
  EXPECT_TRUE(io.writes.empty());  // the drive erased itself
  EXPECT_EQ(io.takeoverCalls.back(), "release");  // the partition table read again
  EXPECT_GE(io.rereads, 1);                       // and the size
  EXPECT_EQ(view.calls, (std::vector<std::string>{"controls off", "running", "stop off",
                                                  "stop on", "idle", "controls on"}));
}

INSTANTIATE_TEST_SUITE_P(
    Protocols, PurgeProgress,
    ::testing::Values(ProgressCase{"Ata", [] { return SataSsd(true); }, false,
                                   "SANITIZE BLOCK ERASE EXT"},
                      ProgressCase{"Nvme", [] { return NvmeDisk(1); }, true,
                                   "NVMe Sanitize, block erase"}),
    [](const auto& info) { return std::string(info.param.name); });

// --- What the disk reads back as after the erase ------------------------------------------

struct ReadBackCase {
  const char* name;
  uint8_t fill;
  int64_t odd;  // a sector that reads otherwise (-1: none)
  VerifyOutcome outcome;
  std::string pattern;
  std::string line;
};

class PurgeReadBack : public PurgeAttempt, public ::testing::WithParamInterface<ReadBackCase> {};

TEST_P(PurgeReadBack, NamesWhatTheDiskReadsAs) {
  const ReadBackCase& c = GetParam();
  AnswerAtaSanitize({100});
  io.readContent = [&c](int64_t offset, uint8_t* bytes, int64_t count) {
    std::memset(bytes, c.fill, static_cast<size_t>(count));
    const int64_t odd = c.odd * 512;
    if (c.odd >= 0 && odd >= offset && odd < offset + count) bytes[odd - offset] = 0x5A;
  };
  const FormatAttemptResult result = Run(SataSsd(true), EraseMethod::SanitizeBlock);
  EXPECT_EQ(result.run.verify.outcome, c.outcome);
  EXPECT_EQ(result.readBackPattern, c.pattern);
  EXPECT_TRUE(Logged(c.line));
}

INSTANTIATE_TEST_SUITE_P(
    Patterns, PurgeReadBack,
    ::testing::Values(
        ReadBackCase{"Zeros", 0x00, -1, VerifyOutcome::Passed, "zeros",
                     "驗證通過，全部為零。已檢查位元組: 67,108,864"},
        ReadBackCase{"ErasedFlash", 0xFF, -1, VerifyOutcome::Passed, "uniform 0xFF",
                     "驗證通過，全部為同一位元組 0xFF。已檢查位元組: 67,108,864"},
        ReadBackCase{"Mixed", 0xFF, 2048, VerifyOutcome::Failed, "mixed",
                     "與其他資料不同的資料發生在偏移           1,048,576    LBA 2048"}),
    [](const auto& info) { return std::string(info.param.name); });

// --- The drive's failures ------------------------------------------------------------------

TEST_F(PurgeAttempt, ASanitizeTheDriveReportsAsFailedIsNotCheckedAndSaysSo) {
  io.answerAta = [](const AtaCommand& command, std::span<uint8_t>) {
    if (command.registers.feature != 0) return AtaOk();
    return AtaAborted(1);  // ACS-3: the last sanitize failed
  };
  const FormatAttemptResult result = Run(SataSsd(true), EraseMethod::SanitizeBlock);
  EXPECT_TRUE(result.purgeFailed);
  EXPECT_EQ(result.run.outcome, ZeroFillOutcome::Aborted);
  EXPECT_EQ(result.run.verify.outcome, VerifyOutcome::NotRun);
  EXPECT_TRUE(io.reads.empty());
  EXPECT_TRUE(Logged("裝置回報抹除失敗: sanitize operation failed"));
  EXPECT_EQ(io.takeoverCalls.back(), "release");
}

TEST_F(PurgeAttempt, ADriveThatNeverFinishesEndsAtItsDeadline) {
  AnswerAtaSanitize({10});
  const FormatAttemptResult result = Run(SataSsd(true), EraseMethod::SanitizeBlock);
  EXPECT_TRUE(result.purgeFailed);
  // No estimate for a sanitize: the capacity's floor of half an hour.
  const std::vector<std::string> lines = log.messages();
  EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [](const std::string& l) {
    return l.starts_with("裝置未在預估的時間內完成抹除，已等候秒數: 180");
  }));
}

struct SecureEraseCase {
  const char* name;
  uint8_t failing;     // the command the drive refuses
  bool passwordLeft;
};

class SecureEraseFailure : public PurgeAttempt,
                           public ::testing::WithParamInterface<SecureEraseCase> {};

TEST_P(SecureEraseFailure, LeavesThePasswordInTheLogAndTheResultOnceItWasSet) {
  const SecureEraseCase& c = GetParam();
  io.answerAta = [&c](const AtaCommand& command, std::span<uint8_t>) {
    return command.registers.command == c.failing ? AtaAborted() : AtaOk();
  };
  const FormatAttemptResult result = Run(SataSsd(false), EraseMethod::SecureErase);
  EXPECT_TRUE(result.purgeFailed);
  ASSERT_FALSE(io.sent.empty());
  ASSERT_EQ(io.sent[0].ata->registers.command, 0xF1);
  // The password the drive was given, from the SET PASSWORD sector (words 1-16).
  const std::vector<uint8_t>& sector = io.sent[0].data;
  ASSERT_EQ(sector.size(), 512u);
  const std::string given(sector.begin() + 2,
                          std::find(sector.begin() + 2, sector.begin() + 34, 0));
  EXPECT_FALSE(given.empty());
  if (c.passwordLeft) {
    EXPECT_EQ(result.passwordLeft, given);
    EXPECT_TRUE(Logged("安全抹除失敗，裝置上仍設有暫時使用者密碼: " + given));
    EXPECT_TRUE(Logged("以此指令移除密碼: ferrowipe-cli unlock --password " + given + " " + kDisk));
  } else {
    EXPECT_EQ(result.passwordLeft, "");
  }
}

INSTANTIATE_TEST_SUITE_P(Steps, SecureEraseFailure,
                         ::testing::Values(SecureEraseCase{"SetPassword", 0xF1, false},
                                           SecureEraseCase{"ErasePrepare", 0xF3, true},
                                           SecureEraseCase{"EraseUnit", 0xF4, true}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(PurgeAttempt, ASecureEraseSendsItsStepsInOrderWithTheDrivesTimeout) {
  io.answerAta = [](const AtaCommand&, std::span<uint8_t>) { return AtaOk(); };
  const FormatAttemptResult result = Run(SataSsd(false), EraseMethod::SecureErase);
  EXPECT_FALSE(result.purgeFailed);
  EXPECT_EQ(io.AtaCommandsSent(), (std::vector<uint8_t>{0xF1, 0xF3, 0xF4}));
  EXPECT_EQ(io.sent[2].ata->timeoutSeconds, SecurityEraseTimeoutSeconds(2, kBytes));
  EXPECT_EQ(io.sent[2].data[0] & 0x02, 0);  // normal, not enhanced
  EXPECT_EQ(result.passwordLeft, "");
}

TEST_F(PurgeAttempt, AFormatKeepsTheLbaFormatInUseOfTheOneNamespace) {
  nvme::IdentifyPage ns{};
  ns[nvme::ns::kNlbaf] = 2;
  ns[nvme::ns::kFlbas] = 2;
  ns[nvme::ns::kLbaf + 2 * 4 + 2] = 9;  // 512-byte data
  std::vector<uint8_t> reply(8192);
  reply.resize(BuildNvmeReply(NvmeRequest::IdentifyNamespace, ns, reply.data(),
                              static_cast<uint32_t>(reply.size())));
  io.Answer(kDisk, ioctl::IOCTL_STORAGE_QUERY_PROPERTY, FakeDrive::Ok(reply));
  io.answerNvme = [](const NvmeAdminCommand& command, std::span<uint8_t> data) {
    if (command.opcode == 0x06) {  // the active namespace list: namespace 3 alone
      std::fill(data.begin(), data.end(), 0);
      data[0] = 3;
    }
    return NvmeOk();
  };
  const FormatAttemptResult result = Run(NvmeDisk(1), EraseMethod::FormatNvm);
  EXPECT_FALSE(result.purgeFailed);
  EXPECT_EQ(io.NvmeOpcodesSent(), (std::vector<uint8_t>{0x06, 0x80}));
  EXPECT_EQ(*io.sent[1].nvme, NvmeFormat(3, 2, false));
  EXPECT_EQ(result.readBackPattern, "zeros");
}

// --- The cryptographic erase's sample -------------------------------------------------------

TEST(SectorSample, HoldsTheFirstAndLastSectorAndAThousandOthersInDiskOrder) {
  const std::vector<int64_t> a = SectorSample::Choose(kSectors, 1);
  ASSERT_EQ(a.size(), static_cast<size_t>(kSampleRandomSectors + 2));
  EXPECT_EQ(a.front(), 0);
  EXPECT_EQ(a.back(), kSectors - 1);
  EXPECT_TRUE(std::is_sorted(a.begin(), a.end()));
  EXPECT_EQ(std::adjacent_find(a.begin(), a.end()), a.end());  // no sector twice
  EXPECT_NE(a, SectorSample::Choose(kSectors, 2));
  EXPECT_EQ(SectorSample::Choose(500, 1).size(), 500u);  // a tiny disk: every sector
}

struct SampleCase {
  const char* name;
  int64_t unchanged;   // a sector that reads the same after the erase (-1: none)
  int64_t unreadable;  // a sector that cannot be read after it (-1: none)
  VerifyOutcome outcome;
  std::string line;
};

class CryptoSample : public PurgeAttempt, public ::testing::WithParamInterface<SampleCase> {};

TEST_P(CryptoSample, EverySampledSectorMustComeBackChanged) {
  const SampleCase& c = GetParam();
  AnswerAtaSanitize({100});
  io.readContent = [&](int64_t offset, uint8_t* bytes, int64_t count) {
    for (int64_t i = 0; i < count; ++i) {
      const int64_t at = offset + i;
      const bool keep = at / 512 == c.unchanged;
      bytes[i] = static_cast<uint8_t>(at * 7 + (erased && !keep ? 0x33 : 0));
    }
  };
  io.readError = [&](int64_t offset, int64_t) -> uint32_t {
    return erased && offset / 512 == c.unreadable ? win::ERROR_IO_DEVICE : 0;
  };
  const FormatAttemptResult result = Run(SataSsd(true), EraseMethod::SanitizeCrypto);
  EXPECT_EQ(result.verifyMethod, "sample before and after");
  EXPECT_EQ(result.run.verify.outcome, c.outcome);
  EXPECT_TRUE(Logged("正在讀取抹除前的抽樣磁區，數量: 1002"));
  EXPECT_TRUE(Logged(c.line));
  // The sample was read before the erase was sent, and only the sample after it.
  EXPECT_EQ(io.reads.size(), 2u * (kSampleRandomSectors + 2));
  EXPECT_TRUE(result.readBackPattern.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CryptoSample,
    ::testing::Values(
        SampleCase{"AllChanged", -1, -1, VerifyOutcome::Passed,
                   "抽樣驗證通過，所有抽樣磁區都已改變，數量: 1002"},
        SampleCase{"FirstSectorUnchanged", 0, -1, VerifyOutcome::Failed, "抹除後未改變的磁區: LBA 0"},
        SampleCase{"LastSectorUnreadable", -1, kSectors - 1, VerifyOutcome::Failed,
                   "無法讀取的抽樣磁區: LBA 131,071:   1117 - Device I/O error"}),
    [](const auto& info) { return std::string(info.param.name); });

// --- The hidden area of a hard disk ---------------------------------------------------------

constexpr int64_t kAccessible = 120'000;
const std::string kHiddenWarning =
    "警告: 此裝置有隱藏磁區，全部寫零不會觸及它們: LBA 120,000 至 131,071，共 11,072 個磁區 (使用 --open-hidden-area 可一併抹除)";

class HiddenSectors : public PurgeAttempt {
 protected:
  void SetUp() override {
    PurgeAttempt::SetUp();
    table[1].IdentifyData.LBA = kAccessible;
    io.answerAta = [](const AtaCommand& command, std::span<uint8_t>) {
      return command.registers.command == 0x27 ? AtaOk(0, kSectors - 1) : AtaOk();
    };
  }
  int64_t WrittenEnd() const {
    int64_t end = 0;
    for (const auto& w : io.writes) end = std::max(end, w.offset + w.count);
    return end;
  }
};

TEST_F(HiddenSectors, AFullZeroFillWarnsOfTheSectorsItLeavesAndWritesOnlyTheOthers) {
  const FormatAttemptResult result = Run(HddWithHpa(kAccessible), EraseMethod::Zero);
  const std::vector<std::string> lines = log.messages();
  const auto formatting = std::find(lines.begin(), lines.end(), "正在格式化...      ");
  ASSERT_NE(formatting, lines.begin());
  EXPECT_EQ(*(formatting - 1), kHiddenWarning);
  EXPECT_EQ(WrittenEnd(), kAccessible * 512);
  EXPECT_TRUE(io.sent.empty());
  EXPECT_FALSE(result.hiddenAreaOpened);
  ASSERT_TRUE(result.hiddenArea);
  EXPECT_EQ(result.hiddenArea->hiddenSectors(), kSectors - kAccessible);
}

TEST_F(HiddenSectors, AQuickWipeSaysNothingOfIt) {
  Run(HddWithHpa(kAccessible), EraseMethod::Zero, false, true);
  EXPECT_FALSE(Logged(kHiddenWarning));
}

TEST_F(HiddenSectors, OpenedForTheRunTheWholeNativeSizeIsWrittenAndVerified) {
  io.capacityAfterReread = kBytes;
  const FormatAttemptResult result =
      RunFormatAttemptWithFacts(io, handle, table, 1, kCaption, false, log.session, view, clock,
                                true,
                                EraseMethod::Zero, true, HddWithHpa(kAccessible));
  EXPECT_EQ(io.AtaCommandsSent(), (std::vector<uint8_t>{0x27, 0x37}));
  EXPECT_EQ(*io.sent[1].ata, AtaSetMaxAddressExt(kSectors - 1, false));  // volatile
  EXPECT_TRUE(result.hiddenAreaOpened);
  EXPECT_TRUE(Logged("已開放隱藏區域，可存取的磁區數: 120,000 -> 131,072 (在裝置斷電前有效)"));
  EXPECT_FALSE(Logged(kHiddenWarning));
  EXPECT_EQ(WrittenEnd(), kBytes);
  EXPECT_EQ(result.run.outcome, ZeroFillOutcome::Completed);
  EXPECT_EQ(result.run.verify.bytesChecked, kBytes);
}

TEST_F(HiddenSectors, WhenTheSystemKeepsTheOldSizeOnlyTheAccessibleSectorsAreWritten) {
  io.capacityAfterReread = kAccessible * 512;
  const FormatAttemptResult result = Run(HddWithHpa(kAccessible), EraseMethod::Zero, true);
  EXPECT_FALSE(result.hiddenAreaOpened);
  EXPECT_TRUE(Logged("系統沒有讀到裝置的新容量，只寫入目前可存取的磁區: 120,000"));
  EXPECT_TRUE(Logged(kHiddenWarning));
  EXPECT_EQ(WrittenEnd(), kAccessible * 512);
}

TEST_F(HiddenSectors, AskedOnADiskThatHidesNothingTheRunGoesOnAsUsual) {
  table[1].IdentifyData.LBA = kSectors;
  const FormatAttemptResult result = Run(HddWithHpa(kSectors), EraseMethod::Zero, true);
  EXPECT_TRUE(Logged("此裝置沒有隱藏區域。"));
  EXPECT_TRUE(io.sent.empty());
  EXPECT_EQ(result.run.outcome, ZeroFillOutcome::Completed);
}

TEST_F(HiddenSectors, AskedWhereItCannotBeToldNothingIsTouched) {
  DriveEraseFacts facts = HddWithHpa(kAccessible);
  facts.hidden.reset();
  const FormatAttemptResult result = Run(facts, EraseMethod::Zero, true);
  EXPECT_EQ(result.refusal, EraseRefusal::Unsupported);
  EXPECT_TRUE(Logged("無法得知此裝置的原始容量，不能開放隱藏區域。"));
  EXPECT_TRUE(io.writes.empty());
  EXPECT_TRUE(io.takeoverCalls.empty());
}

}  // namespace
}  // namespace fw
