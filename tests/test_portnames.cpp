#include "platform/fault.h"
#include "platform/portnames.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace vantorel;

class TestPortNames : public QObject {
    Q_OBJECT

private slots:
    void resolves_data();
    void resolves();
    void rejectsWhatNamesNoPort_data();
    void rejectsWhatNamesNoPort();
};

void TestPortNames::resolves_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("portsIni"); // empty: no file
    QTest::addColumn<QString>("device");

    QTest::newRow("COM 3, no Ports.ini") << "COM 3" << QByteArray() << "/dev/ttyS2";
    QTest::newRow("COM 1 is ttyS0") << "COM 1" << QByteArray() << "/dev/ttyS0";
    QTest::newRow("COM 99") << "COM 99" << QByteArray() << "/dev/ttyS98";
    QTest::newRow("COM3 without blank") << "COM3" << QByteArray() << "/dev/ttyS2";
    QTest::newRow("number alone") << "3" << QByteArray() << "/dev/ttyS2";
    QTest::newRow("COM 3 mapped") << "COM 3" << QByteArray("3=/dev/ttyUSB0\n") << "/dev/ttyUSB0";
    QTest::newRow("number alone mapped") << "3" << QByteArray("3=/dev/ttyUSB0\n") << "/dev/ttyUSB0";
    QTest::newRow("only other numbers mapped")
        << "COM 3" << QByteArray("1=/dev/ttyUSB0\n13=/dev/ttyUSB1\n30=/dev/ttyUSB2\n") << "/dev/ttyS2";
    QTest::newRow("comments, blank lines, CR LF, section")
        << "COM 3"
        << QByteArray("; bench 2\r\n# adapters\r\n\r\n[Ports]\r\n  1 = /dev/ttyACM0\r\n 3 = /dev/ttyUSB1 \r\n")
        << "/dev/ttyUSB1";
    QTest::newRow("commented-out mapping") << "COM 3" << QByteArray(";3=/dev/ttyUSB0\n#3=/dev/ttyUSB1\n")
                                           << "/dev/ttyS2";
    QTest::newRow("other section is not ours")
        << "COM 3" << QByteArray("[Other]\n3=/dev/ttyUSB9\n[Ports]\n4=/dev/ttyUSB4\n") << "/dev/ttyS2";
    QTest::newRow("after other section") << "COM 4" << QByteArray("[Other]\n4=/dev/ttyUSB9\n[Ports]\n4=/dev/ttyUSB4\n")
                                         << "/dev/ttyUSB4";
    QTest::newRow("device name without /dev") << "COM 2" << QByteArray("2=ttyACM0\n") << "/dev/ttyACM0";
    QTest::newRow("device path as is") << "/dev/pts/7" << QByteArray("7=/dev/ttyUSB0\n") << "/dev/pts/7";
}

void TestPortNames::resolves()
{
    QFETCH(QString, text);
    QFETCH(QByteArray, portsIni);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    if (!portsIni.isEmpty()) {
        QFile ini(dir.filePath(QStringLiteral("Ports.ini")));
        QVERIFY(ini.open(QIODevice::WriteOnly));
        QCOMPARE(ini.write(portsIni), portsIni.size());
    }
#ifdef Q_OS_WIN
    QSKIP("COM names are the system's own on Windows");
#endif
    // The program folder is handed over with its trailing separator.
    QTEST(resolvePortName(text, dir.path() + QLatin1Char('/')), "device");
}

void TestPortNames::rejectsWhatNamesNoPort_data()
{
    QTest::addColumn<QString>("text");
    for (const char *text : {"COM 100", "", "COM x", "0", "COM 0", "100", "COM", "COM -1", "ttyUSB0", "COM 3x"})
        QTest::newRow(*text ? text : "empty") << QString::fromLatin1(text);
}

void TestPortNames::rejectsWhatNamesNoPort()
{
    QFETCH(QString, text);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    try {
        const QString device = resolvePortName(text, dir.path() + QLatin1Char('/'));
        QFAIL(qPrintable(QStringLiteral("resolved to ") + device));
    } catch (const Fault &fault) {
        QCOMPARE(fault.code(), FaultCode::PortOpen);
        QCOMPARE(fault.description(),
                 QStringLiteral("No serial port \"%1\": choose COM 1 to COM 99 or give a device path.").arg(text));
    }
}

QTEST_GUILESS_MAIN(TestPortNames)
#include "test_portnames.moc"
