#include "core/logs.hpp"

#include "core/user_locale.hpp"

namespace fw {

bool DebugMode = false;

namespace {

struct Sinks {
  LineSink debug, details, smart;
};

Sinks& Current() {
  static Sinks sinks;
  return sinks;
}

void Emit(const LineSink& sink, const std::string& line) {
  if (sink) sink(line);
}

}  // namespace

void SetDebugLineSink(LineSink sink) { Current().debug = std::move(sink); }
void SetDetailsSink(LineSink sink) { Current().details = std::move(sink); }
void SetSmartSink(LineSink sink) { Current().smart = std::move(sink); }

std::string LogLine(std::string_view message) {
  std::string line = TimeStamp();
  line += "   ";
  line += message;
  return line;
}

void AddDebugLine(std::string_view message) {
  if (DebugMode) Emit(Current().debug, LogLine(message));
}

void AddDetailsLine(std::string_view line) { Emit(Current().details, std::string(line)); }
void AddSmartLine(std::string_view line) { Emit(Current().smart, std::string(line)); }

}  // namespace fw
