// The debug window: its first line, and the debug log that only debug mode records.
#include <QPlainTextEdit>
#include <QtTest>

#include "app/debug_window.hpp"
#include "core/logs.hpp"
#include "core/user_locale.hpp"

using namespace fw;

class DebugWindowTest : public QObject {
  Q_OBJECT

 private slots:
  void init() {
    DebugMode = false;
    SetUserLocale(UserLocale{".", "%d/%m/%Y", "%H:%M:%S"});
  }
  void cleanup() { DebugMode = false; }

  void window() {
    TFmDebug debug;
    QCOMPARE(debug.windowTitle(), QString("除錯"));
    QCOMPARE(debug.size(), QSize(635, 337));
    auto* memo = debug.findChild<QPlainTextEdit*>("Memo1");
    QVERIFY(memo);
    QVERIFY(!memo->isReadOnly());
    QCOMPARE(memo->lineWrapMode(), QPlainTextEdit::NoWrap);
    QCOMPARE(debug.Lines(), QStringList{"除錯視窗"});
  }

  void normalModeRecordsNothing() {
    TFmDebug debug;
    AddDebugLine("Debug mode activated");
    QCOMPARE(debug.Lines(), QStringList{"除錯視窗"});
  }

  // Time stamp, three blanks, the message as given: trailing blanks and an empty message kept.
  void debugModeAppends_data() {
    QTest::addColumn<QString>("message");
    QTest::newRow("plain") << "Debug mode activated";
    QTest::newRow("trailing blanks") << "正透過裝置重複...                  ";
    QTest::newRow("empty") << "";
  }
  void debugModeAppends() {
    QFETCH(QString, message);
    TFmDebug debug;
    DebugMode = true;
    AddDebugLine(message.toStdString());
    const QStringList lines = debug.Lines();
    QCOMPARE(lines.size(), 2);
    QCOMPARE(lines[0], QString("除錯視窗"));
    const QRegularExpression stamp(R"(^\d\d/\d\d/\d{4}( \d\d:\d\d:\d\d)?   )");
    const QRegularExpressionMatch match = stamp.match(lines[1]);
    QVERIFY2(match.hasMatch(), qPrintable(lines[1]));
    QCOMPARE(lines[1].mid(match.capturedLength()), message);
  }

  void sinkEndsWithTheWindow() {
    DebugMode = true;
    { TFmDebug debug; }
    AddDebugLine("no window");  // must not reach the destroyed memo
    TFmDebug again;
    QCOMPARE(again.Lines(), QStringList{"除錯視窗"});
  }
};

QTEST_MAIN(DebugWindowTest)
#include "debug_window_test.moc"
