// ferrowipe-cli format over simulated disks: the log it prints and its exit statuses.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>
#include <regex>
#include <sstream>

#include "loop_device.hpp"
#include "temp_folder.hpp"

namespace fw {
namespace {

namespace fs = std::filesystem;

constexpr int64_t kDiskBytes = 64 << 20;

// A folder of one simulated disk, disk.img (every byte 0xAB) with the given metadata.
class SimulatedDisk {
 public:
  explicit SimulatedDisk(const std::string& json) {
    char dir[] = "/tmp/ferrowipe-disks-XXXXXX";
    if (::mkdtemp(dir) == nullptr) return;
    m_dir = dir;
    const std::vector<char> bytes(static_cast<size_t>(kDiskBytes), static_cast<char>(0xAB));
    std::ofstream(image(), std::ios::binary).write(bytes.data(), kDiskBytes);
    if (!json.empty()) std::ofstream(m_dir + "/disk.json") << json;
  }
  ~SimulatedDisk() {
    std::error_code ignored;
    if (!m_dir.empty()) fs::remove_all(m_dir, ignored);
  }
  SimulatedDisk(const SimulatedDisk&) = delete;
  SimulatedDisk& operator=(const SimulatedDisk&) = delete;

  std::string Dir() const { return m_dir; }
  std::string image() const { return m_dir + "/disk.img"; }

  test::CommandResult Cli(const std::string& arguments) const {
    // Standard output only: the subshell keeps standard error out of the captured text.
    return test::RunCommand("(FERROWIPE_DISKS='" + m_dir + "' '" CLI_PATH "' " + arguments +
                            " </dev/null 2>/dev/null)");
  }

  std::vector<uint8_t> Bytes() const {
    std::ifstream in(image(), std::ios::binary);
    std::vector<uint8_t> bytes(static_cast<size_t>(kDiskBytes));
    in.read(reinterpret_cast<char*>(bytes.data()), kDiskBytes);
    return bytes;
  }

 private:
  std::string m_dir;
};

// The lines of an output without their time stamps (a stamp holds single blanks only).
std::vector<std::string> Messages(const std::string& out) {
  std::vector<std::string> messages;
  size_t start = 0;
  while (start < out.size()) {
    const size_t end = out.find('\n', start);
    const std::string line = out.substr(start, end - start);
    const size_t separator = line.find("   ");
    messages.push_back(separator == std::string::npos ? line : line.substr(separator + 3));
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return messages;
}

bool Contains(const std::vector<std::string>& lines, const std::string& line) {
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

TEST(FormatCli, ACompletedRunPrintsTheFormatLogAndExitsZero) {
  SimulatedDisk disk("");
  const test::CommandResult run = disk.Cli("format --yes " + disk.image());
  EXPECT_EQ(run.status, 0) << run.output;
  const std::vector<std::string> messages = Messages(run.output);
  ASSERT_EQ(messages.size(), 11u) << run.output;
  EXPECT_EQ(messages[0], " ");
  EXPECT_EQ(messages[4], "裝置容量:            131,072 磁區     ");
  EXPECT_EQ(messages[6], "正在格式化...      ");
  EXPECT_TRUE(messages[7].starts_with("平均速度:          "));
  EXPECT_TRUE(messages[7].ends_with(" MB/s"));
  EXPECT_EQ(messages[8], "低階格式化完成。                     ");
  EXPECT_EQ(messages[10], "記得建立新的分割區。                        ");
  const std::vector<uint8_t> bytes = disk.Bytes();
  EXPECT_TRUE(std::all_of(bytes.begin(), bytes.end(), [](uint8_t b) { return b == 0; }));
}

TEST(FormatCli, QuickWipeErasesOnlyTheFirst10240000BytesAndTheLastMiB) {
  SimulatedDisk disk("");
  EXPECT_EQ(disk.Cli("format " + disk.image() + " --quick --yes").status, 0);
  const std::vector<uint8_t> bytes = disk.Bytes();
  const auto tail = bytes.end() - (1 << 20);
  EXPECT_TRUE(std::all_of(bytes.begin(), bytes.begin() + 10'240'000,
                          [](uint8_t b) { return b == 0; }));
  EXPECT_TRUE(std::all_of(bytes.begin() + 10'240'000, tail, [](uint8_t b) { return b == 0xAB; }));
  EXPECT_TRUE(std::all_of(tail, bytes.end(), [](uint8_t b) { return b == 0; }));
}

struct ExitCase {
  const char* name;
  std::string json;
  int status;
  std::string line;  // a line the log must hold
  std::string options = "";
};

class FormatCliExit : public ::testing::TestWithParam<ExitCase> {};

TEST_P(FormatCliExit, MatchesHowTheRunEnded) {
  SimulatedDisk disk(GetParam().json);
  const test::CommandResult run =
      disk.Cli("format --yes " + GetParam().options + " " + disk.image());
  EXPECT_EQ(run.status, GetParam().status) << run.output;
  EXPECT_TRUE(Contains(Messages(run.output), GetParam().line)) << run.output;
}

INSTANTIATE_TEST_SUITE_P(
    SimulatedDisks, FormatCliExit,
    ::testing::Values(
        ExitCase{"FailedBlocks", R"({"write_errors": [{"offset": 1048576, "code": 19}]})", 6,
                 "格式錯誤發生在偏移                       1,048,576:   19 - The media is write "
                 "protected"},
        ExitCase{"Unplugged", R"({"unplug_at": 5000000})", 5, "裝置被拔出，正在中止...                    "},
        ExitCase{"BusyVolume",
                 R"({"mounts": [{"mount_point": "/media/ferrowipe-test", "partition": 1, "busy": true}]})",
                 3,
                 "無法鎖住裝置。請確定您沒有在此裝置上開啟檔案後再試一次。" + std::string(62, ' ')},
        ExitCase{"BusyVolumeNamed",
                 R"({"mounts": [{"mount_point": "/media/ferrowipe-test", "partition": 1, "busy": true}]})",
                 3, "磁碟區正在使用中，無法卸載: /media/ferrowipe-test"},
        ExitCase{"IdleVolume",
                 R"({"mounts": [{"mount_point": "/media/ferrowipe-test", "partition": 1}]})", 0,
                 "低階格式化完成。                     "},
        ExitCase{"Verified", "", 0, "驗證通過，全部為零。已檢查位元組: 67,108,864", "--verify"},
        ExitCase{"QuickVerifiedReadsBothRegions", "", 0,
                 "驗證通過，全部為零。已檢查位元組: 11,288,576", "--quick --verify"},
        // Writes that report success without storing: only the read-back finds them.
        ExitCase{"LostWriteFound", R"({"lost_writes": [[5000000, 4096]]})", 7,
                 "非零資料發生在偏移                       4,999,680    LBA 9765", "--verify"},
        ExitCase{"LostWriteInTheQuickTail", R"({"lost_writes": [[67104768, 512]]})", 7,
                 "驗證失敗。已檢查位元組: 11,288,576，非零區域: 1，無法讀取的區域: 0",
                 "--verify --quick"},
        ExitCase{"VerifyOutranksFailedBlocks",
                 R"({"write_errors": [{"offset": 1048576, "code": 19}]})", 7,
                 "非零資料發生在偏移                       1,048,576    LBA 2048", "--verify"},
        ExitCase{"LostWriteUnnoticedWithoutVerify", R"({"lost_writes": [[0, 512]]})", 0,
                 "低階格式化完成。                     "}),
    [](const auto& info) { return std::string(info.param.name); });

// Standard error into a pipe: silent unless --progress asks for the plain lines, which end with
// the line of the finished run (a run this short prints no other).
TEST(FormatCli, ProgressLinesGoToAPipeOnlyWhenAskedFor) {
  SimulatedDisk disk("");
  const auto errorOutput = [&](const std::string& options) {
    return test::RunCommand("(FERROWIPE_DISKS='" + disk.Dir() + "' '" CLI_PATH "' format --yes " +
                            options + " 0 </dev/null 2>&1 >/dev/null)");
  };
  const test::CommandResult silent = errorOutput("");
  EXPECT_EQ(silent.status, 0);
  EXPECT_EQ(silent.output, "");
  const test::CommandResult shown = errorOutput("--progress");
  EXPECT_EQ(shown.status, 0);
  ASSERT_TRUE(shown.output.ends_with("\n")) << shown.output;
  const std::string last = shown.output.substr(
      shown.output.rfind('\n', shown.output.size() - 2) + 1);
  EXPECT_TRUE(last.starts_with("100% 67108864 of 67108864 bytes, ")) << shown.output;
  EXPECT_NE(last.find(" MB/s, "), std::string::npos) << last;
  EXPECT_TRUE(last.ends_with(" elapsed, 0:00:00 left\n")) << last;
  EXPECT_EQ(shown.output.find('\r'), std::string::npos);
}

TEST(FormatCli, RefusesWithoutYesWhenNoTerminalCanBeAsked) {
  SimulatedDisk disk("");
  const test::CommandResult run = disk.Cli("format " + disk.image());
  EXPECT_EQ(run.status, 2);
  EXPECT_TRUE(run.output.empty());
  const std::vector<uint8_t> bytes = disk.Bytes();
  EXPECT_EQ(bytes.front(), 0xAB);
}

// Only a disk of the scan, big enough to be chosen, is ever written: a file beside the disks
// that is not one of them, and a disk under 65535 sectors, keep every byte.
TEST(FormatCli, WritesNothingOutsideTheScannedDisksNorToATooSmallOne) {
  SimulatedDisk disk("");
  const std::string folder = fs::path(disk.image()).parent_path().string();
  const std::string outside = folder + "/outside.bin";
  const std::string tiny = folder + "/tiny.img";  // 2,048 sectors: drive 1
  const std::vector<char> pattern(1 << 20, static_cast<char>(0xAB));
  for (const std::string& path : {outside, tiny}) {
    std::ofstream(path, std::ios::binary)
        .write(pattern.data(), static_cast<std::streamsize>(pattern.size()));
  }
  for (const std::string& target : {outside, tiny, std::string("1")}) {
    const test::CommandResult run = disk.Cli("format --yes " + target);
    EXPECT_EQ(run.status, 2) << target;
    EXPECT_TRUE(run.output.empty()) << target;
  }
  for (const std::string& path : {outside, tiny}) {
    std::ifstream in(path, std::ios::binary);
    const std::vector<char> bytes((std::istreambuf_iterator<char>(in)),
                                  std::istreambuf_iterator<char>());
    EXPECT_EQ(bytes, pattern) << path;
  }
  const std::vector<uint8_t> bytes = disk.Bytes();
  EXPECT_TRUE(std::all_of(bytes.begin(), bytes.end(), [](uint8_t b) { return b == 0xAB; }));
}

TEST(FormatCli, BadUsageIsStatusTwo) {
  SimulatedDisk disk("");
  EXPECT_EQ(disk.Cli("format --yes").status, 2);
  EXPECT_EQ(disk.Cli("format --yes --fast " + disk.image()).status, 2);
  EXPECT_EQ(disk.Cli("format --yes 7").status, 2);
  EXPECT_EQ(disk.Cli("format --yes " + disk.image() + " --report").status, 2) << "FILE missing";
  EXPECT_EQ(disk.Cli("format --yes --verify=1 " + disk.image()).status, 2);
  const std::vector<uint8_t> bytes = disk.Bytes();
  EXPECT_TRUE(std::all_of(bytes.begin(), bytes.end(), [](uint8_t b) { return b == 0xAB; }));
}

using nlohmann::json;

// Every documented member, with its JSON type; nothing else.
void ExpectDocumentedShape(const json& report) {
  const std::vector<std::pair<std::string, json::value_t>> top{
      {"report_version", json::value_t::number_unsigned}, {"program", json::value_t::object},
      {"host", json::value_t::object},   {"disk", json::value_t::object},
      {"method", json::value_t::object}, {"started", json::value_t::string},
      {"ended", json::value_t::string},  {"outcome", json::value_t::string},
      {"bytes_written", json::value_t::number_unsigned},
      {"failed_blocks", json::value_t::array}, {"verify", json::value_t::object},
      {"log", json::value_t::array}, {"record", json::value_t::object}};
  // Null unless the run met them: a hidden area, a refusal, a password left on the drive.
  const std::vector<std::string> nullable{"hidden_area", "refusal", "password_left"};
  ASSERT_EQ(report.size(), top.size() + nullable.size()) << report.dump(2);
  for (const auto& [key, type] : top) {
    ASSERT_TRUE(report.contains(key)) << key;
    EXPECT_EQ(report[key].type(), type) << key;
  }
  for (const std::string& key : nullable) ASSERT_TRUE(report.contains(key)) << key;
  EXPECT_TRUE(report["refusal"].is_null() || report["refusal"].is_string());
  EXPECT_TRUE(report["password_left"].is_null() || report["password_left"].is_string());
  EXPECT_TRUE(report["hidden_area"].is_null() || report["hidden_area"].is_object());
  for (const char* key : {"operator", "organization", "asset_tag", "notes"}) {
    EXPECT_TRUE(report["record"][key].is_string()) << key;
  }
  EXPECT_TRUE(report["disk"]["media"].is_string());
  for (const char* key : {"method", "read_back"}) {
    EXPECT_TRUE(report["verify"][key].is_null() || report["verify"][key].is_string()) << key;
  }
  for (const char* key : {"name", "version"}) EXPECT_TRUE(report["program"][key].is_string());
  for (const char* key : {"name", "kernel"}) EXPECT_TRUE(report["host"][key].is_string());
  const json& disk = report["disk"];
  for (const char* key : {"path", "model", "serial", "firmware", "bus"}) {
    EXPECT_TRUE(disk[key].is_string()) << key;
  }
  EXPECT_TRUE(disk["by_id"].is_array());
  for (const char* key : {"sectors", "sector_size", "bytes"}) {
    EXPECT_TRUE(disk[key].is_number_integer()) << key;
  }
  EXPECT_EQ(disk["bytes"], disk["sectors"].get<int64_t>() * disk["sector_size"].get<int64_t>());
  EXPECT_TRUE(report["method"]["verify"].is_boolean());
  for (const json& region : report["method"]["regions"]) {
    EXPECT_TRUE(region["offset"].is_number_integer() && region["length"].is_number_integer());
  }
  const std::regex iso(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ)");
  EXPECT_TRUE(std::regex_match(report["started"].get<std::string>(), iso));
  EXPECT_TRUE(std::regex_match(report["ended"].get<std::string>(), iso));
  EXPECT_LE(report["started"].get<std::string>(), report["ended"].get<std::string>());
  const json& verify = report["verify"];
  EXPECT_TRUE(verify["result"].is_string());
  for (const char* key : {"bytes_checked", "non_zero_regions", "unreadable_regions"}) {
    EXPECT_TRUE(verify[key].is_number_integer()) << key;
  }
  EXPECT_TRUE(verify["first_problems"].is_array());
}

json ReadReport(const std::string& path) {
  std::ifstream in(path);
  return json::parse(in, nullptr, false);
}

TEST(FormatCliReport, AVerifiedQuickWipeIsRecordedWithItsRegionsAndLog) {
  SimulatedDisk disk(R"({"product": "REPORT DISK", "serial": "SN42", "revision": "1.0"})");
  const std::string path = disk.Dir() + "/report.json";
  const test::CommandResult run =
      disk.Cli("format --yes --quick --verify --report " + path + " " + disk.image());
  ASSERT_EQ(run.status, 0) << run.output;
  const json report = ReadReport(path);
  ASSERT_FALSE(report.is_discarded());
  ExpectDocumentedShape(report);
  EXPECT_EQ(report["program"]["version"], "4.30");
  EXPECT_EQ(report["disk"]["path"], disk.image());
  EXPECT_EQ(report["disk"]["model"], "REPORT DISK");
  EXPECT_EQ(report["disk"]["serial"], "SN42");
  EXPECT_EQ(report["disk"]["bytes"], kDiskBytes);
  // A quick wipe leaves the data readable past its regions: it is no sanitisation at all.
  EXPECT_EQ(report["method"]["name"], "quick");
  EXPECT_EQ(report["method"]["category"], "none");
  EXPECT_EQ(report["method"]["regions"],
            json::parse(R"([{"offset": 0, "length": 10240000},
                            {"offset": 66060288, "length": 1048576}])"));
  EXPECT_EQ(report["outcome"], "completed");
  EXPECT_EQ(report["bytes_written"], 10'240'000 + (1 << 20));
  EXPECT_EQ(report["verify"]["result"], "passed");
  EXPECT_EQ(report["verify"]["bytes_checked"], 10'240'000 + (1 << 20));
  // The log is the format log the run printed, line for line.
  std::vector<std::string> printed;
  std::istringstream out(run.output);
  for (std::string line; std::getline(out, line);) printed.push_back(line);
  EXPECT_EQ(report["log"].get<std::vector<std::string>>(), printed);
  EXPECT_EQ(std::distance(fs::directory_iterator(disk.Dir()), fs::directory_iterator()), 3)
      << "image, metadata, report: no temporary file is left";
}

TEST(FormatCliReport, TheRecordFieldsGivenAreRecordedAsGiven) {
  SimulatedDisk disk("");
  const std::string path = disk.Dir() + "/report.json";
  const test::CommandResult run = disk.Cli(
      "format --yes --quick --report " + path +
      " --operator '王小明, 資訊安全管理員' --organization 'Example Ltd.' --asset-tag PC-0042"
      " --notes 'line one\nline two' " +
      disk.image());
  ASSERT_EQ(run.status, 0) << run.output;
  const json report = ReadReport(path);
  ExpectDocumentedShape(report);
  EXPECT_EQ(report["record"], json({{"operator", "王小明, 資訊安全管理員"},
                                    {"organization", "Example Ltd."},
                                    {"asset_tag", "PC-0042"},
                                    {"notes", "line one\nline two"}}));
}

TEST(FormatCliReport, FailuresAndLostWritesAreCounted) {
  SimulatedDisk disk(R"({"write_errors": [{"offset": 0, "code": 19}],
                         "lost_writes": [[40000000, 1024]]})");
  const std::string path = disk.Dir() + "/r.json";
  const test::CommandResult run =
      disk.Cli("format --yes --verify --report " + path + " " + disk.image());
  EXPECT_EQ(run.status, 7) << run.output;
  const json report = ReadReport(path);
  ExpectDocumentedShape(report);
  EXPECT_EQ(report["method"]["name"], "zero");
  EXPECT_EQ(report["method"]["category"], "clear");
  EXPECT_EQ(report["failed_blocks"], json::parse(R"([{"offset": 0, "code": 19}])"));
  EXPECT_EQ(report["verify"]["result"], "failed");
  EXPECT_EQ(report["verify"]["non_zero_regions"], 2);
  EXPECT_EQ(report["verify"]["first_problems"][1],
            json::parse(R"({"offset": 40000000, "length": 1024, "code": 0})"));
}

TEST(FormatCliReport, ALockFailureIsRecordedAndAMissingFolderIsRefusedFirst) {
  SimulatedDisk busy(
      R"({"mounts": [{"mount_point": "/media/ferrowipe-test", "partition": 1, "busy": true}]})");
  const std::string path = busy.Dir() + "/r.json";
  EXPECT_EQ(busy.Cli("format --yes --report " + path + " " + busy.image()).status, 3);
  const json report = ReadReport(path);
  ExpectDocumentedShape(report);
  EXPECT_EQ(report["outcome"], "lock failed");
  EXPECT_EQ(report["verify"]["result"], "not run");
  EXPECT_EQ(report["bytes_written"], 0);

  SimulatedDisk disk("");
  EXPECT_EQ(disk.Cli("format --yes --report /nonexistent/r.json " + disk.image()).status, 2);
  const std::vector<uint8_t> bytes = disk.Bytes();
  EXPECT_TRUE(std::all_of(bytes.begin(), bytes.end(), [](uint8_t b) { return b == 0xAB; }));
}

// Every place a report cannot go is bad usage, found before the disk is opened for writing: the
// disk keeps every byte, and what stands at the path stays as it was.
struct RefusedReport {
  const char* name;
  // The --report argument, made ready in the disk's folder.
  std::function<std::string(const SimulatedDisk&)> path;
  std::string says;
};

class FormatCliRefusedReport : public ::testing::TestWithParam<RefusedReport> {};

TEST_P(FormatCliRefusedReport, ExitsTwoAndTheDiskIsUntouched) {
  SimulatedDisk disk("");
  const std::string path = GetParam().path(disk);
  struct stat before {};
  const bool existed = lstat(path.c_str(), &before) == 0;
  const test::CommandResult run = test::RunCommand(
      "FERROWIPE_DISKS='" + disk.Dir() + "' '" CLI_PATH "' format --yes --quick --report '" +
      path + "' " + disk.image() + " </dev/null");
  EXPECT_EQ(run.status, 2) << run.output;
  EXPECT_NE(run.output.find(GetParam().says), std::string::npos) << run.output;
  EXPECT_EQ(run.output.find("正在格式化"), std::string::npos) << run.output;
  const std::vector<uint8_t> bytes = disk.Bytes();
  EXPECT_TRUE(std::all_of(bytes.begin(), bytes.end(), [](uint8_t b) { return b == 0xAB; }));
  struct stat after {};
  EXPECT_EQ(lstat(path.c_str(), &after) == 0, existed);
  if (existed) {
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_EQ(after.st_mode, before.st_mode);
  }
}

std::string InDisk(const SimulatedDisk& disk, const std::string& name) {
  return disk.Dir() + "/" + name;
}

INSTANTIATE_TEST_SUITE_P(
    Paths, FormatCliRefusedReport,
    ::testing::Values(
        RefusedReport{"DeviceNode", [](const SimulatedDisk&) { return std::string("/dev/null"); },
                      "--report /dev/null: it is a character device, not a regular file"},
        RefusedReport{"Fifo",
                      [](const SimulatedDisk& d) {
                        mkfifo(InDisk(d, "fifo").c_str(), 0600);
                        return InDisk(d, "fifo");
                      },
                      "it is a FIFO, not a regular file"},
        RefusedReport{"Folder", [](const SimulatedDisk& d) { return d.Dir(); },
                      "it is a folder, not a regular file"},
        RefusedReport{"TooLong",
                      [](const SimulatedDisk& d) { return InDisk(d, std::string(250, 'r')); },
                      "the name is too long"},
        RefusedReport{"Empty", [](const SimulatedDisk&) { return std::string(); },
                      "--report : no file name given"},
        RefusedReport{"MissingFolder",
                      [](const SimulatedDisk& d) { return InDisk(d, "no/r.json"); },
                      "no folder "},
        RefusedReport{"ThroughAFile",
                      [](const SimulatedDisk& d) { return InDisk(d, "disk.img/r.json"); },
                      "Not a directory"},
        RefusedReport{"TheDisksImage", [](const SimulatedDisk& d) { return d.image(); },
                      "it lies on the disk being erased"},
        RefusedReport{"UnderTheDisksVolume",
                      [](const SimulatedDisk& d) {
                        fs::create_directory(InDisk(d, "volume"));
                        std::ofstream(InDisk(d, "disk.json"))
                            << R"({"mounts": [{"mount_point": ")" + InDisk(d, "volume") + R"("}]})";
                        return InDisk(d, "volume/r.json");
                      },
                      "it lies on the disk being erased"}),
    [](const auto& info) { return std::string(info.param.name); });

// A report on a file system of the loop device being erased would go with it: refused, the
// volume still mounted and its first bytes as they were.
TEST(FormatCliReport, AReportOnAVolumeOfTheDiskBeingErasedIsRefused) {
  if (const std::string reason = test::LoopDevice::SkipReason(); !reason.empty()) {
    GTEST_SKIP() << reason;
  }
  test::LoopDevice loop;
  ASSERT_TRUE(loop.Ok()) << loop.Error();
  ASSERT_EQ(test::RunCommand("mkfs.ext4 -q -F " + loop.Path()).status, 0);
  const std::string mounted = loop.Mount(loop.Path());
  ASSERT_FALSE(mounted.empty()) << loop.Error();
  std::ifstream image(loop.Image(), std::ios::binary);
  std::string before(1024, '\0');
  image.read(before.data(), 1024);
  const test::CommandResult run =
      test::RunCommand("env -u FERROWIPE_DISKS '" CLI_PATH "' format --yes --quick --report " +
                       mounted + "/r.json " + loop.Path() + " </dev/null");
  EXPECT_EQ(run.status, 2) << run.output;
  EXPECT_NE(run.output.find("it lies on the disk being erased"), std::string::npos) << run.output;
  EXPECT_TRUE(test::IsMounted(mounted));
  EXPECT_FALSE(fs::exists(mounted + "/r.json"));
  std::ifstream again(loop.Image(), std::ios::binary);
  std::string after(1024, '\0');
  again.read(after.data(), 1024);
  EXPECT_EQ(after, before);
}

// A read-only folder, as root too: the report could not be written after the erasure.
TEST(FormatCliReport, AReadOnlyFolderIsRefusedFirst) {
  if (geteuid() != 0) GTEST_SKIP() << "a read-only mount needs root";
  SimulatedDisk disk("");
  const std::string folder = disk.Dir() + "/ro";
  fs::create_directory(folder);
  ASSERT_EQ(test::RunCommand("mount -t tmpfs -o ro tmpfs " + folder).status, 0);
  const test::CommandResult run = test::RunCommand(
      "FERROWIPE_DISKS='" + disk.Dir() + "' '" CLI_PATH "' format --yes --report " + folder +
      "/r.json " + disk.image() + " </dev/null 2>&1; s=$?; umount " + folder + "; exit $s");
  EXPECT_EQ(run.status, 2) << run.output;
  EXPECT_NE(run.output.find("is not writable: Read-only file system"), std::string::npos)
      << run.output;
  const std::vector<uint8_t> bytes = disk.Bytes();
  EXPECT_TRUE(std::all_of(bytes.begin(), bytes.end(), [](uint8_t b) { return b == 0xAB; }));
}

// Near the 64-bit limit (2^63 bytes less 16 MiB, sparse in a tmpfs, the one file system that
// holds a file that large), a verified quick wipe ends, writing and reading where it should.
TEST(FormatCli, AQuickWipeOfADiskNearTheLargestSizeEnds) {
  char dir[] = "/dev/shm/ferrowipe-huge-XXXXXX";
  if (::mkdtemp(dir) == nullptr) GTEST_SKIP() << "no /dev/shm";
  const std::string image = std::string(dir) + "/huge.img";
  const int64_t size = INT64_MAX - (16 << 20) + 1;
  const bool made = test::RunCommand("truncate -s " + std::to_string(size) + " " + image).status == 0;
  test::CommandResult run;
  if (made) {
    run = test::RunCommand("FERROWIPE_DISKS='" + std::string(dir) + "' timeout 60 '" CLI_PATH
                           "' format --yes --quick --verify " + image + " </dev/null");
  }
  fs::remove_all(dir);
  if (!made) GTEST_SKIP() << "this /dev/shm holds no file of 2^63 bytes";
  EXPECT_EQ(run.status, 0) << run.output;
  EXPECT_EQ(std::regex_search(run.output, std::regex("[: ]-[0-9]")), false) << run.output;
}

// A 24-bay server has more disks than the window's 15 rows: the CLI reaches the others by path,
// by another name of theirs and by number, while the list stays the window's.
TEST(FormatCli, ADiskBeyondTheFifteenRowsIsReachedByPathAndNumber) {
  test::TempFolder set;
  constexpr int64_t kSize = 40 << 20;
  const std::string marked(4096, static_cast<char>(0xAB));
  for (int d = 1; d <= 20; ++d) {
    char name[8];
    std::snprintf(name, sizeof name, "d%02d", d);
    set.Image(std::string(name) + ".img", kSize);
    std::fstream(set / (std::string(name) + ".img"), std::ios::in | std::ios::out | std::ios::binary)
        .write(marked.data(), static_cast<std::streamsize>(marked.size()));
    set.Write(std::string(name) + ".json", R"({"serial": "SN)" + std::string(name) + R"("})");
  }
  fs::create_symlink(set / "d19.img", set / "by-id-d19");
  const std::string cli = "FERROWIPE_DISKS='" + set.Path() + "' '" CLI_PATH "' ";
  const auto head = [&](const std::string& name) {
    std::ifstream in(set / name, std::ios::binary);
    std::string bytes(marked.size(), '\0');
    in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return bytes;
  };

  const test::CommandResult list = test::RunCommand(cli + "list --raw </dev/null");
  EXPECT_EQ(std::count(list.output.begin(), list.output.end(), '\n'), 15) << list.output;

  // A plain image has no identify data to show (exit 1), but it is found: not "no such disk".
  const test::CommandResult details = test::RunCommand(cli + "details " + set / "d17.img");
  EXPECT_EQ(details.status, 1) << details.output;
  EXPECT_NE(details.output.find("[16]  "), std::string::npos) << details.output;

  const test::CommandResult format =
      test::RunCommand(cli + "format --yes --quick " + set / "d17.img" + " </dev/null");
  EXPECT_EQ(format.status, 0) << format.output;
  EXPECT_NE(format.output.find("[16]"), std::string::npos) << format.output;
  EXPECT_EQ(head("d17.img"), std::string(marked.size(), '\0'));
  EXPECT_EQ(test::RunCommand(cli + "format --yes --quick 17 </dev/null").status, 0);
  EXPECT_EQ(head("d18.img"), std::string(marked.size(), '\0'));
  EXPECT_EQ(test::RunCommand(cli + "format --yes --quick " + set / "by-id-d19" + " </dev/null")
                .status,
            0);
  EXPECT_EQ(head("d19.img"), std::string(marked.size(), '\0'));
  EXPECT_EQ(test::RunCommand(cli + "format --yes --quick 20 </dev/null").status, 2);
  for (const char* untouched : {"d15.img", "d16.img", "d20.img"}) {
    EXPECT_EQ(head(untouched), marked) << untouched;
  }
}

}  // namespace
}  // namespace fw
