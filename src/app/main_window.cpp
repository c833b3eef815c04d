#include "app/main_window.hpp"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QAbstractItemView>
#include <QComboBox>
#include <QFileDialog>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QStandardItemModel>
#include <QStatusBar>
#include <QTabWidget>
#include <QThread>
#include <QVBoxLayout>
#include <algorithm>
#include <optional>
#include <string_view>

#include "app/debug_window.hpp"
#include "app/dialogs.hpp"
#include "app/erasure_certificate.hpp"
#include "app/link_label.hpp"
#include "app/memo.hpp"
#include "app/platform_info.hpp"
#include "app/program_end.hpp"
#include "app/real_user.hpp"
#include "app/record_fields_dialog.hpp"
#include "app/rights_message.hpp"
#include "core/durations.hpp"
#include "core/logs.hpp"
#include "core/messages.hpp"
#include "core/product.hpp"
#include "device/erase_facts.hpp"
#include "format/erase_method_texts.hpp"
#include "format/format_control.hpp"
#include "format/zero_fill.hpp"
#include "report/device_details.hpp"
#include "report/disk_summary.hpp"
#include "report/erasure_report.hpp"
#include "report/smart_report.hpp"
#include "report/text_format.hpp"
#include "select/choose_window.hpp"
#include "select/device_table.hpp"
#include "select/scan.hpp"

namespace fw {

namespace {

constexpr std::string_view kTabDetails = "裝置詳細資料";
constexpr std::string_view kTabFormat = "低階格式化";
constexpr std::string_view kTabSmart = "自我監控分析與報告技術系統(S.M.A.R.T)";
constexpr std::string_view kProgressGroup = "目前工作進度";
constexpr std::string_view kQuickWipe = "執行快速抹除(僅移除分割區和 MBR)";
constexpr std::string_view kVerify = "寫入後驗證";
constexpr std::string_view kEraseMethod = "清除方法:";
constexpr std::string_view kSaveReport = "儲存報告...";
constexpr std::string_view kSaveReportTitle = "儲存清除報告";
constexpr std::string_view kReportFilters = "PDF 證明 (*.pdf);;JSON 報告 (*.json)";
constexpr std::string_view kSaveReportFailed = "無法儲存報告";
constexpr std::string_view kStop = "停止";
constexpr std::string_view kRunFormat = "格式化此裝置";
constexpr std::string_view kGetSmart = "取得 SMART 資料(&G)";
constexpr std::string_view kDebugActivated = "Debug mode activated";
constexpr std::string_view kProgramPathPrefix = "Program Path: ";
constexpr std::string_view kChooseTitle = "裝置選取 - Ferrowipe 4.30                ";
constexpr std::string_view kProgramVersionLine = "Program Version: Ferrowipe 4.30    ";
constexpr std::string_view kSetupError = "錯誤 #01704   ";
constexpr std::string_view kWarning1 = " * * * * *  警告!!! * * * * *      ";
constexpr std::string_view kWarning2 = "在低階格式化過程中                           ";
// What the line under the progress bar says: the pass's times while it runs, and once the
// attempt is over how many blocks failed and the time it took.
constexpr std::string_view kElapsed = "經過時間: ";
constexpr std::string_view kTimeLeft = "剩餘時間: ";
constexpr std::string_view kUnknownTimeLeft = "-:--:--";
constexpr std::string_view kFailedBlocks = "失敗區塊: ";
constexpr std::string_view kTimeTaken = "花費時間: ";
constexpr std::string_view kFactsGap = "      ";
constexpr std::string_view kWarning3 = "所有資料將被完全和不可逆轉地抹除!                               ";
// Windows draws a paused progress bar in yellow; Qt has no such state, so the bar's fill
// colour turns amber.
const QColor kPausedFill{0xFF, 0xBF, 0x00};

QString ToQ(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace

// The three panels of the status bar at fixed widths (450, 450, 50), clipped by the window
// like the native status bar's panels rather than widening it.
class StatusPanels : public QWidget {
 public:
  explicit StatusPanels(QWidget* parent) : QWidget(parent) {
    for (size_t i = 0; i < m_panels.size(); ++i) {
      m_panels[i] = new QLabel(this);
      m_panels[i]->setObjectName(QString("StatusPanel%1").arg(i));
      m_panels[i]->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
      m_panels[i]->setTextFormat(Qt::PlainText);
    }
    m_panels[2]->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    setMinimumHeight(m_panels[0]->sizeHint().height());
  }
  static constexpr std::array<int, 3> kWidths{450, 450, 50};

  QLabel* Panel(int i) const { return m_panels.at(static_cast<size_t>(i)); }
  QSize sizeHint() const override { return {0, m_panels[0]->sizeHint().height()}; }
  QSize minimumSizeHint() const override { return {0, m_panels[0]->sizeHint().height()}; }

 protected:
  void resizeEvent(QResizeEvent*) override {
    int x = 0;
    for (size_t i = 0; i < m_panels.size(); ++i) {
      m_panels[i]->setGeometry(x, 0, kWidths[i], height());
      x += kWidths[i];
    }
  }

 private:
  std::array<QLabel*, 3> m_panels{};
};

void FatalError(const QString& text, const QString& caption) {
  QMessageBox box(QMessageBox::Critical, caption, text, QMessageBox::Ok);
  box.exec();
  EndProgram(kExitFatal);
}

TFmMain::TFmMain(QWidget* parent)
    : QMainWindow(parent),
      m_arguments(QCoreApplication::arguments()),
      m_diskName(new QLabel),
      m_pages(new QTabWidget),
      m_details(MakeMemo("Log_Details", true, nullptr)),
      m_formatLog(MakeMemo("Log_BenchMark", true, nullptr)),
      m_progress(new QProgressBar),
      m_percent(new QLabel),
      m_speed(new QLabel),
      m_position(new QLabel),
      m_runFacts(new QLabel),
      m_quickWipe(new QCheckBox(ToQ(kQuickWipe))),
      m_verify(new QCheckBox(ToQ(kVerify))),
      m_method(new QComboBox),
      m_eraseFactsReader(ReadDriveEraseFacts),
      m_saveReport(new QPushButton(ToQ(kSaveReport))),
      m_stop(new QPushButton(ToQ(kStop))),
      m_runFormat(new QPushButton(ToQ(kRunFormat))),
      m_smart(MakeMemo("Log_Smart", true, nullptr)),
      m_getSmart(new QPushButton(ToQ(kGetSmart))),
      m_copyright(new LinkLabel(QString(), {kLinkGrey, kLinkBlue, kLinkRed, kLinkGrey})),
      m_panels(new StatusPanels(this)) {
  setObjectName("FmMain");
  QFont windowFont = font();
  ApplySystemFont(windowFont);
  ApplyPreferredFont(windowFont);
  setFont(windowFont);

  auto* top = new QWidget;
  top->setObjectName("TopStrip");
  MakeHeaderStrip(top);
  top->setFixedHeight(32);
  m_diskName->setObjectName("lbDiskName");
  m_diskName->setTextFormat(Qt::PlainText);
  QFont bold = m_diskName->font();
  bold.setBold(true);
  m_diskName->setFont(bold);
  auto* topLayout = new QHBoxLayout(top);
  topLayout->setContentsMargins(8, 0, 8, 0);
  topLayout->addWidget(m_diskName, 1);

  m_pages->setObjectName("pages");
  m_pages->addTab(MakeDetailsTab(), ToQ(kTabDetails));
  m_pages->addTab(MakeFormatTab(), ToQ(kTabFormat));
  m_pages->addTab(MakeSmartTab(), ToQ(kTabSmart));
  m_pages->setCurrentIndex(0);

  m_copyright->setObjectName("lbCopyright");
  m_copyright->setFont(bold);
  m_copyright->setTextFormat(Qt::PlainText);

  auto* central = new QWidget;
  auto* layout = new QVBoxLayout(central);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(4);
  layout->addWidget(top);
  auto* middle = new QVBoxLayout;
  middle->setContentsMargins(6, 0, 6, 0);
  middle->addWidget(m_pages, 1);
  middle->addWidget(m_copyright);
  layout->addLayout(middle, 1);
  setCentralWidget(central);

  auto* statusBar = new QStatusBar;
  statusBar->setObjectName("StatusBar");
  statusBar->addWidget(m_panels, 1);
  setStatusBar(statusBar);

  setMinimumSize(750, 450);
  resize(768, 499);
  CentreOnScreen(this);

  connect(m_runFormat, &QPushButton::clicked, this, &TFmMain::btRunBenchmarksClick);
  connect(m_stop, &QPushButton::clicked, this, &TFmMain::btStopClick);
  connect(m_getSmart, &QPushButton::clicked, this, &TFmMain::btGetSmartClick);
  connect(m_saveReport, &QPushButton::clicked, this, &TFmMain::btSaveReportClick);
  connect(m_copyright, &LinkLabel::clicked, this, [] { OpenUrl(QUrl(ToQ(kMakerSite))); });
  m_focusWatch = connect(qApp, &QApplication::focusChanged, this,
                         [this](QWidget*, QWidget* now) { FocusChanged(now); });

  m_session.SetFormatLog([memo = m_formatLog](const std::string& line) { AppendLine(memo, line); });
  SetDetailsSink([memo = m_details](const std::string& line) { AppendLine(memo, line); });
  SetSmartSink([memo = m_smart](const std::string& line) { AppendLine(memo, line); });
}

TFmMain::~TFmMain() {
  // The widgets destroyed after this body still move the focus: no longer this window's business.
  disconnect(m_focusWatch);
  CloseDeviceHandle();
  SetDetailsSink(nullptr);
  SetSmartSink(nullptr);
}

QWidget* TFmMain::MakeDetailsTab() {
  auto* tab = new QWidget;
  m_details->setFont(MemoFont(kMemoPixelSize));
  auto* layout = new QVBoxLayout(tab);
  layout->addWidget(m_details);
  return tab;
}

QWidget* TFmMain::MakeFormatTab() {
  auto* tab = new QWidget;
  auto* group = new QGroupBox(ToQ(kProgressGroup));
  group->setObjectName("GroupBox1");
  m_progress->setObjectName("pbCurrentTask");
  m_progress->setRange(0, 100);
  m_progress->setValue(0);
  m_progress->setTextVisible(false);
  m_progressNormal = m_progress->palette();
  m_runFacts->setObjectName("lbRunFacts");
  m_runFacts->setTextFormat(Qt::PlainText);
  auto* groupLayout = new QVBoxLayout(group);
  groupLayout->addWidget(m_progress);
  groupLayout->addWidget(m_runFacts);

  const QFont large = MemoFont(kProgressLabelPixelSize);
  m_percent->setObjectName("lbCurrentPercent");
  m_speed->setObjectName("lbSpeed");
  m_position->setObjectName("lbCurrentPosition");
  for (QLabel* label : {m_percent, m_speed, m_position}) {
    label->setFont(large);
    label->setTextFormat(Qt::PlainText);
  }
  m_quickWipe->setObjectName("cbQuickWipe");
  m_verify->setObjectName("cbVerify");
  m_method->setObjectName("cbEraseMethod");
  // Narrow in the row, its list as wide as its longest entry.
  m_method->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
  m_method->setMinimumContentsLength(14);
  auto* methodLabel = new QLabel(ToQ(kEraseMethod));
  methodLabel->setBuddy(m_method);
  FillMethodChoice();
  connect(m_method, &QComboBox::currentIndexChanged, this, [this] { UpdateQuickWipeState(); });
  m_saveReport->setObjectName("btSaveReport");
  m_saveReport->setEnabled(false);  // until an attempt has something to report
  m_stop->setObjectName("btStop");
  m_stop->setEnabled(false);
  m_runFormat->setObjectName("btRunBenchmarks");
  m_runFormat->setDefault(true);
  // Outside a dialog a push button takes Enter only when it is an auto-default one.
  for (QPushButton* button : {m_saveReport, m_stop, m_runFormat, m_getSmart}) {
    button->setAutoDefault(true);
  }

  auto* figures = new QHBoxLayout;
  figures->addWidget(m_percent, 1);
  figures->addWidget(m_speed, 1);
  auto* controls = new QHBoxLayout;
  // The two check boxes one above the other, the method choice beside them.
  auto* boxes = new QVBoxLayout;
  boxes->setSpacing(2);
  boxes->addWidget(m_quickWipe);
  boxes->addWidget(m_verify);
  auto* method = new QVBoxLayout;
  method->setSpacing(2);
  method->addWidget(methodLabel);
  method->addWidget(m_method);
  controls->addLayout(boxes);
  controls->addSpacing(8);
  controls->addLayout(method);
  controls->addStretch(1);
  controls->addWidget(m_saveReport);
  controls->addWidget(m_stop);
  controls->addWidget(m_runFormat);

  auto* layout = new QVBoxLayout(tab);
  layout->addWidget(m_formatLog, 1);
  layout->addWidget(group);
  layout->addLayout(figures);
  layout->addWidget(m_position);
  layout->addLayout(controls);
  return tab;
}

QWidget* TFmMain::MakeSmartTab() {
  auto* tab = new QWidget;
  m_smart->setFont(MemoFont(kMemoPixelSize));
  m_getSmart->setObjectName("btGetSmart");
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(m_getSmart);
  auto* layout = new QVBoxLayout(tab);
  layout->addWidget(m_smart, 1);
  layout->addLayout(buttons);
  return tab;
}

void TFmMain::Attach(DeviceIo* io, TFmChoose* choose, TFmDebug* debug) {
  m_io = io;
  m_choose = choose;
  m_debug = debug;
}

QString TFmMain::StatusPanelText(int panel) const { return m_panels->Panel(panel)->text(); }
int TFmMain::StatusPanelWidth(int panel) const {
  return StatusPanels::kWidths.at(static_cast<size_t>(panel));
}
Qt::Alignment TFmMain::StatusPanelAlignment(int panel) const {
  return m_panels->Panel(panel)->alignment();
}

void TFmMain::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  // The first showing runs the start-up before the window is drawn.
  if (!m_started) {
    m_started = true;
    FormShow();
  }
}

void TFmMain::FormShow() {
  // Without a backend and a selection window (a window shown on its own) there is no start-up.
  if (m_io == nullptr || m_choose == nullptr) return;
  if (!PrepareStartup()) return;
  const ScanResult scan = ScanPhysicalDrives(*m_io);
  if (scan.fatalText) {
    FatalError(QString::fromStdString(*scan.fatalText), ToQ(kErrorCaption));
    return;
  }
  if (DeviceCount == 0 && ScanLackedRights(scan)) {
    // Not an empty list: the user must learn that the disks are there and how to reach them.
    ShowAdministratorRightsNeeded(this);
    EndProgram(kExitFatal);
    return;
  }
  m_choose->SetStatusText(QString::fromStdString(scan.statusText));
  WriteFormatWarning();
  if (DebugMode) {
    // The record of the scan, read before choosing: the same window, now modal.
    m_debug->hide();
    m_debug->exec();
  }
  if (!m_choose->SelectDevice(m_io)) {
    EndProgram(kExitQuit);
    return;
  }
  m_chosenCaption = DeviceCaption(DeviceTable, ChosenIndex);
  m_diskName->setText(QString::fromStdString(m_chosenCaption));
  m_deviceHandle = m_io->Open(DeviceTable[ChosenIndex].DevicePath, OpenMode::Working);
  const uint32_t error = m_io->LastError();
  if (m_deviceHandle == kInvalidHandle || error != 0) {
    FatalError(ToQ(kOpenDeviceErrorPrefix) + QString::fromStdString(m_io->ErrorText(error)),
               ToQ(kErrorCaption));
    return;
  }
  m_panels->Panel(1)->setText(QString::fromStdString(m_chosenCaption));
  ShowDeviceDetails(*m_io, m_deviceHandle, DeviceTable, ChosenIndex);
  ReadEraseFacts();
}

EraseMethod TFmMain::ChosenEraseMethod() const {
  const QVariant method = m_method->currentData();
  return method.isValid() ? static_cast<EraseMethod>(method.toInt()) : EraseMethod::Zero;
}

void TFmMain::ReadEraseFacts() {
  m_eraseFacts = DriveEraseFacts{};
  if (m_eraseFactsReader && m_io != nullptr && m_deviceHandle != kInvalidHandle &&
      ChosenIndex >= 0) {
    m_eraseFacts =
        m_eraseFactsReader(*m_io, m_deviceHandle, DeviceTable[ChosenIndex].IdentifyData);
  }
  FillMethodChoice();
}

void TFmMain::FillMethodChoice() {
  const EraseMethod kept = ChosenEraseMethod();
  const QSignalBlocker quiet(m_method);
  m_method->clear();
  auto* model = qobject_cast<QStandardItemModel*>(m_method->model());
  int keptIndex = 0;
  for (const EraseMethodState& state : EraseMethodStates(m_eraseFacts)) {
    // `purge` is shown as what it stands for on this disk.
    const EraseMethodState shown = state.method == EraseMethod::Purge
                                       ? EraseMethodOn(m_eraseFacts, EraseMethod::Purge)
                                       : state;
    const int index = m_method->count();
    m_method->addItem(QString::fromStdString(EraseMethodChoiceText(state.method, shown)),
                      static_cast<int>(state.method));
    if (!state.available()) {
      model->item(index)->setEnabled(false);
      m_method->setItemData(index, ToQ(EraseRefusalText(state.refusal)), Qt::ToolTipRole);
    } else if (state.method == kept) {
      keptIndex = index;
    }
  }
  m_method->setCurrentIndex(keptIndex);
  m_method->view()->setMinimumWidth(m_method->view()->sizeHintForColumn(0) + 24);
  UpdateQuickWipeState();
}

void TFmMain::UpdateQuickWipeState() {
  const bool zeroFill = ChosenEraseMethod() == EraseMethod::Zero;
  if (!zeroFill) m_quickWipe->setChecked(false);
  m_quickWipe->setEnabled(m_controlsEnabled && zeroFill);
}

bool TFmMain::PrepareStartup() {
  if (m_arguments.size() > 1 && m_arguments.at(1).toLower() == u"--debug") {
    DebugMode = true;
    AddDebugLine(kDebugActivated);
    if (m_debug != nullptr) m_debug->show();
  }
  m_programPath = ProgramFolder(QCoreApplication::applicationFilePath().toStdString());
  AddDebugLine(std::string(kProgramPathPrefix) + m_programPath);
  AddDebugLine(PlatformLine(KernelRelease(), DistributionName(m_systemRoot), KernelIs64Bit()));
  QThread::msleep(50);

  if (m_choose != nullptr) {
    m_choose->setWindowTitle(ToQ(kChooseTitle));
    m_choose->SetProgramName(ToQ(kProductName).toUpper() + "    ");
    m_choose->SetCopyright(ToQ(kLegalNotice));
  }
  AddDebugLine(kProgramVersionLine);
  setWindowTitle(ToQ(kProductTitle));
  m_panels->Panel(0)->setText(ToQ(kProductTitle));
  m_copyright->setText(ToQ(kLegalNotice));

  if (!DeviceSetupAvailable(m_systemRoot)) {
    FatalError(ToQ(kSetupError), ToQ(kErrorCaption));
    return false;
  }
  return true;
}

void TFmMain::WriteFormatWarning() {
  m_session.AddFormatLogLine(kWarning1);
  m_session.AddFormatLogLine(kWarning2);
  m_session.AddFormatLogLine(kWarning3);
}

void TFmMain::CloseDeviceHandle() {
  if (m_deviceHandle != kInvalidHandle && m_io != nullptr) m_io->Close(m_deviceHandle);
  m_deviceHandle = kInvalidHandle;
}

void TFmMain::closeEvent(QCloseEvent* event) {
  if (m_busy) {
    // The engine still writes through the handle: it stops at its next pass, and the window
    // closes once the attempt has returned.
    m_session.RequestStop();
    m_closeAfterRun = true;
    event->ignore();
    return;
  }
  CloseDeviceHandle();
  event->accept();
}

void TFmMain::FocusChanged(QWidget* now) {
  const auto* button = qobject_cast<QPushButton*>(now);
  m_runFormat->setDefault(button == nullptr || button == m_runFormat || !isAncestorOf(button));
}

void TFmMain::keyPressEvent(QKeyEvent* event) {
  // The format button is the window's default button, but Qt gives default buttons their Enter
  // only inside dialogs. Enter that no control took (a focused push button presses itself)
  // presses it while it can be pressed: its tab showing and no attempt under way. A memo keeps
  // Enter to itself, as a memo does.
  const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
  if (enter && (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier &&
      qobject_cast<QPlainTextEdit*>(focusWidget()) == nullptr && m_runFormat->isVisible() &&
      m_runFormat->isEnabled()) {
    event->accept();
    m_runFormat->click();
    return;
  }
  QMainWindow::keyPressEvent(event);
}

void TFmMain::btRunBenchmarksClick() { StartLowLevelFormat(); }

void TFmMain::StartLowLevelFormat() {
  if (m_busy) return;
  const EraseMethod method = ChosenEraseMethod();
  const bool quickWipe = method == EraseMethod::Zero && m_quickWipe->isChecked();
  const bool verify = m_verify->isChecked();
  const std::string methodNote =
      FormatConfirmEraseNote(method, EraseMethodOn(m_eraseFacts, method));
  m_busy = true;
  const TDeviceTable& chosen = DeviceTable[ChosenIndex];
  const std::string facts =
      DiskSummaryText(chosen, m_io->DescribeDisk(chosen.DevicePath), kDiskSummaryChinese);
  const int answer = ShowTaskDialog(
      this, QString::fromStdString(FormatConfirmTitle()),
      QString::fromStdString(FormatConfirmInstruction()),
      QString::fromStdString(FormatConfirmContent(m_chosenCaption) +
                             (methodNote.empty() ? std::string() : "\r\n\r\n" + methodNote) +
                             (quickWipe ? "\r\n\r\n" + FormatConfirmQuickNote() : std::string()) +
                             (verify ? "\r\n\r\n" + FormatConfirmVerifyNote() : std::string())),
      kIconWarning,
      kButtonYes | kButtonCancel, IsVistaOrLater() ? DialogPath::Task : DialogPath::Classic,
      QString::fromStdString(facts));
  if (answer == kResultYes && !m_closeAfterRun) {
    m_runFacts->clear();
    const int64_t startMs = m_clock.NowMs();
    m_session.SetDebug(DebugMode);
    const FormatAttemptResult attempt =
        RunFormatAttempt(*m_io, m_deviceHandle, DeviceTable, ChosenIndex, m_chosenCaption,
                         quickWipe, m_session, *this, m_clock, verify, method, false);
    if (attempt.locked) ShowRunOutcome(attempt.run.failedBlocks, m_clock.NowMs() - startMs);
    m_lastReport = std::make_unique<ErasureReport>(MakeErasureReport(
        chosen, m_io->DescribeDisk(chosen.DevicePath), attempt, CurrentHostFacts()));
    if (m_lastReport->attempt.media == MediaType::Unknown) {
      m_lastReport->attempt.media = m_eraseFacts.media;
    }
    m_lastReport->record = m_record;
    m_saveReport->setEnabled(m_runFormat->isEnabled());
    // What the disk offers now: a run can leave it locked, or still sanitizing.
    ReadEraseFacts();
  }
  m_busy = false;
  if (m_closeAfterRun) {
    m_closeAfterRun = false;
    close();
  }
}

void TFmMain::btStopClick() { m_session.RequestStop(); }

void TFmMain::btGetSmartClick() {
  SetFormatControlsEnabled(false);
  ShowSmartReport(*m_io, m_deviceHandle, DeviceTable, ChosenIndex);
  SetFormatControlsEnabled(true);
}

void TFmMain::SetProgress(int percent) { m_progress->setValue(percent); }
void TFmMain::SetPercentText(const std::string& text) {
  m_percent->setText(QString::fromStdString(text));
}
void TFmMain::SetPositionText(const std::string& text) {
  m_position->setText(QString::fromStdString(text));
}
void TFmMain::SetSpeedText(const std::string& text) {
  m_speed->setText(QString::fromStdString(text));
}
std::string TFmMain::SpeedText() const { return m_speed->text().toStdString(); }

void TFmMain::StartPass(int64_t totalBytes) {
  m_passStartMs = m_clock.NowMs();
  m_passBytes = totalBytes;
  m_passReached = 0;
  ShowPassTimes();
}

void TFmMain::SetBytePosition(int64_t reached) {
  m_passReached = std::clamp<int64_t>(reached, 0, m_passBytes);
  ShowPassTimes();
}

void TFmMain::ShowPassTimes() {
  const int64_t elapsed = m_clock.NowMs() - m_passStartMs;
  const std::optional<int64_t> left = TimeLeftMs(elapsed, m_passReached, m_passBytes);
  m_runFacts->setText(ToQ(kElapsed) + QString::fromStdString(DurationText(elapsed)) +
                      ToQ(kFactsGap) + ToQ(kTimeLeft) +
                      (left ? QString::fromStdString(DurationText(*left)) : ToQ(kUnknownTimeLeft)));
}

void TFmMain::ShowRunOutcome(int64_t failedBlocks, int64_t takenMs) {
  m_runFacts->setText(ToQ(kFailedBlocks) + QString::number(failedBlocks) + ToQ(kFactsGap) +
                      ToQ(kTimeTaken) + QString::fromStdString(DurationText(takenMs)));
}
void TFmMain::PumpMessages() { QCoreApplication::processEvents(); }

void TFmMain::SetFormatControlsEnabled(bool enabled) {
  m_controlsEnabled = enabled;
  m_runFormat->setEnabled(enabled);
  m_getSmart->setEnabled(enabled);
  m_verify->setEnabled(enabled);
  m_method->setEnabled(enabled);
  UpdateQuickWipeState();
  m_saveReport->setEnabled(enabled && m_lastReport != nullptr);
}

QString TFmMain::SaveReport(const QString& path) {
  if (!m_lastReport) return ToQ(kSaveReportFailed);
  const std::string content =
      path.endsWith(".pdf", Qt::CaseInsensitive)
          ? ErasureCertificatePdf(*m_lastReport).toStdString()
          : ErasureReportJson(*m_lastReport);
  // Raised through pkexec or sudo, the report still belongs to the person who asked for it.
  return QString::fromStdString(WriteReportFile(path.toStdString(), content, RealUserFileOwner()));
}

void TFmMain::btSaveReportClick() {
  if (!m_lastReport) return;
  // The person who erased signs for it: asked each time, starting from what they entered last.
  const std::optional<RecordFields> record = AskRecordFields(this, m_record);
  if (!record) return;
  m_record = *record;
  m_lastReport->record = m_record;
  QString filter;
  const std::optional<UserAccount> user = RealUserAccount();
  const QString folder = user ? QString::fromStdString(user->home) + "/" : QString();
  QString path = QFileDialog::getSaveFileName(this, ToQ(kSaveReportTitle),
                                              folder + "ferrowipe-erasure.pdf",
                                              ToQ(kReportFilters), &filter);
  if (path.isEmpty()) return;
  // A name typed without its ending gets the one of the chosen kind.
  const QString suffix = filter.contains("*.json") ? ".json" : ".pdf";
  if (!path.endsWith(".pdf", Qt::CaseInsensitive) && !path.endsWith(".json", Qt::CaseInsensitive)) {
    path += suffix;
  }
  if (const QString problem = SaveReport(path); !problem.isEmpty()) {
    QMessageBox::warning(this, ToQ(kSaveReportFailed), problem);
  }
}

void TFmMain::SetStopEnabled(bool enabled) { m_stop->setEnabled(enabled); }

void TFmMain::SetRunning(bool running) {
  m_progressPaused = !running;
  if (running) {
    m_progress->setPalette(m_progressNormal);
    m_stop->setEnabled(true);
    m_stop->setFocus();
  } else {
    QPalette paused = m_progressNormal;
    paused.setColor(QPalette::Highlight, kPausedFill);
    m_progress->setPalette(paused);
    m_stop->setEnabled(false);
  }
}

}  // namespace fw
