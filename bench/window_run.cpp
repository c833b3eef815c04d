// The window's format run, timed as the throughput benchmark times the CLI's: the main window
// (offscreen unless QT_QPA_PLATFORM says otherwise) over the machine's block devices, the disk
// named on the command line chosen in the selection window, the format button pressed and the
// confirmation answered. Prints the write pass's average speed in MB/s as the window shows it.
// Only a loop device is taken; anything else ends the program before a window opens. Root.
#include <QApplication>
#include <QKeyEvent>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>
#include <cstdio>
#include <memory>
#include <string>

#include "app/debug_window.hpp"
#include "app/main_window.hpp"
#include "core/user_locale.hpp"
#include "device/backends.hpp"
#include "select/choose_window.hpp"
#include "select/device_table.hpp"

int main(int argc, char** argv) {
  if (argc != 2 || std::string(argv[1]).rfind("/dev/loop", 0) != 0) {
    std::fprintf(stderr, "usage: window_run /dev/loopN   (loop devices only)\n");
    return 2;
  }
  const std::string disk = argv[1];
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  fw::SetUserLocale(fw::UserLocale{".", "%m/%d/%y", "%H:%M:%S"});
  const std::unique_ptr<fw::DeviceIo> io = fw::CreateLinuxDeviceIo();
  fw::TFmMain main;
  fw::TFmChoose choose;
  fw::TFmDebug debug;
  main.Attach(io.get(), &choose, &debug);
  main.SetArguments({"ferrowipe"});

  // Modal windows as a user answers them: the loop device chosen; the format's question
  // answered yes only once the chosen disk is known to be that loop device.
  bool armed = false;
  QTimer answer;
  answer.setInterval(5);
  QObject::connect(&answer, &QTimer::timeout, [&] {
    QWidget* modal = QApplication::activeModalWidget();
    if (modal == nullptr) return;
    if (modal->objectName() == "FmChoose") {
      auto* list = modal->findChild<QTreeWidget*>("DriveList");
      for (int row = 0; row < list->topLevelItemCount(); ++row) {
        if (fw::DeviceTable[row + 1].DevicePath != disk) continue;
        list->setCurrentItem(list->topLevelItem(row));
        QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
        QApplication::sendEvent(list, &enter);
        return;
      }
      modal->close();
    } else if (auto* box = qobject_cast<QMessageBox*>(modal)) {
      QAbstractButton* yes = box->button(QMessageBox::Yes);
      if (armed && yes != nullptr) {
        yes->click();
      } else if (QAbstractButton* cancel = box->button(QMessageBox::Cancel)) {
        cancel->click();
      } else {
        box->close();
      }
    }
  });
  answer.start();

  main.show();
  if (fw::ChosenIndex < 1 || fw::DeviceTable[fw::ChosenIndex].DevicePath != disk) {
    std::fprintf(stderr, "window_run: %s was not chosen; nothing written\n", disk.c_str());
    return 1;
  }
  armed = true;
  auto* format = main.findChild<QPushButton*>("btRunBenchmarks");
  if (format == nullptr || !format->isEnabled()) {
    std::fprintf(stderr, "window_run: the format button is not there or not enabled\n");
    return 1;
  }
  format->click();
  main.CloseDeviceHandle();
  std::printf("%s\n", main.SpeedText().c_str());
  return 0;
}
