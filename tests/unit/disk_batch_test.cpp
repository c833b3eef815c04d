// A run over several disks, in its pure parts: the combined exit status, the summary table,
// the report names, the printer that keeps log lines and the redrawn block apart, the journal
// record, and the command line that takes DISK....
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <sstream>
#include <string>
#include <vector>

#include "cli/batch_progress.hpp"
#include "cli/batch_summary.hpp"
#include "cli/command_line.hpp"
#include "core/text.hpp"
#include "report/journal_record.hpp"

namespace fw::cli {
namespace {

struct SeverityCase {
  const char* name;
  std::vector<int> statuses;
  int combined;
};

class CombinedStatus : public ::testing::TestWithParam<SeverityCase> {};

TEST_P(CombinedStatus, IsTheMostSevereOfTheDisks) {
  EXPECT_EQ(CombinedExitStatus(GetParam().statuses), GetParam().combined);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CombinedStatus,
    ::testing::Values(SeverityCase{"NoDisk", {}, 0}, SeverityCase{"AllDone", {0, 0, 0}, 0},
                      SeverityCase{"OneCancelled", {0, 4, 0}, 4},
                      SeverityCase{"RefusedOutranksCancelled", {4, 3}, 3},
                      SeverityCase{"AbortedOutranksFailedBlocks", {6, 5, 0}, 5},
                      SeverityCase{"VerifyFailedOutranksAll", {9, 5, 7, 1}, 7},
                      SeverityCase{"DriveFailureOutranksAborted", {5, 9}, 9},
                      SeverityCase{"MethodRefusedBelowLockFailed", {8, 3}, 3},
                      SeverityCase{"MethodRefusedAboveCancelled", {4, 8}, 8},
                      SeverityCase{"OtherFailureAboveRefused", {3, 1}, 1},
                      SeverityCase{"UnknownCountsAsFailure", {42, 4}, 1}),
    [](const auto& info) { return std::string(info.param.name); });

// Columns line up by display width (a CJK name is two columns a character), numbers grouped.
TEST(BatchSummary, ColumnsLineUpWhateverTheirContents) {
  const std::vector<std::string> table = SummaryTable({
      DiskEnding{"/dev/sdb", "completed", 1'000'000'000, 0, "passed", 3'723'000, 0},
      DiskEnding{"/dev/disk/by-id/ata-磁碟", "aborted", 5, 2, "not run", 0, 5},
  });
  EXPECT_EQ(table, (std::vector<std::string>{
                       "DISK                      OUTCOME    BYTES          FAILED BLOCKS  VERIFY   TIME",
                       "/dev/sdb                  completed  1,000,000,000  0              passed   1:02:03",
                       "/dev/disk/by-id/ata-磁碟  aborted    5              2              not run  0:00:00",
                   }));
}

struct NameCase {
  const char* name;
  std::string serial, path, file;
};

class ReportName : public ::testing::TestWithParam<NameCase> {};

TEST_P(ReportName, IsTheSerialAndTheStartInUtc) {
  // 2026-12-09 08:15:03 UTC
  const auto started = std::chrono::system_clock::time_point(std::chrono::seconds(1'796'804'103));
  EXPECT_EQ(ReportFileName(GetParam().serial, GetParam().path, started), GetParam().file);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ReportName,
    ::testing::Values(
        NameCase{"Plain", "WD-WCAPW0493929", "/dev/sda", "WD-WCAPW0493929_20261209T081503Z.json"},
        NameCase{"PaddedAndSpaced", "  S3Z NX0K 123 ", "/dev/sdb",
                 "S3Z_NX0K_123_20261209T081503Z.json"},
        NameCase{"NoSerialTakesTheDevice", "", "/dev/loop7", "loop7_20261209T081503Z.json"},
        NameCase{"NoFolderEscape", "../../etc/x", "/dev/sdc", ".._.._etc_x_20261209T081503Z.json"},
        NameCase{"DotsAloneAreNoName", "..", "/dev/sdd", "disk.._20261209T081503Z.json"},
        NameCase{"NonAscii", "序號1", "/dev/sde", "______1_20261209T081503Z.json"}),
    [](const auto& info) { return std::string(info.param.name); });

// The redrawn block makes way for a log line and comes back below it at the next redraw; the
// progress lines of --progress are whole lines with the disk's path in front.
TEST(BatchPrinter, LogLinesNeverLandInsideTheRedrawnBlock) {
  std::ostringstream log, progress;
  BatchPrinter printer(log, progress);
  printer.Redraw({"a", "b"});
  EXPECT_EQ(progress.str(), "\ra\033[K\n\rb\033[K\n\033[J");
  progress.str("");
  printer.Redraw({"c", "d"});
  EXPECT_EQ(progress.str(), "\r\033[2A\rc\033[K\n\rd\033[K\n\033[J") << "rewritten in place";
  progress.str("");
  printer.LogLine("/dev/sdb", "line\x1b]0;title\a");
  EXPECT_EQ(progress.str(), "\r\033[2A\033[J") << "the block is taken away first";
  EXPECT_TRUE(log.str().starts_with("/dev/sdb: line")) << log.str();
  EXPECT_EQ(log.str().find('\x1b'), std::string::npos) << "device strings are never obeyed";
  progress.str("");
  printer.Redraw({"e"});
  EXPECT_EQ(progress.str(), "\re\033[K\n\033[J") << "drawn afresh below the log line";
  progress.str("");
  printer.ClearBlock();
  printer.ClearBlock();
  EXPECT_EQ(progress.str(), "\r\033[1A\033[J");

  std::vector<std::string> lines;
  LineForwardStream forward([&](const std::string& line) { lines.push_back(line); });
  forward << "40% 5" << " of 10 bytes\n" << "50%";
  forward << " 6\n" << std::flush;
  EXPECT_EQ(lines, (std::vector<std::string>{"40% 5 of 10 bytes", "50% 6"}));
}

TEST(BatchPrinter, ABatchLineFitsTheTerminalWithItsPathAligned) {
  EXPECT_EQ(BatchLine("/dev/sdb", 12, "40% 完成", 80), "/dev/sdb      40% 完成");
  const std::string cut = BatchLine("/dev/nvme0n1", 12, "40% 完成   123.4 MB/s", 22);
  EXPECT_EQ(cut, "/dev/nvme0n1  40% 完");
  EXPECT_LE(DisplayColumns(cut), 21u);
}

ErasureReport Report(ZeroFillOutcome outcome, VerifyOutcome verify, bool quick) {
  TDeviceTable disk;
  disk.DevicePath = "/dev/sdb";
  disk.IdentifyData.Model = "Samsung SSD 870\nEVO  ";
  disk.IdentifyData.SN = "  S6PNNX0R123  ";
  disk.IdentifyData.LBA = 1'000;
  disk.IdentifyData.SectorSize = 512;
  FormatAttemptResult attempt;
  attempt.locked = true;
  attempt.quickWipe = quick;
  attempt.run.outcome = outcome;
  attempt.run.bytesWritten = 512'000;
  attempt.run.verify.outcome = verify;
  attempt.started = std::chrono::system_clock::time_point(std::chrono::seconds(1'796'804'103));
  attempt.ended = attempt.started + std::chrono::seconds(61);
  return MakeErasureReport(disk, DiskContents{}, attempt, HostFacts{});
}

struct JournalCase {
  const char* name;
  ZeroFillOutcome outcome;
  VerifyOutcome verify;
  bool quick;
  std::string method, outcomeWord, verifyWord, priority;
};

class JournalRecord : public ::testing::TestWithParam<JournalCase> {};

TEST_P(JournalRecord, CarriesTheDiskTheMethodAndHowItEnded) {
  const JournalCase& c = GetParam();
  const std::vector<std::string> fields =
      ErasureJournalFields(Report(c.outcome, c.verify, c.quick), c.outcomeWord);
  const auto value = [&](const std::string& name) -> std::string {
    for (const std::string& field : fields) {
      if (field.starts_with(name + "=")) return field.substr(name.size() + 1);
    }
    return "(missing)";
  };
  EXPECT_EQ(value("MESSAGE_ID"), std::string(kErasureMessageId));
  EXPECT_EQ(value("MESSAGE_ID").size(), 32u);
  EXPECT_EQ(value("DISK_PATH"), "/dev/sdb");
  EXPECT_EQ(value("DISK_MODEL"), "Samsung SSD 870 EVO") << "one line, trimmed";
  EXPECT_EQ(value("DISK_SERIAL"), "S6PNNX0R123");
  EXPECT_EQ(value("METHOD"), c.method);
  EXPECT_EQ(value("OUTCOME"), c.outcomeWord);
  EXPECT_EQ(value("BYTES_WRITTEN"), "512000");
  EXPECT_EQ(value("VERIFY"), c.verifyWord);
  EXPECT_EQ(value("START"), "2026-12-09T08:15:03Z");
  EXPECT_EQ(value("END"), "2026-12-09T08:16:04Z");
  EXPECT_EQ(value("PRIORITY"), c.priority);
  for (const std::string& field : fields) {
    EXPECT_EQ(field.find('\n'), std::string::npos) << field;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, JournalRecord,
    ::testing::Values(
        JournalCase{"Verified", ZeroFillOutcome::Completed, VerifyOutcome::Passed, false, "zero",
                    "completed", "passed", "6"},
        JournalCase{"QuickUnverified", ZeroFillOutcome::Completed, VerifyOutcome::NotRun, true,
                    "quick", "completed", "not run", "6"},
        JournalCase{"VerifyFailed", ZeroFillOutcome::Completed, VerifyOutcome::Failed, false,
                    "zero", "completed", "failed", "4"},
        JournalCase{"Cancelled", ZeroFillOutcome::Cancelled, VerifyOutcome::NotRun, false, "zero",
                    "cancelled", "not run", "4"}),
    [](const auto& info) { return std::string(info.param.name); });

struct ParseCase {
  const char* name;
  std::vector<std::string> args;
  std::vector<std::string> disks;  // empty: bad usage
};

class FormatArguments : public ::testing::TestWithParam<ParseCase> {};

TEST_P(FormatArguments, TakeEveryDiskOrRefuseAsBadUsage) {
  std::vector<std::string> args{"ferrowipe-cli"};
  args.insert(args.end(), GetParam().args.begin(), GetParam().args.end());
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  const CommandLine line = ParseCommandLine(static_cast<int>(argv.size()), argv.data());
  if (GetParam().disks.empty()) {
    EXPECT_EQ(line.exitStatus, kExitUsage);
    return;
  }
  ASSERT_FALSE(line.exitStatus.has_value());
  EXPECT_EQ(line.options.disks, GetParam().disks);
  EXPECT_EQ(line.options.disk, GetParam().disks.front());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FormatArguments,
    ::testing::Values(
        ParseCase{"TwoNumbers", {"format", "--yes", "3", "7"}, {"3", "7"}},
        ParseCase{"OptionsBetween",
                  {"format", "/dev/sdb", "--keep-going", "/dev/sdc", "--report-dir", "/r", "4"},
                  {"/dev/sdb", "/dev/sdc", "4"}},
        ParseCase{"OneDiskWithReport", {"format", "--report", "r.json", "3"}, {"3"}},
        ParseCase{"ReportWithTwoDisks", {"format", "--report", "r.json", "3", "7"}, {}},
        ParseCase{"ReportAndReportDir", {"format", "--report", "r", "--report-dir", "d", "3"}, {}},
        ParseCase{"NoDisk", {"format", "--yes"}, {}},
        ParseCase{"DetailsStillTakesOne", {"details", "3", "7"}, {}}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace fw::cli
