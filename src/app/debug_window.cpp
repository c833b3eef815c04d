#include "app/debug_window.hpp"

#include <QPlainTextEdit>
#include <QVBoxLayout>

#include "app/dialogs.hpp"
#include "app/memo.hpp"
#include "core/logs.hpp"

namespace fw {

namespace {
constexpr auto kTitle = "除錯";
constexpr auto kFirstLine = "除錯視窗";
}  // namespace

TFmDebug::TFmDebug(QWidget* parent)
    : QDialog(parent), m_memo(MakeMemo("Memo1", false, this)) {
  setObjectName("FmDebug");
  setWindowTitle(kTitle);
  m_memo->setFont(MemoFont(kMemoPixelSize));
  m_memo->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  m_memo->setPlainText(kFirstLine);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(m_memo);
  resize(635, 337);
  CentreOnScreen(this);
  SetDebugLineSink([memo = m_memo](const std::string& line) { AppendLine(memo, line); });
}

TFmDebug::~TFmDebug() { SetDebugLineSink(nullptr); }

QStringList TFmDebug::Lines() const { return MemoLines(m_memo); }

}  // namespace fw
