#pragma once
// The debug window: the start-up's record in debug mode. Shown beside the start-up while it
// scans, then once more, modally, for the user to read before choosing a disk.
#include <QDialog>
#include <QStringList>

class QPlainTextEdit;

namespace fw {

class TFmDebug : public QDialog {
  Q_OBJECT
 public:
  // Installs the debug-line sink: from now on AddDebugLine appends to Memo1.
  explicit TFmDebug(QWidget* parent = nullptr);
  ~TFmDebug() override;

  QStringList Lines() const;

 private:
  QPlainTextEdit* m_memo;
};

}  // namespace fw
