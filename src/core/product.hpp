#pragma once
// The product's own texts, shown in titles, report headers and the format log.
#include <string_view>

namespace fw {

inline constexpr std::string_view kProductName = "Ferrowipe 4.30";
// Main window title, task bar title and status panel 0: four trailing blanks belong to it.
inline constexpr std::string_view kProductTitle = "Ferrowipe 4.30    ";
inline constexpr std::string_view kProductVersion = "4.30";
inline constexpr std::string_view kMakerSite = "https://ferrowipe.example.org/";
inline constexpr std::string_view kSupportForum = "https://forum.ferrowipe.example.org/";
inline constexpr std::string_view kLegalNotice =
    "Copyright \u00a9 2026 The Ferrowipe developers. All rights reserved.";

}  // namespace fw
