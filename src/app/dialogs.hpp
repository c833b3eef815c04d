#pragma once
// Fonts and the question dialog. They hold no state; every call asks the platform afresh.
#include <QFont>
#include <QString>
#include <QStringList>

class QWidget;

namespace fw {

// Always true here: the modern path (the preferred font, the task-style question) is the
// platform's own; the classic path stays reachable through DialogPath::Classic.
bool IsVistaOrLater();

// The platform's general user-interface font.
void ApplySystemFont(QFont& font);

// "Calibri", 2 points larger, when that family is installed and the font is not Calibri yet.
void ApplyPreferredFont(QFont& font);
void ApplyPreferredFont(QFont& font, const QStringList& installedFamilies);

// Places a top-level window in the middle of its screen's available area.
void CentreOnScreen(QWidget* window);

// A window's header strip: filled with the theme's base colour (white in a light theme) and
// written in its text colour, so that a dark theme keeps it readable.
void MakeHeaderStrip(QWidget* strip);

// The list views already follow the platform's style: nothing to change.
void ApplyExplorerTheme(QWidget* window);

// The fixed CJK face of the report memos, the debug and the agreement windows, at a pixel size.
// "新細明體" is not shipped on Linux; "AR PL UMing TW" (fonts-arphic-uming) stands in for it.
QFont MemoFont(int pixelSize);
inline constexpr int kMemoPixelSize = 12;
inline constexpr int kProgressLabelPixelSize = 21;

// Icon identifiers and button bits of ShowTaskDialog.
inline constexpr int kIconInformation = 81;
inline constexpr int kIconWarning = 84;
inline constexpr int kIconError = 98;
inline constexpr int kIconQuestion = 99;
inline constexpr int kButtonOk = 1;
inline constexpr int kButtonYes = 2;
inline constexpr int kButtonNo = 4;
inline constexpr int kButtonCancel = 8;
inline constexpr int kButtonRetry = 16;
inline constexpr int kButtonClose = 32;  // Abort on the classic path

// Result codes: 1 OK, 2 Cancel, 3 Close/Abort, 4 Retry, 6 Yes, 7 No.
inline constexpr int kResultYes = 6;

enum class DialogPath {
  Task,     // title, main instruction and content shown; texts cut at 1024 characters
  Classic,  // only the content shown, at the default position
};

// Asks a question and returns the pressed button as a dialog result code. `details`, when
// given, is the box's detailed text (shown on request), below the question's own texts.
int ShowTaskDialog(QWidget* owner, const QString& title, const QString& instruction,
                   const QString& content, int icon, int buttons,
                   DialogPath path = IsVistaOrLater() ? DialogPath::Task : DialogPath::Classic,
                   const QString& details = {});

}  // namespace fw
