// The device-selection window: the list, the preselected last row, the 65535-sector rule and
// the ways out.
#include <QHeaderView>
#include <QLabel>
#include <QApplication>
#include <QPushButton>
#include <QShowEvent>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <QtTest>

#include "app/link_label.hpp"
#include "core/product.hpp"
#include "gui_support.hpp"
#include "select/choose_window.hpp"
#include "select/device_table.hpp"

using namespace fw;
using fw::test::ModalScript;
using fw::test::ProgramEndRecorder;

namespace {

void SetDrives(const std::vector<TIdentifyDeviceData>& drives) {
  DeviceTable.Clear();
  DeviceCount = static_cast<int64_t>(drives.size());
  ChosenIndex = -1;
  for (size_t i = 0; i < drives.size(); ++i) {
    TDeviceTable& row = DeviceTable[static_cast<int64_t>(i) + 1];
    row.DevicePath = "/dev/sd" + std::string(1, static_cast<char>('a' + i));
    row.DeviceNumber = static_cast<uint32_t>(i);
    row.IdentifyData = drives[i];
  }
}

TIdentifyDeviceData Drive(int64_t lba, const std::string& model = "ATA DISK") {
  TIdentifyDeviceData id;
  id.Model = model;
  id.FW = "1.0";
  id.SN = "S1";
  id.LBA = lba;
  id.SectorSize = 512;
  id.BusType = 11;
  return id;
}

QTreeWidget* List(QWidget* w) { return w->findChild<QTreeWidget*>("DriveList"); }
QPushButton* Continue(QWidget* w) { return w->findChild<QPushButton*>("btContinue"); }

}  // namespace

class ChooseWindowTest : public QObject {
  Q_OBJECT

 private slots:
  void layout() {
    TFmChoose choose;
    QCOMPARE(choose.size(), QSize(767, 356));
    auto* list = List(&choose);
    QVERIFY(list);
    QCOMPARE(list->selectionBehavior(), QAbstractItemView::SelectRows);
    QCOMPARE(list->selectionMode(), QAbstractItemView::SingleSelection);
    QCOMPARE(list->editTriggers(), QAbstractItemView::NoEditTriggers);
    const QStringList headers{"匯流排", "型號", "韌體", "序號", "邏輯區塊定址", "容量"};
    const std::vector<int> widths{78, 170, 90, 160, 117};
    QCOMPARE(list->columnCount(), 6);
    for (int i = 0; i < 6; ++i) QCOMPARE(list->headerItem()->text(i), headers[i]);
    for (int i = 0; i < 5; ++i) QCOMPARE(list->header()->sectionSize(i), widths[size_t(i)]);
    QVERIFY(list->header()->stretchLastSection());
    QCOMPARE(choose.findChild<QLabel*>("Label2")->text(), QString("請選擇裝置"));
    QCOMPARE(Continue(&choose)->text(), QString("繼續 >>>"));
    QVERIFY(Continue(&choose)->isDefault());
    QVERIFY(!Continue(&choose)->isEnabled());
    QCOMPARE(choose.findChild<QLabel*>("lbDiskManagement")->text(),
             QString("開啟 [磁碟管理] 主控台"));
    QVERIFY(choose.findChild<QLabel*>("lbDiskManagement")->font().underline());
    auto* maker = choose.findChild<LinkLabel*>("Label1");
    QCOMPARE(maker->text(), QString::fromUtf8(kMakerSite.data(), kMakerSite.size()));
    QCOMPARE(maker->TextColour(), QColor("#0000FF"));
    QCOMPARE(choose.findChild<QLabel*>("lbCopyright")->palette().color(QPalette::WindowText),
             QColor("#808080"));
    choose.SetStatusText("找到磁碟:        3");
    QCOMPARE(choose.StatusText(), QString("找到磁碟:        3"));
  }

  void makerLink() {
    std::vector<QUrl> opened;
    const auto previous = SetUrlOpener([&](const QUrl& url) { opened.push_back(url); });
    TFmChoose choose;
    auto* maker = choose.findChild<LinkLabel*>("Label1");
    QTest::mousePress(maker, Qt::LeftButton, {}, QPoint(2, 2));
    QCOMPARE(maker->TextColour(), QColor("#FF0000"));
    QTest::mouseRelease(maker, Qt::LeftButton, {}, QPoint(2, 2));
    QCOMPARE(maker->TextColour(), QColor("#0000FF"));
    QCOMPARE(opened.size(), size_t{1});
    SetUrlOpener(previous);
  }

  // The disk tool stands where Windows has its disk management console; hidden without one.
  void diskManagementTool() {
    QTemporaryDir bin;
    const QByteArray path = qgetenv("PATH");
    qputenv("PATH", bin.path().toUtf8());
    {
      TFmChoose choose;
      QVERIFY(choose.findChild<QLabel*>("lbDiskManagement")->isHidden());
    }
    QFile tool(bin.path() + "/gparted");
    QVERIFY(tool.open(QIODevice::WriteOnly));
    tool.write("#!/bin/sh\n");
    tool.close();
    tool.setPermissions(QFile::ReadOwner | QFile::ExeOwner);
    QCOMPARE(DiskManagementTool(), bin.path() + "/gparted");
    {
      TFmChoose choose;
      QVERIFY(!choose.findChild<QLabel*>("lbDiskManagement")->isHidden());
    }
    qputenv("PATH", path);
  }

  // Model trimmed; firmware and serial as stored; sectors ungrouped.
  void cells() {
    TIdentifyDeviceData id = Drive(976773168, "  WDC WD5000  ");
    id.FW = " 01.01A01 ";
    id.SN = "  WD-123 ";
    SetDrives({id});
    ProgramEndRecorder ending;
    ModalScript script;
    QStringList texts;
    script.Then(ModalScript::Named("FmChoose"), [&](QWidget* w) {
      for (int i = 0; i < 6; ++i) texts << List(w)->topLevelItem(0)->text(i);
      QTest::keyClick(w, Qt::Key_Escape);
    });
    TFmChoose choose;
    choose.SelectDevice();
    QCOMPARE(texts, (QStringList{"SATA", "WDC WD5000", " 01.01A01 ", "  WD-123 ", "976773168",
                                 "500.1 GB"}));
  }

  // The last row comes up selected and Continue enabled, the list has the focus; Enter, pressed
  // at once where the focus is, chooses it.
  void enterChoosesLastRow() {
    SetDrives({Drive(1'000'000), Drive(2'000'000), Drive(3'000'000)});
    ProgramEndRecorder ending;
    ModalScript script;
    int selected = -1;
    bool enabled = false;
    bool listFocused = false;
    script.Then(ModalScript::Named("FmChoose"), [&](QWidget* w) {
      selected = List(w)->indexOfTopLevelItem(List(w)->currentItem());
      enabled = Continue(w)->isEnabled() && List(w)->selectedItems().size() == 1;
      listFocused = w->focusWidget() == List(w);
      QTest::keyClick(w->focusWidget() != nullptr ? w->focusWidget() : w, Qt::Key_Return);
    });
    TFmChoose choose;
    QVERIFY(choose.SelectDevice());
    QCOMPARE(selected, 2);
    QVERIFY(enabled);
    QVERIFY(listFocused);
    QCOMPARE(ChosenIndex, int64_t{3});
    QVERIFY(choose.DeviceChosen());
    QVERIFY(!ending.Ended());
  }

  // Shown again (restored after minimizing: the window system sends another show event), the
  // window keeps the row the user chose: Enter then chooses drive 0, not the last drive.
  void showAgainKeepsTheChoice() {
    SetDrives({Drive(1'000'000), Drive(2'000'000), Drive(3'000'000)});
    ProgramEndRecorder ending;
    ModalScript script;
    int selectedAfterShow = -1;
    script.Then(ModalScript::Named("FmChoose"), [&](QWidget* w) {
      List(w)->setCurrentItem(List(w)->topLevelItem(0));
      w->showMinimized();
      QShowEvent restored;
      QApplication::sendEvent(w, &restored);
      w->showNormal();
      selectedAfterShow = List(w)->indexOfTopLevelItem(List(w)->currentItem());
      QTest::keyClick(List(w), Qt::Key_Return);
    });
    TFmChoose choose;
    QVERIFY(choose.SelectDevice());
    QCOMPARE(selectedAfterShow, 0);
    QCOMPARE(ChosenIndex, int64_t{1});
    QCOMPARE(DeviceTable[ChosenIndex].DeviceNumber, 0u);
  }

  // Each row's tooltip tells the disk apart: its path, the full model an elided cell hides, the
  // size in bytes, what is mounted.
  void rowTooltips() {
    const std::string model = "ATA VERY LONG MODEL NAME THAT THE COLUMN ELIDES 2TB";
    SetDrives({Drive(1'000'000), Drive(3'907'029'168, model)});
    test::FakeDevice io;
    ProgramEndRecorder ending;
    ModalScript script;
    QString tip;
    script.Then(ModalScript::Named("FmChoose"), [&](QWidget* w) {
      tip = List(w)->topLevelItem(1)->toolTip(1);
      QTest::keyClick(List(w), Qt::Key_Escape);
    });
    TFmChoose choose;
    choose.SelectDevice(&io);
    QVERIFY2(tip.contains("/dev/sdb"), qPrintable(tip));
    QVERIFY2(tip.contains(QString::fromStdString(model)), qPrintable(tip));
    QVERIFY2(tip.contains("2000398934016"), qPrintable(tip));
    QVERIFY2(tip.contains("已掛載: 無"), qPrintable(tip));
  }

  // 65535 sectors are enough; 65534 are refused with the message and the window stays open.
  void sectorLimit_data() {
    QTest::addColumn<qint64>("sectors");
    QTest::addColumn<bool>("doubleClick");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("65535 enter") << qint64(65535) << false << true;
    QTest::newRow("65534 enter") << qint64(65534) << false << false;
    QTest::newRow("65534 double click") << qint64(65534) << true << false;
    QTest::newRow("empty drive") << qint64(0) << false << false;
  }
  void sectorLimit() {
    QFETCH(qint64, sectors);
    QFETCH(bool, doubleClick);
    QFETCH(bool, accepted);
    SetDrives({Drive(70000), Drive(sectors)});
    ProgramEndRecorder ending;
    ModalScript script;
    bool stillOpen = false;
    const auto act = [doubleClick](QWidget* w) {
      if (doubleClick) {
        QTreeWidget* list = List(w);
        const QRect row = list->visualItemRect(list->topLevelItem(1));
        // A real double click: press and release, then the double-click press.
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, row.center());
        QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, row.center());
      } else {
        QTest::keyClick(List(w), Qt::Key_Return);
      }
    };
    script.Then(ModalScript::Named("FmChoose"), act);
    if (!accepted) {
      script.Press(QMessageBox::Ok);
      script.Then(ModalScript::Named("FmChoose"), [&](QWidget* w) {
        stillOpen = w->isVisible();
        // The first drive is large enough: choosing it still works.
        List(w)->setCurrentItem(List(w)->topLevelItem(0));
        Continue(w)->click();
      });
    }
    TFmChoose choose;
    QVERIFY(choose.SelectDevice());
    QVERIFY(script.Done());
    QVERIFY(!ending.Ended());
    if (accepted) {
      QCOMPARE(ChosenIndex, int64_t{2});
      QVERIFY(script.boxes.empty());
      return;
    }
    QVERIFY(stillOpen);
    QCOMPARE(ChosenIndex, int64_t{1});
    QCOMPARE(script.boxes.size(), size_t{1});
    QCOMPARE(script.boxes[0].title, QString("無法存取此裝置                  "));
    QCOMPARE(script.boxes[0].text,
             QString("無法存取此裝置，因為它小於 65535 個磁區。                                 "
                     "                 "));
    QCOMPARE(script.boxes[0].icon, QMessageBox::Information);
  }

  // Escape or the close button: nothing chosen, the program ends.
  void leaving_data() {
    QTest::addColumn<bool>("escape");
    QTest::newRow("escape") << true;
    QTest::newRow("close") << false;
  }
  void leaving() {
    QFETCH(bool, escape);
    SetDrives({Drive(100000)});
    ProgramEndRecorder ending;
    ModalScript script;
    script.Then(ModalScript::Named("FmChoose"), [escape](QWidget* w) {
      if (escape) {
        QTest::keyClick(List(w), Qt::Key_Escape);
      } else {
        w->close();
      }
    });
    TFmChoose choose;
    QVERIFY(!choose.SelectDevice());
    QCOMPARE(ChosenIndex, int64_t{-1});
    QVERIFY(ending.Ended());
    QCOMPARE(ending.codes.front(), 0);
  }

  // No drive: an empty list, nothing selected, Continue stays disabled and Enter does nothing.
  void emptyList() {
    SetDrives({});
    ProgramEndRecorder ending;
    ModalScript script;
    bool enabled = true;
    script.Then(ModalScript::Named("FmChoose"), [&](QWidget* w) {
      QTest::keyClick(List(w), Qt::Key_Return);
      enabled = Continue(w)->isEnabled();
      QTest::keyClick(List(w), Qt::Key_Escape);
    });
    TFmChoose choose;
    QVERIFY(!choose.SelectDevice());
    QVERIFY(!enabled);
    QCOMPARE(List(&choose)->topLevelItemCount(), 0);
  }

  // A click on the empty area clears the selection and disables Continue; a row enables it.
  void clickSelection() {
    SetDrives({Drive(100000)});
    ProgramEndRecorder ending;
    ModalScript script;
    bool afterEmpty = true, afterRow = false;
    script.Then(ModalScript::Named("FmChoose"), [&](QWidget* w) {
      QTreeWidget* list = List(w);
      QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                        QPoint(5, list->viewport()->height() - 5));
      afterEmpty = Continue(w)->isEnabled();
      QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                        list->visualItemRect(list->topLevelItem(0)).center());
      afterRow = Continue(w)->isEnabled();
      Continue(w)->click();
    });
    TFmChoose choose;
    QVERIFY(choose.SelectDevice());
    QVERIFY(!afterEmpty);
    QVERIFY(afterRow);
    QCOMPARE(ChosenIndex, int64_t{1});
  }
};

QTEST_MAIN(ChooseWindowTest)
#include "choose_window_test.moc"
