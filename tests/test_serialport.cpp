#include "platform/fault.h"
#include "platform/qtserialport.h"
#include "sim/pty.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QTest>
#include <QThread>

#include <functional>
#include <memory>
#include <optional>

using namespace vantorel;

namespace {

// Long enough for a loaded two-core machine under sanitizers; nothing here
// measures time except where a test says so.
constexpr int Patience = 10000;

QByteArray controlBytes()
{
    return QByteArray::fromHex("00040d0a11137fff");
}

QByteArray everyByteValue()
{
    QByteArray bytes;
    for (int v = 0; v < 256; ++v)
        bytes.append(char(v));
    return bytes;
}

// Polls the way the operations do: no event loop. The pause only hands the
// CPU to the kernel's pty worker between polls.
template <typename Done>
bool pollUntil(Done done, int timeoutMs = Patience)
{
    const QDeadlineTimer deadline(timeoutMs);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QThread::msleep(1);
    }
    return true;
}

QByteArray readFromTool(QtSerialPort &port, qsizetype count)
{
    QByteArray got;
    pollUntil([&] {
        got += port.readAllWaiting();
        return got.size() >= count;
    });
    return got;
}

std::optional<Fault> faultOf(const std::function<void()> &call)
{
    try {
        call();
    } catch (const Fault &fault) {
        return fault;
    }
    return std::nullopt;
}

enum class Use { Write, Read, BytesWaiting, Discard };

void use(QtSerialPort &port, Use how)
{
    switch (how) {
    case Use::Write: port.write(QByteArray("\x55\xaa", 2)); break;
    case Use::Read: port.readAllWaiting(); break;
    case Use::BytesWaiting: port.bytesWaiting(); break;
    case Use::Discard: port.discardInput(); break;
    }
}

} // namespace

Q_DECLARE_METATYPE(Use)

class TestSerialPort : public QObject {
    Q_OBJECT

private slots:
    void parsesSettings_data();
    void parsesSettings();
    void rejectsMalformedSettings_data();
    void rejectsMalformedSettings();
    void bytesCrossUnchanged_data();
    void bytesCrossUnchanged();
    void farEndSeesTheSettings_data();
    void farEndSeesTheSettings();
    void refusedSettingsLeaveTheLineAsItWas_data();
    void refusedSettingsLeaveTheLineAsItWas();
    void bytesWaitingNeedsNoEventLoop();
    void discardInputDropsEverythingWaiting();
    void missingDeviceIsNamed();
    void deviceInUseIsReported();
    void lostLineIsReportedOnce_data();
    void lostLineIsReportedOnce();
    void lostLineIsNoticedByTheEventLoop();
};

void TestSerialPort::parsesSettings_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("baud");
    QTest::addColumn<char>("parity");
    QTest::addColumn<int>("dataBits");
    QTest::addColumn<int>("stopBits");

    QTest::newRow("usual") << "9600,N,8,2" << 9600 << 'N' << 8 << 2;
    QTest::newRow("lower case, one stop bit") << "4800,e,7,1" << 4800 << 'E' << 7 << 1;
    QTest::newRow("blanks around fields") << " 115200 , o , 8 , 1.5 " << 115200 << 'O' << 8
                                          << LineSettings::OneAndHalfStop;
    QTest::newRow("mark") << "57600,M,5,2" << 57600 << 'M' << 5 << 2;
    QTest::newRow("space") << "19200,s,6,1" << 19200 << 'S' << 6 << 1;
    QTest::newRow("non-standard speed") << "31250,N,8,1" << 31250 << 'N' << 8 << 1;
}

void TestSerialPort::parsesSettings()
{
    QFETCH(QString, text);
    const LineSettings s = parseLineSettings(text);
    QTEST(s.baud, "baud");
    QTEST(s.parity, "parity");
    QTEST(s.dataBits, "dataBits");
    QTEST(s.stopBits, "stopBits");
}

void TestSerialPort::rejectsMalformedSettings_data()
{
    QTest::addColumn<QString>("text");
    for (const char *text : {"", "abc", "9600", "9600,N,8", "0,N,8,2", "-5,N,8,2", "9600,X,8,2", "9600,N,9,2",
                             "9600,N,8,3", "96OO,N,8,2", "9600,N,8,2,1", "+9600,N,8,2", "99999999999,N,8,2",
                             "9600,NN,8,2", "9600,N,,2"})
        QTest::newRow(*text ? text : "empty") << QString::fromLatin1(text);
}

void TestSerialPort::rejectsMalformedSettings()
{
    QFETCH(QString, text);
    const std::optional<Fault> parsed = faultOf([&] { parseLineSettings(text); });
    QVERIFY(parsed);
    QCOMPARE(parsed->code(), FaultCode::PortSettings);
    QVERIFY2(parsed->description().contains(QLatin1Char('"') + text + QLatin1Char('"')),
             qPrintable(parsed->description()));
    QVERIFY2(parsed->description().contains(QLatin1String("\"9600,N,8,2\"")), qPrintable(parsed->description()));

    // The port refuses it the same way and keeps what it had.
    QtSerialPort port;
    const std::optional<Fault> set = faultOf([&] { port.setSettings(text); });
    QVERIFY(set);
    QCOMPARE(set->code(), FaultCode::PortSettings);
    QCOMPARE(port.settings(), QStringLiteral("9600,N,8,2"));
}

void TestSerialPort::bytesCrossUnchanged_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("NUL, EOT, CR, LF, XON, XOFF, DEL, FF") << controlBytes();
    QTest::newRow("all 256 values") << everyByteValue();
}

void TestSerialPort::bytesCrossUnchanged()
{
    QFETCH(QByteArray, bytes);
    PseudoTerminal line;
    QtSerialPort port;
    port.selectPort(line.slavePath());
    port.setSettings(QStringLiteral("9600,N,8,2"));
    port.open();

    port.write(bytes);
    // write() promises the bytes are on the line, so no event loop runs here.
    QCOMPARE(line.readAtLeast(bytes.size(), Patience), bytes);

    QVERIFY(line.writeBytes(bytes));
    QCOMPARE(readFromTool(port, bytes.size()), bytes);
}

void TestSerialPort::farEndSeesTheSettings_data()
{
    QTest::addColumn<QString>("settings");
    QTest::addColumn<bool>("whileOpen");
    QTest::addColumn<int>("baud");
    QTest::addColumn<int>("stopBits");

    for (const int baud : {4800, 9600, 19200, 38400, 57600, 115200}) {
        const QString text = QStringLiteral("%1,N,8,2").arg(baud);
        QTest::addRow("%d at open", baud) << text << false << baud << 2;
        QTest::addRow("%d while open", baud) << text << true << baud << 2;
    }
    QTest::newRow("one stop bit") << "9600,N,8,1" << false << 9600 << 1;
    QTest::newRow("non-standard speed at open") << "31250,N,8,2" << false << 31250 << 2;
    QTest::newRow("non-standard speed while open") << "250000,N,8,1" << true << 250000 << 1;
}

void TestSerialPort::farEndSeesTheSettings()
{
    QFETCH(QString, settings);
    QFETCH(bool, whileOpen);
    PseudoTerminal line;
    QtSerialPort port;
    port.selectPort(line.slavePath());
    // Start from something unlike every row, so a setting that is not applied
    // shows. Parity and data bits stay N and 8: a pty forces CS8 and no parity.
    port.setSettings(settings.endsWith(QLatin1String(",1")) ? QStringLiteral("1200,N,8,2")
                                                             : QStringLiteral("1200,N,8,1"));
    if (!whileOpen)
        port.setSettings(settings);
    port.open();
    if (whileOpen)
        port.setSettings(settings);

    const PseudoTerminal::Settings seen = line.readSettings();
    QTEST(seen.baud, "baud");
    QTEST(seen.stopBits, "stopBits");
    QCOMPARE(port.settings(), settings);
}

void TestSerialPort::refusedSettingsLeaveTheLineAsItWas_data()
{
    QTest::addColumn<QString>("settings");
    QTest::addColumn<bool>("parses");
    QTest::newRow("malformed") << "96OO,N,8,2" << false;
    // termios has no 1.5 stop bits; sending 1 instead would be a silent lie.
    QTest::newRow("1.5 stop bits") << "4800,N,8,1.5" << true;
    // A pty cannot carry parity, so Qt refuses it after the speed has changed:
    // the speed must go back too.
    QTest::newRow("refused half way") << "4800,E,8,2" << true;
}

void TestSerialPort::refusedSettingsLeaveTheLineAsItWas()
{
    QFETCH(QString, settings);
    QFETCH(bool, parses);
    PseudoTerminal line;
    QtSerialPort port;
    port.selectPort(line.slavePath());
    port.setSettings(QStringLiteral("19200,N,8,2"));
    port.open();

    const std::optional<Fault> fault = faultOf([&] { port.setSettings(settings); });
    QVERIFY(fault);
    QCOMPARE(fault->code(), FaultCode::PortSettings);
    QVERIFY2(fault->description().contains(QLatin1Char('"') + settings + QLatin1Char('"')),
             qPrintable(fault->description()));
    if (parses)
        QVERIFY2(fault->description().contains(line.slavePath()), qPrintable(fault->description()));

    QVERIFY(port.isOpen());
    QCOMPARE(port.settings(), QStringLiteral("19200,N,8,2"));
    const PseudoTerminal::Settings seen = line.readSettings();
    QCOMPARE(seen.baud, 19200);
    QCOMPARE(seen.stopBits, 2);
    QCOMPARE(seen.dataBits, 8);
    QCOMPARE(seen.parity, 'N');
    port.write(controlBytes());
    QCOMPARE(line.readAtLeast(controlBytes().size(), Patience), controlBytes());
}

void TestSerialPort::bytesWaitingNeedsNoEventLoop()
{
    PseudoTerminal line;
    QtSerialPort port;
    port.selectPort(line.slavePath());
    port.open();
    QCOMPARE(port.bytesWaiting(), 0);

    QVERIFY(line.writeBytes("12345"));
    qint64 seen = 0;
    QVERIFY(pollUntil([&] { return (seen = port.bytesWaiting()) >= 5; }));
    QCOMPARE(seen, 5);

    // Let Qt take them into its own buffer; the count must still include them.
    QVERIFY(pollUntil([&] {
        QCoreApplication::processEvents();
        return line.slaveQueued() == 0;
    }));
    QCOMPARE(port.bytesWaiting(), 5);

    QVERIFY(line.writeBytes("678"));
    QVERIFY(pollUntil([&] { return (seen = port.bytesWaiting()) >= 8; }));
    QCOMPARE(seen, 8);
    QCOMPARE(port.readAllWaiting(), QByteArray("12345678"));
    QCOMPARE(port.bytesWaiting(), 0);
}

void TestSerialPort::discardInputDropsEverythingWaiting()
{
    PseudoTerminal line;
    QtSerialPort port;
    port.selectPort(line.slavePath());
    port.open();

    // Old bytes both in Qt's buffer and still in the kernel.
    QVERIFY(line.writeBytes("old-in-qt"));
    QVERIFY(pollUntil([&] {
        QCoreApplication::processEvents();
        return line.slaveQueued() == 0 && port.bytesWaiting() == 9;
    }));
    QVERIFY(line.writeBytes("old-in-kernel"));
    QVERIFY(pollUntil([&] { return port.bytesWaiting() == 9 + 13; }));

    port.discardInput();
    QCOMPARE(port.bytesWaiting(), 0);

    QVERIFY(line.writeBytes("new"));
    QCOMPARE(readFromTool(port, 3), QByteArray("new"));
}

void TestSerialPort::missingDeviceIsNamed()
{
    const QString path = QStringLiteral("/dev/vantorel-no-such-device");
    QtSerialPort port;
    port.selectPort(path);
    const std::optional<Fault> fault = faultOf([&] { port.open(); });
    QVERIFY(fault);
    QCOMPARE(fault->code(), FaultCode::PortOpen);
    QVERIFY2(fault->description().contains(path), qPrintable(fault->description()));
    QVERIFY(!port.isOpen());
}

void TestSerialPort::deviceInUseIsReported()
{
    PseudoTerminal line;
    QtSerialPort first;
    first.selectPort(line.slavePath());
    first.open();

    QtSerialPort second;
    second.selectPort(line.slavePath());
    const std::optional<Fault> fault = faultOf([&] { second.open(); });
    QVERIFY(fault);
    QCOMPARE(fault->code(), FaultCode::PortOpen);
    QVERIFY2(fault->description().contains(line.slavePath()), qPrintable(fault->description()));
    QVERIFY(!second.isOpen());

    // The refused second user must not disturb the first.
    first.write(controlBytes());
    QCOMPARE(line.readAtLeast(controlBytes().size(), Patience), controlBytes());
}

void TestSerialPort::lostLineIsReportedOnce_data()
{
    QTest::addColumn<Use>("how");
    QTest::newRow("write") << Use::Write;
    QTest::newRow("read") << Use::Read;
    QTest::newRow("bytes waiting") << Use::BytesWaiting;
    QTest::newRow("discard input") << Use::Discard;
}

void TestSerialPort::lostLineIsReportedOnce()
{
    QFETCH(Use, how);
    auto line = std::make_unique<PseudoTerminal>();
    const QString path = line->slavePath();
    QtSerialPort port;
    port.selectPort(path);
    port.open();
    port.write("before");
    QCOMPARE(line->readAtLeast(6, Patience), QByteArray("before"));

    line.reset(); // the adapter is unplugged

    QElapsedTimer timer;
    timer.start();
    const std::optional<Fault> lost = faultOf([&] { use(port, how); });
    QVERIFY2(timer.elapsed() < Patience, "a lost line must not hold the caller");
    QVERIFY(lost);
    QCOMPARE(lost->code(), FaultCode::PortLost);
    QVERIFY2(lost->description().contains(path), qPrintable(lost->description()));
    QVERIFY(!port.isOpen());

    // Told once; afterwards the port is merely closed.
    const std::optional<Fault> again = faultOf([&] { use(port, how); });
    QVERIFY(again);
    QCOMPARE(again->code(), FaultCode::PortOpen);

    // Plugging in again works, and output that was stuck when the line went
    // does not reach the new one.
    PseudoTerminal next;
    port.selectPort(next.slavePath());
    port.open();
    port.write("after");
    QCOMPARE(next.readAtLeast(5, Patience), QByteArray("after"));
}

void TestSerialPort::lostLineIsNoticedByTheEventLoop()
{
    auto line = std::make_unique<PseudoTerminal>();
    QtSerialPort port;
    port.selectPort(line->slavePath());
    port.open();
    line.reset();

    // Qt's read notifier sees the dead line; the port must close rather than
    // let the error repeat endlessly.
    QTRY_VERIFY_WITH_TIMEOUT(!port.isOpen(), Patience);
    const std::optional<Fault> lost = faultOf([&] { port.bytesWaiting(); });
    QVERIFY(lost);
    QCOMPARE(lost->code(), FaultCode::PortLost);
}

QTEST_GUILESS_MAIN(TestSerialPort)
#include "test_serialport.moc"
