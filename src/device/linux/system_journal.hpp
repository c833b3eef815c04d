#pragma once
// The system journal, where one runs: a record of structured fields, sent through libsystemd.
#include <string>
#include <vector>

namespace fw {

// Sends one record of "NAME=value" fields; false when no journal took it (none runs, as in a
// container without systemd): the caller's other records stand without it.
bool SendToSystemJournal(const std::vector<std::string>& fields);

}  // namespace fw
