#include "app/dialogs.hpp"

#include <QCloseEvent>
#include <QFontDatabase>
#include <QKeyEvent>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QWidget>
#include <array>

namespace fw {

namespace {

constexpr auto kMemoFamily = "新細明體";
constexpr auto kMemoSubstitute = "AR PL UMing TW";
constexpr auto kPreferredFamily = "Calibri";
// The task dialog copies each text into a buffer of 1025 characters, terminator included.
constexpr qsizetype kTaskTextLimit = 1024;

struct ButtonBit {
  int bit;
  QMessageBox::StandardButton task;
  QMessageBox::StandardButton classic;
};
constexpr std::array<ButtonBit, 6> kButtonBits{{
    {kButtonOk, QMessageBox::Ok, QMessageBox::Ok},
    {kButtonYes, QMessageBox::Yes, QMessageBox::Yes},
    {kButtonNo, QMessageBox::No, QMessageBox::No},
    {kButtonCancel, QMessageBox::Cancel, QMessageBox::Cancel},
    {kButtonRetry, QMessageBox::Retry, QMessageBox::Retry},
    {kButtonClose, QMessageBox::Close, QMessageBox::Abort},
}};

QMessageBox::Icon IconFor(int icon) {
  switch (icon) {
    case kIconInformation: return QMessageBox::Information;
    case kIconWarning: return QMessageBox::Warning;
    case kIconError: return QMessageBox::Critical;
    case kIconQuestion: return QMessageBox::Question;
    default: return QMessageBox::NoIcon;
  }
}

// A message box left without a button press. QMessageBox itself turns Escape and the title bar's
// close into a press of a button it picks (the only button, No, Close...), so a Yes-only box
// would answer Yes by itself; here both simply reject and leave no button pressed.
class QuestionBox : public QMessageBox {
 public:
  using QMessageBox::QMessageBox;

 protected:
  void keyPressEvent(QKeyEvent* event) override {
    if (event->matches(QKeySequence::Cancel)) {
      reject();
      return;
    }
    QMessageBox::keyPressEvent(event);
  }
  // QMessageBox ignores a close when it finds no escape button; QDialog's close rejects.
  void closeEvent(QCloseEvent* event) override { QDialog::closeEvent(event); }
};

// A dialog closed without a button press counts as Cancel on both paths.
int TaskResult(QMessageBox::StandardButton pressed) {
  switch (pressed) {
    case QMessageBox::NoButton:
    case QMessageBox::Cancel: return 2;
    case QMessageBox::Retry: return 4;
    case QMessageBox::Yes: return 6;
    case QMessageBox::No: return 7;
    case QMessageBox::Close: return 3;
    default: return 1;
  }
}

int ClassicResult(QMessageBox::StandardButton pressed) {
  switch (pressed) {
    case QMessageBox::Ok: return 1;
    case QMessageBox::Abort: return 3;
    case QMessageBox::Retry: return 4;
    case QMessageBox::Yes: return 6;
    case QMessageBox::No: return 7;
    default: return 2;
  }
}

}  // namespace

bool IsVistaOrLater() { return true; }

void ApplySystemFont(QFont& font) { font = QFontDatabase::systemFont(QFontDatabase::GeneralFont); }

void ApplyPreferredFont(QFont& font) { ApplyPreferredFont(font, QFontDatabase::families()); }

void ApplyPreferredFont(QFont& font, const QStringList& installedFamilies) {
  if (!IsVistaOrLater()) return;
  if (font.family().compare(kPreferredFamily, Qt::CaseInsensitive) == 0) return;
  if (!installedFamilies.contains(kPreferredFamily, Qt::CaseInsensitive)) return;
  if (font.pointSizeF() > 0) {
    font.setPointSizeF(font.pointSizeF() + 2);
  } else {
    // A pixel-sized font: 2 points at the usual 96 dots per inch.
    font.setPixelSize(font.pixelSize() + 3);
  }
  font.setFamily(kPreferredFamily);
}

void ApplyExplorerTheme(QWidget*) {}

void MakeHeaderStrip(QWidget* strip) {
  strip->setAutoFillBackground(true);
  strip->setBackgroundRole(QPalette::Base);
  strip->setForegroundRole(QPalette::Text);
}

void CentreOnScreen(QWidget* window) {
  if (const QScreen* screen = window->screen()) {
    QRect frame = window->frameGeometry();
    frame.moveCenter(screen->availableGeometry().center());
    window->move(frame.topLeft());
  }
}

QFont MemoFont(int pixelSize) {
  static const bool substituted = [] {
    QFont::insertSubstitution(kMemoFamily, kMemoSubstitute);
    return true;
  }();
  (void)substituted;
  QFont font(kMemoFamily);
  font.setPixelSize(pixelSize);
  return font;
}

int ShowTaskDialog(QWidget* owner, const QString& title, const QString& instruction,
                   const QString& content, int icon, int buttons, DialogPath path,
                   const QString& details) {
  const bool classic = path == DialogPath::Classic;
  QuestionBox box(owner);
  box.setIcon(IconFor(icon));
  if (classic) {
    box.setText(content);
  } else {
    box.setWindowTitle(title.left(kTaskTextLimit));
    box.setText(instruction.left(kTaskTextLimit));
    box.setInformativeText(content.left(kTaskTextLimit));
  }
  QMessageBox::StandardButtons standard;
  for (const ButtonBit& b : kButtonBits) {
    if ((buttons & b.bit) != 0) standard |= classic ? b.classic : b.task;
  }
  box.setStandardButtons(standard == QMessageBox::NoButton ? QMessageBox::Ok : standard);
  if (!details.isEmpty()) box.setDetailedText(details);
  box.exec();
  const QMessageBox::StandardButton pressed = box.standardButton(box.clickedButton());
  return classic ? ClassicResult(pressed) : TaskResult(pressed);
}

}  // namespace fw
