#pragma once
// One disk's erasure as the system journal keeps it: structured fields that journald's
// forwarding, rsyslog or any log collector can gather, found again with
// `journalctl MESSAGE_ID=<kErasureMessageId>`.
#include <string>
#include <string_view>
#include <vector>

#include "report/erasure_report.hpp"

namespace fw {

// Ferrowipe's own message id for an erasure's result (128 bits, as journald wants them).
inline constexpr std::string_view kErasureMessageId = "5b0e6f2c8a4d4f1e9c3a7d21e4b6f809";

// "NAME=value" fields: MESSAGE_ID, MESSAGE, PRIORITY, SYSLOG_IDENTIFIER, DISK_PATH, DISK_MODEL,
// DISK_SERIAL, METHOD (as the report names it), OUTCOME, BYTES_WRITTEN, VERIFY, START and END
// (ISO 8601, UTC). `outcome` is the word the run's summary shows for the disk; a value never
// holds a line break.
std::vector<std::string> ErasureJournalFields(const ErasureReport& report,
                                              std::string_view outcome);

}  // namespace fw
