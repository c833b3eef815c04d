// ferrowipe-cli format with several disks, run as a process: simulated disks for the plan's
// refusals, an unplugged disk and a stop signal; loop devices for three disks erased by one
// command with their reports and their journal records.
#include <fcntl.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "loop_device.hpp"
#include "sleeper.hpp"
#include "report/journal_record.hpp"
#include "temp_folder.hpp"

namespace fw {
namespace {

namespace fs = std::filesystem;

constexpr int64_t kDiskBytes = 32 << 20;  // 65,536 sectors: just past the smallest disk taken

std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  std::string text(static_cast<size_t>(std::max<std::streamoff>(in.tellg(), 0)), '\0');
  in.seekg(0);
  in.read(text.data(), static_cast<std::streamsize>(text.size()));
  return text;
}

bool AllBytes(const std::string& path, char value) {
  const std::string bytes = ReadText(path);
  return !bytes.empty() && bytes.find_first_not_of(value) == std::string::npos;
}

struct ShellRun {
  int status = -1;
  std::string out, err;
};

// Runs a shell command line with standard output and standard error kept apart.
ShellRun Shell(const test::TempFolder& folder, const std::string& command) {
  const std::string out = folder.Path() + "/stdout";
  const std::string err = folder.Path() + "/stderr";
  const std::string line = "(" + command + ") >'" + out + "' 2>'" + err + "' </dev/null";
  const int raw = std::system(line.c_str());
  return ShellRun{WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, ReadText(out), ReadText(err)};
}

// The reports in a folder, by disk path.
std::map<std::string, nlohmann::json> Reports(const std::string& dir) {
  std::map<std::string, nlohmann::json> reports;
  for (const auto& entry : fs::directory_iterator(dir)) {
    const nlohmann::json doc = nlohmann::json::parse(ReadText(entry.path()));
    reports[doc["disk"]["path"].get<std::string>()] = doc;
  }
  return reports;
}

// A set of simulated disks a.img, b.img, ... (every byte 0xAB), each with its metadata.
class DiskSet {
 public:
  explicit DiskSet(const std::vector<std::string>& metadata) {
    fs::create_directories(m_folder.Path() + "/disks");
    fs::create_directories(ReportDir());
    const std::string bytes(static_cast<size_t>(kDiskBytes), static_cast<char>(0xAB));
    for (size_t i = 0; i < metadata.size(); ++i) {
      const std::string name = std::string(1, static_cast<char>('a' + i));
      std::ofstream(Image(i), std::ios::binary).write(bytes.data(), kDiskBytes);
      std::ofstream(m_folder.Path() + "/disks/" + name + ".json")
          << (metadata[i].empty() ? "{\"serial\": \"SN-" + name + "\"}" : metadata[i]);
    }
  }
  std::string Image(size_t i) const {
    return m_folder.Path() + "/disks/" + std::string(1, static_cast<char>('a' + i)) + ".img";
  }
  std::string ReportDir() const { return m_folder.Path() + "/reports"; }
  std::string Env() const {
    return "env LC_ALL=C FERROWIPE_DISKS='" + m_folder.Path() + "/disks' ";
  }
  ShellRun Cli(const std::string& arguments) const {
    return Shell(m_folder, Env() + "'" CLI_PATH "' format --yes --no-journal --report-dir '" +
                               ReportDir() + "' " + arguments);
  }
  const test::TempFolder& Folder() const { return m_folder; }

 private:
  test::TempFolder m_folder{"ferrowipe-batch"};
};

const std::string kBusy =
    R"({"serial": "SN-busy", "mounts": [{"mount_point": "/media/busy", "busy": true}]})";

struct PlanCase {
  const char* name;
  bool keepGoing;
};

class RefusedInThePlan : public ::testing::TestWithParam<PlanCase> {};

// Without --keep-going nothing is written to any disk; with it, the two others are erased and
// the refused one is left as it was, named in the summary and in a report of its own.
TEST_P(RefusedInThePlan, RefusesAllOrErasesTheOthers) {
  const DiskSet disks({"", kBusy, ""});
  const ShellRun run = disks.Cli(std::string(GetParam().keepGoing ? "--keep-going " : "") +
                            disks.Image(0) + " " + disks.Image(1) + " " + disks.Image(2));
  EXPECT_EQ(run.status, 3) << run.out << run.err;
  EXPECT_NE(run.err.find(disks.Image(1) + ": "), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("/media/busy"), std::string::npos) << "the cause is named: " << run.err;
  EXPECT_TRUE(AllBytes(disks.Image(1), '\xAB'));
  for (const size_t other : {0u, 2u}) {
    EXPECT_TRUE(AllBytes(disks.Image(other), GetParam().keepGoing ? '\0' : '\xAB')) << other;
  }
  const auto reports = Reports(disks.ReportDir());
  if (!GetParam().keepGoing) {
    EXPECT_TRUE(reports.empty());
    EXPECT_EQ(run.out, "");
    return;
  }
  ASSERT_EQ(reports.size(), 3u);
  EXPECT_EQ(reports.at(disks.Image(1))["outcome"], "lock failed");
  EXPECT_EQ(reports.at(disks.Image(0))["outcome"], "completed");
  EXPECT_NE(run.out.find(disks.Image(1) + "  refused"), std::string::npos) << run.out;
}

INSTANTIATE_TEST_SUITE_P(Cases, RefusedInThePlan,
                         ::testing::Values(PlanCase{"Default", false}, PlanCase{"KeepGoing", true}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(FormatBatch, OneDiskUnpluggedMidRunLeavesTheOthersToComplete) {
  const DiskSet disks({"", R"({"serial": "SN-gone", "unplug_at": 4194304})", ""});
  const ShellRun run = disks.Cli("--verify " + disks.Image(0) + " " + disks.Image(1) + " " +
                            disks.Image(2));
  EXPECT_EQ(run.status, 5) << run.out << run.err;
  EXPECT_TRUE(AllBytes(disks.Image(0), '\0'));
  EXPECT_TRUE(AllBytes(disks.Image(2), '\0'));
  const auto reports = Reports(disks.ReportDir());
  ASSERT_EQ(reports.size(), 3u);
  EXPECT_EQ(reports.at(disks.Image(1))["outcome"], "aborted");
  EXPECT_EQ(reports.at(disks.Image(0))["verify"]["result"], "passed");
  EXPECT_EQ(reports.at(disks.Image(2))["verify"]["result"], "passed");
  // Each disk's format log is its own, the same lines a one-disk run prints, path in front.
  EXPECT_NE(run.out.find(disks.Image(1) + ": "), std::string::npos);
  for (const auto& [path, report] : reports) {
    for (const auto& line : report["log"]) {
      EXPECT_NE(run.out.find(path + ": " + line.get<std::string>()), std::string::npos) << line;
    }
  }
}

TEST(FormatBatch, TheSameDiskByTwoNamesIsRefusedBeforeAnythingIsWritten) {
  const DiskSet disks({"", ""});
  const std::string link = disks.Folder().Path() + "/another-name";
  fs::create_symlink(disks.Image(0), link);
  const ShellRun run = disks.Cli(disks.Image(0) + " " + disks.Image(1) + " " + link);
  EXPECT_EQ(run.status, 2) << run.out << run.err;
  EXPECT_NE(run.err.find("are the same disk"), std::string::npos) << run.err;
  EXPECT_TRUE(AllBytes(disks.Image(0), '\xAB'));
  EXPECT_TRUE(AllBytes(disks.Image(1), '\xAB'));
  EXPECT_TRUE(Reports(disks.ReportDir()).empty());
}

// SIGTERM reaches every disk: each ends as Stop ends it, with its report written.
TEST(FormatBatch, SigtermStopsEveryDiskAndEachReportSaysCancelled) {
  const DiskSet disks({"", "", ""});
  // Disks large enough that no run ends by itself before the signal: sparse, so that the few
  // blocks written before it are all the space they take.
  for (size_t i = 0; i < 3; ++i) fs::resize_file(disks.Image(i), 8ll << 30);
  const std::string out = disks.Folder().Path() + "/run-out";
  const std::string command =
      disks.Env() + "'" CLI_PATH "' format --yes --no-journal --report-dir '" + disks.ReportDir() +
      "' " + disks.Image(0) + " " + disks.Image(1) + " " + disks.Image(2) + " >'" + out +
      "' 2>/dev/null & pid=$!; for i in $(seq 400); do [ \"$(grep -c 正在格式化 '" + out +
      "')\" -ge 3 ] && break; sleep 0.05; done; kill -TERM $pid; wait $pid";
  const ShellRun run = Shell(disks.Folder(), command);
  EXPECT_EQ(run.status, 4) << ReadText(out);
  const auto reports = Reports(disks.ReportDir());
  ASSERT_EQ(reports.size(), 3u) << ReadText(out);
  for (const auto& [path, report] : reports) EXPECT_EQ(report["outcome"], "cancelled") << path;
}

// The plan's refusal on real disks: the middle loop device has a mounted volume that a process
// works in. Without --keep-going no disk is written and the mount stays; with it, the two
// others are erased and the busy one keeps its mount and its bytes.
class RefusedInThePlanOnLoop : public ::testing::TestWithParam<PlanCase> {};

TEST_P(RefusedInThePlanOnLoop, LeavesTheBusyDiskMountedAndUnwritten) {
  if (const std::string why = test::LoopDevice::SkipReason(); !why.empty()) GTEST_SKIP() << why;
  constexpr int64_t kBytes = 64 << 20;
  constexpr int64_t kPartStart = 2048, kPartSectors = 32768;  // a 16 MiB volume at 1 MiB
  std::vector<std::unique_ptr<test::LoopDevice>> loops;
  const std::string pattern(static_cast<size_t>(kBytes), static_cast<char>(0xAB));
  for (int i = 0; i < 3; ++i) {
    loops.push_back(std::make_unique<test::LoopDevice>());
    ASSERT_TRUE(loops.back()->Ok()) << loops.back()->Error();
    std::fstream(loops.back()->Image(), std::ios::binary | std::ios::in | std::ios::out)
        .write(pattern.data(), kBytes);
  }
  test::LoopDevice& busy = *loops[1];
  const std::string partition = busy.AddPartition(1, kPartStart, kPartSectors);
  ASSERT_FALSE(partition.empty()) << busy.Error();
  const std::string mountPoint = busy.MountExt4(partition);
  ASSERT_FALSE(mountPoint.empty()) << busy.Error();
  test::Sleeper holder([&] { return ::chdir(mountPoint.c_str()) == 0; });
  ASSERT_TRUE(holder.Ok());
  // A mounted file system changes its own blocks now and then; the rest only a format changes.
  const auto outsideVolume = [&] {
    std::string bytes = ReadText(busy.Image());
    if (bytes.size() >= (kPartStart + kPartSectors) * 512) {
      bytes.erase(kPartStart * 512, kPartSectors * 512);
    }
    return bytes;
  };
  const std::string before = outsideVolume();

  const test::TempFolder folder("ferrowipe-batch-refused");
  const ShellRun run = Shell(
      folder, "env -u FERROWIPE_DISKS LC_ALL=C '" CLI_PATH "' format --yes --no-journal " +
                  std::string(GetParam().keepGoing ? "--keep-going " : "") + loops[0]->Path() +
                  " " + busy.Path() + " " + loops[2]->Path());
  EXPECT_EQ(run.status, 3) << run.out << run.err;
  EXPECT_NE(run.err.find(mountPoint), std::string::npos) << "the cause is named: " << run.err;
  EXPECT_TRUE(test::IsMounted(mountPoint));
  EXPECT_TRUE(outsideVolume() == before) << "the busy disk was written";
  for (const size_t other : {0u, 2u}) {
    EXPECT_TRUE(AllBytes(loops[other]->Image(), GetParam().keepGoing ? '\0' : '\xAB'))
        << loops[other]->Path();
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, RefusedInThePlanOnLoop,
                         ::testing::Values(PlanCase{"Default", false}, PlanCase{"KeepGoing", true}),
                         [](const auto& info) { return std::string(info.param.name); });

// The records a journal would get: datagrams of the native protocol, caught in a mount
// namespace of the command's own where a socket of ours stands at journald's place.
class JournalCatcher {
 public:
  static std::string SkipReason() {
    if (::geteuid() != 0) return "a mount namespace needs root";
    if (!fs::is_directory("/run/systemd")) return "no /run/systemd to mount over";
    return {};
  }

  // Runs `command` with `sh -c` in the namespace; its status, and the datagrams in `records`.
  int Run(const std::string& command, std::vector<std::string>& records) {
    int pipe[2];
    if (::pipe(pipe) != 0) return -1;
    const pid_t child = ::fork();
    if (child == 0) {
      ::close(pipe[0]);
      if (::unshare(CLONE_NEWNS) != 0 ||
          ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
          ::mount("tmpfs", "/run/systemd", "tmpfs", 0, "mode=0755") != 0 ||
          ::mkdir("/run/systemd/journal", 0755) != 0) {
        ::_exit(120);
      }
      const int socket = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
      sockaddr_un address{};
      address.sun_family = AF_UNIX;
      std::strcpy(address.sun_path, "/run/systemd/journal/socket");
      if (socket < 0 ||
          ::bind(socket, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::_exit(121);
      }
      const int raw = std::system(command.c_str());
      std::vector<char> buffer(1 << 16);
      for (;;) {
        const ssize_t n = ::recv(socket, buffer.data(), buffer.size(), MSG_DONTWAIT);
        if (n <= 0) break;
        const uint32_t length = static_cast<uint32_t>(n);
        if (::write(pipe[1], &length, sizeof length) != sizeof length ||
            ::write(pipe[1], buffer.data(), length) != n) {
          ::_exit(122);
        }
      }
      ::_exit(WIFEXITED(raw) ? WEXITSTATUS(raw) : 123);
    }
    ::close(pipe[1]);
    uint32_t length = 0;
    while (::read(pipe[0], &length, sizeof length) == sizeof length) {
      std::string record(length, '\0');
      if (::read(pipe[0], record.data(), length) != static_cast<ssize_t>(length)) break;
      records.push_back(record);
    }
    ::close(pipe[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
};

std::string Field(const std::string& record, const std::string& name) {
  const size_t at = record.find("\n" + name + "=") != std::string::npos
                        ? record.find("\n" + name + "=") + 1
                        : (record.starts_with(name + "=") ? 0 : std::string::npos);
  if (at == std::string::npos) return "(missing)";
  const size_t start = at + name.size() + 1;
  return record.substr(start, record.find('\n', start) - start);
}

// Three loop devices by one command: each all zero, a report each, a journal record each.
TEST(FormatBatchOnLoop, ThreeDisksOneCommandThreeReportsThreeJournalRecords) {
  if (const std::string why = test::LoopDevice::SkipReason(); !why.empty()) GTEST_SKIP() << why;
  if (const std::string why = JournalCatcher::SkipReason(); !why.empty()) GTEST_SKIP() << why;
  std::vector<std::unique_ptr<test::LoopDevice>> loops;
  std::string paths;
  for (int i = 0; i < 3; ++i) {
    loops.push_back(std::make_unique<test::LoopDevice>());
    ASSERT_TRUE(loops.back()->Ok()) << loops.back()->Error();
    // Something to erase: every byte 0xAB.
    const std::string bytes(static_cast<size_t>(64 << 20), static_cast<char>(0xAB));
    std::fstream(loops.back()->Image(), std::ios::binary | std::ios::in | std::ios::out)
        .write(bytes.data(), 64 << 20);
    paths += " " + loops.back()->Path();
  }
  const test::TempFolder folder("ferrowipe-batch-loop");
  const std::string reports = folder.Path() + "/reports";
  fs::create_directories(reports);
  std::vector<std::string> records;
  const int status = JournalCatcher().Run(
      "env -u FERROWIPE_DISKS LC_ALL=C '" CLI_PATH "' format --yes --verify --report-dir '" +
          reports + "'" + paths + " >'" + folder.Path() + "/out' 2>&1",
      records);
  const std::string out = ReadText(folder.Path() + "/out");
  EXPECT_EQ(status, 0) << out;
  for (const auto& loop : loops) {
    ::sync();
    EXPECT_TRUE(AllBytes(loop->Image(), '\0')) << loop->Path();
  }
  const auto written = Reports(reports);
  ASSERT_EQ(written.size(), 3u) << out;
  ASSERT_EQ(records.size(), 3u) << out;
  std::vector<std::string> journaled;
  for (const std::string& record : records) {
    EXPECT_EQ(Field(record, "MESSAGE_ID"), std::string(kErasureMessageId));
    EXPECT_EQ(Field(record, "OUTCOME"), "completed");
    EXPECT_EQ(Field(record, "VERIFY"), "passed");
    EXPECT_EQ(Field(record, "METHOD"), "zero");
    EXPECT_EQ(Field(record, "BYTES_WRITTEN"), std::to_string(64 << 20));
    journaled.push_back(Field(record, "DISK_PATH"));
  }
  std::sort(journaled.begin(), journaled.end());
  std::vector<std::string> expected;
  for (const auto& loop : loops) expected.push_back(loop->Path());
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(journaled, expected);
  // The summary table: one line per disk, completed and verified.
  for (const auto& loop : loops) {
    EXPECT_NE(out.find(loop->Path() + "  completed"), std::string::npos) << out;
  }
}

}  // namespace
}  // namespace fw
