#pragma once
// One format attempt after the user confirmed: controls off, header, lock, run, update
// properties, release, closing hint, controls on. Shared by the main window and the CLI.
#include <cstdint>
#include <string>

#include "core/clock.hpp"
#include "device/device_io.hpp"
#include "format/format_view.hpp"
#include "format/zero_fill.hpp"
#include "select/device_table.hpp"

namespace fw {

struct FormatAttemptResult {
  bool locked = false;       // the volumes were locked and the engine ran
  ZeroFillResult run;        // meaningful when locked
};

FormatAttemptResult RunFormatAttempt(DeviceIo& io, Handle deviceHandle,
                                     const TDeviceTableRows& table, int64_t chosenIndex,
                                     const std::string& chosenCaption, bool quickWipe,
                                     FormatView& view, Clock& clock);

// The confirmation question's texts (asked by the front end before RunFormatAttempt).
std::string FormatConfirmTitle();
std::string FormatConfirmInstruction();
std::string FormatConfirmContent(const std::string& chosenCaption);

}  // namespace fw
