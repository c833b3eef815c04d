// The command line of the drive's own erase: which combinations of --method, --quick,
// --open-hidden-area and unlock's --password are taken, and what they set; then ferrowipe-cli
// run on simulated disks that answer as drives would: the refusals, a sanitize, a crypto erase
// and its sample, a failed security erase and unlock, and the hidden area of a hard disk.
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "cli/command_line.hpp"
#include "device/purge_commands.hpp"
#include "loop_device.hpp"

namespace fw::cli {
namespace {

CommandLine Parse(std::vector<std::string> words) {
  words.insert(words.begin(), "ferrowipe-cli");
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  return ParseCommandLine(static_cast<int>(argv.size()), argv.data());
}

struct UsageCase {
  const char* name;
  std::vector<std::string> words;
};

class PurgeUsage : public ::testing::TestWithParam<UsageCase> {};

TEST_P(PurgeUsage, IsBadUsage) {
  const CommandLine line = Parse(GetParam().words);
  ASSERT_TRUE(line.exitStatus);
  EXPECT_EQ(*line.exitStatus, kExitUsage);
  EXPECT_EQ(line.run, nullptr);
}

INSTANTIATE_TEST_SUITE_P(
    Table, PurgeUsage,
    ::testing::Values(
        UsageCase{"UnknownMethod", {"format", "--method", "shred", "0"}},
        UsageCase{"QuickWithADriveErase", {"format", "--quick", "--method", "sanitize-crypto", "0"}},
        UsageCase{"HiddenAreaWithQuick", {"format", "--open-hidden-area", "--quick", "0"}},
        UsageCase{"HiddenAreaWithADriveErase", {"format", "--open-hidden-area", "--method", "purge", "0"}},
        UsageCase{"UnlockWithoutPassword", {"unlock", "0"}},
        UsageCase{"UnlockWithAnEmptyPassword", {"unlock", "--password", "", "0"}},
        UsageCase{"UnlockWithoutDisk", {"unlock", "--password", "pw"}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(PurgeCommandLine, TakesEveryMethodWordAndTheZeroFillsOwnOptions) {
  for (const EraseMethod method : kEraseMethods) {
    const std::string word(EraseMethodWord(method));
    const CommandLine line = Parse({"format", "--method", word, "--yes", "/dev/sdb"});
    ASSERT_FALSE(line.exitStatus) << word;
    EXPECT_EQ(line.options.method, method) << word;
  }
  const CommandLine zero = Parse({"format", "/dev/sdb", "--open-hidden-area", "--method", "zero"});
  ASSERT_FALSE(zero.exitStatus);
  EXPECT_TRUE(zero.options.openHiddenArea);
  EXPECT_EQ(Parse({"format", "--quick", "0"}).options.method, EraseMethod::Zero);
}

TEST(PurgeCommandLine, UnlockTakesThePasswordAndTheDisk) {
  const CommandLine line = Parse({"unlock", "/dev/sdb", "--password", "fw-ABC"});
  ASSERT_FALSE(line.exitStatus);
  EXPECT_EQ(line.run, &RunUnlock);
  EXPECT_EQ(line.options.password, "fw-ABC");
  EXPECT_EQ(line.options.disk, "/dev/sdb");
}

// --- ferrowipe-cli on simulated disks -------------------------------------------------------

namespace fs = std::filesystem;

constexpr int64_t kDiskBytes = 64 << 20;

// An IDENTIFY sector of tests/fixtures/drives with one word changed (the checksum kept true).
std::vector<uint8_t> Identify(const std::string& drive, int word = -1, uint16_t value = 0) {
  std::ifstream in(std::string(FIXTURES_DIR) + "/drives/" + drive + ".identify", std::ios::binary);
  std::vector<uint8_t> sector(512);
  in.read(reinterpret_cast<char*>(sector.data()), 512);
  if (word >= 0) {
    sector[2 * word] = static_cast<uint8_t>(value);
    sector[2 * word + 1] = static_cast<uint8_t>(value >> 8);
    uint8_t sum = 0;
    for (size_t i = 0; i < 511; ++i) sum = static_cast<uint8_t>(sum + sector[i]);
    sector[511] = static_cast<uint8_t>(-sum);
  }
  return sector;
}

const char* const kSanitizeSsd = "INTEL_SSDSA2CW120G3--4PC10302--sanitize";
const char* const kPlainSsd = "INTEL_SSDSA2CW120G3--4PC10302";
const char* const kHdd = "SAMSUNG_HD501LJ--CR100-12";
const char* const kNvme = "EXAMPLE_NVMe_SSD_1TB--1.2.3";

// A folder holding one simulated disk, disk.img (every byte 0xAB), its metadata `keys` (JSON
// members) and, when given, its IDENTIFY sector or the NVMe disk's identify data.
class SimulatedDrive {
 public:
  SimulatedDrive(const std::string& keys, const std::vector<uint8_t>& identify,
                 bool nvme = false) {
    char dir[] = "/tmp/ferrowipe-purge-XXXXXX";
    if (::mkdtemp(dir) == nullptr) return;
    m_dir = dir;
    const std::vector<char> bytes(static_cast<size_t>(kDiskBytes), static_cast<char>(0xAB));
    std::ofstream(Image(), std::ios::binary).write(bytes.data(), kDiskBytes);
    std::string json = "{\"vendor\": \"ATA\", \"product\": \"SIMULATED\", \"serial\": \"SIM1\", " + keys;
    if (!identify.empty()) {
      std::ofstream(m_dir + "/disk.identify", std::ios::binary)
          .write(reinterpret_cast<const char*>(identify.data()), 512);
      json += ", \"identify\": \"disk.identify\"";
    }
    if (nvme) {
      for (const char* part : {"nvme_identify_controller", "nvme_identify_namespace"}) {
        fs::copy_file(std::string(FIXTURES_DIR) + "/drives/" + kNvme + "." + part,
                      m_dir + "/disk." + part);
        json += std::string(", \"") + part + "\": \"disk." + part + "\"";
      }
    }
    std::ofstream(m_dir + "/disk.json") << json << "}\n";
  }
  ~SimulatedDrive() {
    std::error_code ignored;
    if (!m_dir.empty()) fs::remove_all(m_dir, ignored);
  }
  SimulatedDrive(const SimulatedDrive&) = delete;
  SimulatedDrive& operator=(const SimulatedDrive&) = delete;

  std::string Image() const { return m_dir + "/disk.img"; }

  // Standard output, and standard error when asked.
  test::CommandResult Cli(const std::string& arguments, bool withErrors = false) const {
    return test::RunCommand("(FERROWIPE_DISKS='" + m_dir + "' '" CLI_PATH "' " + arguments +
                            " " + Image() + " </dev/null" + (withErrors ? "" : " 2>/dev/null") +
                            ")");
  }

  // The bytes of [from, to) that are not `value`.
  int64_t BytesOtherThan(uint8_t value, int64_t from = 0, int64_t to = kDiskBytes) const {
    std::ifstream in(Image(), std::ios::binary);
    std::vector<char> bytes(static_cast<size_t>(kDiskBytes));
    in.read(bytes.data(), kDiskBytes);
    return std::count_if(bytes.begin() + from, bytes.begin() + to,
                         [value](char b) { return static_cast<uint8_t>(b) != value; });
  }

 private:
  std::string m_dir;
};

bool HasLine(const std::string& out, const std::string& line) {
  return out.find("   " + line + "\n") != std::string::npos;
}

// Until the simulated disks answer the drive's own commands there is nothing to run these on.
class PurgeOnSimulatedDisks : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    const SimulatedDrive probe("\"bus_type\": 11", Identify(kSanitizeSsd));
    s_answered = probe.Cli("format --method sanitize-block --yes").status != kExitMethodRefused;
  }
  void SetUp() override {
    if (!s_answered) GTEST_SKIP() << "the simulated disks do not answer the drive's own commands here";
  }
  static inline bool s_answered = false;
};

struct SimulatedRefusal {
  const char* name;
  std::string keys;
  std::vector<uint8_t> (*identify)();
  bool nvme;
  std::string method;
  std::string reason;
};

class RefusedOnSimulatedDisks : public PurgeOnSimulatedDisks,
                                public ::testing::WithParamInterface<SimulatedRefusal> {};

TEST_P(RefusedOnSimulatedDisks, ExitWithEightAndLeaveTheDiskAsItWas) {
  const SimulatedRefusal& c = GetParam();
  const SimulatedDrive disk(c.keys, c.identify ? c.identify() : std::vector<uint8_t>{}, c.nvme);
  const test::CommandResult run = disk.Cli("format --yes --method " + c.method);
  EXPECT_EQ(run.status, kExitMethodRefused) << run.output;
  EXPECT_TRUE(HasLine(run.output, c.reason)) << run.output;
  EXPECT_TRUE(HasLine(run.output, "未傳送任何指令給裝置。")) << run.output;
  EXPECT_EQ(disk.BytesOtherThan(0xAB), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Table, RefusedOnSimulatedDisks,
    ::testing::Values(
        SimulatedRefusal{"SsdWithoutSanitize", "\"bus_type\": 11", [] { return Identify(kPlainSsd); },
                         false, "sanitize-block", "裝置不支援這種抹除方式。"},
        SimulatedRefusal{"Frozen", "\"bus_type\": 11",
                         [] { return Identify(kSanitizeSsd, 128, 0x0029); }, false,
                         "secure-erase-enhanced",
                         "裝置的安全功能已凍結 (通常由 BIOS 在開機時設定)。將電腦睡眠後再喚醒，或將裝置拔除後重新插上，即可解除凍結。"},
        SimulatedRefusal{"Locked", "\"bus_type\": 11",
                         [] { return Identify(kSanitizeSsd, 128, 0x0027); }, false,
                         "sanitize-crypto", "裝置的安全功能已鎖定: 裝置設有密碼，必須先解除鎖定。"},
        SimulatedRefusal{"NvmeWithTwoNamespaces", "\"bus_type\": 17, \"nvme_namespaces\": 2",
                         nullptr, true, "sanitize-crypto",
                         "此 NVMe 控制器上還有其他命名空間，這種抹除會一併清除它們。"},
        SimulatedRefusal{"UsbBridge", "\"bus_type\": 7", nullptr, false, "purge",
                         "連接裝置的介面 (例如 USB 轉接器) 不會把這個指令傳給裝置。"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(PurgeOnSimulatedDisks, ASanitizeShowsTheDrivesProgressReadsBackZerosAndIsReported) {
  const SimulatedDrive disk("\"bus_type\": 11, \"sanitize_seconds\": 3", Identify(kSanitizeSsd));
  const std::string report = disk.Image() + ".report.json";
  const test::CommandResult run =
      disk.Cli("format --yes --progress --method sanitize-block --report " + report, true);
  EXPECT_EQ(run.status, 0) << run.output;
  EXPECT_TRUE(HasLine(run.output, "正在傳送指令:        SANITIZE BLOCK ERASE EXT")) << run.output;
  EXPECT_TRUE(HasLine(run.output, "裝置已完成抹除。")) << run.output;
  EXPECT_TRUE(HasLine(run.output, "驗證通過，全部為零。已檢查位元組: 67,108,864")) << run.output;
  // Progress lines from the drive, between its start and its end.
  const std::regex progress("(^|\n)([0-9]+)% [0-9]+ of 67108864 bytes");
  int between = 0;
  for (auto it = std::sregex_iterator(run.output.begin(), run.output.end(), progress);
       it != std::sregex_iterator(); ++it) {
    const int percent = std::stoi((*it)[2]);
    between += percent > 0 && percent < 100;
  }
  EXPECT_GT(between, 0) << run.output;
  EXPECT_EQ(disk.BytesOtherThan(0x00), 0);

  std::ifstream in(report);
  const nlohmann::json doc = nlohmann::json::parse(in, nullptr, false);
  ASSERT_TRUE(doc.is_object()) << report;
  EXPECT_EQ(doc["outcome"], "completed");
  EXPECT_EQ(doc["verify"]["result"], "passed");
  const auto& log = doc["log"];
  EXPECT_TRUE(std::any_of(log.begin(), log.end(), [](const nlohmann::json& line) {
    return line.get<std::string>().ends_with("   裝置已完成抹除。");
  }));
}

struct SimulatedErase {
  const char* name;
  std::string keys;
  bool nvme;
  std::string method;
  std::vector<std::string> lines;
};

class ErasedOnSimulatedDisks : public PurgeOnSimulatedDisks,
                               public ::testing::WithParamInterface<SimulatedErase> {};

TEST_P(ErasedOnSimulatedDisks, CompletesAndIsCheckedTheWayItsMethodAsks) {
  const SimulatedErase& c = GetParam();
  const SimulatedDrive disk(c.keys, c.nvme ? std::vector<uint8_t>{} : Identify(kSanitizeSsd),
                            c.nvme);
  const test::CommandResult run = disk.Cli("format --yes --method " + c.method);
  EXPECT_EQ(run.status, 0) << run.output;
  for (const std::string& line : c.lines) EXPECT_TRUE(HasLine(run.output, line)) << run.output;
}

const std::string kSamplePassed = "抽樣驗證通過，所有抽樣磁區都已改變，數量: 1002";
const std::string kAllZero = "驗證通過，全部為零。已檢查位元組: 67,108,864";

INSTANTIATE_TEST_SUITE_P(
    Methods, ErasedOnSimulatedDisks,
    ::testing::Values(
        SimulatedErase{"PurgeOfASataSsdIsItsCryptoScramble", "\"bus_type\": 11", false, "purge",
                       {"抹除方式:            sanitize-crypto", kSamplePassed}},
        SimulatedErase{"NvmeFormat", "\"bus_type\": 17", true, "format-nvm",
                       {"正在傳送指令:        NVMe Format NVM, user data erase", kAllZero}},
        SimulatedErase{"NvmeCryptoFormat", "\"bus_type\": 17", true, "format-nvm-crypto",
                       {kSamplePassed}},
        SimulatedErase{"NvmeSanitize", "\"bus_type\": 17", true, "sanitize-block",
                       {"正在傳送指令:        NVMe Sanitize, block erase", kAllZero}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(PurgeOnSimulatedDisks, AFailedSecurityEraseLeavesItsPasswordForUnlock) {
  const SimulatedDrive disk("\"bus_type\": 11, \"fail\": {\"security_erase\": 1117}",
                            Identify(kSanitizeSsd));
  const test::CommandResult run = disk.Cli("format --yes --method secure-erase");
  EXPECT_EQ(run.status, kExitPurgeFailed) << run.output;
  std::smatch found;
  ASSERT_TRUE(std::regex_search(run.output, found,
                                std::regex("仍設有暫時使用者密碼: ([^\n]+)\n")))
      << run.output;
  const std::string password = found[1];
  EXPECT_EQ(disk.Cli("unlock --password wrong-one").status, kExitFailure);
  EXPECT_EQ(disk.Cli("unlock --password " + password).status, kExitDone);
  EXPECT_EQ(disk.Cli("unlock --password " + password).status, kExitFailure);  // none left
}

TEST_F(PurgeOnSimulatedDisks, AHardDisksHiddenAreaIsNamedThenOpenedAndWritten) {
  constexpr int64_t kShown = 120'000;
  const SimulatedDrive disk("\"bus_type\": 11, \"accessible_sectors\": 120000", Identify(kHdd));
  const test::CommandResult plain = disk.Cli("format --yes");
  EXPECT_EQ(plain.status, 0) << plain.output;
  EXPECT_TRUE(HasLine(plain.output,
                      "警告: 此裝置有隱藏磁區，全部寫零不會觸及它們: LBA 120,000 至 131,071，共 11,072 個磁區 (使用 --open-hidden-area 可一併抹除)"))
      << plain.output;
  EXPECT_EQ(disk.BytesOtherThan(0x00, 0, kShown * 512), 0);
  EXPECT_EQ(disk.BytesOtherThan(0xAB, kShown * 512), 0);

  const test::CommandResult opened = disk.Cli("format --yes --verify --open-hidden-area");
  EXPECT_EQ(opened.status, 0) << opened.output;
  EXPECT_TRUE(HasLine(opened.output,
                      "已開放隱藏區域，可存取的磁區數: 120,000 -> 131,072 (在裝置斷電前有效)"))
      << opened.output;
  EXPECT_TRUE(HasLine(opened.output, "驗證通過，全部為零。已檢查位元組: 67,108,864"))
      << opened.output;
  EXPECT_EQ(disk.BytesOtherThan(0x00), 0);
}

}  // namespace
}  // namespace fw::cli
