// Fonts and the question dialog on its two paths.
#include <QFontDatabase>
#include <QMessageBox>
#include <QPushButton>
#include <QtTest>

#include "app/dialogs.hpp"
#include "gui_support.hpp"

using namespace fw;
using fw::test::ModalScript;

Q_DECLARE_METATYPE(fw::DialogPath)

class DialogsTest : public QObject {
  Q_OBJECT

 private slots:
  void systemFont() {
    QFont font("Serif", 30);
    ApplySystemFont(font);
    QCOMPARE(font, QFontDatabase::systemFont(QFontDatabase::GeneralFont));
  }

  void preferredFont_data() {
    QTest::addColumn<QString>("family");
    QTest::addColumn<QStringList>("installed");
    QTest::addColumn<QString>("expectedFamily");
    QTest::addColumn<double>("expectedPoints");
    QTest::newRow("calibri installed") << "DejaVu Sans" << QStringList{"DejaVu Sans", "Calibri"}
                                       << "Calibri" << 11.0;
    QTest::newRow("not installed") << "DejaVu Sans" << QStringList{"DejaVu Sans"}
                                   << "DejaVu Sans" << 9.0;
    QTest::newRow("already calibri") << "calibri" << QStringList{"Calibri"} << "calibri" << 9.0;
  }
  void preferredFont() {
    QFETCH(QString, family);
    QFETCH(QStringList, installed);
    QFETCH(QString, expectedFamily);
    QFETCH(double, expectedPoints);
    QFont font(family, 9);
    ApplyPreferredFont(font, installed);
    QCOMPARE(font.family(), expectedFamily);
    QCOMPARE(font.pointSizeF(), expectedPoints);
  }

  void memoFont() {
    const QFont font = MemoFont(12);
    QCOMPARE(font.family(), QString("新細明體"));
    QCOMPARE(font.pixelSize(), 12);
    QCOMPARE(QFontInfo(font).family(), QString("AR PL UMing TW"));
  }

  // The pressed button as a result code; Close (task) and Abort (classic) both give 3.
  void resultCodes_data() {
    QTest::addColumn<fw::DialogPath>("path");
    QTest::addColumn<int>("buttons");
    QTest::addColumn<int>("press");
    QTest::addColumn<int>("result");
    const auto task = DialogPath::Task;
    const auto classic = DialogPath::Classic;
    QTest::newRow("task yes") << task << 10 << int(QMessageBox::Yes) << 6;
    QTest::newRow("task cancel") << task << 10 << int(QMessageBox::Cancel) << 2;
    QTest::newRow("task no") << task << 6 << int(QMessageBox::No) << 7;
    QTest::newRow("task retry") << task << 24 << int(QMessageBox::Retry) << 4;
    QTest::newRow("task close") << task << 33 << int(QMessageBox::Close) << 3;
    QTest::newRow("task ok") << task << 1 << int(QMessageBox::Ok) << 1;
    QTest::newRow("task no buttons: ok") << task << 0 << int(QMessageBox::Ok) << 1;
    QTest::newRow("classic ok") << classic << 1 << int(QMessageBox::Ok) << 1;
    QTest::newRow("classic yes") << classic << 10 << int(QMessageBox::Yes) << 6;
    QTest::newRow("classic cancel") << classic << 10 << int(QMessageBox::Cancel) << 2;
    QTest::newRow("classic abort") << classic << 32 << int(QMessageBox::Abort) << 3;
    QTest::newRow("classic retry") << classic << 16 << int(QMessageBox::Retry) << 4;
    QTest::newRow("classic no") << classic << 6 << int(QMessageBox::No) << 7;
  }
  void resultCodes() {
    QFETCH(fw::DialogPath, path);
    QFETCH(int, buttons);
    QFETCH(int, press);
    QFETCH(int, result);
    ModalScript script;
    script.Press(static_cast<QMessageBox::StandardButton>(press));
    QCOMPARE(ShowTaskDialog(nullptr, "T", "I", "C", kIconWarning, buttons, path), result);
    QVERIFY(script.Done());
  }

  // Escape or the title bar's close gives 2 on both paths, whatever the buttons: a Yes-only or
  // OK-only box must not answer for the user, nor a Yes|No box say No.
  void closeWithoutButtonIsCancel_data() {
    QTest::addColumn<fw::DialogPath>("path");
    QTest::addColumn<int>("buttons");
    QTest::addColumn<bool>("escape");
    for (const auto& [pathName, path] : {std::pair{"task", DialogPath::Task},
                                         std::pair{"classic", DialogPath::Classic}}) {
      for (const auto& [buttonsName, buttons] :
           {std::pair{"yes", kButtonYes}, std::pair{"yes|no", kButtonYes | kButtonNo},
            std::pair{"ok", kButtonOk}, std::pair{"yes|cancel", kButtonYes | kButtonCancel},
            std::pair{"close", kButtonClose}}) {
        for (const bool escape : {true, false}) {
          QTest::addRow("%s %s %s", pathName, buttonsName, escape ? "escape" : "title bar")
              << path << buttons << escape;
        }
      }
    }
  }
  void closeWithoutButtonIsCancel() {
    QFETCH(fw::DialogPath, path);
    QFETCH(int, buttons);
    QFETCH(bool, escape);
    ModalScript script;
    script.Then(ModalScript::IsMessageBox, [escape](QWidget* w) {
      if (escape) {
        QTest::keyClick(w, Qt::Key_Escape);
      } else {
        w->close();
      }
    });
    QCOMPARE(ShowTaskDialog(nullptr, "T", "I", "C", kIconWarning, buttons, path), 2);
    QVERIFY(script.Done());
  }

  // Which texts show, with which icon and buttons.
  void textsIconsButtons_data() {
    QTest::addColumn<fw::DialogPath>("path");
    QTest::addColumn<int>("icon");
    QTest::addColumn<int>("expectedIcon");
    QTest::newRow("task warning") << DialogPath::Task << 84 << int(QMessageBox::Warning);
    QTest::newRow("task information") << DialogPath::Task << 81 << int(QMessageBox::Information);
    QTest::newRow("classic error") << DialogPath::Classic << 98 << int(QMessageBox::Critical);
    QTest::newRow("classic question") << DialogPath::Classic << 99 << int(QMessageBox::Question);
    QTest::newRow("classic none") << DialogPath::Classic << 7 << int(QMessageBox::NoIcon);
  }
  void textsIconsButtons() {
    QFETCH(fw::DialogPath, path);
    QFETCH(int, icon);
    QFETCH(int, expectedIcon);
    ModalScript script;
    QMessageBox::StandardButtons shown;
    script.Then(ModalScript::IsMessageBox, [&](QWidget* w) {
      auto* box = qobject_cast<QMessageBox*>(w);
      shown = box->standardButtons();
      script.boxes.push_back({box->windowTitle(), box->text(), box->informativeText(), box->icon()});
      box->button(QMessageBox::Cancel)->click();
    });
    ShowTaskDialog(nullptr, "警告     ", "所選裝置", "您確定", icon, 10, path);
    QCOMPARE(shown, QMessageBox::Yes | QMessageBox::Cancel);
    QCOMPARE(int(script.boxes.at(0).icon), expectedIcon);
    if (path == DialogPath::Task) {
      QCOMPARE(script.boxes[0].title, QString("警告     "));
      QCOMPARE(script.boxes[0].text, QString("所選裝置"));
      QCOMPARE(script.boxes[0].informative, QString("您確定"));
    } else {
      QVERIFY(script.boxes[0].title.isEmpty());
      QCOMPARE(script.boxes[0].text, QString("您確定"));
      QVERIFY(script.boxes[0].informative.isEmpty());
    }
  }

  void taskTextsCutAt1024() {
    ModalScript script;
    script.Press(QMessageBox::Ok);
    ShowTaskDialog(nullptr, QString(2000, 't'), QString(1024, 'i'), QString(1025, 'c'), 81, 1);
    QCOMPARE(script.boxes.at(0).title.size(), 1024);
    QCOMPARE(script.boxes[0].text.size(), 1024);
    QCOMPARE(script.boxes[0].informative.size(), 1024);
  }
};

QTEST_MAIN(DialogsTest)
#include "dialogs_test.moc"
