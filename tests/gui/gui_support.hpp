#pragma once
// Helpers of the window tests: answering modal windows in turn, observing how the program
// would end, and scripting FakeDevice drives that identification accepts.
#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QPointer>
#include <QStringList>
#include <QTimer>
#include <QWidget>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "app/program_end.hpp"
#include "core/logs.hpp"
#include "core/user_locale.hpp"
#include "device/control_codes.hpp"
#include "device/win_layouts.hpp"
#include "format/zero_fill.hpp"
#include "select/device_table.hpp"
#include "device_replies.hpp"
#include "fake_device.hpp"

namespace fw::test {

// The program-wide state as a fresh start has it, and a fixed locale for the time stamps.
inline void ResetProgramState() {
  DebugMode = false;
  DeviceTable.Clear();
  DeviceCount = 0;
  ChosenIndex = -1;
  SetUserLocale(UserLocale{".", "%d/%m/%Y", "%H:%M:%S"});
}

// The messages of time-stamped log lines written under that locale: "dd/mm/yyyy hh:mm:ss" and
// the three blanks after it cut off.
inline QStringList Messages(const QStringList& lines) {
  constexpr int kStampWidth = 19 + 3;
  QStringList messages;
  for (const QString& line : lines) messages << line.mid(kStampWidth);
  return messages;
}

// Records the program's endings instead of ending the process.
class ProgramEndRecorder {
 public:
  ProgramEndRecorder() {
    m_previous = SetProgramEndHandler([this](int code) { codes.push_back(code); });
  }
  ~ProgramEndRecorder() { SetProgramEndHandler(m_previous); }
  ProgramEndRecorder(const ProgramEndRecorder&) = delete;
  ProgramEndRecorder& operator=(const ProgramEndRecorder&) = delete;

  bool Ended() const { return !codes.empty(); }
  std::vector<int> codes;

 private:
  std::function<void(int)> m_previous;
};

// Answers modal windows one after another. Each step waits for a modal window that its
// predicate accepts, then acts on it; a modal window that no step expects is recorded and
// rejected so that a failing test ends instead of hanging.
class ModalScript {
 public:
  using Match = std::function<bool(QWidget*)>;
  using Act = std::function<void(QWidget*)>;

  ModalScript() {
    m_timer.setInterval(5);
    QObject::connect(&m_timer, &QTimer::timeout, [this] { Poll(); });
    m_timer.start();
  }

  ModalScript& Then(Match match, Act act) {
    m_steps.push_back({std::move(match), std::move(act)});
    return *this;
  }
  // The next message box: its title and text are recorded, then `button` is pressed.
  ModalScript& Press(QMessageBox::StandardButton button) {
    return Then(IsMessageBox, [this, button](QWidget* w) {
      auto* box = qobject_cast<QMessageBox*>(w);
      boxes.push_back({box->windowTitle(), box->text(), box->informativeText(), box->icon(),
                       box->detailedText()});
      box->button(button)->click();
    });
  }
  static bool IsMessageBox(QWidget* w) { return qobject_cast<QMessageBox*>(w) != nullptr; }
  static Match Named(const QString& name) {
    return [name](QWidget* w) { return w->objectName() == name; };
  }

  bool Done() const { return m_steps.empty(); }

  struct Box {
    QString title, text, informative;
    QMessageBox::Icon icon;
    QString detailed = {};
  };
  std::vector<Box> boxes;
  std::vector<QString> unexpected;

 private:
  struct Step {
    Match match;
    Act act;
  };
  void Poll() {
    if (m_acting) return;
    QWidget* modal = QApplication::activeModalWidget();
    if (modal == nullptr || !modal->isVisible()) return;
    if (m_steps.empty()) {
      unexpected.push_back(modal->objectName() + ": " + modal->windowTitle());
      if (auto* dialog = qobject_cast<QDialog*>(modal)) dialog->reject();
      return;
    }
    if (!m_steps.front().match(modal)) {
      // A window that the next step never accepts would hang the test: give up on it.
      if (!m_waiting.isValid()) m_waiting.start();
      if (m_waiting.elapsed() > 10'000) {
        unexpected.push_back(modal->objectName() + ": " + modal->windowTitle());
        if (auto* dialog = qobject_cast<QDialog*>(modal)) dialog->reject();
        m_waiting.invalidate();
      }
      return;
    }
    m_waiting.invalidate();
    // The step acts from a timer of its own: acting may open the next modal window, and Qt
    // does not fire this polling timer again while its own slot is still running.
    m_acting = true;
    QTimer::singleShot(0, modal, [this, act = std::move(m_steps.front().act),
                                  modal = QPointer<QWidget>(modal)] {
      m_acting = false;
      if (modal) act(modal);
    });
    m_steps.pop_front();
  }

  QTimer m_timer;
  std::deque<Step> m_steps;
  bool m_acting = false;
  QElapsedTimer m_waiting;
};

// A drive that identification accepts: geometry, length, adapter and device descriptors.
struct FakeDrive {
  std::string path;
  std::string vendor = "ATA";
  std::string product = "TEST DISK";
  std::string revision = "1.0";
  std::string serial = "SN0001";  // as the descriptor holds it (byte pairs swapped)
  int64_t sectors = 1'000'000;
  uint32_t sectorSize = 512;
  uint8_t bus = win::BusTypeSata;
  uint32_t deviceQueryError = 0;  // nonzero: the device-property query is refused with it
};

// Appends the drive as the next physical drive number; an empty path leaves a gap: a drive
// number whose node does not open.
inline void AddFakeDrive(FakeDevice& fake, const FakeDrive& drive) {
  if (drive.path.empty()) {
    fake.drivePaths.push_back("/dev/absent" + std::to_string(fake.drivePaths.size()));
    return;
  }
  fake.drivePaths.push_back(drive.path);
  fake.At(drive.path).size = drive.sectors * drive.sectorSize;

  DriveFacts facts;
  facts.bytesPerSector = drive.sectorSize;
  facts.length = drive.sectors * drive.sectorSize;
  facts.busType = drive.bus;
  facts.strings = {drive.vendor, drive.product, drive.revision, drive.serial, false};
  AnswerIdentification(fake, drive.path, facts);
  if (drive.deviceQueryError != 0) {
    // The property query answers the adapter first, then the device: refuse the second.
    fake.At(drive.path).replies[ioctl::IOCTL_STORAGE_QUERY_PROPERTY].back() =
        FakeDevice::Reply{false, drive.deviceQueryError, {}, std::nullopt};
  }
  // Slave queries of ATA buses: device 0, master.
  std::vector<uint8_t> version(sizeof(win::GETVERSIONINPARAMS), 0);
  version[3] = 0x01;
  fake.Answer(drive.path, ioctl::SMART_GET_VERSION, {true, 0, version, std::nullopt});
}

}  // namespace fw::test
