#pragma once
// The record of one format attempt: which disk, which method, how it ended, what the verify
// pass found, and the format log. Written as JSON by the CLI and the window, and shown as a
// one-page certificate by the window; the facts come from here for both.
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "core/host_facts.hpp"
#include "core/small_file.hpp"
#include "device/disk_contents.hpp"
#include "format/format_control.hpp"
#include "select/device_table.hpp"

namespace fw {

struct RecordFields {
  std::string operatorName;  // name and title
  std::string organization;
  std::string assetTag;      // the media's property or asset number
  std::string notes;
};

struct ErasureReport {
  HostFacts host;
  TDeviceTable disk;
  std::vector<std::string> byIdNames;
  FormatAttemptResult attempt;
  // The record fields a sanitization record asks for, as the user gave them (empty: not given).
  RecordFields record;
};

ErasureReport MakeErasureReport(const TDeviceTable& disk, const DiskContents& contents,
                                const FormatAttemptResult& attempt, const HostFacts& host);

// "completed", "cancelled", "aborted", "lock failed" (or "not started": no buffer).
std::string ErasureOutcomeName(const FormatAttemptResult& attempt);
// "not run", "passed", "failed", "cancelled", "aborted".
std::string VerifyOutcomeName(VerifyOutcome outcome);

// The JSON document (UTF-8, two-space indentation, a final newline). Invalid UTF-8 in disk
// strings or log lines is replaced, never thrown on.
std::string ErasureReportJson(const ErasureReport& report);

// The same facts for people, label and value, in the program's Traditional Chinese.
std::vector<std::pair<std::string, std::string>> ErasureReportFacts(const ErasureReport& report);
// The certificate's title (a quick wipe's names what it did) and its one-line verdict.
std::string ErasureCertificateTitle();
std::string ErasureCertificateTitle(const ErasureReport& report);
std::string ErasureVerdict(const ErasureReport& report);

// ISO 8601 in UTC, whole seconds: "2026-12-08T17:03:24Z".
std::string IsoUtc(std::chrono::system_clock::time_point time);

// Writes `text` to `path` atomically (a file beside it, flushed, then renamed over it, never
// over anything but a regular file), owned by `owner` when given; empty on success, else why
// not. Links in the folders on the way are met as `links` says.
std::string WriteReportFile(const std::string& path, const std::string& text,
                            std::optional<FileOwner> owner = {},
                            FolderLinks links = FolderLinks::OnlyOwnLinks);

}  // namespace fw
