#pragma once
// What `list --json` and `details --json` say of a disk's own erase: every method with its
// state, and the hidden sectors.
#include "cli/json_text.hpp"
#include "device/erase_capabilities.hpp"

namespace fw::cli {

// Adds "erase_methods" (an object {"method", "available", "reason", "category"} per METHOD
// word; reason null when available), "native_sectors" and "hidden_sectors" (0 when none,
// null when it cannot be told).
void AddEraseFacts(Json& document, const DriveEraseFacts& facts);

}  // namespace fw::cli
