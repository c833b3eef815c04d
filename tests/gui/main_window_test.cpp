// The main window as created, its status bar and link, the preparation steps of the start-up,
// the warning lines, and the format tab as the engine's view.
#include <QCheckBox>
#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QtTest>

#include "app/debug_window.hpp"
#include "app/link_label.hpp"
#include "app/main_window.hpp"
#include "app/memo.hpp"
#include "app/platform_info.hpp"
#include "app/qt_start.hpp"
#include "core/logs.hpp"
#include "core/product.hpp"
#include "core/user_locale.hpp"
#include "gui_support.hpp"
#include "select/choose_window.hpp"

using namespace fw;
using fw::test::Messages;
using fw::test::ModalScript;
using fw::test::ProgramEndRecorder;

namespace {

QStringList Messages(const QPlainTextEdit* memo) { return test::Messages(MemoLines(memo)); }

}  // namespace

class MainWindowTest : public QObject {
  Q_OBJECT

 private slots:
  void init() {
    DebugMode = false;
    SetUserLocale(UserLocale{".", "%d/%m/%Y", "%H:%M:%S"});
  }

  void tabsInOrderFirstActive() {
    TFmMain window;
    auto* pages = window.findChild<QTabWidget*>("pages");
    QVERIFY(pages);
    QCOMPARE(pages->count(), 3);
    QCOMPARE(pages->tabText(0), QString("裝置詳細資料"));
    QCOMPARE(pages->tabText(1), QString("低階格式化"));
    QCOMPARE(pages->tabText(2), QString("自我監控分析與報告技術系統(S.M.A.R.T)"));
    QCOMPARE(pages->currentIndex(), 0);
    QVERIFY(pages->widget(0)->findChild<QPlainTextEdit*>("Log_Details"));
    QVERIFY(pages->widget(1)->findChild<QPlainTextEdit*>("Log_BenchMark"));
    QVERIFY(pages->widget(2)->findChild<QPlainTextEdit*>("Log_Smart"));
    QVERIFY(pages->widget(2)->findChild<QPushButton*>("btGetSmart"));
  }

  void controlsCaptionsAndStates_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<bool>("enabled");
    QTest::newRow("stop") << "btStop" << "停止" << false;
    QTest::newRow("format") << "btRunBenchmarks" << "格式化此裝置" << true;
    QTest::newRow("smart") << "btGetSmart" << "取得 SMART 資料(&G)" << true;
    QTest::newRow("quick wipe") << "cbQuickWipe" << "執行快速抹除(僅移除分割區和 MBR)" << true;
  }
  void controlsCaptionsAndStates() {
    QFETCH(QString, name);
    QFETCH(QString, caption);
    QFETCH(bool, enabled);
    TFmMain window;
    auto* control = window.findChild<QAbstractButton*>(name);
    QVERIFY(control);
    QCOMPARE(control->text(), caption);
    QCOMPARE(control->isEnabled(), enabled);
    QVERIFY(!control->isChecked());
  }

  void formatTabFigures() {
    TFmMain window;
    QVERIFY(window.findChild<QPushButton*>("btRunBenchmarks")->isDefault());
    auto* group = window.findChild<QGroupBox*>();
    QVERIFY(group);
    QCOMPARE(group->title(), QString("目前工作進度"));
    auto* bar = group->findChild<QProgressBar*>("pbCurrentTask");
    QVERIFY(bar);
    QCOMPARE(bar->minimum(), 0);
    QCOMPARE(bar->maximum(), 100);
    QCOMPARE(bar->value(), 0);
    for (const char* name : {"lbCurrentPercent", "lbSpeed", "lbCurrentPosition"}) {
      auto* label = window.findChild<QLabel*>(name);
      QVERIFY2(label, name);
      QVERIFY(label->text().isEmpty());
      QCOMPARE(label->font().family(), QString("新細明體"));
      QCOMPARE(label->font().pixelSize(), 21);
    }
  }

  void memos_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("cjk");
    QTest::newRow("details") << "Log_Details" << true;
    QTest::newRow("format log") << "Log_BenchMark" << false;
    QTest::newRow("smart") << "Log_Smart" << true;
  }
  void memos() {
    QFETCH(QString, name);
    QFETCH(bool, cjk);
    TFmMain window;
    auto* memo = window.findChild<QPlainTextEdit*>(name);
    QVERIFY(memo);
    QVERIFY(memo->isReadOnly());
    QCOMPARE(memo->lineWrapMode(), QPlainTextEdit::NoWrap);
    QCOMPARE(memo->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    QVERIFY(memo->toPlainText().isEmpty());
    if (cjk) {
      QCOMPARE(memo->font().family(), QString("新細明體"));
      QCOMPARE(memo->font().pixelSize(), 12);
      QVERIFY(QFont::substitutes("新細明體").contains("AR PL UMing TW", Qt::CaseInsensitive));
      // The face that is actually drawn.
      QCOMPARE(QFontInfo(memo->font()).family(), QString("AR PL UMing TW"));
    } else {
      QCOMPARE(memo->font().family(), window.font().family());
    }
  }

  void sizeAndCaptionStrip() {
    TFmMain window;
    QCOMPARE(window.size(), QSize(768, 499));
    QCOMPARE(window.minimumSize(), QSize(750, 450));
    auto* diskName = window.findChild<QLabel*>("lbDiskName");
    QVERIFY(diskName);
    QVERIFY(diskName->font().bold());
    QCOMPARE(diskName->parentWidget()->height(), 32);
  }

  void statusPanels() {
    TFmMain window;
    QVERIFY(window.findChild<QWidget*>("StatusBar"));
    QCOMPARE(window.StatusPanelWidth(0), 450);
    QCOMPARE(window.StatusPanelWidth(1), 450);
    QCOMPARE(window.StatusPanelWidth(2), 50);
    QVERIFY(window.StatusPanelAlignment(2) & Qt::AlignRight);
    QVERIFY(!(window.StatusPanelAlignment(0) & Qt::AlignRight));
    for (int panel = 0; panel < 3; ++panel) QVERIFY(window.StatusPanelText(panel).isEmpty());
  }

  // Enter blue, leave grey, press red, release grey, click opens the maker's site.
  void copyrightLink() {
    std::vector<QUrl> opened;
    const auto previous = SetUrlOpener([&](const QUrl& url) { opened.push_back(url); });
    TFmMain window;
    auto* link = window.findChild<LinkLabel*>("lbCopyright");
    QVERIFY(link);
    QVERIFY(link->font().bold());
    QCOMPARE(link->TextColour(), QColor("#808080"));
    QEnterEvent enter(QPointF(1, 1), QPointF(1, 1), QPointF(1, 1));
    QApplication::sendEvent(link, &enter);
    QCOMPARE(link->TextColour(), QColor("#0000FF"));
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(link, &leave);
    QCOMPARE(link->TextColour(), QColor("#808080"));
    QTest::mousePress(link, Qt::LeftButton, {}, QPoint(2, 2));
    QCOMPARE(link->TextColour(), QColor("#FF0000"));
    QVERIFY(opened.empty());
    QTest::mouseRelease(link, Qt::LeftButton, {}, QPoint(2, 2));
    QCOMPARE(link->TextColour(), QColor("#808080"));
    QCOMPARE(opened.size(), size_t{1});
    QCOMPARE(opened.front(), QUrl(QString::fromUtf8(kMakerSite.data(), kMakerSite.size())));
    SetUrlOpener(previous);
  }

  // Only the true first argument counts, in any letter case: the program entry hands over the
  // command line as received, before Qt takes its own options out of it.
  void debugSwitch_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<bool>("debug");
    QTest::newRow("none") << QStringList{"ferrowipe"} << false;
    QTest::newRow("lower") << QStringList{"ferrowipe", "--debug"} << true;
    QTest::newRow("upper") << QStringList{"ferrowipe", "--DEBUG"} << true;
    QTest::newRow("mixed") << QStringList{"ferrowipe", "--DeBug", "x"} << true;
    QTest::newRow("second") << QStringList{"ferrowipe", "x", "--debug"} << false;
    QTest::newRow("other") << QStringList{"ferrowipe", "-debug"} << false;
    QTest::newRow("after a Qt option") << QStringList{"ferrowipe", "-reverse", "--debug"} << false;
    QTest::newRow("after a Qt option with a value")
        << QStringList{"ferrowipe", "-platform", "offscreen", "--debug"} << false;
  }
  void debugSwitch() {
    QFETCH(QStringList, arguments);
    QFETCH(bool, debug);
    QByteArrayList bytes;
    std::vector<char*> argv;
    for (const QString& argument : arguments) bytes << argument.toLocal8Bit();
    for (QByteArray& argument : bytes) argv.push_back(argument.data());
    argv.push_back(nullptr);
    ProgramEndRecorder ending;
    TFmMain window;
    TFmChoose choose;
    TFmDebug debugWindow;
    window.Attach(nullptr, &choose, &debugWindow);
    window.SetArguments(TrueCommandLine(int(bytes.size()), argv.data()));
    QVERIFY(window.PrepareStartup());
    QVERIFY(!ending.Ended());
    QCOMPARE(DebugMode, debug);
    QCOMPARE(debugWindow.isVisible(), debug);
    QVERIFY(!debugWindow.isModal());
    // Below the window's own first line.
    const QStringList lines = Messages(debugWindow.Lines().mid(1));
    if (!debug) {
      QCOMPARE(debugWindow.Lines(), QStringList{"除錯視窗"});
      return;
    }
    const std::string folder =
        ProgramFolder(QCoreApplication::applicationFilePath().toStdString());
    QVERIFY(folder.back() == '/');
    QCOMPARE(window.ProgramPath(), folder);
    QCOMPARE(debugWindow.Lines().front(), QString("除錯視窗"));
    QCOMPARE(lines.size(), 4);
    QCOMPARE(lines[0], QString("Debug mode activated"));
    QCOMPARE(lines[1], "Program Path: " + QString::fromStdString(folder));
    QCOMPARE(lines[2], QString::fromStdString(PlatformLine(KernelRelease(), DistributionName(),
                                                           KernelIs64Bit())));
    QVERIFY(lines[2].startsWith("平台:       "));
    QCOMPARE(lines[3], QString("Program Version: Ferrowipe 4.30    "));
  }

  void titles() {
    ProgramEndRecorder ending;
    TFmMain window;
    TFmChoose choose;
    window.Attach(nullptr, &choose, nullptr);
    window.SetArguments({"ferrowipe"});
    QVERIFY(window.PrepareStartup());
    QCOMPARE(window.windowTitle(), QString("Ferrowipe 4.30    "));
    QCOMPARE(window.StatusPanelText(0), QString("Ferrowipe 4.30    "));
    QCOMPARE(choose.windowTitle(), QString("裝置選取 - Ferrowipe 4.30                "));
    QCOMPARE(choose.findChild<QLabel*>("lbProgramName")->text(), QString("FERROWIPE 4.30    "));
    const QString notice = QString::fromUtf8(kLegalNotice.data(), kLegalNotice.size());
    QCOMPARE(window.findChild<QLabel*>("lbCopyright")->text(), notice);
    QCOMPARE(choose.findChild<QLabel*>("lbCopyright")->text(), notice);
  }

  // Without /sys/block and /proc/self/mountinfo the program cannot work: it says so and ends.
  void deviceSetupMissing() {
    QTemporaryDir root;
    QVERIFY(QDir(root.path()).mkpath("sys/block"));
    ProgramEndRecorder ending;
    ModalScript script;
    script.Press(QMessageBox::Ok);
    TFmMain window;
    TFmChoose choose;
    window.Attach(nullptr, &choose, nullptr);
    window.SetArguments({"ferrowipe"});
    window.SetSystemRoot(root.path().toStdString() + "/");
    QVERIFY(!window.PrepareStartup());
    QCOMPARE(ending.codes, std::vector<int>{1});
    QCOMPARE(script.boxes.size(), size_t{1});
    QCOMPARE(script.boxes[0].title, QString("錯誤   "));
    QCOMPARE(script.boxes[0].text, QString("錯誤 #01704   "));
    QCOMPARE(script.boxes[0].icon, QMessageBox::Critical);

    // With both present the check passes.
    QVERIFY(QDir(root.path()).mkpath("proc/self"));
    QFile mountinfo(root.path() + "/proc/self/mountinfo");
    QVERIFY(mountinfo.open(QIODevice::WriteOnly));
    mountinfo.close();
    QVERIFY(DeviceSetupAvailable(root.path().toStdString() + "/"));
  }

  void warningLines() {
    TFmMain window;
    window.WriteFormatWarning();
    const QStringList expected{" * * * * *  警告!!! * * * * *      ",
                               "在低階格式化過程中                           ",
                               "所有資料將被完全和不可逆轉地抹除!                               "};
    QCOMPARE(Messages(window.findChild<QPlainTextEdit*>("Log_BenchMark")), expected);
    QVERIFY(window.findChild<QPlainTextEdit*>("Log_Details")->toPlainText().isEmpty());
  }

  void reportSinksFollowTheWindow() {
    {
      TFmMain window;
      AddDetailsLine("details  ");
      AddSmartLine("smart");
      QCOMPARE(MemoLines(window.findChild<QPlainTextEdit*>("Log_Details")),
               QStringList{"details  "});
      QCOMPARE(MemoLines(window.findChild<QPlainTextEdit*>("Log_Smart")), QStringList{"smart"});
    }
    // Once the window is gone, lines go nowhere rather than into freed memos.
    AddDetailsLine("after");
    AddSmartLine("after");
  }

  // Format controls switch together; Stop and the bar's paused look follow the run state.
  void formatViewStates() {
    TFmMain window;
    auto* run = window.findChild<QPushButton*>("btRunBenchmarks");
    auto* smart = window.findChild<QPushButton*>("btGetSmart");
    auto* quick = window.findChild<QCheckBox*>("cbQuickWipe");
    auto* stop = window.findChild<QPushButton*>("btStop");
    auto* bar = window.findChild<QProgressBar*>("pbCurrentTask");
    const QColor normalFill = bar->palette().color(QPalette::Highlight);

    window.SetFormatControlsEnabled(false);
    QVERIFY(!run->isEnabled() && !smart->isEnabled() && !quick->isEnabled());
    QVERIFY(!stop->isEnabled());
    window.SetRunning(true);
    QVERIFY(stop->isEnabled());
    QVERIFY(!window.ProgressPaused());
    window.SetProgress(42);
    window.SetPercentText("42% 完成      ");
    window.SetSpeedText("87.5 MB/s");
    QCOMPARE(bar->value(), 42);
    QCOMPARE(window.SpeedText(), std::string("87.5 MB/s"));
    window.SetRunning(false);
    QVERIFY(!stop->isEnabled());
    QVERIFY(window.ProgressPaused());
    QVERIFY(bar->palette().color(QPalette::Highlight) != normalFill);
    QCOMPARE(bar->value(), 42);
    window.SetFormatControlsEnabled(true);
    QVERIFY(run->isEnabled() && smart->isEnabled() && quick->isEnabled());
    QVERIFY(!stop->isEnabled());
    window.SetRunning(true);
    QCOMPARE(bar->palette().color(QPalette::Highlight), normalFill);
  }

  void programFolder_data() {
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("folder");
    QTest::newRow("usual") << "/usr/bin/ferrowipe" << "/usr/bin/";
    QTest::newRow("root folder") << "/ferrowipe" << "/";
    QTest::newRow("no folder") << "ferrowipe" << "";
    QTest::newRow("folder already") << "/opt/fw/" << "/opt/fw/";
  }
  void programFolder() {
    QFETCH(QString, file);
    QFETCH(QString, folder);
    QCOMPARE(QString::fromStdString(ProgramFolder(file.toStdString())), folder);
  }

  void prettyName_data() {
    QTest::addColumn<QString>("osRelease");
    QTest::addColumn<QString>("name");
    QTest::newRow("debian") << "NAME=\"Debian GNU/Linux\"\nPRETTY_NAME=\"Debian GNU/Linux 12 "
                               "(bookworm)\"\nID=debian\n"
                            << "Debian GNU/Linux 12 (bookworm)";
    QTest::newRow("single quotes") << "PRETTY_NAME='Arch Linux'\n" << "Arch Linux";
    QTest::newRow("unquoted") << "ID=x\r\nPRETTY_NAME=Plain\r\n" << "Plain";
    QTest::newRow("escapes") << "PRETTY_NAME=\"A \\\"B\\\" \\$C\"" << "A \"B\" $C";
    QTest::newRow("absent") << "NAME=Linux\n" << "";
    QTest::newRow("not a prefix") << "XPRETTY_NAME=no\n" << "";
  }
  void prettyName() {
    QFETCH(QString, osRelease);
    QFETCH(QString, name);
    QCOMPARE(QString::fromStdString(PrettyName(osRelease.toStdString())), name);
  }

  void platformLine() {
    QCOMPARE(QString::fromStdString(PlatformLine("6.1.0-18-amd64", "Debian GNU/Linux 12", true)),
             QString("平台:       6.1.0-18-amd64   Debian GNU/Linux 12  (64 位元) "));
    QCOMPARE(QString::fromStdString(BitnessText(false)), QString("  (32 位元) "));
    // This build is 64-bit: it never runs under a 32-bit compatibility layer, and its kernel is
    // 64-bit.
    QVERIFY(!RunningOnWow64());
    QVERIFY(KernelIs64Bit());
  }
};

QTEST_MAIN(MainWindowTest)
#include "main_window_test.moc"
