#pragma once
// What the S.M.A.R.T. data say about a drive's health: each attribute beside its threshold, and
// one verdict that a person reads under the table and a script reads in the exit status. Pure:
// no device.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "device/ata_transport.hpp"
#include "device/nvme_decoder.hpp"

namespace fw {

struct SmartAttribute {
  int id = 0;
  uint16_t flags = 0;  // bit 0 pre-fail, bit 1 updated online
  int current = 0;
  int worst = 0;
  uint64_t raw = 0;            // the six raw bytes, little-endian, as the table shows them
  std::optional<int> threshold;  // none: the thresholds were not read, or hold no such ID

  bool PreFail() const { return (flags & 1u) != 0; }
  bool Online() const { return (flags & 2u) != 0; }
  // A pre-fail attribute whose normalised value has come down to its threshold. Threshold 0
  // means the attribute never fails; a value outside 1..253 is no normalised value at all.
  bool Failing() const;
};

// The attributes of a SMART READ DATA sector up to the first ID 0, each with its entry of a
// SMART READ THRESHOLDS sector when one was read.
std::vector<SmartAttribute> DecodeSmartAttributes(const Sector& data,
                                                  const std::optional<Sector>& thresholds);

enum class HealthState { Healthy, Warning, Failing, Unknown };

// "healthy", "warning", "failing", "unknown".
std::string HealthStateName(HealthState state);

struct SmartVerdict {
  HealthState state = HealthState::Unknown;
  std::vector<int> failing;   // IDs of the failing attributes
  std::vector<int> warnings;  // IDs of the sector counts above 0 (5, 197, 198)
};

// Failing when any attribute fails; else a warning when reallocated, pending or uncorrectable
// sectors are counted; else healthy. Without thresholds nothing can be called healthy or
// failing: unknown, with the warnings still named.
SmartVerdict JudgeSmart(const std::vector<SmartAttribute>& attributes, bool thresholdsRead);

// The report's verdict line, under the table.
std::string SmartVerdictLine(const SmartVerdict& verdict,
                             const std::vector<SmartAttribute>& attributes);

// The critical warning bits the log sets, with bit 0 added when the spare has come below its
// threshold though the controller did not say so.
uint8_t NvmeWarningBits(const NvmeHealth& health);

// A temperature over its threshold alone is a warning (it passes when the drive cools down);
// any other critical warning, or a spare below its threshold, is failing.
HealthState JudgeNvme(const NvmeHealth& health);

}  // namespace fw
