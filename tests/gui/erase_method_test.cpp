// The format tab's method choice over disks that offer different erases: which methods are
// open, why the others are closed, the quick wipe as a form of the zero-fill alone, what the
// confirmation says, and the record fields asked for when the report is saved.
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QFileDialog>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStandardItemModel>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <QtTest>

#include "app/debug_window.hpp"
#include "app/main_window.hpp"
#include "format/format_control.hpp"
#include "gui_support.hpp"
#include "report/text_format.hpp"
#include "select/choose_window.hpp"

using namespace fw;
using fw::test::AddFakeDrive;
using fw::test::FakeDevice;
using fw::test::ModalScript;
using fw::test::ProgramEndRecorder;

Q_DECLARE_METATYPE(fw::DriveEraseFacts)

namespace {

constexpr int64_t kSectors = 200'000;

DriveEraseFacts UsbBridge() {
  DriveEraseFacts facts;
  facts.media = MediaType::UsbFlash;
  facts.passThrough = false;
  return facts;
}

DriveEraseFacts NvmeDisk(bool sanitize) {
  DriveEraseFacts facts;
  facts.media = MediaType::Nvme;
  facts.passThrough = true;
  NvmeEraseFeatures nvme;
  nvme.formatNvm = true;
  nvme.cryptoFormat = true;
  nvme.sanitizeCrypto = sanitize;
  nvme.sanitizeBlock = sanitize;
  facts.nvme = nvme;
  return facts;
}

DriveEraseFacts FrozenSsd() {
  DriveEraseFacts facts;
  facts.media = MediaType::Ssd;
  facts.passThrough = true;
  AtaEraseFeatures ata;
  ata.nonRotating = true;
  ata.security.supported = true;
  ata.security.frozen = true;
  ata.security.enhancedSupported = true;
  facts.ata = ata;
  return facts;
}

// The program started on one disk whose erase facts the reader gives, one set per reading.
class Opened {
 public:
  explicit Opened(std::vector<DriveEraseFacts> readings) : m_readings(std::move(readings)) {
    AddFakeDrive(fake, {"/dev/sda", "ATA", "PURGE ME", "1.0", "S1", kSectors});
    main.Attach(&fake, &choose, &debug);
    main.SetArguments({"ferrowipe"});
    main.SetEraseFactsReader([this](DeviceIo&, Handle handle, const TIdentifyDeviceData& id) {
      readHandles.push_back(handle);
      readModels.push_back(id.Model);
      const size_t n = std::min(readHandles.size(), m_readings.size()) - 1;
      return m_readings[n];
    });
    ModalScript script;
    script.Then(ModalScript::Named("FmChoose"), [](QWidget* w) {
      QTest::keyClick(w->findChild<QTreeWidget*>("DriveList"), Qt::Key_Return);
    });
    main.show();
  }

  QComboBox* Methods() { return main.findChild<QComboBox*>("cbEraseMethod"); }
  QCheckBox* QuickWipe() { return main.findChild<QCheckBox*>("cbQuickWipe"); }
  int IndexOf(EraseMethod method) {
    return Methods()->findData(static_cast<int>(method));
  }
  bool Open(EraseMethod method) {
    auto* model = qobject_cast<QStandardItemModel*>(Methods()->model());
    return model->item(IndexOf(method))->isEnabled();
  }
  QString Tip(EraseMethod method) {
    return Methods()->itemData(IndexOf(method), Qt::ToolTipRole).toString();
  }
  QStringList OpenWords() {
    QStringList words;
    for (EraseMethod method : kEraseMethods) {
      if (Open(method)) words << QString::fromUtf8(EraseMethodWord(method).data());
    }
    return words;
  }
  void Choose(EraseMethod method) { Methods()->setCurrentIndex(IndexOf(method)); }
  ModalScript::Box Format(QMessageBox::StandardButton answer) {
    ModalScript script;
    script.Press(answer);
    main.findChild<QPushButton*>("btRunBenchmarks")->click();
    return script.boxes.at(0);
  }

  ProgramEndRecorder ending;
  FakeDevice fake;
  TFmMain main;
  TFmChoose choose;
  TFmDebug debug;
  std::vector<Handle> readHandles;
  std::vector<std::string> readModels;

 private:
  std::vector<DriveEraseFacts> m_readings;
};

}  // namespace

class EraseMethodTest : public QObject {
  Q_OBJECT

 private slots:
  void init() { fw::test::ResetProgramState(); }

  // Every method is listed; the ones the disk does not take are closed, saying why.
  void choiceFollowsTheDisk_data() {
    QTest::addColumn<DriveEraseFacts>("facts");
    QTest::addColumn<QStringList>("open");
    QTest::addColumn<int>("closed");  // EraseMethod
    QTest::addColumn<QString>("tipSays");
    QTest::newRow("usb bridge") << UsbBridge() << QStringList{"zero"}
                                << int(EraseMethod::SanitizeCrypto) << "USB 轉接器";
    QTest::newRow("nvme, format only")
        << NvmeDisk(false) << QStringList{"zero", "format-nvm", "format-nvm-crypto", "purge"}
        << int(EraseMethod::SanitizeBlock) << "不支援";
    QTest::newRow("frozen ssd") << FrozenSsd() << QStringList{"zero"}
                                << int(EraseMethod::SecureErase) << "睡眠後再喚醒";
  }
  void choiceFollowsTheDisk() {
    QFETCH(DriveEraseFacts, facts);
    QFETCH(QStringList, open);
    QFETCH(int, closed);
    QFETCH(QString, tipSays);
    Opened opened({facts});
    QVERIFY(!opened.ending.Ended());
    // Read once, through the opened handle, for the chosen disk.
    QCOMPARE(opened.readHandles, std::vector<Handle>{opened.main.DeviceHandle()});
    QCOMPARE(opened.readModels.at(0), DeviceTable[ChosenIndex].IdentifyData.Model);
    QVERIFY(opened.readModels.at(0).find("PURGE ME") != std::string::npos);
    QCOMPARE(opened.Methods()->count(), int(std::size(kEraseMethods)));
    QCOMPARE(opened.OpenWords(), open);
    QCOMPARE(opened.main.ChosenEraseMethod(), EraseMethod::Zero);
    QVERIFY2(opened.Tip(EraseMethod(closed)).contains(tipSays),
             qPrintable(opened.Tip(EraseMethod(closed))));
    QVERIFY(opened.Tip(EraseMethod::Zero).isEmpty());
  }

  // `purge` names what it stands for on this disk.
  void purgeNamesItsMethod() {
    Opened formatOnly({NvmeDisk(false)});
    QVERIFY2(formatOnly.Methods()->itemText(formatOnly.IndexOf(EraseMethod::Purge))
                 .startsWith("Purge: Format NVM 加密抹除"),
             qPrintable(formatOnly.Methods()->itemText(formatOnly.IndexOf(EraseMethod::Purge))));
    Opened none({UsbBridge()});
    QCOMPARE(none.Methods()->itemText(none.IndexOf(EraseMethod::Purge)).startsWith("Purge:"),
             false);
  }

  void quickWipeBelongsToTheZeroFill() {
    Opened opened({NvmeDisk(true)});
    opened.QuickWipe()->setChecked(true);
    opened.Choose(EraseMethod::FormatNvm);
    QVERIFY(!opened.QuickWipe()->isEnabled());
    QVERIFY(!opened.QuickWipe()->isChecked());
    opened.Choose(EraseMethod::Zero);
    QVERIFY(opened.QuickWipe()->isEnabled());
  }

  // The question names the method; a sanitize also says it cannot be stopped, not even by a
  // power loss. The zero-fill's question stays word for word what it was.
  void confirmationNamesTheMethod_data() {
    QTest::addColumn<int>("method");
    QTest::addColumn<QStringList>("says");
    QTest::addColumn<QStringList>("never");
    QTest::newRow("zero") << int(EraseMethod::Zero) << QStringList{}
                          << QStringList{"清除方法", "無法停止"};
    QTest::newRow("format crypto")
        << int(EraseMethod::FormatNvmCrypto)
        << QStringList{"清除方法: Format NVM 加密抹除，NIST SP 800-88 類別: 清洗 (Purge)",
                       "無法停止"}
        << QStringList{"斷電", "最強"};
    QTest::newRow("sanitize")
        << int(EraseMethod::SanitizeBlock)
        << QStringList{"清除方法: Sanitize 區塊抹除", "無法停止", "斷電"} << QStringList{};
    QTest::newRow("purge") << int(EraseMethod::Purge)
                           << QStringList{"清除方法: Sanitize 加密抹除 (此磁碟最強的 Purge 方法)",
                                          "斷電"}
                           << QStringList{};
  }
  void confirmationNamesTheMethod() {
    QFETCH(int, method);
    QFETCH(QStringList, says);
    QFETCH(QStringList, never);
    Opened opened({NvmeDisk(true)});
    opened.Choose(EraseMethod(method));
    QCOMPARE(opened.main.ChosenEraseMethod(), EraseMethod(method));
    const ModalScript::Box box = opened.Format(QMessageBox::Cancel);
    const QString content = QString::fromStdString(
        FormatConfirmContent(DeviceCaption(DeviceTable, ChosenIndex)));
    QVERIFY(box.informative.startsWith(content));
    if (says.isEmpty()) QCOMPARE(box.informative, content);
    for (const QString& text : says) QVERIFY2(box.informative.contains(text), qPrintable(box.informative));
    for (const QString& text : never) QVERIFY2(!box.informative.contains(text), qPrintable(box.informative));
    QVERIFY(opened.fake.writes.empty());
  }

  // After a run the disk is asked again: here it reports a sanitize still running, and the
  // sanitize methods close with that reason.
  void aRunReadsTheChoiceAfresh() {
    DriveEraseFacts running = NvmeDisk(true);
    running.sanitizeInProgress = true;
    Opened opened({NvmeDisk(true), running});
    QVERIFY(opened.Open(EraseMethod::SanitizeCrypto));
    opened.Format(QMessageBox::Yes);
    QCOMPARE(opened.readHandles.size(), size_t(2));
    QVERIFY(!opened.Open(EraseMethod::SanitizeCrypto));
    QVERIFY2(opened.Tip(EraseMethod::SanitizeCrypto).contains("正在執行 Sanitize"),
             qPrintable(opened.Tip(EraseMethod::SanitizeCrypto)));
    QCOMPARE(opened.main.ChosenEraseMethod(), EraseMethod::Zero);
  }

  // Saving asks for the record fields first (cancelling saves nothing), and the next time
  // starts from what was entered.
  void savingAsksForTheRecordFields() {
    Opened opened({NvmeDisk(false)});
    opened.Format(QMessageBox::Yes);
    QPushButton* save = opened.main.findChild<QPushButton*>("btSaveReport");
    QVERIFY(save->isEnabled());
    {
      ModalScript script;
      script.Then(ModalScript::Named("RecordFieldsDialog"), [](QWidget* w) {
        w->findChild<QLineEdit*>("edOperator")->setText("  王小明 資訊安全管理員 ");
        w->findChild<QLineEdit*>("edOrganization")->setText("範例科技");
        w->findChild<QLineEdit*>("edAssetTag")->setText("PC-0042");
        w->findChild<QPlainTextEdit*>("edNotes")->setPlainText("第二槽");
        qobject_cast<QDialog*>(w)->accept();
      });
      script.Then([](QWidget* w) { return qobject_cast<QFileDialog*>(w) != nullptr; },
                  [](QWidget* w) { qobject_cast<QDialog*>(w)->reject(); });
      save->click();
      QVERIFY(script.Done());
      QVERIFY(script.unexpected.empty());
    }
    QTemporaryDir dir;
    const QString path = dir.filePath("report.json");
    QCOMPARE(opened.main.SaveReport(path), QString());
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QJsonObject report = QJsonDocument::fromJson(file.readAll()).object();
    const QJsonObject record = report["record"].toObject();
    QCOMPARE(record["operator"].toString(), QString("王小明 資訊安全管理員"));
    QCOMPARE(record["organization"].toString(), QString("範例科技"));
    QCOMPARE(record["asset_tag"].toString(), QString("PC-0042"));
    QCOMPARE(record["notes"].toString(), QString("第二槽"));
    QCOMPARE(report["disk"].toObject()["media"].toString(), QString("nvme"));

    QString prefilled;
    {
      ModalScript script;
      script.Then(ModalScript::Named("RecordFieldsDialog"), [&](QWidget* w) {
        prefilled = w->findChild<QLineEdit*>("edOperator")->text();
        qobject_cast<QDialog*>(w)->reject();
      });
      save->click();
      QVERIFY(script.Done());
      QVERIFY2(script.unexpected.empty(), "no file dialog after a cancelled record");
    }
    QCOMPARE(prefilled, QString("王小明 資訊安全管理員"));
  }
};

QTEST_MAIN(EraseMethodTest)
#include "erase_method_test.moc"
