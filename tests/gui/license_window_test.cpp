// The agreement: asked once per user and version, remembered in the marker, declining ends
// the program.
#include <QDir>
#include <QFile>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

#include "app/license_window.hpp"
#include "app/memo.hpp"
#include "core/small_file.hpp"
#include "gui_support.hpp"

using namespace fw;
using fw::test::ModalScript;
using fw::test::ProgramEndRecorder;

namespace {

QString Marker(const QString& folder) { return folder + "/ferrowipe.4.30.agreement"; }

QByteArray Content(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

void WriteFile(const QString& path, const QByteArray& bytes) {
  QFile file(path);
  QVERIFY(file.open(QIODevice::WriteOnly));
  file.write(bytes);
}

ModalScript::Act Click(const char* button) {
  return [button](QWidget* w) { w->findChild<QPushButton*>(button)->click(); };
}

}  // namespace

class LicenseWindowTest : public QObject {
  Q_OBJECT

 private:
  QTemporaryDir* m_home = nullptr;
  QString m_data;

 private slots:
  void init() {
    m_home = new QTemporaryDir;
    m_data = m_home->path() + "/data";
    QVERIFY(QDir().mkpath(m_data));
    qputenv("XDG_DATA_HOME", m_data.toUtf8());
  }
  void cleanup() {
    delete m_home;
    m_home = nullptr;
  }

  void folderAndPath() {
    QCOMPARE(QString::fromStdString(AgreementPath()), Marker(m_data));
    const QByteArray home = qgetenv("HOME");
    for (const char* value : {"", "relative/data"}) {
      qputenv("XDG_DATA_HOME", value);
      QCOMPARE(QString::fromStdString(LocalAppDataFolder()), home + "/.local/share");
    }
  }

  void window() {
    ModalScript script;
    script.Then(ModalScript::Named("fmLicenseAgreement"), [](QWidget* w) {
      QCOMPARE(w->windowTitle(), QString("授權合約"));
      QCOMPARE(w->size(), QSize(612, 383));
      QCOMPARE(w->findChild<QPushButton*>("Button1")->text(), QString("同意"));
      QCOMPARE(w->findChild<QPushButton*>("Button2")->text(), QString("不同意"));
      auto* memo = w->findChild<QPlainTextEdit*>("Memo1");
      QVERIFY(memo->isReadOnly());
      const QStringList lines = MemoLines(memo);
      QCOMPARE(lines.front(), QString("LICENSE AGREEMENT: TERMS AND CONDITIONS OF USE"));
      QVERIFY(lines.size() >= 60 && lines.size() <= 80);
      for (const char* topic : {"GRANT OF USE", "RESTRICTIONS", "TERM", "OWNERSHIP", "EXPORT",
                                "DISCLAIMER OF WARRANTIES", "GOVERNING LAW"}) {
        QVERIFY2(memo->toPlainText().contains(topic), topic);
      }
      w->findChild<QPushButton*>("Button1")->click();
    });
    TfmLicenseAgreement agreement;
    QVERIFY(script.Done());
  }

  // Enter presses the button that has the focus: agreeing writes the marker, disagreeing ends
  // the program and writes nothing.
  void enterPressesFocusedButton_data() {
    QTest::addColumn<QString>("button");
    QTest::addColumn<bool>("agreed");
    QTest::newRow("同意") << "Button1" << true;
    QTest::newRow("不同意") << "Button2" << false;
  }
  void enterPressesFocusedButton() {
    QFETCH(QString, button);
    QFETCH(bool, agreed);
    ProgramEndRecorder ending;
    ModalScript script;
    script.Then(ModalScript::Named("fmLicenseAgreement"), [button](QWidget* w) {
      QApplication::setActiveWindow(w);
      auto* focused = w->findChild<QPushButton*>(button);
      focused->setFocus();
      QTest::keyClick(focused, Qt::Key_Return);
    });
    TfmLicenseAgreement agreement;
    QVERIFY(script.Done());
    QVERIFY(script.unexpected.empty());
    QCOMPARE(agreement.AgreementAccepted(), agreed);
    QCOMPARE(Content(Marker(m_data)), agreed ? QByteArray("1") : QByteArray("<missing>"));
    QCOMPARE(ending.Ended(), !agreed);
  }

  // What the marker holds before the start, and whether the window comes up.
  void marker_data() {
    QTest::addColumn<QByteArray>("before");  // "<missing>": no marker
    QTest::addColumn<bool>("shown");
    QTest::newRow("first start") << QByteArray("<missing>") << true;
    QTest::newRow("agreed") << QByteArray("1") << false;
    QTest::newRow("line end") << QByteArray("1\n") << true;
    QTest::newRow("other content") << QByteArray("yes") << true;
    QTest::newRow("empty") << QByteArray("") << true;
  }
  void marker() {
    QFETCH(QByteArray, before);
    QFETCH(bool, shown);
    if (before != "<missing>") WriteFile(Marker(m_data), before);
    ProgramEndRecorder ending;
    ModalScript script;
    if (shown) script.Then(ModalScript::Named("fmLicenseAgreement"), Click("Button1"));
    TfmLicenseAgreement agreement;
    QCOMPARE(agreement.WasShown(), shown);
    QVERIFY(script.Done());
    QVERIFY(script.unexpected.empty());
    QVERIFY(!ending.Ended());
    QCOMPARE(agreement.AgreementAccepted(), shown);
    QCOMPARE(Content(Marker(m_data)), QByteArray("1"));
  }

  // A marker of 1 GiB (sparse) that begins with "1" is no agreement, and agreeing replaces it.
  void hugeMarker() {
    {
      QFile file(Marker(m_data));
      QVERIFY(file.open(QIODevice::WriteOnly));
      file.write("1");
      QVERIFY(file.resize(qint64{1} << 30));
    }
    ModalScript script;
    script.Then(ModalScript::Named("fmLicenseAgreement"), Click("Button1"));
    TfmLicenseAgreement agreement;
    QVERIFY(agreement.WasShown());
    QCOMPARE(Content(Marker(m_data)), QByteArray("1"));
  }

  void otherVersionHasNoEffect() {
    WriteFile(m_data + "/ferrowipe.4.31.agreement", "1");
    ModalScript script;
    script.Then(ModalScript::Named("fmLicenseAgreement"), Click("Button1"));
    TfmLicenseAgreement agreement;
    QVERIFY(agreement.WasShown());
  }

  // Disagree, Escape and the title bar's close button all end the program and write nothing.
  void declining_data() {
    QTest::addColumn<int>("how");
    QTest::newRow("disagree") << 0;
    QTest::newRow("escape") << 1;
    QTest::newRow("close button") << 2;
  }
  void declining() {
    QFETCH(int, how);
    ProgramEndRecorder ending;
    ModalScript script;
    script.Then(ModalScript::Named("fmLicenseAgreement"), [how](QWidget* w) {
      if (how == 0) w->findChild<QPushButton*>("Button2")->click();
      if (how == 1) QTest::keyClick(w, Qt::Key_Escape);
      if (how == 2) w->close();
    });
    TfmLicenseAgreement agreement;
    QVERIFY(!agreement.AgreementAccepted());
    QCOMPARE(ending.codes, std::vector<int>{0});
    QVERIFY(!QFile::exists(Marker(m_data)));
  }

  // The folder cannot be written: this run goes on, the next one asks again.
  void unwritableFolder() {
    const QString blocker = m_home->path() + "/file";
    WriteFile(blocker, "not a folder");
    qputenv("XDG_DATA_HOME", (blocker + "/data").toUtf8());
    ProgramEndRecorder ending;
    ModalScript script;
    script.Then(ModalScript::Named("fmLicenseAgreement"), Click("Button1"));
    TfmLicenseAgreement agreement;
    QVERIFY(agreement.AgreementAccepted());
    QVERIFY(!ending.Ended());
    QCOMPARE(Content(blocker), QByteArray("not a folder"));
  }

  // A fresh account has no data folder yet: it is made.
  void missingFolderIsMade() {
    const QString data = m_home->path() + "/fresh/.local/share";
    qputenv("XDG_DATA_HOME", data.toUtf8());
    ModalScript script;
    script.Then(ModalScript::Named("fmLicenseAgreement"), Click("Button1"));
    TfmLicenseAgreement agreement;
    QCOMPARE(Content(Marker(data)), QByteArray("1"));
  }

  // A symbolic link planted as the marker is replaced, and the file it points to is untouched.
  void plantedLinkNotFollowed() {
    const QString target = m_home->path() + "/precious";
    WriteFile(target, "precious data");
    QVERIFY(QFile::link(target, Marker(m_data)));
    ModalScript script;
    script.Then(ModalScript::Named("fmLicenseAgreement"), Click("Button1"));
    TfmLicenseAgreement agreement;
    QVERIFY(agreement.WasShown());
    QCOMPARE(Content(target), QByteArray("precious data"));
    QVERIFY(!QFileInfo(Marker(m_data)).isSymLink());
    QCOMPARE(Content(Marker(m_data)), QByteArray("1"));
  }
};

QTEST_MAIN(LicenseWindowTest)
#include "license_window_test.moc"
