#pragma once
// The erasure report as a one-page PDF certificate for people: the report's facts in
// Traditional Chinese, set in the CJK font the program's memos use.
#include <QByteArray>

#include "report/erasure_report.hpp"

namespace fw {

// The certificate's PDF bytes; always one A4 page (facts that would not fit are cut).
QByteArray ErasureCertificatePdf(const ErasureReport& report);

}  // namespace fw
