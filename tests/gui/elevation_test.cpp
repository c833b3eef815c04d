// Start-up when raised by pkexec or sudo: no Qt option, a plain word when there is no display,
// and the agreement marker and the started programs belong to the real user.
// The tests that fake an elevated start need root; they skip themselves elsewhere.
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <QProcess>
#include <QPushButton>
#include <QtTest>
#include <filesystem>
#include <optional>
#include <utility>

#include "app/license_window.hpp"
#include "app/qt_start.hpp"
#include "app/real_user.hpp"
#include "gui_support.hpp"
#include "temp_folder.hpp"

using namespace fw;
using fw::test::ModalScript;
using fw::test::ProgramEndRecorder;
using fw::test::TempFolder;

namespace {

// Environment variables changed for one test and put back afterwards.
class ScopedEnvironment {
 public:
  ScopedEnvironment() = default;
  ScopedEnvironment(const ScopedEnvironment&) = delete;
  ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;
  ~ScopedEnvironment() {
    for (const auto& [name, value] : m_saved) {
      if (value) {
        qputenv(name.constData(), *value);
      } else {
        qunsetenv(name.constData());
      }
    }
  }
  void Set(const char* name, const QByteArray& value) {
    Save(name);
    qputenv(name, value);
  }
  void Unset(const char* name) {
    Save(name);
    qunsetenv(name);
  }
  // The process as root started it: no user behind pkexec or sudo.
  void AsPlainRoot() {
    Unset("PKEXEC_UID");
    Unset("SUDO_UID");
  }

 private:
  void Save(const char* name) {
    for (const auto& saved : m_saved) {
      if (saved.first == name) return;
    }
    m_saved.emplace_back(name, qEnvironmentVariableIsSet(name)
                                   ? std::optional<QByteArray>(qgetenv(name))
                                   : std::nullopt);
  }
  std::vector<std::pair<QByteArray, std::optional<QByteArray>>> m_saved;
};

const passwd& Nobody() {
  static const passwd entry = *getpwnam("nobody");
  return entry;
}

QByteArray Number(unsigned value) { return QByteArray::number(value); }

// A uid that the password database does not know.
uid_t UnknownUid() {
  uid_t uid = 3'999'999'000;
  while (getpwuid(uid) != nullptr) ++uid;
  return uid;
}

struct stat Stat(const std::string& path) {
  struct stat info {};
  if (lstat(path.c_str(), &info) != 0) info.st_mode = 0;
  return info;
}

// The child's environment for the window program, without whoever started this test.
QProcessEnvironment ProgramEnvironment(const TempFolder& folder) {
  QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
  environment.remove("PKEXEC_UID");
  environment.remove("SUDO_UID");
  environment.insert("XDG_DATA_HOME", QString::fromStdString(folder.Path()));
  return environment;
}

bool MapsLibrary(qint64 pid, const QByteArray& library) {
  QFile maps(QString("/proc/%1/maps").arg(pid));
  return maps.open(QIODevice::ReadOnly) && maps.readAll().contains(library);
}

}  // namespace

class ElevationTest : public QObject {
  Q_OBJECT

 private slots:
  // Run as root, the program honours no Qt option: a plugin folder and platform named on the
  // command line are not loaded, and the window comes up on the platform of the environment.
  void qtOptionsIgnoredAsRoot() {
    if (geteuid() != 0) QSKIP("needs root");
    TempFolder folder;
    QProcess program;
    QProcessEnvironment environment = ProgramEnvironment(folder);
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    program.setProcessEnvironment(environment);
    program.start(APP_PATH, {"-platformpluginpath", QString::fromStdString(folder.Path()),
                             "-platform", "evil", "--debug"});
    QVERIFY(program.waitForStarted());
    // The agreement window waits for an answer; by then the platform is loaded.
    QTRY_VERIFY_WITH_TIMEOUT(program.state() != QProcess::Running ||
                                 MapsLibrary(program.processId(), "libqoffscreen.so"),
                             60'000);
    QCOMPARE(program.state(), QProcess::Running);
    program.kill();
    QVERIFY(program.waitForFinished());
  }

  // Without a display, or with one that cannot be opened, the program says what to use
  // instead, where Qt would abort.
  void noDisplay_data() {
    QTest::addColumn<QString>("platform");  // empty: QT_QPA_PLATFORM unset
    QTest::addColumn<QString>("display");   // empty: DISPLAY unset
    QTest::newRow("default") << QString() << QString();
    QTest::newRow("xcb") << QString("xcb") << QString();
    QTest::newRow("display nobody serves") << QString() << QString(":7391");
    QTest::newRow("xcb, display nobody serves") << QString("xcb") << QString(":7391");
  }
  void noDisplay() {
    QFETCH(QString, platform);
    QFETCH(QString, display);
    TempFolder folder;
    QProcess program;
    QProcessEnvironment environment = ProgramEnvironment(folder);
    for (const char* name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"}) {
      environment.remove(name);
    }
    if (!platform.isEmpty()) environment.insert("QT_QPA_PLATFORM", platform);
    if (!display.isEmpty()) environment.insert("DISPLAY", display);
    program.setProcessEnvironment(environment);
    program.start(APP_PATH, {});
    QVERIFY(program.waitForFinished(60'000));
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QCOMPARE(program.exitCode(), 1);
    const QByteArray message = program.readAllStandardError();
    QVERIFY2(message.contains("ferrowipe-cli") && message.contains("xvfb-run"), message);
  }

  // --help and --version answer on standard output without a display, and as root too (the
  // test runs as root in CI), though no Qt option is honoured there.
  void helpAndVersion_data() {
    QTest::addColumn<QString>("argument");
    QTest::addColumn<QString>("expected");
    QTest::newRow("--help") << "--help" << "Usage: ferrowipe [--debug]\n";
    QTest::newRow("-h") << "-h" << "Usage: ferrowipe [--debug]\n";
    QTest::newRow("--version") << "--version" << "Ferrowipe 4.30\n";
  }
  void helpAndVersion() {
    QFETCH(QString, argument);
    QFETCH(QString, expected);
    TempFolder folder;
    QProcess program;
    QProcessEnvironment environment = ProgramEnvironment(folder);
    for (const char* name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"}) {
      environment.remove(name);
    }
    program.setProcessEnvironment(environment);
    program.start(APP_PATH, {argument});
    QVERIFY(program.waitForFinished(60'000));
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QCOMPARE(program.exitCode(), 0);
    const QString out = QString::fromUtf8(program.readAllStandardOutput());
    QVERIFY2(out.startsWith(expected), qPrintable(out));
    QCOMPARE(program.readAllStandardError(), QByteArray());
  }

  // Qt's variables that load code are dropped when the real user is not the effective one.
  void codeLoadingEnvironment() {
    if (geteuid() != 0) QSKIP("needs root");
    ScopedEnvironment environment;
    environment.AsPlainRoot();
    for (const bool forAnotherUser : {false, true}) {
      environment.Set("QT_PLUGIN_PATH", "/tmp/plugins");
      environment.Set("QT_QPA_PLATFORMTHEME", "evil");
      if (forAnotherUser) environment.Set("SUDO_UID", Number(Nobody().pw_uid));
      ClearCodeLoadingEnvironment();
      QCOMPARE(qEnvironmentVariableIsSet("QT_PLUGIN_PATH"), !forAnotherUser);
      QCOMPARE(qEnvironmentVariableIsSet("QT_QPA_PLATFORMTHEME"), !forAnotherUser);
      QCOMPARE(qgetenv("QT_QPA_PLATFORM"), QByteArray("offscreen"));  // names no folder
    }
  }

  // Raised by sudo or pkexec, agreeing leaves the marker in the real user's folder, made theirs.
  void markerOfTheRealUser_data() {
    QTest::addColumn<QByteArray>("variable");
    QTest::newRow("sudo") << QByteArray("SUDO_UID");
    QTest::newRow("pkexec") << QByteArray("PKEXEC_UID");
  }
  void markerOfTheRealUser() {
    QFETCH(QByteArray, variable);
    if (geteuid() != 0) QSKIP("needs root");
    ScopedEnvironment environment;
    environment.AsPlainRoot();
    environment.Set(variable.constData(), Number(Nobody().pw_uid));
    // pkexec's word counts before a SUDO_UID left in the environment by an earlier sudo.
    if (variable == "PKEXEC_UID") environment.Set("SUDO_UID", "0");
    environment.Set("HOME", "/root");
    environment.Unset("XDG_DATA_HOME");
    QCOMPARE(QString::fromStdString(LocalAppDataFolder()),
             QString(Nobody().pw_dir) + "/.local/share");

    TempFolder folder;
    const std::string data = folder / "user/share";
    environment.Set("XDG_DATA_HOME", QByteArray::fromStdString(data));
    ModalScript script;
    script.Then(ModalScript::Named("fmLicenseAgreement"),
                [](QWidget* w) { w->findChild<QPushButton*>("Button1")->click(); });
    TfmLicenseAgreement agreement;
    QVERIFY(script.Done());
    const std::string marker = data + "/ferrowipe.4.30.agreement";
    for (const auto& [path, mode] : {std::pair{folder / "user", mode_t{S_IFDIR | 0700}},
                                     std::pair{data, mode_t{S_IFDIR | 0700}},
                                     std::pair{marker, mode_t{S_IFREG | 0644}}}) {
      const struct stat info = Stat(path);
      QCOMPARE(info.st_mode, mode);
      QCOMPARE(info.st_uid, Nobody().pw_uid);
      QCOMPARE(info.st_gid, Nobody().pw_gid);
    }
    QCOMPARE(Stat(folder.Path()).st_uid, 0u);

    // The next start for that user finds the agreement.
    ProgramEndRecorder ending;
    ModalScript noWindow;
    TfmLicenseAgreement again;
    QVERIFY(!again.WasShown());
  }

  // Working for a user the password database does not know, nothing is kept or started.
  void unknownRealUser() {
    if (geteuid() != 0) QSKIP("needs root");
    TempFolder folder;
    ScopedEnvironment environment;
    environment.AsPlainRoot();
    environment.Set("SUDO_UID", Number(UnknownUid()));
    environment.Set("XDG_DATA_HOME", QByteArray::fromStdString(folder.Path()));
    QCOMPARE(LocalAppDataFolder(), std::string());
    QVERIFY(!StartAsRealUser("touch", {folder / "started"}));
    ModalScript script;
    script.Then(ModalScript::Named("fmLicenseAgreement"),
                [](QWidget* w) { w->findChild<QPushButton*>("Button1")->click(); });
    TfmLicenseAgreement agreement;
    QVERIFY(agreement.AgreementAccepted());
    QVERIFY(std::filesystem::is_empty(folder.Path()));
  }

  // Without HOME the password database names the home folder.
  void homeUnset() {
    ScopedEnvironment environment;
    environment.AsPlainRoot();
    environment.Unset("HOME");
    environment.Unset("XDG_DATA_HOME");
    QCOMPARE(QString::fromStdString(LocalAppDataFolder()),
             QString(getpwuid(getuid())->pw_dir) + "/.local/share");
  }

  // A program started for the real user runs with that user's ids and groups, keeps the
  // display, and inherits none of the program's open files.
  void startedAsTheRealUser() {
    if (geteuid() != 0) QSKIP("needs root");
    TempFolder folder;
    QVERIFY(chmod(folder.Path().c_str(), 0777) == 0);
    ScopedEnvironment environment;
    environment.AsPlainRoot();
    environment.Set("SUDO_UID", Number(Nobody().pw_uid));
    environment.Set("DISPLAY", ":97");
    environment.Set("XAUTHORITY", "/tmp/ferrowipe-test-xauthority");
    environment.Set("HOME", "/root");
    const int open = fcntl(STDERR_FILENO, F_DUPFD, 40);  // not closed on exec
    QVERIFY(open >= 40);
    const std::string out = folder / "out";
    const std::string script = "{ id -u; id -g; id -G; echo \"$HOME\"; echo \"$DISPLAY\"; "
                               "echo \"$XAUTHORITY\"; ls /proc/self/fd | tr '\\n' ' '; } > '" +
                               out + ".part' && mv '" + out + ".part' '" + out + "'";
    const bool started = StartAsRealUser("sh", {"-c", script});
    close(open);
    QVERIFY(started);
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(QString::fromStdString(out)), 30'000);
    QFile file(QString::fromStdString(out));
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QStringList lines = QString(file.readAll()).split('\n');
    QCOMPARE(lines.value(0), QString::number(Nobody().pw_uid));
    QCOMPARE(lines.value(1), QString::number(Nobody().pw_gid));
    QCOMPARE(lines.value(2), QString::number(Nobody().pw_gid));  // nogroup, and nothing of root's
    QCOMPARE(lines.value(3), QString(Nobody().pw_dir));
    QCOMPARE(lines.value(4), QString(":97"));
    QCOMPARE(lines.value(5), QString("/tmp/ferrowipe-test-xauthority"));
    // ls sees the standard three and the folder it reads.
    QCOMPARE(lines.value(6).trimmed(), QString("0 1 2 3"));
  }
};

QTEST_MAIN(ElevationTest)
#include "elevation_test.moc"
