// The windows and ferrowipe-cli show the same lines: on the demo disks, the selection list
// against `list`, the device details against `details`, one S.M.A.R.T. press against `smart`.
#include <QLabel>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <QtTest>
#include <memory>

#include "app/debug_window.hpp"
#include "app/main_window.hpp"
#include "app/memo.hpp"
#include "core/logs.hpp"
#include "device/backends.hpp"
#include "gui_support.hpp"
#include "select/choose_window.hpp"
#include "select/device_table.hpp"

using namespace fw;
using fw::test::ModalScript;
using fw::test::ProgramEndRecorder;

namespace {

QStringList CliLines(const QString& disks, const QStringList& arguments) {
  QProcess cli;
  QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
  environment.insert("FERROWIPE_DISKS", disks);
  cli.setProcessEnvironment(environment);
  cli.start(CLI_PATH, arguments);
  if (!cli.waitForFinished(60'000)) return {"<ferrowipe-cli failed>"};
  // 10 and 11 are health verdicts (failing, warnings) of a drive that was read: output to compare.
  const int status = cli.exitCode();
  if (status != 0 && status != 10 && status != 11) return {"<ferrowipe-cli failed>"};
  QStringList lines = QString::fromUtf8(cli.readAllStandardOutput()).split('\n');
  if (!lines.isEmpty() && lines.back().isEmpty()) lines.removeLast();
  return lines;
}

// The report's date line differs by the second the two programs ran at; the rest may not.
QStringList WithoutDate(QStringList lines) {
  for (QString& line : lines) {
    if (line.startsWith("目前日期和時間:")) line = "<date>";
  }
  return lines;
}

}  // namespace

class CliParityTest : public QObject {
  Q_OBJECT

 private slots:
  void windowsAndCliShowTheSameLines() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString disks = dir.path() + "/disks";
    QCOMPARE(QProcess::execute("bash", {SOURCE_DIR "/scripts/make-demo-disks.sh", disks}), 0);
    // The CLI runs first: while the window holds the disk, nothing else may open it.
    const QStringList cliList = CliLines(disks, {"list", "--raw"});
    const QStringList cliDetails = CliLines(disks, {"details", "0"});
    const QStringList cliSmart = CliLines(disks, {"smart", "0"});
    std::unique_ptr<DeviceIo> io = CreateImageDeviceIo(disks.toStdString());
    QVERIFY(io != nullptr);

    DeviceTable.Clear();
    DeviceCount = 0;
    ChosenIndex = -1;
    ProgramEndRecorder ending;
    TFmMain main;
    TFmChoose choose;
    TFmDebug debug;
    main.Attach(io.get(), &choose, &debug);
    main.SetArguments({"ferrowipe"});

    // The selection list as the window shows it; then the first disk is chosen.
    QStringList listed;
    ModalScript script;
    script.Then(ModalScript::Named("FmChoose"), [&](QWidget* w) {
      auto* list = w->findChild<QTreeWidget*>("DriveList");
      for (int i = 0; i < list->topLevelItemCount(); ++i) {
        QStringList cells;
        for (int c = 0; c < list->columnCount(); ++c) cells << list->topLevelItem(i)->text(c);
        listed << cells.join('\t');
      }
      list->setCurrentItem(list->topLevelItem(0));
      QTest::keyClick(list, Qt::Key_Return);
    });
    main.show();
    QVERIFY(!ending.Ended());
    QVERIFY(script.Done() && script.unexpected.empty());
    QCOMPARE(ChosenIndex, int64_t{1});

    QCOMPARE(listed, cliList);

    const QStringList details = MemoLines(main.findChild<QPlainTextEdit*>("Log_Details"));
    QVERIFY(details.size() > 20);
    QCOMPARE(WithoutDate(details), WithoutDate(cliDetails));

    main.findChild<QPushButton*>("btGetSmart")->click();
    const QStringList smart = MemoLines(main.findChild<QPlainTextEdit*>("Log_Smart"));
    QVERIFY(smart.size() > 10);
    QCOMPARE(WithoutDate(smart), WithoutDate(cliSmart));

    main.CloseDeviceHandle();
  }
};

QTEST_MAIN(CliParityTest)
#include "cli_parity_test.moc"
