#pragma once
// The CLI's JSON documents as text a terminal can show: two-space indentation, device strings
// that are not UTF-8 repaired, and no control character left to steer the terminal.
#include <nlohmann/json.hpp>
#include <string>

#include "core/text.hpp"

namespace fw::cli {

using Json = nlohmann::ordered_json;

std::string JsonText(const Json& document);

// An empty text as null, as the schemas in ferrowipe-cli(1) have it.
Json TextOrNull(const std::string& text);

// A 128-bit counter: a number while it fits 64 bits, else its decimal digits as a string, so
// that no parser rounds it.
Json Counter(UInt128 value);

}  // namespace fw::cli
