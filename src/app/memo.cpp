#include "app/memo.hpp"

#include <QTextBlock>

namespace fw {

QPlainTextEdit* MakeMemo(const QString& objectName, bool readOnly, QWidget* parent) {
  auto* memo = new QPlainTextEdit(parent);
  memo->setObjectName(objectName);
  memo->setReadOnly(readOnly);
  memo->setLineWrapMode(QPlainTextEdit::NoWrap);
  memo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  memo->setUndoRedoEnabled(false);
  return memo;
}

void AppendLine(QPlainTextEdit* memo, const std::string& line) {
  memo->appendPlainText(QString::fromStdString(line));
}

QStringList MemoLines(const QPlainTextEdit* memo) {
  QStringList lines;
  for (QTextBlock block = memo->document()->begin(); block.isValid(); block = block.next()) {
    lines << block.text();
  }
  return lines;
}

}  // namespace fw
