// Which disk is which, from the CLI: list --json, DISK as any path to a listed disk, partitions
// refused naming their disk, device strings that cannot steer a terminal, and the message for
// a user without rights. Loop-device cases find their own device by path: other tests create
// loop devices at the same time.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "cli/terminal_safe.hpp"
#include "loop_device.hpp"
#include "temp_folder.hpp"

namespace fw {
namespace {

using nlohmann::json;
using test::CommandResult;
using test::LoopDevice;
using test::RunCommand;

// Standard output only, or both streams.
CommandResult Cli(const std::string& arguments, const std::string& environment = "",
                  bool withErrors = false) {
  return RunCommand("(env " + environment + " '" CLI_PATH "' " + arguments + " </dev/null" +
                    (withErrors ? ")" : " 2>/dev/null)"));
}

// The entry of `path` in a list --json output; null when it is not there.
json EntryOf(const json& rows, const std::string& path) {
  for (const json& row : rows) {
    if (row.at("path") == path) return row;
  }
  return nullptr;
}

struct EscapeCase {
  std::string text;
  std::string shown;
};

class TerminalSafeText : public ::testing::TestWithParam<EscapeCase> {};

TEST_P(TerminalSafeText, ControlCharactersAndBadBytesAreShownEscaped) {
  EXPECT_EQ(cli::TerminalSafe(GetParam().text), GetParam().shown);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TerminalSafeText,
    ::testing::Values(EscapeCase{"WDC WD5000AAKS", "WDC WD5000AAKS"},
                      EscapeCase{"A\x1b[2JB\nC\rD\tE", "A\\x1b[2JB\\x0aC\\x0dD\\x09E"},
                      EscapeCase{std::string("NUL\0DEL\x7f", 8), "NUL\\x00DEL\\x7f"},
                      // Traditional Chinese stays; a C1 CSI in UTF-8 and a lone 8-bit CSI do not.
                      EscapeCase{"存放裝置", "存放裝置"},
                      EscapeCase{"X\xc2\x9b" "31mY", "X\\u009b31mY"},
                      EscapeCase{"X\x9b" "31mY", "X\\x9b31mY"},
                      // Cut or overlong sequences are bytes, not characters.
                      EscapeCase{"\xe5\xad", "\\xe5\\xad"}, EscapeCase{"\xc0\xaf", "\\xc0\\xaf"}));

// A simulated disk whose model holds an ESC sequence and a line break.
TEST(CliDisks, AModelWithEscapeAndNewlinePrintsEscapedOnOneRow) {
  const test::TempFolder disks("ferrowipe-evil");
  disks.Image("disk.img", 64 << 20);
  disks.Write("disk.json",
              R"({"vendor": "ATA", "product": "EVIL\u001b[2J\nDISK\u009b", "serial": "S\u001b]0;x\u0007"})");
  const std::string environment = "FERROWIPE_DISKS='" + disks.Path() + "'";

  const CommandResult list = Cli("list --raw", environment);
  EXPECT_EQ(list.status, 0) << list.output;
  // (Identification trims the serial's trailing control character, BEL, as it trims blanks.)
  EXPECT_EQ(list.output,
            "FBVIRTUAL\tATA EVIL\\x1b[2J\\x0aDISK\\u009b\t0000\tS\\x1b]0;x\t131072\t67.1 MB\n");
  // The table's columns are measured on the escaped text: still one row under the header.
  const CommandResult table = Cli("list", environment);
  EXPECT_EQ(std::count(table.output.begin(), table.output.end(), '\n'), 2) << table.output;
  EXPECT_NE(table.output.find("  ATA EVIL\\x1b[2J\\x0aDISK\\u009b  0000      S\\x1b]0;x  131072"),
            std::string::npos)
      << table.output;

  // The caption in a report's header comes from the same model.
  const CommandResult details = Cli("details 0", environment);
  EXPECT_EQ(details.output.find('\x1b'), std::string::npos) << details.output;
  EXPECT_NE(details.output.find("EVIL\\x1b[2J\\x0aDISK"), std::string::npos) << details.output;

  // JSON carries the string itself, escaped the JSON way.
  const CommandResult listJson = Cli("list --json", environment);
  ASSERT_EQ(listJson.status, 0) << listJson.output;
  EXPECT_EQ(listJson.output.find('\x1b'), std::string::npos);
  EXPECT_EQ(listJson.output.find("\xc2\x9b"), std::string::npos);
  const json rows = json::parse(listJson.output);
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].at("model"), "ATA EVIL\x1b[2J\nDISK\xc2\x9b");
  EXPECT_EQ(rows[0].at("drive"), 0);
  EXPECT_EQ(rows[0].at("path"), disks / "disk.img");
  EXPECT_EQ(rows[0].at("bytes"), 64 << 20);
  EXPECT_EQ(rows[0].at("system_disk"), false);
}

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Asked on a terminal, format first shows what is on the disk and what is mounted; any answer
// but yes leaves the disk as it was.
TEST(CliDisks, TheTerminalConfirmationShowsTheDiskBeforeTheQuestion) {
  for (const char* tool : {"script --version", "sfdisk --version", "mkfs.ext4 -V"}) {
    if (RunCommand(tool).status != 0) GTEST_SKIP() << tool << " is not available";
  }
  const test::TempFolder disks("ferrowipe-confirm");
  disks.Image("disk.img", 64 << 20);
  const std::string image = disks / "disk.img";
  ASSERT_EQ(RunCommand("printf 'label: gpt\\nstart=2048, size=40960, type=L\\n' | sfdisk -q " +
                       image).status, 0);
  ASSERT_EQ(RunCommand("mkfs.ext4 -q -F -L fw-data -E offset=1048576 " + image + " 20M").status, 0);
  disks.Write("disk.json", R"({"mounts": [{"mount_point": "/media/fw", "partition": 1}]})");
  const std::string before = ReadAll(image);

  const CommandResult run = RunCommand("echo no | script -qec \"env FERROWIPE_DISKS='" +
                                       disks.Path() + "' '" CLI_PATH "' format 0\" /dev/null");
  EXPECT_EQ(run.status, 4) << run.output;
  const std::string expected[] = {
      "Path:      " + image,
      "Size:      67108864 bytes (67.1 MB)",
      "Contents:  gpt partition table",
      "  Partition 1: ext4 file system \"fw-data\", 20971520 bytes, mounted on /media/fw",
      "Mounted:   /media/fw",
  };
  size_t at = run.output.find("所選裝置上的所有資料將遺失");
  ASSERT_NE(at, std::string::npos) << run.output;
  for (const std::string& line : expected) {
    at = run.output.find(line, at);
    EXPECT_NE(at, std::string::npos) << line << "\n" << run.output;
  }
  EXPECT_NE(run.output.find("Type yes to erase this disk: ", at), std::string::npos);
  EXPECT_TRUE(ReadAll(image) == before) << "a refusal writes nothing";
  const std::string quickNote =
      "快速抹除只會移除分割表與前 10 MB 的資料，其餘資料仍留在裝置上，可用復原工具讀取。";
  EXPECT_EQ(run.output.find(quickNote), std::string::npos) << "a full run is no quick wipe";

  // A quick wipe is asked for with what it leaves behind, before the disk's facts.
  const CommandResult quick = RunCommand("echo no | script -qec \"env FERROWIPE_DISKS='" +
                                         disks.Path() + "' '" CLI_PATH "' format --quick 0\" "
                                         "/dev/null");
  EXPECT_EQ(quick.status, 4) << quick.output;
  const size_t note = quick.output.find(quickNote);
  EXPECT_NE(note, std::string::npos) << quick.output;
  EXPECT_LT(note, quick.output.find("Path:      " + image)) << quick.output;
  EXPECT_TRUE(ReadAll(image) == before) << "a refusal writes nothing";
}

class CliOnLoopDevices : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string reason = LoopDevice::SkipReason();
    if (!reason.empty()) GTEST_SKIP() << reason;
  }
};

// One rule marks the running system's disk in the list and refuses to format it: a disk whose
// file system is mounted on /home (in a mount namespace of the test's own) is both, and the
// refusal leaves it mounted and its bytes as they were.
TEST_F(CliOnLoopDevices, TheDiskListedAsTheSystemDiskIsTheOneFormatRefusesAsTheRunningSystem) {
  LoopDevice loop;
  ASSERT_TRUE(loop.Ok()) << loop.Error();
  // The mounted file system writes its journal and superblock whenever it likes, but never its
  // first 1,024 bytes, which any format writes first: marked, they show whether the refusal
  // wrote. The mark goes through the device before the mount, so that the file system's cached
  // copy of its first block carries it too.
  ASSERT_EQ(RunCommand("mkfs.ext4 -q -F " + loop.Path() + " && printf 'fw-mark!%.0s' $(seq 128) | "
                       "dd of=" + loop.Path() + " bs=1024 count=1 conv=fsync status=none").status,
            0);
  const std::string mounted = loop.Mount(loop.Path());
  ASSERT_FALSE(mounted.empty()) << loop.Error();
  const std::string before = ReadAll(loop.Image()).substr(0, 1082);
  ASSERT_EQ(before.substr(0, 8), "fw-mark!");
  const std::string cli = "'" CLI_PATH "'";
  const CommandResult run = RunCommand(
      "env -u FERROWIPE_DISKS unshare -m sh -c \"mount --bind " + mounted + " /home && " + cli +
      " list --json 2>/dev/null; echo; echo ===; " + cli + " format --yes " + loop.Path() +
      " </dev/null 2>&1\"");
  const size_t split = run.output.find("\n===\n");
  ASSERT_NE(split, std::string::npos) << run.output;
  const json entry = EntryOf(json::parse(run.output.substr(0, split)), loop.Path());
  ASSERT_FALSE(entry.is_null()) << run.output;
  EXPECT_EQ(entry.at("system_disk"), true);
  EXPECT_EQ(run.status, 3) << run.output;
  EXPECT_NE(run.output.find("此裝置上有執行中的系統，不能格式化: /home", split), std::string::npos)
      << run.output;
  EXPECT_TRUE(test::IsMounted(mounted));
  const std::string after = ReadAll(loop.Image()).substr(0, 1082);
  EXPECT_EQ(after.substr(0, 1024), before.substr(0, 1024)) << "a refusal writes nothing";
  EXPECT_EQ(after.substr(1080), "\x53\xEF") << "the ext4 superblock is where it was";

  // Outside that namespace the same disk is neither.
  const CommandResult list = Cli("list --json");
  ASSERT_EQ(list.status, 0) << list.output;
  EXPECT_EQ(EntryOf(json::parse(list.output), loop.Path()).at("system_disk"), false);
}

// list --json names the loop device, its partition with file system, label and mount point.
TEST_F(CliOnLoopDevices, ListJsonNamesTheLoopDeviceAndWhatIsOnIt) {
  LoopDevice loop;
  ASSERT_TRUE(loop.Ok()) << loop.Error();
  const std::string partition = loop.AddPartition(1, 2048, 40960);
  ASSERT_FALSE(partition.empty()) << loop.Error();
  const std::string mounted = loop.MountExt4(partition);
  ASSERT_FALSE(mounted.empty()) << loop.Error();
  ASSERT_EQ(RunCommand("e2label " + partition + " fw-label").status, 0);

  const CommandResult run = Cli("list --json");
  ASSERT_EQ(run.status, 0) << run.output;
  const json entry = EntryOf(json::parse(run.output), loop.Path());
  ASSERT_FALSE(entry.is_null()) << run.output;
  EXPECT_EQ(entry.at("bytes"), 64 << 20);
  EXPECT_EQ(entry.at("sector_size"), 512);
  EXPECT_EQ(entry.at("bus"), "FBVIRTUAL");
  EXPECT_EQ(entry.at("read_only"), false);
  EXPECT_EQ(entry.at("system_disk"), false);
  ASSERT_EQ(entry.at("partitions").size(), 1u) << entry.dump();
  const json& p = entry.at("partitions")[0];
  EXPECT_EQ(p.at("number"), 1);
  EXPECT_EQ(p.at("path"), partition);
  EXPECT_EQ(p.at("bytes"), 40960 * 512);
  EXPECT_EQ(p.at("fs_type"), "ext4");
  EXPECT_EQ(p.at("label"), "fw-label");
  EXPECT_EQ(p.at("mount_points"), json::array({mounted}));
  EXPECT_EQ(entry.at("mount_points"), json::array({mounted}));

  // The drive number is the DISK argument of the other commands.
  const CommandResult byNumber =
      Cli("details " + std::to_string(entry.at("drive").get<int>()));
  // A loop device takes no ATA command: its details are unavailable, and the status says so.
  EXPECT_EQ(byNumber.status, 1);
  EXPECT_NE(byNumber.output.find("[" + std::to_string(entry.at("drive").get<int>()) + "]"),
            std::string::npos);
}

// A link of one's own to the loop device serves as DISK for details and format alike; a
// partition, by its node or a link to it, is refused naming its disk, and nothing is written.
TEST_F(CliOnLoopDevices, ASymlinkIsTheDiskAndAPartitionIsRefusedNamingItsDisk) {
  LoopDevice loop;
  ASSERT_TRUE(loop.Ok()) << loop.Error();
  const test::TempFolder links("ferrowipe-links");
  const std::string link = links / "by-id-like";
  std::filesystem::create_symlink(loop.Path(), link);
  ASSERT_EQ(RunCommand("dd if=/dev/urandom of=" + loop.Path() +
                       " bs=1M count=1 oflag=direct status=none").status, 0);

  const CommandResult details = Cli("details " + link);
  EXPECT_EQ(details.status, 1) << details.output;  // the disk is found; it has no ATA data
  EXPECT_NE(details.output.find("裝置詳細資料-"), std::string::npos) << details.output;

  const std::string partition = loop.AddPartition(1, 2048, 2048);
  ASSERT_FALSE(partition.empty()) << loop.Error();
  const std::string partitionLink = links / "part";
  std::filesystem::create_symlink(partition, partitionLink);
  const std::string head = ReadAll(loop.Image());
  for (const std::string& refused : {partition, partitionLink}) {
    const CommandResult run = Cli("format --quick --yes " + refused, "", true);
    EXPECT_EQ(run.status, 2) << run.output;
    EXPECT_NE(run.output.find("is a partition of " + loop.Path()), std::string::npos)
        << run.output;
  }
  EXPECT_TRUE(ReadAll(loop.Image()) == head) << "a refusal writes nothing";

  const CommandResult format = Cli("format --quick --yes " + link);
  EXPECT_EQ(format.status, 0) << format.output;
  std::ifstream erased(loop.Image(), std::ios::binary);
  std::vector<char> first(1 << 20);
  erased.read(first.data(), static_cast<std::streamsize>(first.size()));
  EXPECT_TRUE(std::all_of(first.begin(), first.end(), [](char c) { return c == 0; }));
}

// Run by a user who may not open the disks, list says so and fails instead of listing nothing.
TEST_F(CliOnLoopDevices, AnUnprivilegedListExitsOneNamingTheLackOfRights) {
  if (RunCommand("runuser --help").status != 0) GTEST_SKIP() << "runuser is not installed";
  // At least this loop device is root's alone.
  LoopDevice loop;
  ASSERT_TRUE(loop.Ok()) << loop.Error();
  const CommandResult run =
      RunCommand("runuser -u nobody -- '" CLI_PATH "' list </dev/null");
  EXPECT_EQ(run.status, 1) << run.output;
  EXPECT_NE(run.output.find("permission denied; run as root"), std::string::npos) << run.output;
  const CommandResult details =
      RunCommand("runuser -u nobody -- '" CLI_PATH "' details " + loop.Path() + " </dev/null");
  EXPECT_EQ(details.status, 1) << details.output;
  EXPECT_NE(details.output.find("run as root"), std::string::npos) << details.output;
}

// A simulated disk follows the same rule: one whose metadata mounts /home is the system disk in
// the list, and format refuses it for that mount without writing a byte.
TEST(CliDisks, ASimulatedSystemDiskIsListedAsSuchAndRefused) {
  const test::TempFolder disks("ferrowipe-system");
  disks.Image("disk.img", 64 << 20);
  disks.Write("disk.json", R"({"mounts": [{"mount_point": "/media/data", "partition": 1},
                                         {"mount_point": "/home", "partition": 2}]})");
  const std::string environment = "FERROWIPE_DISKS='" + disks.Path() + "'";
  const std::string before = ReadAll(disks / "disk.img");

  const CommandResult list = Cli("list --json", environment);
  ASSERT_EQ(list.status, 0) << list.output;
  EXPECT_EQ(json::parse(list.output).at(0).at("system_disk"), true);
  const CommandResult run = Cli("format --yes 0", environment, true);
  EXPECT_EQ(run.status, 3) << run.output;
  EXPECT_NE(run.output.find("此裝置上有執行中的系統，不能格式化: /home"), std::string::npos)
      << run.output;
  EXPECT_TRUE(ReadAll(disks / "disk.img") == before) << "a refusal writes nothing";
}

// The path in the message for a user who may not write the disk cannot steer the terminal
// either: a simulated disk's path is any file name.
TEST(CliDisks, ThePathInTheMessageForMissingRightsPrintsEscaped) {
  if (::geteuid() != 0 || RunCommand("runuser --help").status != 0) {
    GTEST_SKIP() << "needs root and runuser to run as another user";
  }
  const test::TempFolder disks("ferrowipe-evil-path");
  const std::string name = "ev\x1b[2Jil.img";
  disks.Image(name, 64 << 20);
  ASSERT_EQ(::chmod(disks.Path().c_str(), 0755), 0);
  ASSERT_EQ(::chmod((disks / name).c_str(), 0444), 0);
  const CommandResult run = RunCommand("runuser -u nobody -- env FERROWIPE_DISKS='" +
                                       disks.Path() + "' '" CLI_PATH "' format --yes 0 </dev/null");
  EXPECT_EQ(run.status, 1) << run.output;
  EXPECT_EQ(run.output.find('\x1b'), std::string::npos) << run.output;
  EXPECT_NE(run.output.find("ev\\x1b[2Jil.img for writing: permission denied"), std::string::npos)
      << run.output;
}

}  // namespace
}  // namespace fw
