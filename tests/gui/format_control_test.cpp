// The format tab end to end over a scripted disk: the confirmation, the log of a run, Stop,
// the controls' states during and after a run, and closing the window during a run.
#include <QCheckBox>
#include <QLabel>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTabWidget>
#include <QTreeWidget>
#include <QtTest>

#include "app/debug_window.hpp"
#include "app/main_window.hpp"
#include "app/memo.hpp"
#include "core/logs.hpp"
#include "core/user_locale.hpp"
#include "format/zero_fill.hpp"
#include "gui_support.hpp"
#include "report/text_format.hpp"
#include "select/choose_window.hpp"
#include "select/device_table.hpp"

using namespace fw;
using fw::test::Messages;
using fw::test::AddFakeDrive;
using fw::test::FakeDevice;
using fw::test::ModalScript;
using fw::test::ProgramEndRecorder;

namespace {

constexpr int64_t kSectors = 200'000;  // 102,400,000 bytes: many blocks, quickly written
constexpr int kWarningLines = 3;

struct Controls {
  bool run, smart, quick, stop, paused;
  bool operator==(const Controls&) const = default;
};

// The program started on one disk and ready: the main window shows it, the handle is open.
class Ready {
 public:
  Ready() {
    AddFakeDrive(fake, {"/dev/sda", "ATA", "WIPE ME", "1.0", "S1", kSectors});
    main.Attach(&fake, &choose, &debug);
    main.SetArguments({"ferrowipe"});
    ModalScript script;
    script.Then(ModalScript::Named("FmChoose"), [](QWidget* w) {
      QTest::keyClick(w->findChild<QTreeWidget*>("DriveList"), Qt::Key_Return);
    });
    main.show();
    handle = main.DeviceHandle();
  }

  QPushButton* Button(const char* name) { return main.findChild<QPushButton*>(name); }
  QCheckBox* QuickWipe() { return main.findChild<QCheckBox*>("cbQuickWipe"); }
  Controls State() {
    return {Button("btRunBenchmarks")->isEnabled(), Button("btGetSmart")->isEnabled(),
            QuickWipe()->isEnabled(), Button("btStop")->isEnabled(), main.ProgressPaused()};
  }
  // The format log below the start-up's warning lines, without time stamps.
  QStringList RunLog() {
    return Messages(MemoLines(main.findChild<QPlainTextEdit*>("Log_BenchMark")))
        .mid(kWarningLines);
  }
  int64_t BytesWritten() const {
    int64_t total = 0;
    for (const auto& w : fake.writes) total += w.count;
    return total;
  }
  // Clicks the format button and answers the confirmation with `answer`.
  ModalScript::Box Format(QMessageBox::StandardButton answer) {
    ModalScript script;
    script.Press(answer);
    Button("btRunBenchmarks")->click();
    return script.boxes.at(0);
  }

  ProgramEndRecorder ending;
  FakeDevice fake;
  TFmMain main;
  TFmChoose choose;
  TFmDebug debug;
  Handle handle = kInvalidHandle;
};

QString Caption() { return QString::fromStdString(DeviceCaption(DeviceTable, 1)); }

// What the log shows after a run that completed without errors.
QStringList CompletedRun() {
  return {" ",
          "=================================================",
          "Ferrowipe 4.30; https://ferrowipe.example.org/",
          "低階格式化:            " + Caption(),
          "裝置容量:            200,000 磁區     ",
          "正在鎖住裝置...         ",
          "正在格式化...      ",
          "<speed>",
          "低階格式化完成。                     ",
          "",
          "記得建立新的分割區。                        "};
}

// The average-speed line carries a measured figure: only its form is fixed.
QStringList WithoutSpeed(QStringList log) {
  for (QString& line : log) {
    if (line.startsWith("平均速度:          ")) {
      const QString figure = line.mid(QString("平均速度:          ").size());
      const bool wellFormed =
          figure.isEmpty() || QRegularExpression(R"(^\d+\.\d MB/s$)").match(figure).hasMatch();
      line = wellFormed ? "<speed>" : "<speed: " + figure + ">";
    }
  }
  return log;
}

}  // namespace

class FormatControlTest : public QObject {
  Q_OBJECT

 private slots:
  void init() { fw::test::ResetProgramState(); }

  void startsIdle() {
    Ready ready;
    QVERIFY(!ready.ending.Ended());
    QVERIFY(ready.handle != kInvalidHandle);
    QCOMPARE(ready.State(), (Controls{true, true, true, false, false}));
  }

  // The question names the disk; anything but Yes logs nothing and changes nothing.
  void cancelledConfirmation() {
    Ready ready;
    const ModalScript::Box box = ready.Format(QMessageBox::Cancel);
    QCOMPARE(box.title, QString("警告     "));
    QCOMPARE(box.text, QString("所選裝置上的所有資料將遺失                               "));
    QCOMPARE(box.informative, QString("您確定要不可逆轉地銷毀在此裝置上的所有資料嗎?") +
                                  QString(58, ' ') + "\r\n\r\n" + Caption());
    QCOMPARE(box.icon, QMessageBox::Warning);
    // Below the question's own texts, the facts that tell this disk from the others.
    const QStringList facts = box.detailed.split('\n');
    QVERIFY2(facts.size() >= 5, qPrintable(box.detailed));
    QCOMPARE(facts.front(), QString("路徑: /dev/sda"));
    QVERIFY2(box.detailed.contains("型號: ATA WIPE ME"), qPrintable(box.detailed));
    QCOMPARE(facts.back(), QString("已掛載: 無"));
    QVERIFY(ready.RunLog().isEmpty());
    QVERIFY(ready.fake.writes.empty());
    QCOMPARE(ready.State(), (Controls{true, true, true, false, false}));
  }

  // The format button is the window's default button: Enter that reaches the window asks the
  // question while the button shows; a memo keeps its Enter, and another tab has no format button.
  void enterPressesFormatButton_data() {
    QTest::addColumn<int>("tab");
    QTest::addColumn<QString>("target");
    QTest::addColumn<bool>("asks");
    QTest::newRow("format tab, check box") << 1 << "cbQuickWipe" << true;
    QTest::newRow("format tab, page control") << 1 << "pages" << true;
    QTest::newRow("format tab, log memo") << 1 << "Log_BenchMark" << false;
    QTest::newRow("details tab, page control") << 0 << "pages" << false;
    QTest::newRow("smart tab, page control") << 2 << "pages" << false;
  }
  void enterPressesFormatButton() {
    QFETCH(int, tab);
    QFETCH(QString, target);
    QFETCH(bool, asks);
    Ready ready;
    ready.main.findChild<QTabWidget*>("pages")->setCurrentIndex(tab);
    auto* widget = ready.main.findChild<QWidget*>(target);
    QVERIFY(widget);
    widget->setFocus();
    ModalScript script;
    if (asks) script.Press(QMessageBox::Cancel);
    QTest::keyClick(widget, Qt::Key_Return);
    QVERIFY(script.Done());
    QCOMPARE(script.boxes.size(), size_t{asks ? 1u : 0u});
    QVERIFY(script.unexpected.empty());
    QVERIFY(ready.RunLog().isEmpty());
    QCOMPARE(ready.State(), (Controls{true, true, true, false, false}));
  }

  // A focused push button takes Enter itself, and the format button is drawn as the default only
  // while no other push button has the focus.
  void enterPressesFocusedButton() {
    Ready ready;
    QPushButton* format = ready.Button("btRunBenchmarks");
    ready.main.findChild<QTabWidget*>("pages")->setCurrentIndex(2);
    QPushButton* smart = ready.Button("btGetSmart");
    QApplication::setActiveWindow(&ready.main);
    QVERIFY(QTest::qWaitForWindowActive(&ready.main));
    smart->setFocus();
    QVERIFY(!format->isDefault());
    ModalScript script;
    QTest::keyClick(smart, Qt::Key_Return);
    QVERIFY(script.boxes.empty() && script.unexpected.empty());
    QVERIFY(MemoLines(ready.main.findChild<QPlainTextEdit*>("Log_Smart")).size() > 1);
    ready.main.findChild<QTabWidget*>("pages")->setFocus();
    QVERIFY(format->isDefault());
  }

  // During a run Stop has the focus, and Enter presses it.
  void enterPressesStopDuringRun() {
    Ready ready;
    ready.main.findChild<QTabWidget*>("pages")->setCurrentIndex(1);
    QApplication::setActiveWindow(&ready.main);
    QVERIFY(QTest::qWaitForWindowActive(&ready.main));
    ready.fake.afterWrite = [&](const FakeDevice::WriteRecord&) {
      if (ready.fake.writes.size() == 3) {
        QTimer::singleShot(0, &ready.main, [&] {
          // The question box had the focus: the main window is active again once it is gone.
          QApplication::setActiveWindow(&ready.main);
          QCOMPARE(QApplication::focusWidget(), ready.Button("btStop"));
          QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
        });
      }
    };
    ready.Format(QMessageBox::Yes);
    QVERIFY(ready.BytesWritten() < kSectors * 512);
    QVERIFY(ready.RunLog().join("\n").contains("操作取消在偏移"));
  }

  // Under the progress bar: the times while a pass runs, and after the run how many blocks
  // failed and how long it took.
  void runFactsLine_data() {
    QTest::addColumn<bool>("failEveryWrite");
    QTest::newRow("no block failed") << false;
    QTest::newRow("every block failed") << true;
  }
  void runFactsLine() {
    QFETCH(bool, failEveryWrite);
    Ready ready;
    auto* facts = ready.main.findChild<QLabel*>("lbRunFacts");
    QVERIFY(facts);
    int failed = 0;
    ready.fake.writeError = [&](int64_t, int64_t) -> uint32_t {
      if (!failEveryWrite) return 0;
      ++failed;
      return 1117;
    };
    QStringList during;
    ready.fake.afterWrite = [&](const FakeDevice::WriteRecord&) { during << facts->text(); };
    ready.Format(QMessageBox::Yes);
    const QRegularExpression running(R"(^經過時間: \d+:\d\d:\d\d {6}剩餘時間: (\d+:\d\d:\d\d|-:--:--)$)");
    for (const QString& text : during) QVERIFY2(running.match(text).hasMatch(), qPrintable(text));
    QVERIFY(failEveryWrite ? failed > 1 : !during.isEmpty());
    const QRegularExpression after(R"(^失敗區塊: (\d+) {6}花費時間: \d+:\d\d:\d\d$)");
    const QRegularExpressionMatch match = after.match(facts->text());
    QVERIFY2(match.hasMatch(), qPrintable(facts->text()));
    QCOMPARE(match.captured(1).toInt(), failed);
  }

  // A confirmed run logs exactly the lines of a completed run, in order, and writes every byte.
  void completedRun() {
    Ready ready;
    std::vector<Controls> during;
    ready.fake.afterWrite = [&](const FakeDevice::WriteRecord&) { during.push_back(ready.State()); };
    ready.Format(QMessageBox::Yes);
    QCOMPARE(WithoutSpeed(ready.RunLog()), CompletedRun());
    QCOMPARE(ready.BytesWritten(), kSectors * 512);
    QVERIFY(!during.empty());
    // Running: only Stop is enabled; the bar has its normal look.
    for (const Controls& state : during) QCOMPARE(state, (Controls{false, false, false, true, false}));
    // Idle again, the bar paused at 100 until the next run.
    QCOMPARE(ready.State(), (Controls{true, true, true, false, true}));
    QCOMPARE(ready.main.findChild<QProgressBar*>("pbCurrentTask")->value(), 100);
    QVERIFY(ready.fake.IsOpen(ready.handle));
  }

  // The quick-wipe box as it stood at the click decides the run; the question says what a
  // quick wipe leaves behind.
  void quickWipe() {
    Ready ready;
    ready.QuickWipe()->setChecked(true);
    const ModalScript::Box box = ready.Format(QMessageBox::Yes);
    QCOMPARE(box.informative, QString("您確定要不可逆轉地銷毀在此裝置上的所有資料嗎?") +
                                  QString(58, ' ') + "\r\n\r\n" + Caption() + "\r\n\r\n" +
                                  "快速抹除只會移除分割表與前 10 MB 的資料，其餘資料仍留在裝置上，"
                                  "可用復原工具讀取。");
    QCOMPARE(ready.BytesWritten(), kQuickWipeBytes + kQuickWipeTailBytes);
    QCOMPARE(WithoutSpeed(ready.RunLog()), CompletedRun());
  }

  // Stop, clicked while the engine runs, is handled at its next message pump: the run ends
  // with its cancel line and the closing hint.
  void stopMidRun() {
    Ready ready;
    QPushButton* stop = ready.Button("btStop");
    ready.fake.afterWrite = [&](const FakeDevice::WriteRecord&) {
      if (ready.fake.writes.size() == 3) {
        QMetaObject::invokeMethod(stop, &QPushButton::click, Qt::QueuedConnection);
      }
    };
    ready.Format(QMessageBox::Yes);
    const QStringList log = ready.RunLog();
    QVERIFY(ready.BytesWritten() < kSectors * 512);
    QVERIFY(ready.fake.writes.size() <= 4);
    const int64_t stoppedAt = ready.BytesWritten();
    QCOMPARE(log.mid(log.size() - 3),
             (QStringList{"操作取消在偏移                       " +
                              QString::fromStdString(GroupThousands(stoppedAt)) + "    LBA " +
                              QString::fromStdString(GroupThousands(stoppedAt / 512)),
                          "", "記得建立新的分割區。                        "}));
    QVERIFY(!ready.main.StopPending());
    QCOMPARE(ready.State(), (Controls{true, true, true, false, true}));
  }

  // The verify box is enabled and disabled with the quick-wipe box; asked for, the question
  // says so below its own texts and the run reads every byte back.
  void verifyBox() {
    Ready ready;
    auto* verify = ready.main.findChild<QCheckBox*>("cbVerify");
    QVERIFY(verify && verify->isEnabled() && !verify->isChecked());
    std::vector<std::pair<bool, bool>> during;  // (verify, quick wipe) enabled
    ready.fake.afterWrite = [&](const FakeDevice::WriteRecord&) {
      during.emplace_back(verify->isEnabled(), ready.QuickWipe()->isEnabled());
    };
    verify->setChecked(true);
    const ModalScript::Box box = ready.Format(QMessageBox::Yes);
    QCOMPARE(box.informative, QString("您確定要不可逆轉地銷毀在此裝置上的所有資料嗎?") +
                                  QString(58, ' ') + "\r\n\r\n" + Caption() + "\r\n\r\n" +
                                  "寫入完成後，將讀回所有寫入的資料並驗證其為零。");
    QVERIFY(!during.empty());
    for (const auto& state : during) QCOMPARE(state, std::make_pair(false, false));
    QCOMPARE(verify->isEnabled(), ready.QuickWipe()->isEnabled());
    QVERIFY(verify->isEnabled());
    QVERIFY(!ready.fake.reads.empty());
    QVERIFY2(ready.RunLog().contains("驗證通過，全部為零。已檢查位元組: 102,400,000"),
             qPrintable(ready.RunLog().join('\n')));
  }

  // Nothing to save before an attempt; after one, the report as JSON or as a one-page PDF.
  void saveReportButton() {
    Ready ready;
    QPushButton* save = ready.Button("btSaveReport");
    QVERIFY(save && !save->isEnabled());
    ready.Format(QMessageBox::Cancel);
    QVERIFY(!save->isEnabled());
    std::vector<bool> during;
    ready.fake.afterWrite = [&](const FakeDevice::WriteRecord&) {
      during.push_back(save->isEnabled());
    };
    ready.Format(QMessageBox::Yes);
    QVERIFY(save->isEnabled());
    QVERIFY(!during.empty() && std::none_of(during.begin(), during.end(), [](bool b) { return b; }));

    QTemporaryDir dir;
    const QString json = dir.filePath("report.json");
    QCOMPARE(ready.main.SaveReport(json), QString());
    QFile jsonFile(json);
    QVERIFY(jsonFile.open(QIODevice::ReadOnly));
    const QJsonObject report = QJsonDocument::fromJson(jsonFile.readAll()).object();
    QCOMPARE(report["outcome"].toString(), QString("completed"));
    QCOMPARE(report["disk"].toObject()["path"].toString(), QString("/dev/sda"));
    QCOMPARE(report["verify"].toObject()["result"].toString(), QString("not run"));

    const QString pdf = dir.filePath("certificate.pdf");
    QCOMPARE(ready.main.SaveReport(pdf), QString());
    QFile pdfFile(pdf);
    QVERIFY(pdfFile.open(QIODevice::ReadOnly));
    const QByteArray bytes = pdfFile.readAll();
    QVERIFY(bytes.startsWith("%PDF-"));
    QCOMPARE(QString::fromLatin1(bytes).count(QRegularExpression(R"(/Type\s*/Page(?![s\w]))")), 1);
    QVERIFY2(bytes.contains("UMing"), "the CJK font is embedded");
    if (!QStandardPaths::findExecutable("pdfinfo").isEmpty()) {
      QProcess info;
      info.start("pdfinfo", {pdf});
      QVERIFY(info.waitForFinished());
      QVERIFY(QRegularExpression(R"(\nPages:\s+1\n)").match(info.readAllStandardOutput()).hasMatch());
    }
    QVERIFY(!ready.main.SaveReport(dir.filePath("no/such/folder.json")).isEmpty());
  }

  // Two runs: the second header stands below the first run's lines in the same memo.
  void twoRunsAppend() {
    Ready ready;
    ready.Format(QMessageBox::Yes);
    const QStringList first = ready.RunLog();
    ready.Format(QMessageBox::Yes);
    const QStringList both = ready.RunLog();
    QCOMPARE(both.mid(0, first.size()), first);
    QCOMPARE(WithoutSpeed(both.mid(first.size())), CompletedRun());
    QCOMPARE(ready.BytesWritten(), 2 * kSectors * 512);
  }

  // Closing the window during a run stops the run first; the disk is closed only after the
  // engine has returned, and the window then closes.
  void closeDuringRun() {
    Ready ready;
    bool closeRefused = false;
    ready.fake.afterWrite = [&](const FakeDevice::WriteRecord&) {
      if (ready.fake.writes.size() == 3) {
        QTimer::singleShot(0, &ready.main, [&] { closeRefused = !ready.main.close(); });
      }
    };
    ready.Format(QMessageBox::Yes);
    QVERIFY(closeRefused);
    for (const auto& write : ready.fake.writes) QVERIFY(write.count > 0);
    QVERIFY(ready.BytesWritten() < kSectors * 512);
    QVERIFY(ready.RunLog().join("\n").contains("操作取消在偏移"));
    QVERIFY(!ready.main.isVisible());
    QVERIFY(!ready.fake.IsOpen(ready.handle));
    QCOMPARE(ready.main.DeviceHandle(), kInvalidHandle);
  }

  // The S.M.A.R.T. button appends one report per press and leaves the controls enabled.
  void smartReports() {
    Ready ready;
    auto* memo = ready.main.findChild<QPlainTextEdit*>("Log_Smart");
    ready.Button("btGetSmart")->click();
    const QStringList one = MemoLines(memo);
    QVERIFY(one.size() > 1);
    ready.Button("btGetSmart")->click();
    QCOMPARE(MemoLines(memo).size(), 2 * one.size());
    QCOMPARE(ready.State(), (Controls{true, true, true, false, false}));
  }
};

QTEST_MAIN(FormatControlTest)
#include "format_control_test.moc"
