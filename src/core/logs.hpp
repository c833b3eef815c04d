#pragma once
// The program's line outputs. The windows, the CLI and the tests decide where lines go by
// installing sinks; the code that writes a line never knows.
//
//  - debug log:   recorded only while DebugMode is on, each line time-stamped;
//  - format log:  always recorded, each line time-stamped (plus one raw kind of line);
//  - details and S.M.A.R.T. reports: plain lines appended to their memos.
#include <functional>
#include <string>
#include <string_view>

namespace fw {

using LineSink = std::function<void(const std::string& line)>;

// Set once by the start-up from the --debug switch.
extern bool DebugMode;

void SetDebugLineSink(LineSink sink);
void SetFormatLogSink(LineSink sink);
void SetDetailsSink(LineSink sink);
void SetSmartSink(LineSink sink);
// The format-log sink now installed, so that a listener can be put in front of it.
LineSink FormatLogSink();

// TimeStamp() + "   " + message, exactly as the caller passes it, trailing blanks included.
std::string LogLine(std::string_view message);

void AddDebugLine(std::string_view message);
void AddFormatLogLine(std::string_view message);
// A format-log line that only a debug run shows (the volume steps of a takeover).
void AddFormatDebugLine(std::string_view message);
// A format-log line without a time stamp (the volume open failure writes one).
void AddFormatLogRaw(std::string_view line);
void AddDetailsLine(std::string_view line);
void AddSmartLine(std::string_view line);

}  // namespace fw
