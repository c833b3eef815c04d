#include "report/journal_record.hpp"

#include <nlohmann/json.hpp>

#include "core/text.hpp"
#include "report/text_format.hpp"

namespace fw {

namespace {

// The native protocol takes a line break as the end of a field's value.
std::string OneLine(std::string value) {
  for (char& c : value) {
    if (c == '\n' || c == '\r') c = ' ';
  }
  return value;
}

}  // namespace

std::vector<std::string> ErasureJournalFields(const ErasureReport& report,
                                              std::string_view outcome) {
  // The method's name as the report gives it, so that the two records never disagree.
  const nlohmann::json doc = nlohmann::json::parse(ErasureReportJson(report));
  const std::string method = doc["method"]["name"].get<std::string>();
  const std::string verify = doc["verify"]["result"].get<std::string>();
  const TIdentifyDeviceData& id = report.disk.IdentifyData;
  const std::string path = OneLine(report.disk.DevicePath);
  const std::string model = OneLine(Trim(id.Model));
  const std::string serial = OneLine(Trim(id.SN));
  const int64_t written = report.attempt.run.bytesWritten;
  // Done is information; anything else wants someone to look.
  const bool done = outcome == "completed" && (verify == "not run" || verify == "passed");
  return {
      "MESSAGE_ID=" + std::string(kErasureMessageId),
      "MESSAGE=Ferrowipe " + method + " of " + path + " (" + model + ", serial " + serial +
          "): " + OneLine(std::string(outcome)) + ", " + std::to_string(written) +
          " bytes written, verify " + verify,
      std::string("PRIORITY=") + (done ? "6" : "4"),
      "SYSLOG_IDENTIFIER=ferrowipe",
      "DISK_PATH=" + path,
      "DISK_MODEL=" + model,
      "DISK_SERIAL=" + serial,
      "METHOD=" + method,
      "OUTCOME=" + OneLine(std::string(outcome)),
      "BYTES_WRITTEN=" + std::to_string(written),
      "VERIFY=" + verify,
      "START=" + IsoUtc(report.attempt.started),
      "END=" + IsoUtc(report.attempt.ended),
  };
}

}  // namespace fw
