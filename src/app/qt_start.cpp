#include "app/qt_start.hpp"

#include <unistd.h>

#include <QtGlobal>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "app/real_user.hpp"
#include "core/product.hpp"

namespace fw {

namespace {

// Search paths of plugins and modules, and plugin choices. Once the paths are gone a choice
// can only name a plugin installed with the system, yet a theme or an input method still loads
// more of the user's settings into a root process than the window needs.
constexpr std::array kCodeLoadingVariables{
    "QT_PLUGIN_PATH",
    "QT_QPA_PLATFORM_PLUGIN_PATH",
    "QT_QPA_PLATFORMTHEME",
    "QT_QPA_GENERIC_PLUGINS",
    "QT_QPA_EGLFS_INTEGRATION",
    "QT_STYLE_OVERRIDE",
    "QT_IM_MODULE",
    "QT_IM_MODULES",
    "QT_XCB_GL_INTEGRATION",
    "QT_WAYLAND_SHELL_INTEGRATION",
    "QT_WAYLAND_CLIENT_BUFFER_INTEGRATION",
    "QT_WAYLAND_DECORATION",
    "QML_IMPORT_PATH",
    "QML2_IMPORT_PATH",
    // The GTK platform theme loads GTK, which loads modules of its own.
    "GTK_PATH",
    "GTK_MODULES",
    "GTK3_MODULES",
    "GTK_IM_MODULE_FILE",
    "GIO_MODULE_DIR",
    "GIO_EXTRA_MODULES",
    "GDK_PIXBUF_MODULE_FILE",
    "GDK_PIXBUF_MODULEDIR",
};

bool IsSet(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && value[0] != '\0';
}

// The value of one of Qt's options (written with one dash or two) among what it will see.
const char* QtOption(int qtArgc, char** argv, std::string_view name) {
  for (int i = 1; i + 1 < qtArgc; ++i) {
    std::string_view option = argv[i];
    if (option.starts_with("--")) option.remove_prefix(1);
    if (option.starts_with('-') && option.substr(1) == name) return argv[i + 1];
  }
  return nullptr;
}

// The platforms Qt will try: its -platform option, else QT_QPA_PLATFORM; a list separated by
// ";", each name perhaps followed by ":" and options.
std::string_view PlatformRequest(int qtArgc, char** argv) {
  if (const char* option = QtOption(qtArgc, argv, "platform")) return option;
  const char* variable = std::getenv("QT_QPA_PLATFORM");
  return variable != nullptr ? variable : "";
}

// true when every platform asked for (or Qt's default) talks to a display server.
bool NeedsDisplayServer(std::string_view platforms) {
  while (!platforms.empty()) {
    const size_t semicolon = platforms.find(';');
    std::string_view entry = platforms.substr(0, semicolon);
    platforms.remove_prefix(semicolon == std::string_view::npos ? platforms.size() : semicolon + 1);
    entry = entry.substr(0, entry.find(':'));
    if (!entry.empty() && entry != "xcb" && !entry.starts_with("wayland")) return false;
  }
  return true;
}

constexpr std::string_view kWayRound =
    "Without a display, use ferrowipe-cli (see ferrowipe-cli --help), or open the window on a "
    "virtual display: xvfb-run ferrowipe\n";

std::string VariableText(const char* name) {
  const char* value = std::getenv(name);
  return std::string(name).append(value != nullptr ? std::string("=").append(value) : " unset");
}

QtMessageHandler qtHandler = nullptr;

void EndInsteadOfAbort(QtMsgType type, const QMessageLogContext& context, const QString& text) {
  if (type != QtFatalMsg) {
    qtHandler(type, context, text);
    return;
  }
  // Qt's own warnings before this one (could not connect to display...) have been printed;
  // its last word would send the user to reinstall.
  const std::string message = "ferrowipe: the window could not be opened on the display (" +
                              VariableText("DISPLAY") + ", " + VariableText("WAYLAND_DISPLAY") +
                              ").\n" + std::string(kWayRound);
  std::fputs(message.c_str(), stderr);
  std::_Exit(1);
}

}  // namespace

DisplayFailureGuard::DisplayFailureGuard() { qtHandler = qInstallMessageHandler(EndInsteadOfAbort); }

DisplayFailureGuard::~DisplayFailureGuard() { qInstallMessageHandler(qtHandler); }

QStringList TrueCommandLine(int argc, char** argv) {
  QStringList arguments;
  for (int i = 0; i < argc; ++i) arguments << QString::fromLocal8Bit(argv[i]);
  return arguments;
}

std::string InformationAnswer(int argc, char** argv) {
  if (argc < 2) return {};
  const std::string_view first = argv[1];
  if (first == "--version") return std::string(kProductName).append("\n");
  if (first != "--help" && first != "-h") return {};
  return std::string(
      "Usage: ferrowipe [--debug]\n"
      "Erases a disk by writing zeros over it, whole or as a quick wipe that removes its\n"
      "partition tables, optionally verifies it, saves an erasure report, and shows the\n"
      "disk's details and S.M.A.R.T. data, in a window.\n"
      "\n"
      "  --debug    show the debug window with the record of the start-up and the scan\n"
      "  --help     show this help and exit\n"
      "  --version  show the version and exit\n"
      "\n"
      "Started by a user other than root, it asks for an administrator's password through\n"
      "pkexec. Without a window, use ferrowipe-cli (see ferrowipe-cli --help).\n");
}

int QtArgumentCount(int argc) {
  if (argc < 1) return argc;
  return geteuid() == 0 || RunsForAnotherUser() ? 1 : argc;
}

void ClearCodeLoadingEnvironment() {
  if (!RunsForAnotherUser()) return;
  for (const char* name : kCodeLoadingVariables) unsetenv(name);
}

std::string NoDisplayMessage(int qtArgc, char** argv) {
  if (!NeedsDisplayServer(PlatformRequest(qtArgc, argv))) return {};
  if (IsSet("DISPLAY") || IsSet("WAYLAND_DISPLAY")) return {};
  if (QtOption(qtArgc, argv, "display") != nullptr) return {};
  return std::string(
             "ferrowipe: there is no display to open the window on (neither DISPLAY nor "
             "WAYLAND_DISPLAY is set).\n")
      .append(kWayRound);
}

}  // namespace fw
