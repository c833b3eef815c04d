// The program over simulated disks (FERROWIPE_DISKS): the bundled demo set, and small sets
// made here. A format run must leave zeros in the image. (That the windows show what
// ferrowipe-cli prints is cli_parity_test's.)
//
// With FERROWIPE_SCREENSHOTS naming a folder, the tests also save pictures of the windows
// there (scripts/screenshots.sh runs them on an X display).
#include <QCheckBox>
#include <QFile>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTranslator>
#include <QTreeWidget>
#include <QtTest>
#include <memory>

#include "app/debug_window.hpp"
#include "app/main_window.hpp"
#include "app/qt_translations.hpp"
#include "app/memo.hpp"
#include "core/logs.hpp"
#include "core/user_locale.hpp"
#include "device/device_io.hpp"
#include "format/zero_fill.hpp"
#include "gui_support.hpp"
#include "select/choose_window.hpp"
#include "select/device_table.hpp"

using namespace fw;
using fw::test::Messages;
using fw::test::ModalScript;
using fw::test::ProgramEndRecorder;

namespace {

constexpr int kWarningLines = 3;

// Saves a picture of a window when FERROWIPE_SCREENSHOTS asks for them: from the X server
// when the window is a real X window, else rendered by the toolkit.
void Shot(QWidget* window, const QString& name) {
  const QString folder = qEnvironmentVariable("FERROWIPE_SCREENSHOTS");
  if (folder.isEmpty()) return;
  QVERIFY(QTest::qWaitForWindowExposed(window));
  window->repaint();
  const QPixmap picture = QGuiApplication::platformName() == "xcb"
                              ? window->screen()->grabWindow(window->winId())
                              : window->grab();
  QVERIFY(picture.save(folder + "/" + name + ".png"));
}

void MakeImage(const QString& path, qint64 bytes, char fill = 0, qint64 filled = 0) {
  QFile image(path);
  QVERIFY(image.open(QIODevice::WriteOnly));
  if (filled > 0) image.write(QByteArray(filled, fill));
  QVERIFY(image.resize(bytes));
}

void WriteJson(const QString& path, const QByteArray& json) {
  QFile file(path);
  QVERIFY(file.open(QIODevice::WriteOnly));
  file.write(json);
}

QTreeWidget* List(QWidget* w) { return w->findChild<QTreeWidget*>("DriveList"); }

// Selects list item `item` and presses Enter.
ModalScript::Act Choose(int item) {
  return [item](QWidget* w) {
    List(w)->setCurrentItem(List(w)->topLevelItem(item));
    QTest::keyClick(List(w), Qt::Key_Return);
  };
}

// The program's windows over the backend of FERROWIPE_DISKS, as the program entry makes them.
struct Program {
  explicit Program(const QString& disks) {
    qputenv("FERROWIPE_DISKS", disks.toUtf8());
    io = CreateDeviceBackend();
    main.Attach(io.get(), &choose, &debug);
    main.SetArguments({"ferrowipe"});
  }
  ~Program() { qunsetenv("FERROWIPE_DISKS"); }
  QStringList Log(const char* memo) const {
    return MemoLines(main.findChild<QPlainTextEdit*>(memo));
  }
  QString DiskName() const { return main.findChild<QLabel*>("lbDiskName")->text(); }

  std::unique_ptr<DeviceIo> io;
  TFmMain main;
  TFmChoose choose;
  TFmDebug debug;
};

}  // namespace

class SimulatedDisksTest : public QObject {
  Q_OBJECT

 private:
  QTemporaryDir m_demo;

 private slots:
  void initTestCase() {
    QProcess make;
    make.start("bash", {SOURCE_DIR "/scripts/make-demo-disks.sh", m_demo.path()});
    QVERIFY(make.waitForFinished(60'000));
    QCOMPARE(make.exitCode(), 0);
  }

  void init() { fw::test::ResetProgramState(); }

  // The demo set from entry to the main window on its SATA disk, after the small card was
  // refused; then the S.M.A.R.T. report.
  void demoSet() {
    ProgramEndRecorder ending;
    ModalScript script;
    int listed = 0;
    script.Then(ModalScript::Named("FmChoose"), [&](QWidget* w) {
      listed = List(w)->topLevelItemCount();
      Choose(5)(w);  // 5-small-card: 32,768 sectors
    });
    script.Press(QMessageBox::Ok);
    script.Then(ModalScript::Named("FmChoose"), [](QWidget* w) {
      List(w)->setCurrentItem(List(w)->topLevelItem(0));
      Shot(w, "selection-window");
      QTest::keyClick(List(w), Qt::Key_Return);
    });
    Program program(m_demo.path());
    program.main.show();

    QVERIFY(!ending.Ended());
    QVERIFY(script.Done() && script.unexpected.empty());
    QCOMPARE(listed, 10);
    QCOMPARE(script.boxes.at(0).title, QString("無法存取此裝置                  "));
    QCOMPARE(program.choose.StatusText(), QString("找到磁碟:        10"));
    QCOMPARE(ChosenIndex, int64_t{1});
    QVERIFY(program.DiskName().startsWith("[0]"));
    QVERIFY(program.DiskName().contains("WDC WD5000AAKS-00TMA0"));
    QCOMPARE(program.main.StatusPanelText(1), program.DiskName());
    QVERIFY(program.Log("Log_Details").size() > 20);
    Shot(&program.main, "main-window-details");

    program.main.findChild<QTabWidget*>("pages")->setCurrentIndex(2);
    program.main.findChild<QPushButton*>("btGetSmart")->click();
    QVERIFY(program.Log("Log_Smart").join("\n").contains("(40 度)"));
    Shot(&program.main, "smart-tab");
  }

  // The demo set's NVMe disk: both tabs hold the lines ferrowipe-cli prints for it (the golden
  // files of cli_test).
  void demoNvme() {
    const auto golden = [](const char* name) {
      QFile file(QString(FIXTURES_DIR "/golden/") + name);
      if (!file.open(QIODevice::ReadOnly)) return QStringList();
      QStringList lines = QString::fromUtf8(file.readAll()).split('\n');
      lines.removeLast();  // after the last line's end
      return lines;
    };
    const auto withoutTime = [](QStringList lines) {
      const QString label = "目前日期和時間:               ";
      for (QString& line : lines) {
        if (line.startsWith(label)) line = label + "<TIME>";
      }
      return lines;
    };
    ProgramEndRecorder ending;
    ModalScript script;
    script.Then(ModalScript::Named("FmChoose"), Choose(6));
    Program program(m_demo.path());
    program.main.show();
    QVERIFY(!ending.Ended());
    QVERIFY(script.Done() && script.unexpected.empty());
    QVERIFY(program.DiskName().contains("EXAMPLE NVMe SSD 1TB"));
    QCOMPARE(withoutTime(program.Log("Log_Details")), golden("nvme-details-demo.txt"));
    Shot(&program.main, "nvme-details");

    program.main.findChild<QTabWidget*>("pages")->setCurrentIndex(2);
    program.main.findChild<QPushButton*>("btGetSmart")->click();
    QCOMPARE(withoutTime(program.Log("Log_Smart")), golden("nvme-smart-demo.txt"));
    Shot(&program.main, "nvme-smart");
  }

  // A full run on the demo set's quick-wipe stick, the selection's default (last) row.
  void demoFormatRun() {
    ProgramEndRecorder ending;
    ModalScript script;
    script.Then(ModalScript::Named("FmChoose"),
                [](QWidget* w) { QTest::keyClick(List(w), Qt::Key_Return); });
    Program program(m_demo.path());
    program.main.show();
    QVERIFY(program.DiskName().contains("QUICK WIPE STICK"));
    program.main.findChild<QTabWidget*>("pages")->setCurrentIndex(1);

    // Pictured halfway, while the engine runs and pumps the window's messages.
    auto* bar = program.main.findChild<QProgressBar*>("pbCurrentTask");
    bool pictured = false;
    QTimer watch;
    watch.setInterval(0);
    connect(&watch, &QTimer::timeout, [&] {
      if (!pictured && bar->value() >= 40 && program.main.FormatRunning()) {
        pictured = true;
        Shot(&program.main, "format-run");
      }
    });
    watch.start();
    script.Press(QMessageBox::Yes);
    program.main.findChild<QPushButton*>("btRunBenchmarks")->click();
    watch.stop();
    if (!pictured) Shot(&program.main, "format-run");

    const QStringList log = Messages(program.Log("Log_BenchMark")).mid(kWarningLines);
    QCOMPARE(log.value(4), QString("裝置容量:            131,072 磁區     "));
    QCOMPARE(log.value(log.size() - 3), QString("低階格式化完成。                     "));
    QFile image(m_demo.path() + "/9-quick-wipe.img");
    QVERIFY(image.open(QIODevice::ReadOnly));
    QCOMPARE(image.readAll(), QByteArray(64 << 20, '\0'));
  }

  // The confirmation question in one language: Qt's own buttons translated as the program
  // entry loads them.
  void demoQuestionTranslated() {
    const QString loaded = InstallQtTranslations(*qApp, QLocale("zh_TW"));
    QVERIFY(loaded.endsWith("qtbase_zh_TW.qm"));
    ProgramEndRecorder ending;
    ModalScript script;
    script.Then(ModalScript::Named("FmChoose"), Choose(0));
    QString yes, cancel;
    script.Then(ModalScript::IsMessageBox, [&](QWidget* w) {
      auto* box = qobject_cast<QMessageBox*>(w);
      yes = box->button(QMessageBox::Yes)->text();
      cancel = box->button(QMessageBox::Cancel)->text();
      Shot(box, "format-question");
      box->button(QMessageBox::Cancel)->click();
    });
    Program program(m_demo.path());
    program.main.show();
    program.main.findChild<QTabWidget*>("pages")->setCurrentIndex(1);
    program.main.findChild<QPushButton*>("btRunBenchmarks")->click();
    for (QTranslator* translator : qApp->findChildren<QTranslator*>()) {
      QCoreApplication::removeTranslator(translator);
      delete translator;
    }
    QVERIFY(script.Done() && script.unexpected.empty());
    QCOMPARE(yes, QString("是(&Y)"));
    QCOMPARE(cancel, QString("取消"));
  }

  // Under a dark palette the header strips keep light text on a dark ground.
  void demoDarkTheme() {
    const QPalette before = QApplication::palette();
    QPalette dark;
    dark.setColor(QPalette::Window, QColor(0x35, 0x35, 0x35));
    dark.setColor(QPalette::WindowText, QColor(0xEE, 0xEE, 0xEE));
    dark.setColor(QPalette::Base, QColor(0x20, 0x20, 0x20));
    dark.setColor(QPalette::AlternateBase, QColor(0x35, 0x35, 0x35));
    dark.setColor(QPalette::Text, QColor(0xEE, 0xEE, 0xEE));
    dark.setColor(QPalette::Button, QColor(0x35, 0x35, 0x35));
    dark.setColor(QPalette::ButtonText, QColor(0xEE, 0xEE, 0xEE));
    dark.setColor(QPalette::Highlight, QColor(0x2A, 0x82, 0xDA));
    dark.setColor(QPalette::HighlightedText, Qt::black);
    QApplication::setPalette(dark);
    const auto lightness = [](const QColor& colour) { return colour.lightness(); };
    std::vector<std::pair<int, int>> strips;  // (ground, text) of each strip
    const auto strip = [&](QWidget* window, const char* label) {
      auto* top = window->findChild<QWidget*>("TopStrip");
      auto* text = window->findChild<QLabel*>(label);
      strips.emplace_back(lightness(top->palette().color(top->backgroundRole())),
                          lightness(text->palette().color(text->foregroundRole())));
    };
    ProgramEndRecorder ending;
    ModalScript script;
    script.Then(ModalScript::Named("FmChoose"), [&](QWidget* w) {
      strip(w, "lbProgramName");
      Shot(w, "selection-window-dark");
      Choose(0)(w);
    });
    {
      Program program(m_demo.path());
      program.main.show();
      strip(&program.main, "lbDiskName");
      Shot(&program.main, "main-window-dark");
    }
    QApplication::setPalette(before);
    QVERIFY(script.Done() && script.unexpected.empty());
    QCOMPARE(strips.size(), size_t{2});
    for (const auto& [ground, text] : strips) QVERIFY2(text - ground > 100, qPrintable(QString("%1 on %2").arg(text).arg(ground)));
  }

  // A run on an image with data in it: quick wipe, then a full run in the same window.
  void formatWritesZeros() {
    QTemporaryDir disks;
    constexpr qint64 kSize = 32 << 20;
    MakeImage(disks.path() + "/a.img", kSize, '\xAB', 16 << 20);
    WriteJson(disks.path() + "/a.json", R"({"vendor": "T", "product": "DATA DISK", "serial": "D1"})");
    ProgramEndRecorder ending;
    ModalScript script;
    script.Then(ModalScript::Named("FmChoose"),
                [](QWidget* w) { QTest::keyClick(List(w), Qt::Key_Return); });
    Program program(disks.path());
    program.main.show();
    QVERIFY(!ending.Ended());

    const auto content = [&] {
      QFile image(disks.path() + "/a.img");
      return image.open(QIODevice::ReadOnly) ? image.readAll() : QByteArray();
    };
    program.main.findChild<QCheckBox*>("cbQuickWipe")->setChecked(true);
    script.Press(QMessageBox::Yes);
    program.main.findChild<QPushButton*>("btRunBenchmarks")->click();
    QByteArray bytes = content();
    QCOMPARE(bytes.size(), kSize);
    QCOMPARE(bytes.left(kQuickWipeBytes), QByteArray(kQuickWipeBytes, '\0'));
    QCOMPARE(bytes.mid(kQuickWipeBytes, (16 << 20) - kQuickWipeBytes),
             QByteArray((16 << 20) - kQuickWipeBytes, '\xAB'));

    program.main.findChild<QCheckBox*>("cbQuickWipe")->setChecked(false);
    script.Press(QMessageBox::Yes);
    program.main.findChild<QPushButton*>("btRunBenchmarks")->click();
    QCOMPARE(content(), QByteArray(kSize, '\0'));
    const QStringList log = Messages(program.Log("Log_BenchMark")).mid(kWarningLines);
    QCOMPARE(log.count("低階格式化完成。                     "), 2);
    QCOMPARE(log.count("記得建立新的分割區。                        "), 2);
  }

  // Start-up failures on simulated disks: each ends the program without an open disk.
  void failures_data() {
    QTest::addColumn<QByteArray>("firstJson");   // empty: no first disk
    QTest::addColumn<QByteArray>("secondJson");  // empty: no second disk
    QTest::addColumn<bool>("selectionShown");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("messagePrefix");
    QTest::newRow("no disks") << QByteArray() << QByteArray() << true << 0 << "";
    QTest::newRow("device query refused")
        << QByteArray(R"({"product": "GOOD"})") << QByteArray(R"({"fail": {"device": 5}})")
        << false << 1 << "存取裝置發生錯誤:               ";
    QTest::newRow("disk in use")
        << QByteArray(R"({"product": "BUSY", "fail": {"open_working": 32}})") << QByteArray()
        << true << 1 << "開啟裝置發生錯誤:             ";
  }
  void failures() {
    QFETCH(QByteArray, firstJson);
    QFETCH(QByteArray, secondJson);
    QFETCH(bool, selectionShown);
    QFETCH(int, code);
    QFETCH(QString, messagePrefix);
    QTemporaryDir disks;
    if (!firstJson.isEmpty()) {
      MakeImage(disks.path() + "/a.img", 8 << 20);
      WriteJson(disks.path() + "/a.json", firstJson);
    }
    if (!secondJson.isEmpty()) {
      MakeImage(disks.path() + "/b.img", 8 << 20);
      WriteJson(disks.path() + "/b.json", secondJson);
    }
    // An 8 MiB disk is too small to choose; the "disk in use" case needs one that is not.
    if (firstJson.contains("BUSY")) QVERIFY(QFile::resize(disks.path() + "/a.img", 64 << 20));

    ProgramEndRecorder ending;
    ModalScript script;
    bool shown = false;
    if (selectionShown) {
      script.Then(ModalScript::Named("FmChoose"), [&](QWidget* w) {
        shown = true;
        if (List(w)->topLevelItemCount() == 0) {
          QTest::keyClick(w, Qt::Key_Escape);
        } else {
          QTest::keyClick(List(w), Qt::Key_Return);
        }
      });
    }
    if (!messagePrefix.isEmpty()) script.Press(QMessageBox::Ok);
    Program program(disks.path());
    program.main.show();

    QVERIFY(script.Done() && script.unexpected.empty());
    QCOMPARE(shown, selectionShown);
    QCOMPARE(ending.codes.front(), code);
    if (!messagePrefix.isEmpty()) {
      QCOMPARE(script.boxes.back().title, QString("錯誤   "));
      QVERIFY2(script.boxes.back().text.startsWith(messagePrefix), qPrintable(script.boxes.back().text));
      QVERIFY(script.boxes.back().text.size() > messagePrefix.size());
    }
    QCOMPARE(program.main.DeviceHandle(), kInvalidHandle);
    QVERIFY(program.main.StatusPanelText(1).isEmpty());
  }
};

QTEST_MAIN(SimulatedDisksTest)
#include "simulated_disks_test.moc"
