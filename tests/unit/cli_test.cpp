// ferrowipe-cli list, details and smart, run as a process on the bundled demo disks: exit
// statuses, and every line on standard output.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "core/messages.hpp"
#include "report_lines.hpp"
#include "temp_folder.hpp"

namespace fw {
namespace {

namespace fs = std::filesystem;
using test::TempFolder;


struct CliRun {
  int status = -1;
  std::vector<std::string> out;
  std::string err;
};

std::string ReadText(const std::string& path) {
  std::ifstream in(path);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class Cli : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    s_folder = new TempFolder("ferrowipe-cli-test");
    s_disks = s_folder->Path() + "/disks";
    const std::string make =
        "bash '" + std::string(SOURCE_DIR) + "/scripts/make-demo-disks.sh' '" + s_disks + "'";
    ASSERT_EQ(std::system(make.c_str()), 0) << make;
  }
  static void TearDownTestSuite() {
    delete s_folder;
    s_folder = nullptr;
  }

  // Runs the CLI on the demo disks with the C locale (point as decimal separator). Arguments
  // are quoted for the shell; none of them holds a quote.
  static CliRun RunCli(const std::vector<std::string>& args) {
    const std::string out = s_folder->Path() + "/out";
    const std::string err = s_folder->Path() + "/err";
    std::string command = "env LC_ALL=C FERROWIPE_DISKS='" + s_disks + "' '" CLI_PATH "'";
    for (const std::string& arg : args) command += " '" + arg + "'";
    command += " >'" + out + "' 2>'" + err + "' </dev/null";
    const int raw = std::system(command.c_str());
    CliRun run;
    run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    std::ifstream in(out);
    run.out = test::SplitLines(in);
    run.err = ReadText(err);
    return run;
  }

  static std::vector<std::string> Header(const char* label, const std::string& caption) {
    return {" ", std::string(test::kReportDateLabel) + test::kReportDatePlaceholder,
            "Ferrowipe 4.30; https://ferrowipe.example.org/", std::string(label) + caption, " "};
  }

  static inline TempFolder* s_folder = nullptr;
  static inline std::string s_disks;
};

constexpr const char* kDetailsLabel = "裝置詳細資料-            ";
constexpr const char* kSmartLabel = "SMART 資料-      ";

// For scripts: the six cells and nothing else, as the list always printed them.
TEST_F(Cli, ListRawGivesEveryDemoDiskWithTheSixCellsOfTheSelectionList) {
  const CliRun run = RunCli({"list", "--raw"});
  EXPECT_EQ(run.status, 0) << run.err;
  const std::vector<std::string> expected{
      "SATA\tATA WDC WD5000AAKS-00TMA0\t12.01C01\tWD-WCAPW0493929\t976773168\t500.1 GB",
      "ATA\tATA ST320410A\t3.39\t5FB3QF34\t39100223\t20.01 GB",
      "ATA\tATA Maxtor 96147H8\tBAC51KJ0\tN80BR8EC\t120060864\t61.47 GB",
      "USB\tGeneric Flash Disk\t8.07\t0000000000001A2B\t15633408\t8004.3 MB",
      "SAS\tEXAMPLE 4KN DISK 1000\t0102\tEX4K0001\t244190646\t1000.2 GB",
      "SD\tSD CARD 16M\t1.0\tC0FFEE16\t32768\t16.77 MB",
      "NVMe\tEXAMPLE NVMe SSD 1TB\t1.2.3\tEX21N0A0123456\t1953525168\t1000.2 GB",
      "SATA\tATA INTEL SSDSA2CW120G3\t4PC10302\tCVPR109301UZ120LGN\t234441648\t120.03 GB",
      "SATA\tATA SAMSUNG HD501LJ\tCR100-12\tS0MUJ1NQ110060\t974676016\t499.03 GB",
      "USB\tDEMO QUICK WIPE STICK\t1.00\tQW000064\t131072\t67.1 MB",
  };
  EXPECT_EQ(run.out, expected);
}

// A header, then per disk the number to pass and the path before the six cells, in columns.
TEST_F(Cli, ListShowsTheNumberAndPathOfEveryDiskUnderAHeader) {
  const CliRun run = RunCli({"list"});
  EXPECT_EQ(run.status, 0) << run.err;
  // The path column is as wide as the longest path and two blanks.
  const size_t pathColumn = s_disks.size() + std::string("/2-ata-identify-fails.img").size() + 2;
  const auto row = [&](const std::string& number, const std::string& path, const char* rest) {
    std::string line = number + std::string(6 - number.size(), ' ') + path;
    return line + std::string(pathColumn - path.size(), ' ') + rest;
  };
  const std::string d = s_disks;
  const std::vector<std::string> expected{
      row("DISK", "PATH", "BUS   MODEL                      FIRMWARE  SERIAL              SECTORS"
                          "     CAPACITY"),
      row("0", d + "/0-sata-hdd.img", "SATA  ATA WDC WD5000AAKS-00TMA0  12.01C01  "
                                      "WD-WCAPW0493929     976773168   500.1 GB"),
      row("1", d + "/1-pata-slave.img", "ATA   ATA ST320410A              3.39      "
                                        "5FB3QF34            39100223    20.01 GB"),
      row("2", d + "/2-ata-identify-fails.img", "ATA   ATA Maxtor 96147H8         BAC51KJ0  "
                                                "N80BR8EC            120060864   61.47 GB"),
      row("3", d + "/3-usb-stick.img", "USB   Generic Flash Disk         8.07      "
                                       "0000000000001A2B    15633408    8004.3 MB"),
      row("4", d + "/4-4k-sector.img", "SAS   EXAMPLE 4KN DISK 1000      0102      "
                                       "EX4K0001            244190646   1000.2 GB"),
      row("5", d + "/5-small-card.img", "SD    SD CARD 16M                1.0       "
                                        "C0FFEE16            32768       16.77 MB"),
      row("6", d + "/6-nvme-ssd.img", "NVMe  EXAMPLE NVMe SSD 1TB       1.2.3     "
                                      "EX21N0A0123456      1953525168  1000.2 GB"),
      row("7", d + "/7-sata-ssd.img", "SATA  ATA INTEL SSDSA2CW120G3    4PC10302  "
                                      "CVPR109301UZ120LGN  234441648   120.03 GB"),
      row("8", d + "/8-hdd-hpa.img", "SATA  ATA SAMSUNG HD501LJ        CR100-12  "
                                     "S0MUJ1NQ110060      974676016   499.03 GB"),
      row("9", d + "/9-quick-wipe.img", "USB   DEMO QUICK WIPE STICK      1.00      "
                                        "QW000064            131072      67.1 MB"),
  };

  EXPECT_EQ(run.out, expected);
  // The number shown is the one `details` takes: its caption carries the same number.
  const CliRun details = RunCli({"details", "4"});
  ASSERT_GE(details.out.size(), 4u);
  EXPECT_TRUE(details.out[3].ends_with("[4]  EXAMPLE 4KN DISK 1000    0102    [1000.2 GB]    "
                                       "(244190646 4096-byte sectors)"))
      << details.out[3];
  EXPECT_EQ(RunCli({"list", "--raw", "--json"}).status, 2);
}

TEST_F(Cli, ReportsOfTheDemoDisksAreThoseOfTheirDrives) {
  struct Case {
    std::vector<std::string> args;
    const char* golden;
    int status;
  };
  const Case cases[] = {
      // The demo drives count reallocated and pending sectors: warnings (11).
      {{"details", "0"}, "demo-details-0.txt", 0},
      {{"smart", "0"}, "demo-smart-0.txt", 11},
      // The parallel-ATA slave: addressed as device 1, SMART bracketed by ENABLE and DISABLE.
      {{"details", "1"}, "demo-details-1.txt", 0},
      {{"smart", "1"}, "demo-smart-1.txt", 11},
      {{"smart", "2"}, "smart-maxtor-96147h8.txt", 11},
      // The NVMe disk: its identify data and health log, through the protocol-specific queries.
      {{"details", "6"}, "nvme-details-demo.txt", 0},
      {{"smart", "6"}, "nvme-smart-demo.txt", 0},
      // DISK as the path the scan lists.
      {{"details", s_disks + "/0-sata-hdd.img"}, "demo-details-0.txt", 0},
  };
  for (const Case& c : cases) {
    const CliRun run = RunCli(c.args);
    EXPECT_EQ(run.status, c.status) << c.args[0] << c.args[1] << run.err;
    EXPECT_EQ(test::WithoutTime(run.out), test::ReadGolden(c.golden)) << c.args[1];
  }
}

TEST_F(Cli, ReportsOfDisksThatTakeNoAtaCommand) {
  const std::string forum = std::string("請將此問題張貼在 ") +
                            "https://forum.ferrowipe.example.org/" + std::string(19, ' ');
  struct Case {
    std::vector<std::string> args;
    const char* label;
    std::string caption;
    std::vector<std::string> tail;
  };
  const Case cases[] = {
      {{"details", "2"},
       kDetailsLabel,
       "[2]  ATA Maxtor 96147H8    BAC51KJ0    [61.47 GB]    (120060864 512-byte sectors)",
       {"詳細資料不可用: 內部錯誤。                          ", forum}},
      {{"details", "3"},
       kDetailsLabel,
       "[3]  Generic Flash Disk    8.07    [8004.3 MB]    (15633408 512-byte sectors)",
       {"此裝置的詳細資料不可用。                            "}},
      {{"smart", "3"},
       kSmartLabel,
       "[3]  Generic Flash Disk    8.07    [8004.3 MB]    (15633408 512-byte sectors)",
       {"此裝置不支援 SMART。                         "}},
      {{"smart", "4"},
       kSmartLabel,
       "[4]  EXAMPLE 4KN DISK 1000    0102    [1000.2 GB]    (244190646 4096-byte sectors)",
       {"此裝置不支援 SMART。                         "}},
  };
  for (const Case& c : cases) {
    const CliRun run = RunCli(c.args);
    // Nothing could be read: a script must not take that for a healthy drive.
    EXPECT_EQ(run.status, 1) << c.args[0] << c.args[1] << run.err;
    std::vector<std::string> expected = Header(c.label, c.caption);
    expected.insert(expected.end(), c.tail.begin(), c.tail.end());
    EXPECT_EQ(test::WithoutTime(run.out), expected) << c.args[0] << c.args[1];
  }
}

// The NVMe demo disk as JSON: the identify facts, and every field of the health log.
TEST_F(Cli, DetailsAndSmartJsonOfTheNvmeDemoDisk) {
  const CliRun smart = RunCli({"smart", "--json", "6"});
  EXPECT_EQ(smart.status, 0) << smart.err;
  std::string text;
  for (const std::string& line : smart.out) text += line + "\n";
  const nlohmann::json doc = nlohmann::json::parse(text, nullptr, false);
  ASSERT_TRUE(doc.is_object()) << text;
  EXPECT_EQ(doc["protocol"], "nvme");
  EXPECT_EQ(doc["available"], true);
  const nlohmann::json& health = doc["health"];
  for (const char* key :
       {"critical_warning", "temperature_celsius", "available_spare", "available_spare_threshold",
        "percentage_used", "data_units_read", "data_units_written", "host_read_commands",
        "host_write_commands", "controller_busy_minutes", "power_cycles", "power_on_hours",
        "unsafe_shutdowns", "media_errors", "error_log_entries", "warning_temperature_minutes",
        "critical_temperature_minutes"}) {
    EXPECT_TRUE(health[key].is_number_integer()) << key << health;
  }
  ASSERT_EQ(health["temperature_sensors_celsius"].size(), 8u);
  EXPECT_EQ(health["temperature_sensors_celsius"][0], 38);
  EXPECT_TRUE(health["temperature_sensors_celsius"][7].is_null());
  EXPECT_EQ(doc["verdict"], nlohmann::json::parse(R"({"state": "healthy",
                                                      "critical_warning_bits": []})"));

  const CliRun details = RunCli({"details", "--json", "6"});
  EXPECT_EQ(details.status, 0) << details.err;
  text.clear();
  for (const std::string& line : details.out) text += line + "\n";
  const nlohmann::json facts = nlohmann::json::parse(text, nullptr, false);
  ASSERT_TRUE(facts.is_object()) << text;
  EXPECT_EQ(facts["model"], "EXAMPLE NVMe SSD 1TB");
  EXPECT_EQ(facts["serial"], "EX21N0A0123456");
  EXPECT_TRUE(facts["controller"]["sanitize"]["crypto"].is_boolean());
  EXPECT_TRUE(facts["namespace"]["formats"].is_array());
  EXPECT_EQ(facts["namespace"]["sectors"], 1953525168);
}

// The packaged completion, run by bash on the words typed so far.
TEST_F(Cli, BashCompletionOffersCommandsOptionsAndTheListedDisks) {
  const auto complete = [](const std::string& words) {
    const std::string script = s_folder->Path() + "/complete.sh";
    std::ofstream(script) << "source '" SOURCE_DIR "/packaging/bash-completion/ferrowipe-cli'\n"
                          << "COMP_WORDS=(" << words << ")\n"
                          << "COMP_CWORD=$((${#COMP_WORDS[@]} - 1))\n"
                          << "_ferrowipe_cli\n"
                          << "printf '%s\\n' \"${COMPREPLY[@]}\"\n";
    const std::string out = s_folder->Path() + "/completed";
    const std::string command = "env FERROWIPE_DISKS='" + s_disks + "' PATH=\"$(dirname '" CLI_PATH
                                "'):$PATH\" bash '" + script + "' >'" + out + "' 2>&1";
    EXPECT_EQ(std::system(command.c_str()), 0) << words;
    std::ifstream in(out);
    return test::SplitLines(in);
  };
  using Lines = std::vector<std::string>;
  EXPECT_EQ(complete("ferrowipe-cli ''"),
            (Lines{"list", "details", "smart", "format", "unlock"}));
  EXPECT_EQ(complete("ferrowipe-cli format --method sanitize-c"), (Lines{"sanitize-crypto"}));
  EXPECT_EQ(complete("ferrowipe-cli smart --"), (Lines{"--debug", "--help", "--json"}));
  EXPECT_EQ(complete("ferrowipe-cli list --r"), (Lines{"--raw"}));
  EXPECT_EQ(complete("ferrowipe-cli details '" + s_disks + "/6'"),
            (Lines{s_disks + "/6-nvme-ssd.img"}));
  EXPECT_EQ(complete("ferrowipe-cli format --quick 7"), (Lines{"7"}));
  EXPECT_EQ(complete("ferrowipe-cli format --as"), (Lines{"--asset-tag"}));
  // A record field's value is free text, never a disk.
  for (const char* option : {"--operator", "--organization", "--asset-tag", "--notes"}) {
    const Lines offered = complete(std::string("ferrowipe-cli format ") + option + " 7");
    EXPECT_TRUE(std::none_of(offered.begin(), offered.end(),
                             [](const std::string& line) { return line == "7"; }))
        << option;
  }
}

TEST_F(Cli, BadUsageNoSuchDiskAndTooSmallDisksExitWithTwo) {
  const std::vector<std::vector<std::string>> cases{
      {},
      {"nonsense"},
      {"list", "0"},
      {"details"},
      {"details", "0", "1"},
      {"smart", "--yes"},
      {"details", "10"},
      {"smart", "/dev/null"},
      // Under 65535 sectors: refused as the selection window refuses it.
      {"details", "5"},
      {"smart", s_disks + "/5-small-card.img"},
  };
  for (const auto& args : cases) {
    const CliRun run = RunCli(args);
    std::string shown;
    for (const std::string& arg : args) shown += arg + " ";
    EXPECT_EQ(run.status, 2) << shown;
    EXPECT_TRUE(run.out.empty()) << shown;
    EXPECT_FALSE(run.err.empty()) << shown;
  }
  EXPECT_NE(RunCli({"details", "5"}).err.find(std::string(kTooSmallText)), std::string::npos);
}

TEST_F(Cli, HelpGoesToStandardOutputWithStatusZero) {
  const std::vector<std::vector<std::string>> cases{
      {"--help"}, {"-h"}, {"--debug", "--help"}, {"format", "--help"}, {"list", "-h"},
      {"details", "0", "--help"}, {"smart", "--debug", "-h"}};
  for (const auto& args : cases) {
    const CliRun run = RunCli(args);
    EXPECT_EQ(run.status, 0) << args.back();
    ASSERT_FALSE(run.out.empty()) << args.back();
    const std::string command = args.front().starts_with("-") ? "" : args.front() + " ";
    EXPECT_TRUE(run.out[0].starts_with("Usage: ferrowipe-cli [--debug] " + command)) << run.out[0];
    EXPECT_EQ(run.err, "") << args.back();
  }
  const CliRun version = RunCli({"--version"});
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out, std::vector<std::string>{"ferrowipe-cli 4.30"});
}

// Whatever is not understood is named on standard error, with the help that lists what is.
TEST_F(Cli, UnknownOptionsAndCommandsAreNamedWithStatusTwo) {
  struct Case {
    std::vector<std::string> args;
    const char* named;
    const char* help;
  };
  const Case cases[] = {
      {{"--force", "list"}, "'--force'", "'ferrowipe-cli --help'"},
      {{"format", "--force", "0"}, "'--force'", "'ferrowipe-cli format --help'"},
      {{"smart", "0", "-x"}, "'x'", "'ferrowipe-cli smart --help'"},
      {{"list", "--quick"}, "'--quick'", "'ferrowipe-cli list --help'"},
      {{"nonsense"}, "'nonsense'", "'ferrowipe-cli --help'"},
      {{"list", "0"}, "'0'", "'ferrowipe-cli list --help'"},
  };
  for (const Case& c : cases) {
    const CliRun run = RunCli(c.args);
    EXPECT_EQ(run.status, 2) << c.named;
    EXPECT_TRUE(run.out.empty()) << c.named;
    EXPECT_NE(run.err.find(c.named), std::string::npos) << run.err;
    EXPECT_NE(run.err.find(c.help), std::string::npos) << run.err;
  }
}

TEST_F(Cli, OptionsMayComeAnywhereAfterTheCommand) {
  const CliRun before = RunCli({"--debug", "details", "0"});
  const CliRun after = RunCli({"details", "0", "--debug"});
  EXPECT_EQ(after.status, 0) << after.err;
  EXPECT_EQ(test::WithoutTime(after.out), test::WithoutTime(before.out));
  EXPECT_NE(after.err.find("正透過裝置重複..."), std::string::npos) << after.err;
}

TEST_F(Cli, DebugLinesGoToStandardErrorOnly) {
  const CliRun plain = RunCli({"list"});
  const CliRun debug = RunCli({"--debug", "list"});
  EXPECT_EQ(debug.status, 0);
  EXPECT_EQ(debug.out, plain.out);
  EXPECT_NE(debug.err.find("正透過裝置重複...                  "), std::string::npos) << debug.err;
}

}  // namespace
}  // namespace fw
