#pragma once
// Golden report files: reading them, and taking the clock out of the lines under test.
#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "core/logs.hpp"
#include "core/user_locale.hpp"

namespace fw::test {

inline constexpr const char* kReportDateLabel = "目前日期和時間:               ";
// What a golden file holds after the date label instead of the date and time.
inline constexpr const char* kReportDatePlaceholder = "<TIME>";

inline std::vector<uint8_t> ReadFixtureBytes(const std::string& relativePath) {
  const std::string path = std::string(FIXTURES_DIR) + "/" + relativePath;
  std::ifstream in(path, std::ios::binary);
  EXPECT_TRUE(in) << path;
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline std::vector<std::string> SplitLines(std::istream& in) {
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

inline std::vector<std::string> ReadGolden(const std::string& name) {
  const std::string path = std::string(FIXTURES_DIR) + "/golden/" + name;
  std::ifstream in(path);
  EXPECT_TRUE(in) << path;
  return SplitLines(in);
}

// The date line of each report (the one after a separator that starts with the date label)
// gets the placeholder in place of the time stamp, once it is checked that there is one.
inline std::vector<std::string> WithoutTime(std::vector<std::string> lines) {
  const std::string label = kReportDateLabel;
  for (size_t i = 1; i < lines.size(); ++i) {
    if (lines[i - 1] == " " && lines[i].starts_with(label)) {
      EXPECT_GT(lines[i].size(), label.size()) << "the date line has a time stamp";
      lines[i] = label + kReportDatePlaceholder;
    }
  }
  return lines;
}

// A test that collects the lines both reports write, under the default locale.
class ReportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetUserLocale(UserLocale{});
    SetDetailsSink([this](const std::string& line) { details.push_back(line); });
    SetSmartSink([this](const std::string& line) { smart.push_back(line); });
  }
  void TearDown() override {
    SetDetailsSink(nullptr);
    SetSmartSink(nullptr);
  }

  // The five header lines of a report with `label` and the device caption, time taken out.
  static std::vector<std::string> Header(const std::string& label, const std::string& caption) {
    return {" ", std::string(kReportDateLabel) + kReportDatePlaceholder,
            "Ferrowipe 4.30; https://ferrowipe.example.org/", label + caption, " "};
  }

  std::vector<std::string> details, smart;
};

}  // namespace fw::test
