// The command line of the drive's own erase: which combinations of --method, --quick,
// --open-hidden-area and unlock's --password are taken, and what they set.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli/command_line.hpp"

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

}  // namespace
}  // namespace fw::cli
