#include "report/smart_health.hpp"

#include <algorithm>
#include <string_view>

#include "core/text.hpp"
#include "report/smart_report.hpp"

namespace fw {

namespace {

// Both sectors (ATA8-ACS SMART READ DATA and READ THRESHOLDS, vendor-common layout): 30 entries
// of 12 bytes from byte 2. Data entry: 0 ID, 1..2 flags, 3 current, 4 worst, 5..10 raw
// (little-endian); threshold entry: 0 ID, 1 threshold.
constexpr size_t kFirstEntry = 2;
constexpr size_t kEntrySize = 12;
constexpr size_t kEntryCount = 30;
static_assert(kFirstEntry + kEntrySize * kEntryCount == 362, "the entries end before byte 362");

// Sectors the drive has given up on or may yet give up on.
constexpr int kSectorCountIds[] = {5, 197, 198};

constexpr std::string_view kVerdict = "整體健康狀態:      ";
constexpr std::string_view kHealthy = "良好";
constexpr std::string_view kFailing = "故障 - ";
constexpr std::string_view kWarning = "警告 - ";
constexpr std::string_view kUnknown = "無法判定 (無法讀取臨界值)";
constexpr std::string_view kCurrent = " 目前值 ";
constexpr std::string_view kAtThreshold = " 已達臨界值 ";

const SmartAttribute* Find(const std::vector<SmartAttribute>& attributes, int id) {
  const auto found = std::find_if(attributes.begin(), attributes.end(),
                                  [id](const SmartAttribute& a) { return a.id == id; });
  return found == attributes.end() ? nullptr : &*found;
}

// "重定位磁區計數 (5)"
std::string Named(const SmartAttribute& a) {
  return Trim(SmartAttributeName(a.id)) + " (" + std::to_string(a.id) + ")";
}

std::string Joined(const std::vector<std::string>& items) {
  std::string text;
  for (const std::string& item : items) {
    if (!text.empty()) text += "; ";
    text += item;
  }
  return text;
}

}  // namespace

bool SmartAttribute::Failing() const {
  if (!PreFail() || !threshold || *threshold == 0) return false;
  if (current < 1 || current > 0xFD) return false;
  return current <= *threshold;
}

std::vector<SmartAttribute> DecodeSmartAttributes(const Sector& data,
                                                  const std::optional<Sector>& thresholds) {
  std::vector<SmartAttribute> attributes;
  for (size_t k = 0; k < kEntryCount; ++k) {
    const uint8_t* entry = data.data() + kFirstEntry + kEntrySize * k;
    if (entry[0] == 0) break;
    SmartAttribute a;
    a.id = entry[0];
    a.flags = static_cast<uint16_t>(entry[1] | (entry[2] << 8));
    a.current = entry[3];
    a.worst = entry[4];
    for (int i = 10; i >= 5; --i) a.raw = (a.raw << 8) | entry[i];
    if (thresholds) {
      // Drives keep the same order in both sectors, but nothing says they must.
      for (size_t t = 0; t < kEntryCount; ++t) {
        const uint8_t* limit = thresholds->data() + kFirstEntry + kEntrySize * t;
        if (limit[0] == entry[0]) {
          a.threshold = limit[1];
          break;
        }
      }
    }
    attributes.push_back(a);
  }
  return attributes;
}

std::string HealthStateName(HealthState state) {
  switch (state) {
    case HealthState::Healthy: return "healthy";
    case HealthState::Warning: return "warning";
    case HealthState::Failing: return "failing";
    case HealthState::Unknown: break;
  }
  return "unknown";
}

SmartVerdict JudgeSmart(const std::vector<SmartAttribute>& attributes, bool thresholdsRead) {
  SmartVerdict verdict;
  for (const SmartAttribute& a : attributes) {
    if (a.Failing()) verdict.failing.push_back(a.id);
  }
  for (const int id : kSectorCountIds) {
    const SmartAttribute* a = Find(attributes, id);
    if (a != nullptr && a->raw > 0) verdict.warnings.push_back(id);
  }
  if (!verdict.failing.empty()) {
    verdict.state = HealthState::Failing;
  } else if (!thresholdsRead) {
    verdict.state = HealthState::Unknown;
  } else {
    verdict.state = verdict.warnings.empty() ? HealthState::Healthy : HealthState::Warning;
  }
  return verdict;
}

std::string SmartVerdictLine(const SmartVerdict& verdict,
                             const std::vector<SmartAttribute>& attributes) {
  std::vector<std::string> failing, warnings;
  for (const int id : verdict.failing) {
    const SmartAttribute* a = Find(attributes, id);
    if (a == nullptr) continue;
    failing.push_back(Named(*a) + std::string(kCurrent) + std::to_string(a->current) +
                      std::string(kAtThreshold) + std::to_string(a->threshold.value_or(0)));
  }
  for (const int id : verdict.warnings) {
    const SmartAttribute* a = Find(attributes, id);
    if (a != nullptr) warnings.push_back(Named(*a) + ": " + std::to_string(a->raw));
  }
  std::string line(kVerdict);
  switch (verdict.state) {
    case HealthState::Healthy: return line + std::string(kHealthy);
    case HealthState::Failing: line += std::string(kFailing) + Joined(failing); break;
    case HealthState::Unknown: line += kUnknown; break;
    case HealthState::Warning: break;
  }
  if (!warnings.empty()) {
    if (verdict.state != HealthState::Warning) line += "; ";
    line += std::string(kWarning) + Joined(warnings);
  }
  return line;
}

uint8_t NvmeWarningBits(const NvmeHealth& health) {
  uint8_t bits = health.criticalWarning;
  if (health.availableSpare < health.spareThreshold) bits |= 1u;
  return bits;
}

HealthState JudgeNvme(const NvmeHealth& health) {
  constexpr uint8_t kTemperatureBit = 1u << 1;
  const uint8_t bits = NvmeWarningBits(health);
  if (bits == 0) return HealthState::Healthy;
  return bits == kTemperatureBit ? HealthState::Warning : HealthState::Failing;
}

}  // namespace fw
