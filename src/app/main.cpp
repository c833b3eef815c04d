// ferrowipe: the window program.
#include <QApplication>
#include <QMessageBox>
#include <memory>

#include "app/debug_window.hpp"
#include "app/license_window.hpp"
#include "app/main_window.hpp"
#include "core/messages.hpp"
#include "core/user_locale.hpp"
#include "device/device_io.hpp"
#include "select/choose_window.hpp"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  // QApplication has taken the user's locale (setlocale) by now: the time stamps and the
  // capacity texts follow it.
  fw::SetUserLocale(fw::UserLocaleFromProcess());

  const std::unique_ptr<fw::DeviceIo> io = fw::CreateDeviceBackend();

  // The order of creation is the program's: the agreement is asked for after the main and the
  // selection windows exist and before the debug window does.
  fw::TFmMain mainWindow;
  fw::TFmChoose chooseWindow;
  fw::TfmLicenseAgreement agreement;
  fw::TFmDebug debugWindow;

  if (!io) {
    fw::FatalError("No device backend is available.", QString::fromUtf8(fw::kErrorCaption.data()));
    return 1;
  }
  mainWindow.Attach(io.get(), &chooseWindow, &debugWindow);
  // Showing the main window runs the start-up (scan, selection, the open disk) first.
  mainWindow.show();
  return app.exec();
}
