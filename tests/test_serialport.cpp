// The Qt serial port against a pseudo-terminal: the settings text, bytes both
// ways, waiting bytes seen without an event loop, refusals and a lost line.
#include "platform/fault.h"
#include "platform/qtserialport.h"
#include "sim/pty.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <functional>
#include <optional>

#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

using namespace vantorel;

namespace {

// Long enough for a loaded two-core machine under sanitizers; never waited out when all is well.
constexpr int Patience = 10000;

// Polls the way the operations do, without an event loop; the pause hands the
// processor to the kernel's pty worker between looks.
bool pollUntil(const std::function<bool()> &done)
{
    for (const QDeadlineTimer deadline(Patience); !done(); QThread::msleep(1)) {
        if (deadline.hasExpired())
            return false;
    }
    return true;
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

// A port open on a fresh line.
struct OpenLine {
    explicit OpenLine(const QString &settings = QStringLiteral("9600,N,8,2"))
    {
        port.selectPort(line.slavePath());
        port.setSettings(settings);
        port.open();
    }
    PseudoTerminal line;
    QtSerialPort port;
};

} // namespace

class TestSerialPort : public QObject {
    Q_OBJECT

private slots:
    void parsesSettings()
    {
        // bits: a character's bits on the line, start and stop bits included.
        struct Row { const char *text; int baud; char parity; int dataBits, stopBits; double bits; };
        const Row rows[] = {{"9600,N,8,2", 9600, 'N', 8, 2, 11}, {"4800,e,7,1", 4800, 'E', 7, 1, 10}, {"57600,M,5,2", 57600, 'M', 5, 2, 9},
                            {" 115200 , o , 8 , 1.5 ", 115200, 'O', 8, LineSettings::OneAndHalfStop, 11.5},
                            {"19200,s,6,1", 19200, 'S', 6, 1, 9}, {"31250,N,8,1", 31250, 'N', 8, 1, 10}};
        for (const Row &r : rows) {
            const LineSettings s = parseLineSettings(r.text);
            QVERIFY2(s.baud == r.baud && s.parity == r.parity && s.dataBits == r.dataBits && s.stopBits == r.stopBits, r.text);
            QCOMPARE(lineSeconds(r.baud, s), r.bits); // as many characters as the speed's bits a second
        }
        for (const char *bad : {"", "abc", "9600", "9600,N,8", "0,N,8,2", "-5,N,8,2", "9600,X,8,2", "9600,N,9,2", "9600,N,4,2",
                                "9600,N,8,3", "96OO,N,8,2", "9600,N,8,2,1", "+9600,N,8,2", "99999999999,N,8,2", "9600,NN,8,2",
                                "9600,N,,2", "9600,N,8,"}) {
            const QString text = QString::fromLatin1(bad);
            const std::optional<Fault> fault = faultOf([&] { parseLineSettings(text); });
            QVERIFY2(fault && fault->code() == FaultCode::PortSettings, bad);
            QVERIFY2(fault->description().contains('"' + text + '"') && fault->description().contains("\"9600,N,8,2\""),
                     qPrintable(fault->description()));
        }
    }

    void bytesCrossUnchanged()
    {
        QByteArray every;
        for (int v = 0; v < 256; ++v)
            every.append(char(v));
        OpenLine open; // to the line, the downloads carry every value in their images
        QVERIFY(open.line.writeBytes(every));
        QVERIFY(pollUntil([&] { return open.port.bytesWaiting() == every.size(); }));
        QCOMPARE(open.port.readAllWaiting(), every);
    }

    void farEndSeesTheSettings()
    {
        // Refused (baud 0): termios has no 1.5 stop bits, and sending 1 would be a silent lie; a pty
        // cannot carry parity, which Qt refuses after the speed has changed, so the speed must go back.
        struct Row { const char *settings; bool whileOpen; int baud, stopBits; };
        const Row rows[] = {{"4800,N,8,2", false, 4800, 2}, {"38400,N,8,2", true, 38400, 2}, {"9600,N,8,1", false, 9600, 1},
                            {"115200,N,8,1", true, 115200, 1}, {"31250,N,8,2", false, 31250, 2}, {"250000,N,8,1", true, 250000, 1},
                            {"96OO,N,8,2", true, 0, 0}, {"4800,N,8,1.5", true, 0, 0}, {"4800,E,8,2", true, 0, 0},
                            {"4800,N,8,1.5", false, 0, 0}};
        for (const Row &r : rows) {
            // From something unlike the row, so a setting not applied shows. A pty keeps N and 8.
            const QString start = r.stopBits == 1 ? "1200,N,8,2" : "1200,N,8,1";
            OpenLine open(start);
            if (!r.whileOpen)
                open.port.close();
            const std::optional<Fault> fault = faultOf([&] {
                open.port.setSettings(r.settings);
                open.port.open();
            });
            const PseudoTerminal::Settings seen = open.line.readSettings();
            if (r.baud) {
                QVERIFY2(!fault && seen.baud == r.baud && seen.stopBits == r.stopBits, r.settings);
                QCOMPARE(open.port.settings(), QString(r.settings));
                continue;
            }
            QVERIFY2(fault && fault->code() == FaultCode::PortSettings, r.settings);
            const QString said = fault->description(); // names the port, unless the text itself is malformed
            QVERIFY2(said.contains(QString("\"%1\"").arg(r.settings))
                         && (QByteArray(r.settings) == "96OO,N,8,2" || said.contains(open.line.slavePath())), qPrintable(said));
            QVERIFY2(!QByteArray(r.settings).endsWith("1.5") || said.contains("1.5 stop bits"), qPrintable(said));
            QCOMPARE(open.port.isOpen(), r.whileOpen); // refused at open: it stays closed
            if (!r.whileOpen)
                continue;
            QVERIFY2(open.port.settings() == start && seen.baud == 1200 && seen.stopBits == 1, r.settings);
            open.port.write("after");
            QCOMPARE(open.line.readAtLeast(5, Patience), QByteArray("after"));
        }
    }

    void waitingBytesNeedNoEventLoop()
    {
        OpenLine open;
        QtSerialPort &port = open.port;
        QCOMPARE(port.bytesWaiting(), 0);
        QVERIFY(open.line.writeBytes("12345"));
        QVERIFY(pollUntil([&] { return port.bytesWaiting() >= 5; }));
        // Once Qt has taken them into its own buffer the count still holds them, and a
        // wait for input returns at once instead of sleeping on the empty kernel queue.
        QVERIFY(pollUntil([&] { return QCoreApplication::processEvents(), open.line.slaveQueued() == 0; }));
        const QDeadlineTimer soon(Patience / 2);
        port.waitForInput(Patience);
        QVERIFY(!soon.hasExpired());
        QVERIFY(open.line.writeBytes("678"));
        QVERIFY(pollUntil([&] { return port.bytesWaiting() >= 8; }));
        QCOMPARE(port.bytesWaiting(), 8);
        QCOMPARE(port.readAllWaiting(), QByteArray("12345678"));
        QVERIFY(open.line.writeBytes("old"));
        QVERIFY(pollUntil([&] { return port.bytesWaiting() == 3; }));
        port.discardInput();
        QCOMPARE(port.bytesWaiting(), 0);
        QVERIFY(open.line.writeBytes("new"));
        QVERIFY(pollUntil([&] { return port.bytesWaiting() == 3; }));
        QCOMPARE(port.readAllWaiting(), QByteArray("new"));
    }

    void portThatCannotBeOpenedIsNamed()
    {
        // One line, one user, whatever path leads to it (links as /dev/serial/by-id/... are); the refusal names the holder.
        PseudoTerminal line;
        QTemporaryDir links;
        const QString firstLink = links.filePath("first"), secondLink = links.filePath("second");
        QVERIFY(QFile::link(line.slavePath(), firstLink) && QFile::link(line.slavePath(), secondLink));
        QtSerialPort first;
        first.selectPort(firstLink);
        first.open();
        const QString holder = QString("in use by test_serialport, process %1").arg(QCoreApplication::applicationPid());
        const QList<QPair<QString, bool>> rows = {{"", false}, {"/dev/vantorel-no-such-device", false}, {line.slavePath(), true},
                                                  {secondLink, true}}; // the path, and whether it leads to the held line
        for (const auto &[path, held] : rows) {
            QtSerialPort port;
            port.selectPort(path);
            const std::optional<Fault> fault = faultOf([&] { port.open(); });
            QVERIFY2(fault && fault->code() == FaultCode::PortOpen && !port.isOpen(), qPrintable(path));
            const QString said = fault->description();
            QVERIFY2(said.contains(path.isEmpty() ? "No serial port is chosen" : path) && said.contains(holder) == held, qPrintable(said));
        }
        // The refused second user of the line does not disturb the first.
        first.write("still");
        QCOMPARE(line.readAtLeast(5, Patience), QByteArray("still"));
    }

    void deniedPortSaysHowToGetAccess()
    {
        // Caller 54321, in group 4242 or not; owner 0 is root everywhere.
        struct Row { mode_t mode; uid_t owner; bool member; const char *says; }; // says empty: the permissions allow it
        const Row rows[] = {{0660, 0, false, "Only members of the group 4242 may use /dev/ttyUSB0, and this login is not one. "
                                             "Join it with\rsudo usermod -aG 4242 $USER\rthen log out and in again"},
                            {0660, 0, true, ""}, {0666, 0, false, ""}, {0600, 54321, false, ""},
                            {0606, 0, true, "Its permissions (mode 0606, owner root, group 4242) do not let this user (54321)"},
                            {0060, 54321, true, "Its permissions (mode 0060, owner 54321, group 4242)"}};
        for (const Row &r : rows) {
            struct stat st{};
            st.st_mode = S_IFCHR | r.mode, st.st_uid = r.owner, st.st_gid = 4242;
            const QString said = permissionAdvice("/dev/ttyUSB0", st, 54321, r.member ? QList<gid_t>{4242} : QList<gid_t>{100});
            QVERIFY2(QString(r.says).isEmpty() ? said.isEmpty() : said.startsWith(r.says) && said.contains("usermod -aG"), qPrintable(said));
        }
        // The real refusal, with root's power over permissions laid down for it.
        PseudoTerminal line;
        const QByteArray path = QFile::encodeName(line.slavePath());
        __user_cap_header_struct head{_LINUX_CAPABILITY_VERSION_3, 0};
        __user_cap_data_struct saved[2]{}, less[2]{};
        const bool root = ::geteuid() == 0 && ::syscall(SYS_capget, &head, saved) == 0;
        less[0] = saved[0], less[1] = saved[1];
        less[0].effective &= ~((1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH));
        QVERIFY(::chmod(path.constData(), 0060) == 0 && (!root || (::chown(path.constData(), 54321, 4242) == 0 && ::syscall(SYS_capset, &head, less) == 0)));
        QtSerialPort port;
        port.selectPort(line.slavePath());
        const std::optional<Fault> fault = faultOf([&] { port.open(); });
        QVERIFY(!root || ::syscall(SYS_capset, &head, saved) == 0);
        QVERIFY(fault && fault->code() == FaultCode::PortOpen);
        QVERIFY2(fault->description().contains(line.slavePath() + " cannot be opened: permission denied. ")
                     && fault->description().contains(root ? "usermod -aG 4242 $USER" : "usermod -aG"), qPrintable(fault->description()));
    }

    void lostLineIsReportedOnce()
    {
        const QList<QPair<const char *, std::function<void(QtSerialPort &)>>> uses = {
            {"write", [](QtSerialPort &p) { p.write("x"); }},
            {"read", [](QtSerialPort &p) { p.readAllWaiting(); }},
            {"bytes waiting", [](QtSerialPort &p) { p.bytesWaiting(); }},
            // Waiting does not sleep through the loss; the count after it reports it.
            {"wait, then count", [](QtSerialPort &p) { p.waitForInput(Patience), p.bytesWaiting(); }},
            {"discard input", [](QtSerialPort &p) { p.discardInput(); }},
            // Qt's read notifier sees the dead line: the port must close rather than let the error repeat.
            {"event loop", [](QtSerialPort &p) {
                 pollUntil([&] { return QCoreApplication::processEvents(), !p.isOpen(); });
                 p.bytesWaiting();
             }},
        };
        for (const auto &[how, use] : uses) {
            OpenLine open;
            open.port.write("before");
            QCOMPARE(open.line.readAtLeast(6, Patience), QByteArray("before"));
            open.line.close(); // the adapter is unplugged

            const QDeadlineTimer bound(Patience);
            const std::optional<Fault> lost = faultOf([&] { use(open.port); });
            QVERIFY2(!bound.hasExpired(), how); // a lost line must not hold the caller
            QVERIFY2(lost && lost->code() == FaultCode::PortLost && !open.port.isOpen(), how);
            QVERIFY2(lost->description().contains(open.line.slavePath()), qPrintable(lost->description()));
            // Told once; afterwards the port is merely closed.
            const std::optional<Fault> again = faultOf([&] { use(open.port); });
            QVERIFY2(again && again->code() == FaultCode::PortOpen, how);

            // Plugged in again it works, and output stuck when the line went does not reach the new one.
            PseudoTerminal next;
            open.port.selectPort(next.slavePath());
            open.port.open();
            open.port.write("after");
            QCOMPARE(next.readAtLeast(5, Patience), QByteArray("after"));
        }
    }
};

QTEST_GUILESS_MAIN(TestSerialPort)
#include "test_serialport.moc"
