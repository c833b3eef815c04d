// The health verdict over the SMART sectors of real drives and over crafted entries: which
// attribute fails, which counts warn, and the line the report prints under its table.
#include "report/smart_health.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "report_lines.hpp"

namespace fw {
namespace {

Sector DriveSector(const std::string& name) {
  const std::vector<uint8_t> bytes = test::ReadFixtureBytes("drives/" + name);
  Sector sector{};
  std::copy_n(bytes.begin(), std::min(bytes.size(), sector.size()), sector.begin());
  return sector;
}

struct DriveCase {
  const char* drive;
  bool thresholds;
  HealthState state;
  std::vector<int> failing;
  std::vector<int> warnings;
  const char* line;
};

class DriveVerdict : public ::testing::TestWithParam<DriveCase> {};

TEST_P(DriveVerdict, FromTheDrivesOwnSectors) {
  const DriveCase& c = GetParam();
  const std::string name(c.drive);
  std::optional<Sector> thresholds;
  if (c.thresholds) thresholds = DriveSector(name + ".thresholds");
  const std::vector<SmartAttribute> attributes =
      DecodeSmartAttributes(DriveSector(name + ".smart"), thresholds);
  const SmartVerdict verdict = JudgeSmart(attributes, c.thresholds);
  EXPECT_EQ(verdict.state, c.state);
  EXPECT_EQ(verdict.failing, c.failing);
  EXPECT_EQ(verdict.warnings, c.warnings);
  EXPECT_EQ(SmartVerdictLine(verdict, attributes), c.line);
}

INSTANTIATE_TEST_SUITE_P(
    RealDrives, DriveVerdict,
    ::testing::Values(
        DriveCase{"INTEL_SSDSA2CW120G3--4PC10302", true, HealthState::Healthy, {}, {},
                  "整體健康狀態:      良好"},
        // 63 reallocated and 529 pending sectors, every pre-fail value still above its threshold.
        DriveCase{"WDC_WD5000AAKS--00TMA0-12.01C01", true, HealthState::Warning, {}, {5, 197},
                  "整體健康狀態:      警告 - 重定位磁區計數 (5): 63; 等候重定的磁區計數 (197): 529"},
        // Spin-up retries: 212 against a threshold of 223.
        DriveCase{"Maxtor_96147H8--BAC51KJ0--2", true, HealthState::Failing, {10}, {5, 197},
                  "整體健康狀態:      故障 - 啟動重試次數 (10) 目前值 212 已達臨界值 223; "
                  "警告 - 重定位磁區計數 (5): 69; 等候重定的磁區計數 (197): 2"},
        // Without thresholds nothing is called healthy, though the counts are still named.
        DriveCase{"WDC_WD5000AAKS--00TMA0-12.01C01", false, HealthState::Unknown, {}, {5, 197},
                  "整體健康狀態:      無法判定 (無法讀取臨界值); 警告 - 重定位磁區計數 (5): 63; "
                  "等候重定的磁區計數 (197): 529"}));

TEST(SmartAttributes, EachTakesItsThresholdByIdWhateverTheOrder) {
  Sector data{}, limits{};
  const auto entry = [](Sector& s, int k, std::vector<uint8_t> bytes) {
    std::memcpy(s.data() + 2 + 12 * k, bytes.data(), bytes.size());
  };
  entry(data, 0, {1, 0x0B, 0x00, 100, 99, 1, 2, 3, 4, 5, 6});
  entry(data, 1, {9, 0x32, 0x00, 98, 98, 0x10, 0x27});
  entry(limits, 0, {9, 0});
  entry(limits, 1, {1, 51});
  const std::vector<SmartAttribute> a = DecodeSmartAttributes(data, limits);
  ASSERT_EQ(a.size(), 2u);
  EXPECT_EQ(a[0].raw, 0x060504030201u);
  EXPECT_TRUE(a[0].PreFail() && a[0].Online());
  EXPECT_EQ(a[0].threshold, 51);
  EXPECT_EQ(a[1].raw, 10000u);
  EXPECT_FALSE(a[1].PreFail());
  EXPECT_TRUE(a[1].Online());
  EXPECT_EQ(a[1].threshold, 0);
  EXPECT_FALSE(DecodeSmartAttributes(data, std::nullopt)[0].threshold.has_value());
}

struct FailingCase {
  uint16_t flags;
  int current;
  std::optional<int> threshold;
  bool failing;
};

class AttributeFailing : public ::testing::TestWithParam<FailingCase> {};

TEST_P(AttributeFailing, OnlyAPreFailValueAtOrBelowAThresholdAboveZero) {
  SmartAttribute a;
  a.id = 5;
  a.flags = GetParam().flags;
  a.current = GetParam().current;
  a.threshold = GetParam().threshold;
  EXPECT_EQ(a.Failing(), GetParam().failing);
}

INSTANTIATE_TEST_SUITE_P(
    Edges, AttributeFailing,
    ::testing::Values(FailingCase{0x03, 36, 36, true}, FailingCase{0x03, 37, 36, false},
                      FailingCase{0x01, 1, 36, true},
                      // Advisory attributes and threshold 0 never fail.
                      FailingCase{0x02, 10, 36, false}, FailingCase{0x03, 1, 0, false},
                      FailingCase{0x03, 1, std::nullopt, false},
                      // 0 and 254..255 are no normalised values.
                      FailingCase{0x03, 0, 36, false}, FailingCase{0x03, 0xFE, 0xFE, false}));

struct NvmeCase {
  uint8_t warning;
  uint8_t spare, threshold;
  HealthState state;
  uint8_t bits;
};

class NvmeVerdict : public ::testing::TestWithParam<NvmeCase> {};

TEST_P(NvmeVerdict, CriticalWarningBitsAndTheSpare) {
  NvmeHealth h;
  h.criticalWarning = GetParam().warning;
  h.availableSpare = GetParam().spare;
  h.spareThreshold = GetParam().threshold;
  EXPECT_EQ(JudgeNvme(h), GetParam().state);
  EXPECT_EQ(NvmeWarningBits(h), GetParam().bits);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, NvmeVerdict,
    ::testing::Values(NvmeCase{0x00, 100, 10, HealthState::Healthy, 0x00},
                      NvmeCase{0x00, 10, 10, HealthState::Healthy, 0x00},
                      NvmeCase{0x02, 100, 10, HealthState::Warning, 0x02},
                      // A spare below its threshold fails even when the bit is not set.
                      NvmeCase{0x00, 9, 10, HealthState::Failing, 0x01},
                      NvmeCase{0x02, 9, 10, HealthState::Failing, 0x03},
                      NvmeCase{0x04, 100, 10, HealthState::Failing, 0x04},
                      NvmeCase{0x08, 100, 10, HealthState::Failing, 0x08}));

}  // namespace
}  // namespace fw
