// Qt's own texts in the windows' language: the translation chosen for a locale, and the standard
// buttons of a question box under a Traditional Chinese locale (this test runs with
// LANG=zh_TW.UTF-8).
#include <QAbstractButton>
#include <QFileInfo>
#include <QMessageBox>
#include <QPushButton>
#include <QTranslator>
#include <QtTest>

#include "app/qt_translations.hpp"

using namespace fw;

class TranslationsTest : public QObject {
  Q_OBJECT

 private slots:
  void cleanup() {
    for (QTranslator* translator : qApp->findChildren<QTranslator*>()) {
      QCoreApplication::removeTranslator(translator);
      delete translator;
    }
  }

  // The locale's own translation where Qt has one; Traditional Chinese for English, C and
  // languages Qt does not translate.
  void chosenTranslation_data() {
    QTest::addColumn<QString>("locale");
    QTest::addColumn<QString>("file");
    QTest::newRow("zh_TW") << "zh_TW" << "qtbase_zh_TW.qm";
    QTest::newRow("en_US") << "en_US" << "qtbase_zh_TW.qm";
    QTest::newRow("C") << "C" << "qtbase_zh_TW.qm";
    QTest::newRow("sw_KE, untranslated") << "sw_KE" << "qtbase_zh_TW.qm";
    QTest::newRow("de_DE") << "de_DE" << "qtbase_de.qm";
    QTest::newRow("zh_CN") << "zh_CN" << "qtbase_zh_CN.qm";
  }
  void chosenTranslation() {
    QFETCH(QString, locale);
    QFETCH(QString, file);
    QCOMPARE(QFileInfo(InstallQtTranslations(*qApp, QLocale(locale))).fileName(), file);
  }

  void standardButtonsUnderZhTw() {
    QCOMPARE(QLocale::system().name(), QString("zh_TW"));
    QVERIFY(!InstallQtTranslations(*qApp, QLocale::system()).isEmpty());
    QMessageBox box(QMessageBox::Warning, "警告", "所選裝置上的所有資料將遺失",
                    QMessageBox::Yes | QMessageBox::Cancel | QMessageBox::Ok);
    box.setDetailedText("details");
    QCOMPARE(box.button(QMessageBox::Yes)->text(), QString("是(&Y)"));
    QCOMPARE(box.button(QMessageBox::Cancel)->text(), QString("取消"));
    QCOMPARE(box.button(QMessageBox::Ok)->text(), QString("確定"));
    box.show();
    QAbstractButton* details = nullptr;
    for (QAbstractButton* button : box.buttons()) {
      if (box.buttonRole(button) == QMessageBox::ActionRole) details = button;
    }
    QVERIFY(details);
    QVERIFY2(!details->text().contains("Details"), qPrintable(details->text()));
  }
};

QTEST_MAIN(TranslationsTest)
#include "translations_test.moc"
