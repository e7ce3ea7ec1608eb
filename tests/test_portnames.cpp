#include "platform/fault.h"
#include "platform/portinfo.h"
#include "platform/portnames.h"
#include "support/fakeports.h"

#include <QFile>
#include <QRegularExpression>
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
    void listsPresentDevices_data();
    void listsPresentDevices();
    void mapsChosenDeviceToFreeNumber_data();
    void mapsChosenDeviceToFreeNumber();
};

namespace {

bool writePortsIni(const QTemporaryDir &dir, const QByteArray &text)
{
    if (text.isEmpty())
        return true;
    QFile ini(dir.filePath(QStringLiteral("Ports.ini")));
    return ini.open(QIODevice::WriteOnly) && ini.write(text) == text.size();
}

} // namespace

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

void TestPortNames::listsPresentDevices_data()
{
    QTest::addColumn<QByteArray>("portsIni");
    QTest::addColumn<QStringList>("present");
    QTest::addColumn<QStringList>("listed"); // the items with a present device, in list order

    const QStringList usbAndS0 = {"/dev/ttyUSB0|FT232R USB UART", "/dev/ttyS0|"};
    QTest::newRow("unmapped adapter after the COM items")
        << QByteArray() << usbAndS0 << QStringList{"COM 1 = /dev/ttyS0", "/dev/ttyUSB0 = /dev/ttyUSB0, FT232R USB UART"};
    QTest::newRow("mapped adapter beside its number")
        << QByteArray("3=/dev/ttyUSB0\n") << usbAndS0
        << QStringList{"COM 1 = /dev/ttyS0", "COM 3 = /dev/ttyUSB0, FT232R USB UART"};
    QTest::newRow("a mapping hides the default device, which is listed after")
        << QByteArray("1=/dev/ttyUSB0\n") << usbAndS0
        << QStringList{"COM 1 = /dev/ttyUSB0, FT232R USB UART", "/dev/ttyS0 = /dev/ttyS0"};
    QTest::newRow("mapped device not present") << QByteArray("3=/dev/ttyUSB0\n") << QStringList() << QStringList();
}

void TestPortNames::listsPresentDevices()
{
#ifdef Q_OS_WIN
    QSKIP("COM names are the system's own on Windows");
#endif
    QFETCH(QByteArray, portsIni);
    QFETCH(QStringList, present);
    QTemporaryDir dir;
    QVERIFY(writePortsIni(dir, portsIni));
    const QList<PortItem> items = portItems(FakePorts(present), dir.path());
    QStringList listed;
    for (const PortItem &it : items) {
        if (it.present)
            listed << it.text + " = " + it.deviceText();
    }
    QTEST(listed, "listed");
    // The COM items stay 99 whatever is present; the others follow them.
    QCOMPARE(items.size(), 99 + listed.size() - listed.filter(QRegularExpression("^COM ")).size());
    QCOMPARE(items[98].text, QString("COM 99"));
}

void TestPortNames::mapsChosenDeviceToFreeNumber_data()
{
    QTest::addColumn<QByteArray>("portsIni");
    QTest::addColumn<QStringList>("present");
    QTest::addColumn<int>("number");
    QTest::addColumn<QByteArray>("after");

    QTest::newRow("no Ports.ini; COM 1 is a present ttyS0")
        << QByteArray() << QStringList{"/dev/ttyS0|", "/dev/ttyUSB0|"} << 2 << QByteArray("2=/dev/ttyUSB0\n");
    QTest::newRow("before another program's section")
        << QByteArray("[Other]\nx=1\n") << QStringList{"/dev/ttyUSB0|"} << 1
        << QByteArray("1=/dev/ttyUSB0\n[Other]\nx=1\n");
    QTest::newRow("into the Ports section, CR LF kept")
        << QByteArray("; bench\r\n[Ports]\r\n1=/dev/ttyACM0\r\n[Other]\r\n2=x\r\n") << QStringList{"/dev/ttyUSB0|"} << 2
        << QByteArray("; bench\r\n[Ports]\r\n2=/dev/ttyUSB0\r\n1=/dev/ttyACM0\r\n[Other]\r\n2=x\r\n");
    QTest::newRow("appended to a file without sections")
        << QByteArray("1=/dev/ttyACM0") << QStringList{"/dev/ttyUSB0|"} << 2
        << QByteArray("1=/dev/ttyACM0\n2=/dev/ttyUSB0\n");
    QTest::newRow("already mapped keeps its number")
        << QByteArray("5=/dev/ttyUSB0\n") << QStringList{"/dev/ttyUSB0|"} << 5 << QByteArray("5=/dev/ttyUSB0\n");
}

void TestPortNames::mapsChosenDeviceToFreeNumber()
{
#ifdef Q_OS_WIN
    QSKIP("COM names are the system's own on Windows");
#endif
    QFETCH(QByteArray, portsIni);
    QFETCH(QStringList, present);
    QFETCH(int, number);
    QTemporaryDir dir;
    QVERIFY(writePortsIni(dir, portsIni));
    QCOMPARE(mapDevice("/dev/ttyUSB0", FakePorts(present).devices(), dir.path()), number);
    QFile ini(dir.filePath("Ports.ini"));
    QVERIFY(ini.open(QIODevice::ReadOnly));
    QTEST(ini.readAll(), "after");
    QCOMPARE(resolvePortName(QString("COM %1").arg(number), dir.path()), QString("/dev/ttyUSB0"));
}

QTEST_GUILESS_MAIN(TestPortNames)
#include "test_portnames.moc"
