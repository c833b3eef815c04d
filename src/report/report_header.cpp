#include "report/report_header.hpp"

#include "core/logs.hpp"
#include "core/product.hpp"
#include "core/user_locale.hpp"

namespace fw {

namespace {
constexpr std::string_view kProductLinePrefix = "Ferrowipe 4.30; ";
}

std::string Join(std::string_view label, std::string_view value) {
  std::string line(label);
  line += value;
  return line;
}

std::vector<std::string> ReportHeaderLines(std::string_view captionLabel,
                                           const std::string& caption) {
  return {
      std::string(kReportSeparator),
      std::string(kReportDateLabel) + TimeStamp(),
      std::string(kProductLinePrefix) + std::string(kMakerSite),
      std::string(captionLabel) + caption,
      std::string(kReportSeparator),
  };
}

}  // namespace fw
