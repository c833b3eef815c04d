#pragma once
// The program's line outputs. The windows, the CLI and the tests decide where lines go by
// installing sinks; the code that writes a line never knows.
//
//  - debug log:   recorded only while DebugMode is on, each line time-stamped;
//  - details and S.M.A.R.T. reports: plain lines appended to their memos.
// The format log belongs to each disk's run: see FormatSession (format/format_session.hpp).
#include <functional>
#include <string>
#include <string_view>

namespace fw {

using LineSink = std::function<void(const std::string& line)>;

// Set once by the start-up from the --debug switch.
extern bool DebugMode;

void SetDebugLineSink(LineSink sink);
void SetDetailsSink(LineSink sink);
void SetSmartSink(LineSink sink);

// TimeStamp() + "   " + message, exactly as the caller passes it, trailing blanks included.
std::string LogLine(std::string_view message);

void AddDebugLine(std::string_view message);
void AddDetailsLine(std::string_view line);
void AddSmartLine(std::string_view line);

}  // namespace fw
