#pragma once
// The program's memos: plain text, no line wrap, a vertical scroll bar; lines only appended.
#include <QPlainTextEdit>
#include <QStringList>
#include <string>

namespace fw {

QPlainTextEdit* MakeMemo(const QString& objectName, bool readOnly, QWidget* parent);

// A new last line, exactly as given (trailing blanks included).
void AppendLine(QPlainTextEdit* memo, const std::string& line);

// The memo's lines as stored: non-breaking spaces and other characters stay as they are.
QStringList MemoLines(const QPlainTextEdit* memo);

}  // namespace fw
