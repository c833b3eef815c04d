// The start-up of the first showing, over a scripted device: from the program's windows to the
// main window with an open disk, and every road that ends the program instead.
#include <fcntl.h>
#include <unistd.h>

#include <QLabel>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <QtTest>

#include "app/debug_window.hpp"
#include "app/main_window.hpp"
#include "app/memo.hpp"
#include "app/rights_message.hpp"
#include "core/logs.hpp"
#include "core/user_locale.hpp"
#include "device/backends.hpp"
#include "format/zero_fill.hpp"
#include "gui_support.hpp"
#include "report/text_format.hpp"
#include "select/choose_window.hpp"
#include "select/device_table.hpp"

using namespace fw;
using fw::test::Messages;
using fw::test::AddFakeDrive;
using fw::test::FakeDevice;
using fw::test::FakeDrive;
using fw::test::ModalScript;
using fw::test::ProgramEndRecorder;

namespace {


const QStringList kWarning{" * * * * *  警告!!! * * * * *      ",
                           "在低階格式化過程中                           ",
                           "所有資料將被完全和不可逆轉地抹除!                               "};

// Drives 0, 2 and 5: the gaps in the numbering are normal.
void ThreeDrives(FakeDevice& fake) {
  AddFakeDrive(fake, {"/dev/sda", "ATA", "FIRST", "1.0", "S1"});
  AddFakeDrive(fake, {});
  AddFakeDrive(fake, {"/dev/sdc", "ATA", "SECOND", "2.0", "S2"});
  AddFakeDrive(fake, {});
  AddFakeDrive(fake, {});
  AddFakeDrive(fake, {"/dev/sdf", "ATA", "THIRD", "3.0", "S3", 2'000'000});
}

// The program's windows in their order, wired as the program entry wires them.
struct Program {
  explicit Program(FakeDevice& fake, QStringList arguments = {"ferrowipe"}) {
    main.Attach(&fake, &choose, &debug);
    main.SetArguments(arguments);
  }
  TFmMain main;
  TFmChoose choose;
  TFmDebug debug;

  QString DiskName() const { return main.findChild<QLabel*>("lbDiskName")->text(); }
  QStringList Log(const char* memo) const {
    return MemoLines(main.findChild<QPlainTextEdit*>(memo));
  }
};

ModalScript::Act PressEnter() {
  return [](QWidget* w) { QTest::keyClick(w->findChild<QTreeWidget*>("DriveList"), Qt::Key_Return); };
}

}  // namespace

class StartupTest : public QObject {
  Q_OBJECT

 private slots:
  void init() { fw::test::ResetProgramState(); }

  void toTheMainWindow() {
    FakeDevice fake;
    ThreeDrives(fake);
    ProgramEndRecorder ending;
    ModalScript script;
    QString status;
    script.Then(ModalScript::Named("FmChoose"), [&](QWidget* w) {
      status = static_cast<TFmChoose*>(w)->StatusText();
      PressEnter()(w);
    });
    Program program(fake);
    program.main.show();

    QVERIFY(!ending.Ended());
    QVERIFY(script.Done() && script.unexpected.empty());
    QCOMPARE(status, QString("找到磁碟:        3"));
    QCOMPARE(DeviceCount, int64_t{3});
    QCOMPARE(ChosenIndex, int64_t{3});
    QCOMPARE(DeviceTable[3].DeviceNumber, 5u);
    const QString caption = QString::fromStdString(DeviceCaption(DeviceTable, 3));
    QVERIFY(caption.contains("THIRD"));
    QCOMPARE(QString::fromStdString(program.main.ChosenCaption()), caption);
    QCOMPARE(program.DiskName(), caption);
    QCOMPARE(program.main.StatusPanelText(0), QString("Ferrowipe 4.30    "));
    QCOMPARE(program.main.StatusPanelText(1), caption);
    QVERIFY(program.main.StatusPanelText(2).isEmpty());
    // The chosen drive is open for writing, exclusively, and stays open.
    QVERIFY(program.main.DeviceHandle() != kInvalidHandle);
    QVERIFY(fake.IsOpen(program.main.DeviceHandle()));
    QCOMPARE(fake.opens.back(), std::make_pair(std::string("/dev/sdf"), OpenMode::Working));
    QCOMPARE(fake.OpenCount(), size_t{1});
    QCOMPARE(Messages(program.Log("Log_BenchMark")), kWarning);
    QVERIFY(!program.Log("Log_Details").join("").isEmpty());
    // Normal mode: the debug window never came up and recorded nothing.
    QCOMPARE(program.debug.Lines(), QStringList{"除錯視窗"});

    // Closing the window closes the disk.
    const Handle handle = program.main.DeviceHandle();
    QVERIFY(program.main.close());
    QVERIFY(!fake.IsOpen(handle));
    QCOMPARE(program.main.DeviceHandle(), kInvalidHandle);
  }

  // In debug mode the record of the start-up comes up modally before the selection.
  void debugReview() {
    FakeDevice fake;
    ThreeDrives(fake);
    ProgramEndRecorder ending;
    ModalScript script;
    QStringList review;
    bool selectionShownBefore = true;
    script.Then(ModalScript::Named("FmDebug"), [&](QWidget* w) {
      review = static_cast<TFmDebug*>(w)->Lines();
      selectionShownBefore = false;
      for (QWidget* top : QApplication::topLevelWidgets()) {
        if (top->objectName() == "FmChoose" && top->isVisible()) selectionShownBefore = true;
      }
      static_cast<QDialog*>(w)->reject();
    });
    script.Then(ModalScript::Named("FmChoose"), PressEnter());
    Program program(fake, {"ferrowipe", "--Debug"});
    program.main.show();
    QVERIFY(!ending.Ended());
    QVERIFY(script.Done() && script.unexpected.empty());
    QVERIFY(!selectionShownBefore);
    QCOMPARE(review.front(), QString("除錯視窗"));
    const QStringList messages = Messages(review.mid(1));
    QCOMPARE(messages.value(0), QString("Debug mode activated"));
    QVERIFY(messages.contains("正透過裝置重複...                  "));
    QVERIFY(messages.contains("嘗試裝置          /dev/sdf"));
    QVERIFY(messages.contains("無效的控制代碼，略過              "));
    // Nothing is recorded after the review: the window held the complete start-up.
    QCOMPARE(program.debug.Lines(), review);
    QCOMPARE(program.DiskName(), QString::fromStdString(DeviceCaption(DeviceTable, 3)));
  }

  // Every failure on the road ends the program, and no disk is left open or shown.
  void failures_data() {
    QTest::addColumn<QString>("failure");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("message");  // empty: no message box
    QTest::newRow("device setup missing") << "setup" << 1 << "錯誤 #01704   ";
    QTest::newRow("device query refused") << "query" << 1 << "存取裝置發生錯誤:               error 5";
    QTest::newRow("no drive, escape") << "none" << 0 << "";
    QTest::newRow("selection closed") << "close" << 0 << "";
    QTest::newRow("open refused") << "open" << 1 << "開啟裝置發生錯誤:             error 32";
  }
  void failures() {
    QFETCH(QString, failure);
    QFETCH(int, code);
    QFETCH(QString, message);
    FakeDevice fake;
    if (failure == "query") {
      AddFakeDrive(fake, {"/dev/sda"});
      FakeDrive bad{"/dev/sdb"};
      bad.deviceQueryError = 5;
      AddFakeDrive(fake, bad);
      AddFakeDrive(fake, {"/dev/sdc"});
    } else if (failure != "none") {
      ThreeDrives(fake);
    }
    QTemporaryDir root;
    ProgramEndRecorder ending;
    ModalScript script;
    bool selectionShown = false;
    QString status;
    const bool reachesSelection = failure == "none" || failure == "close" || failure == "open";
    if (reachesSelection) {
      script.Then(ModalScript::Named("FmChoose"), [&](QWidget* w) {
        selectionShown = true;
        status = static_cast<TFmChoose*>(w)->StatusText();
        if (failure == "none") QTest::keyClick(w, Qt::Key_Escape);
        if (failure == "close") w->close();
        if (failure == "open") {
          fake.At("/dev/sdf").openError = win::ERROR_SHARING_VIOLATION;
          PressEnter()(w);
        }
      });
    }
    if (!message.isEmpty()) script.Press(QMessageBox::Ok);
    Program program(fake);
    if (failure == "setup") program.main.SetSystemRoot(root.path().toStdString() + "/");
    program.main.show();

    QVERIFY(script.Done() && script.unexpected.empty());
    QCOMPARE(ending.codes.front(), code);
    QCOMPARE(selectionShown, reachesSelection);
    if (!message.isEmpty()) {
      QCOMPARE(script.boxes.back().title, QString("錯誤   "));
      QCOMPARE(script.boxes.back().text, message);
      QCOMPARE(script.boxes.back().icon, QMessageBox::Critical);
    }
    if (failure == "setup") QVERIFY(fake.drivePathQueries.empty());
    if (failure == "query") QCOMPARE(fake.drivePathQueries, (std::vector<int>{0, 1}));
    if (failure == "none") QCOMPARE(status, QString("找到磁碟:        0"));
    QCOMPARE(program.main.DeviceHandle(), kInvalidHandle);
    QCOMPARE(fake.OpenCount(), size_t{0});
    for (const auto& [path, mode] : fake.opens) QVERIFY(mode != OpenMode::Working || failure == "open");
    QVERIFY(program.main.StatusPanelText(1).isEmpty());
    QVERIFY(program.Log("Log_Details").join("").isEmpty());
  }

  // Started by a user whose rights open no disk: an error box that says how to start the
  // program with them, instead of an empty list; nothing is opened, the program ends.
  void withoutRights() {
    FakeDevice fake;
    ThreeDrives(fake);
    for (const std::string& path : fake.drivePaths) {
      fake.At(path).openError = win::ERROR_ACCESS_DENIED;
    }
    ProgramEndRecorder ending;
    ModalScript script;
    script.Press(QMessageBox::Ok);
    Program program(fake);
    // Root would be asked to do nothing else; act as an ordinary user for the start-up.
    const bool wasRoot = ::geteuid() == 0;
    if (wasRoot) QVERIFY(::seteuid(65534) == 0);
    program.main.show();
    if (wasRoot) QVERIFY(::seteuid(0) == 0);

    QVERIFY(script.Done() && script.unexpected.empty());
    QCOMPARE(ending.codes.front(), 1);
    QCOMPARE(script.boxes.size(), size_t{1});
    QCOMPARE(script.boxes[0].title, QString("錯誤   "));
    QCOMPARE(script.boxes[0].icon, QMessageBox::Critical);
    QCOMPARE(script.boxes[0].text, AdministratorRightsText());
    for (const char* needed : {"系統管理員", "選單", "pkexec ferrowipe", "sudo ferrowipe"}) {
      QVERIFY2(script.boxes[0].text.contains(needed), needed);
    }
    QCOMPARE(fake.OpenCount(), size_t{0});
  }

  // The launcher without pkexec starts the window as the user: over the machine's own disks,
  // whose nodes that user cannot open, the window says it needs administrator rights rather
  // than show an empty list, and opens nothing.
  void withoutRightsOnTheMachinesDisks() {
    const std::unique_ptr<DeviceIo> io = CreateLinuxDeviceIo();
    if (io->PhysicalDrivePath(0).empty()) QSKIP("this machine lists no disk");
    const bool wasRoot = ::geteuid() == 0;
    if (wasRoot) QVERIFY(::seteuid(65534) == 0);
    bool anyOpens = false;
    for (int n = 0; !io->PhysicalDrivePath(n).empty(); ++n) {
      const std::string path = io->PhysicalDrivePath(n);
      anyOpens = anyOpens || ::faccessat(AT_FDCWD, path.c_str(), R_OK, AT_EACCESS) == 0;
    }
    if (wasRoot) QVERIFY(::seteuid(0) == 0);
    if (anyOpens) QSKIP("an ordinary user may open a disk of this machine");

    ProgramEndRecorder ending;
    ModalScript script;
    script.Press(QMessageBox::Ok);
    TFmMain main;
    TFmChoose choose;
    TFmDebug debug;
    main.Attach(io.get(), &choose, &debug);
    main.SetArguments({"ferrowipe"});
    if (wasRoot) QVERIFY(::seteuid(65534) == 0);
    main.show();
    if (wasRoot) QVERIFY(::seteuid(0) == 0);

    QVERIFY(script.Done() && script.unexpected.empty());
    QCOMPARE(ending.codes.front(), 1);
    QCOMPARE(script.boxes.size(), size_t{1});
    QCOMPARE(script.boxes[0].text, AdministratorRightsText());
    QCOMPARE(main.DeviceHandle(), kInvalidHandle);
  }
};

QTEST_MAIN(StartupTest)
#include "startup_test.moc"
