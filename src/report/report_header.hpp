#pragma once
// The five lines that open both reports: separator, date and time, product, caption, separator.
#include <string>
#include <string_view>
#include <vector>

namespace fw {

// Report separator lines are a single blank, never an empty text.
inline constexpr std::string_view kReportSeparator = " ";
inline constexpr std::string_view kReportDateLabel = "目前日期和時間:               ";

// A report line made of a label and, right after it, its value.
std::string Join(std::string_view label, std::string_view value);

// `captionLabel` is the report's own label that precedes the device caption.
std::vector<std::string> ReportHeaderLines(std::string_view captionLabel,
                                           const std::string& caption);

}  // namespace fw
