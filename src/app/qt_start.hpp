#pragma once
// What the window program settles before Qt reads its command line and its environment. Raised
// through pkexec or sudo it runs as root: Qt's own options (-platformpluginpath, -platform,
// -style...) and its variables that name code to load would let whoever starts it load any
// library as root.
#include <QStringList>
#include <string>

namespace fw {

// The command line as the program received it, before Qt takes its own options out of it:
// --debug counts only as its true first argument.
QStringList TrueCommandLine(int argc, char** argv);

// The text that `ferrowipe --help` or `--version` prints on standard output, for a first
// argument that asks for it; empty otherwise. Answered before Qt starts, so it needs no display
// and holds as root, where no Qt option is honoured.
std::string InformationAnswer(int argc, char** argv);

// How many of the arguments QApplication may see: running as root or for another user, only the
// program name, so that no Qt option is honoured.
int QtArgumentCount(int argc);

// Removes Qt's (and the GTK theme's) variables that load code, when the process runs for
// another user than its real one.
void ClearCodeLoadingEnvironment();

// Empty when Qt has a display to open the window on, or was asked for a platform that needs
// none (offscreen, vnc...); otherwise the message that says so and names the alternatives.
// `qtArgc` and `argv` are what QApplication will see.
std::string NoDisplayMessage(int qtArgc, char** argv);

// While it lives, a fatal message from Qt (a display that is named but cannot be opened, no
// usable platform plugin) ends the program with the way round on stderr and exit status 1,
// instead of Qt's abort. Made before QApplication, ended once it stands.
class DisplayFailureGuard {
 public:
  DisplayFailureGuard();
  ~DisplayFailureGuard();
  DisplayFailureGuard(const DisplayFailureGuard&) = delete;
  DisplayFailureGuard& operator=(const DisplayFailureGuard&) = delete;
};

}  // namespace fw
