#pragma once
// One format attempt after the user confirmed: controls off, header, lock, run, update
// properties, release, closing hint, controls on. Shared by the main window and the CLI.
#include <chrono>
#include <optional>
#include <cstdint>
#include <string>
#include <vector>

#include "core/clock.hpp"
#include "device/device_io.hpp"
#include "device/erase_capabilities.hpp"
#include "device/erase_method.hpp"
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

  // The method that ran (`purge` resolved to what it stood for) and the category it earns on
  // this disk; a zero-fill is Zero/Clear, a quick wipe Zero/None.
  EraseMethodState method{EraseMethod::Zero, EraseRefusal::None, EraseCategory::Clear};
  MediaType media = MediaType::Unknown;
  // A method the disk would not take: why, and nothing was sent.
  EraseRefusal refusal = EraseRefusal::None;
  // The drive reported its own erase as failed.
  bool purgeFailed = false;
  // How the result was checked ("full read-back", "sample before and after", empty: not
  // checked) and, after a block erase, overwrite or format, what the disk read back as.
  std::string verifyMethod;
  std::string readBackPattern;  // "zeros", "uniform 0xNN", "mixed"
  // A security erase that failed after its temporary password was set leaves the password.
  std::string passwordLeft;
  // The hidden area found before the run, and whether the run opened it for itself.
  std::optional<HiddenArea> hiddenArea;
  bool hiddenAreaOpened = false;
};

// verify: read every written byte back after a completed write pass.
FormatAttemptResult RunFormatAttempt(DeviceIo& io, Handle deviceHandle,
                                     const TDeviceTableRows& table, int64_t chosenIndex,
                                     const std::string& chosenCaption, bool quickWipe,
                                     FormatView& view, Clock& clock, bool verify = false,
                                     EraseMethod method = EraseMethod::Zero,
                                     bool openHiddenArea = false);

// The confirmation question's texts (asked by the front end before RunFormatAttempt).
std::string FormatConfirmTitle();
std::string FormatConfirmInstruction();
std::string FormatConfirmContent(const std::string& chosenCaption);
// The sentence the question adds when a verify pass follows the write pass.
std::string FormatConfirmVerifyNote();
// The sentence the question adds for a quick wipe: what it leaves behind.
std::string FormatConfirmQuickNote();

}  // namespace fw
