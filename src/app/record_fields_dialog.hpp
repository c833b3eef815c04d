#pragma once
// The record fields a sanitization record asks for (who erased, for which organization, the
// media's property number, notes), asked when the erasure report is saved.
#include <optional>

#include "report/erasure_report.hpp"

class QWidget;

namespace fw {

// A modal dialog prefilled with `current`; the fields as entered (blanks around them removed,
// empty ones allowed), or nothing when the user cancels.
std::optional<RecordFields> AskRecordFields(QWidget* owner, const RecordFields& current);

}  // namespace fw
