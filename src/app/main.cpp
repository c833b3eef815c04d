// ferrowipe: the window program.
#include <QApplication>
#include <QLocale>
#include <QMessageBox>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>

#include "app/debug_window.hpp"
#include "app/license_window.hpp"
#include "app/main_window.hpp"
#include "app/program_icon.hpp"
#include "app/qt_start.hpp"
#include "app/qt_translations.hpp"
#include "core/messages.hpp"
#include "core/user_locale.hpp"
#include "device/device_io.hpp"
#include "select/choose_window.hpp"

int main(int argc, char** argv) {
  // Settled before QApplication exists: it takes its own options out of argv and reads its
  // environment when it is made.
  if (const std::string answer = fw::InformationAnswer(argc, argv); !answer.empty()) {
    std::fputs(answer.c_str(), stdout);
    return std::fflush(stdout) == 0 ? 0 : 1;
  }
  const QStringList commandLine = fw::TrueCommandLine(argc, argv);
  int qtArgc = fw::QtArgumentCount(argc);
  fw::ClearCodeLoadingEnvironment();
  // Qt would abort, naming a reinstall as the cure; the user needs the way round instead.
  if (const std::string message = fw::NoDisplayMessage(qtArgc, argv); !message.empty()) {
    std::fputs(message.c_str(), stderr);
    return 1;
  }
  std::optional<fw::DisplayFailureGuard> displayGuard(std::in_place);
  QApplication app(qtArgc, argv);
  displayGuard.reset();
  // QApplication has taken the user's locale (setlocale) by now: the time stamps and the
  // capacity texts follow it.
  fw::SetUserLocale(fw::UserLocaleFromProcess());
  fw::InstallQtTranslations(app, QLocale::system());
  // The desktop entry names the window to the task bar, which takes its icon from there too.
  QGuiApplication::setDesktopFileName("ferrowipe");
  QApplication::setWindowIcon(fw::ProgramIcon());

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
  mainWindow.SetArguments(commandLine);
  // Showing the main window runs the start-up (scan, selection, the open disk) first.
  mainWindow.show();
  return app.exec();
}
