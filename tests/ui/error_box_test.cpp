// The caption and text of error boxes, at the edges of their rules.

#include "ui/error_box.h"
#include "qt_test_main.h"

namespace dupfind {

class ErrorBoxTest : public QObject {
  Q_OBJECT

 private slots:
  void titleIsFileNameUpToFirstDotWithTheRestLowered_data() {
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("title");
    QTest::newRow("plain") << "/usr/bin/dupfind"
                           << "dupfind";
    QTest::newRow("capitals") << "/opt/DUPFIND"
                              << "Dupfind";
    QTest::newRow("first dot ends it") << "/x/DupFind.Tar.Exe"
                                       << "Dupfind";
    QTest::newRow("dots in folders") << "/my.apps/v1.2/Tool"
                                     << "Tool";
    QTest::newRow("first kept as is") << "/x/dUPFIND"
                                      << "dupfind";
    QTest::newRow("cyrillic") << QStringLiteral("/x/ПОИСК.bin") << QStringLiteral("Поиск");
    QTest::newRow("leading dot") << "/x/.hidden"
                                 << "";
  }
  void titleIsFileNameUpToFirstDotWithTheRestLowered() {
    QFETCH(QString, file);
    QFETCH(QString, title);
    QCOMPARE(ApplicationTitle(file), title);
  }

  void periodAppendedOnlyAfterBytesAboveDot_data() {
    QTest::addColumn<QByteArray>("message");
    QTest::addColumn<QByteArray>("shown");
    QTest::newRow("empty") << QByteArray() << QByteArray();
    QTest::newRow("letter") << QByteArray("Denied") << QByteArray("Denied.");
    QTest::newRow("digit") << QByteArray("code 7") << QByteArray("code 7.");
    QTest::newRow("slash, just above") << QByteArray("in /tmp/") << QByteArray("in /tmp/.");
    QTest::newRow("period") << QByteArray("Done.") << QByteArray("Done.");
    QTest::newRow("minus, just below") << QByteArray("a -") << QByteArray("a -");
    QTest::newRow("parenthesis") << QByteArray("bounds (-1)") << QByteArray("bounds (-1)");
    QTest::newRow("quote") << QByteArray("file \"a\"") << QByteArray("file \"a\"");
    QTest::newRow("space") << QByteArray("end ") << QByteArray("end ");
    // A byte above 0x7F is above "." too, whatever the sign of char.
    QTest::newRow("utf-8 letter") << QByteArray("Ошибка") << QByteArray("Ошибка.");
    QTest::newRow("latin-1 byte") << QByteArray("caf\xE9") << QByteArray("caf\xE9.");
  }
  void periodAppendedOnlyAfterBytesAboveDot() {
    QFETCH(QByteArray, message);
    QFETCH(QByteArray, shown);
    QCOMPARE(QByteArray::fromStdString(ErrorBoxText(message.toStdString())), shown);
  }
};

}  // namespace dupfind

DUPFIND_QTEST_MAIN(dupfind::ErrorBoxTest)
#include "error_box_test.moc"
