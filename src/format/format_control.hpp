#pragma once
// One format attempt after the user confirmed: controls off, header, lock, run, update
// properties, release, closing hint, controls on. Shared by the main window and the CLI.
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "core/clock.hpp"
#include "device/device_io.hpp"
#include "format/format_view.hpp"
#include "format/zero_fill.hpp"
#include "select/device_table.hpp"

namespace fw {

struct FormatAttemptResult {
  bool locked = false;       // the volumes were locked and the engine ran
  ZeroFillResult run;        // meaningful when locked
  bool quickWipe = false;
  bool verifyAsked = false;
  std::chrono::system_clock::time_point started, ended;
  std::vector<std::string> logLines;  // the format-log lines of this attempt, as shown
};

// verify: read every written byte back after a completed write pass.
FormatAttemptResult RunFormatAttempt(DeviceIo& io, Handle deviceHandle,
                                     const TDeviceTableRows& table, int64_t chosenIndex,
                                     const std::string& chosenCaption, bool quickWipe,
                                     FormatView& view, Clock& clock, bool verify = false);

// The confirmation question's texts (asked by the front end before RunFormatAttempt).
std::string FormatConfirmTitle();
std::string FormatConfirmInstruction();
std::string FormatConfirmContent(const std::string& chosenCaption);
// The sentence the question adds when a verify pass follows the write pass.
std::string FormatConfirmVerifyNote();
// The sentence the question adds for a quick wipe: what it leaves behind.
std::string FormatConfirmQuickNote();

}  // namespace fw
