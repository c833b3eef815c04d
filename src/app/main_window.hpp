#pragma once
// The main window: the chosen disk's caption, the device-details, format and S.M.A.R.T. tabs,
// the status bar. Its first showing runs the start-up that leads to an opened disk; it holds
// the program-wide state of the run (program folder, chosen caption, device handle) and is
// the view the format engine drives.
#include <QMainWindow>
#include <QStringList>
#include <array>
#include <functional>
#include <memory>
#include <string>

#include "core/clock.hpp"
#include "core/device_types.hpp"
#include "device/device_io.hpp"
#include "device/erase_capabilities.hpp"
#include "format/format_session.hpp"
#include "format/format_view.hpp"
#include "report/erasure_report.hpp"

class QCheckBox;
class QComboBox;
class QLabel;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QTabWidget;

namespace fw {

class LinkLabel;
class StatusPanels;
class TFmChoose;
class TFmDebug;

// Reads what the chosen disk offers for its own erase (read-only commands only).
using EraseFactsReader =
    std::function<DriveEraseFacts(DeviceIo&, Handle, const TIdentifyDeviceData&)>;

// An error box (error icon, one OK button) titled `caption` saying `text`; once it is closed
// the program ends. Callers return straight after it (see EndProgram).
void FatalError(const QString& text, const QString& caption);

class TFmMain : public QMainWindow, public FormatView {
  Q_OBJECT
 public:
  // FormCreate. Installs the sinks of the format log and of both reports.
  explicit TFmMain(QWidget* parent = nullptr);
  ~TFmMain() override;
  // A stop asked for and not yet taken by a run (a cancelled run takes it).
  bool StopPending() const { return m_session.StopRequested(); }

  // The backend and the windows the start-up works with; set by the program entry before the
  // window is shown.
  void Attach(DeviceIo* io, TFmChoose* choose, TFmDebug* debug);
  // How the method choice learns what the opened disk offers (ReadDriveEraseFacts unless
  // replaced; none: it offers the zero-fill alone).
  void SetEraseFactsReader(EraseFactsReader reader) { m_eraseFactsReader = std::move(reader); }
  // The command line whose first argument may be --debug (default: the application's).
  void SetArguments(const QStringList& arguments) { m_arguments = arguments; }
  // Prefix of /sys and /proc for the device-setup check (tests).
  void SetSystemRoot(const std::string& root) { m_systemRoot = root; }

  // The start-up of the first showing, and its steps.
  void FormShow();
  bool PrepareStartup();  // false: the program has ended
  void WriteFormatWarning();
  void CloseDeviceHandle();
  void StartLowLevelFormat();

  const std::string& ProgramPath() const { return m_programPath; }
  const std::string& ChosenCaption() const { return m_chosenCaption; }
  Handle DeviceHandle() const { return m_deviceHandle; }
  bool FormatRunning() const { return m_busy; }
  bool ProgressPaused() const { return m_progressPaused; }
  // The method the format tab's choice stands at, and what the disk offered it.
  EraseMethod ChosenEraseMethod() const;
  const DriveEraseFacts& EraseFacts() const { return m_eraseFacts; }
  QString StatusPanelText(int panel) const;
  int StatusPanelWidth(int panel) const;
  Qt::Alignment StatusPanelAlignment(int panel) const;

  // FormatView: the format tab as the engine sees it.
  void SetProgress(int percent) override;
  void SetPercentText(const std::string& text) override;
  void SetPositionText(const std::string& text) override;
  void SetSpeedText(const std::string& text) override;
  std::string SpeedText() const override;
  void StartPass(int64_t totalBytes) override;
  void SetBytePosition(int64_t reached) override;
  void PumpMessages() override;
  void SetFormatControlsEnabled(bool enabled) override;
  void SetRunning(bool running) override;
  // The drive's own erase cannot be stopped: Stop stays disabled while the bar moves.
  void SetStopEnabled(bool enabled) override;

  // The last attempt's erasure report, saved as a PDF certificate when `path` ends in .pdf,
  // else as JSON; empty on success, else why not. Nothing to save before an attempt.
  QString SaveReport(const QString& path);

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  QWidget* MakeDetailsTab();
  QWidget* MakeFormatTab();
  QWidget* MakeSmartTab();
  void btRunBenchmarksClick();
  void btStopClick();
  void btGetSmartClick();
  void btSaveReportClick();
  // The format button is drawn as the default only while no other push button has the focus:
  // Enter presses the focused one.
  void FocusChanged(QWidget* now);
  void ShowPassTimes();
  void ShowRunOutcome(int64_t failedBlocks, int64_t takenMs);
  // Reads the disk's erase facts afresh (a run can lock, unfreeze or start a sanitize) and
  // fills the method choice from them, keeping the chosen method while it stays open.
  void ReadEraseFacts();
  void FillMethodChoice();
  // The quick wipe is a form of the zero-fill alone.
  void UpdateQuickWipeState();

  DeviceIo* m_io = nullptr;
  TFmChoose* m_choose = nullptr;
  TFmDebug* m_debug = nullptr;
  QStringList m_arguments;
  std::string m_systemRoot = "/";
  SteadyClock m_clock;
  // The one disk's run: the Stop button's request and the format-log memo.
  FormatSession m_session;

  std::string m_programPath;
  std::string m_chosenCaption;
  Handle m_deviceHandle = kInvalidHandle;
  bool m_started = false;
  bool m_busy = false;           // a format attempt (confirmation, lock, run) is under way
  bool m_closeAfterRun = false;  // the window was asked to close during the attempt
  bool m_progressPaused = false;

  QLabel* m_diskName;
  QTabWidget* m_pages;
  QPlainTextEdit* m_details;
  QPlainTextEdit* m_formatLog;
  QProgressBar* m_progress;
  QLabel* m_percent;
  QLabel* m_speed;
  QLabel* m_position;
  QLabel* m_runFacts;  // under the progress bar: times while running, failed blocks after
  int64_t m_passStartMs = 0;
  int64_t m_passBytes = 0;
  int64_t m_passReached = 0;
  QCheckBox* m_quickWipe;
  QCheckBox* m_verify;
  QComboBox* m_method;
  EraseFactsReader m_eraseFactsReader;
  DriveEraseFacts m_eraseFacts;
  bool m_controlsEnabled = true;
  QPushButton* m_saveReport;
  std::unique_ptr<ErasureReport> m_lastReport;  // of the last attempt the user confirmed
  RecordFields m_record;  // as last entered: the next report's dialog starts from them
  QPushButton* m_stop;
  QPushButton* m_runFormat;
  QPlainTextEdit* m_smart;
  QPushButton* m_getSmart;
  LinkLabel* m_copyright;
  StatusPanels* m_panels;
  QPalette m_progressNormal;
  QMetaObject::Connection m_focusWatch;
};

}  // namespace fw
