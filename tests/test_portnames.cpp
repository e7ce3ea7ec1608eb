// What a Com Port text opens, with and without Ports.ini; the Com Port list; the number a chosen device gets.
#include "platform/fault.h"
#include "platform/portinfo.h"
#include "platform/portnames.h"
#include "platform/qtdesk.h"
#include "support/fakeports.h"
#include "support/hexbuilder.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

using namespace vantorel;

namespace {

// A program folder with Ports.ini holding 'ini' (none when empty).
struct Folder {
    explicit Folder(const QByteArray &ini) { QVERIFY(dir.isValid() && (ini.isEmpty() || writeFile(file(), ini))); }
    QString file() const { return dir.filePath(QStringLiteral("Ports.ini")); }
    QString path() const { return dir.path() + QLatin1Char('/'); } // handed over with its separator
    QTemporaryDir dir;
};

} // namespace

class TestPortNames : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { if (QSysInfo::productType() == "windows") QSKIP("COM names are the system's own on Windows"); }

    void resolves()
    {
        struct Row { const char *text, *ini, *device; }; // device empty: refused
        const Row rows[] = {
            {"COM 3", "", "/dev/ttyS2"}, {"COM 1", "", "/dev/ttyS0"}, {"COM 99", "", "/dev/ttyS98"}, {"com3", "", "/dev/ttyS2"},
            {" 3 ", "3=/dev/ttyUSB0\n", "/dev/ttyUSB0"}, {"COM 3", "1=/dev/ttyUSB0\n13=/dev/ttyUSB1\n30=x\n", "/dev/ttyS2"},
            {"COM 3", "; b\r\n# a\r\n\r\n[Ports]\r\n 1 = /dev/ttyACM0\r\n 3 = /dev/ttyUSB1 \r\n", "/dev/ttyUSB1"},
            {"COM 3", ";3=/dev/ttyUSB0\n#3=/dev/ttyUSB1\n[Other]\n3=/dev/ttyUSB9\n[Ports]\n4=x\n", "/dev/ttyS2"},
            {"COM 4", "[Other]\n4=/dev/ttyUSB9\n[ports]\n4=y\n", "/dev/y"},
            {"COM 3", "3=ttyACM0\n3=/dev/ttyUSB1\n", "/dev/ttyACM0"}, {"COM 3", "3=\n3=\"/dev/ttyUSB2\"\n", "/dev/ttyUSB2"},
            {"/dev/pts/7", "7=/dev/ttyUSB0\n", "/dev/pts/7"},
            {"COM 100", "", ""}, {"", "", ""}, {"COM x", "", ""}, {"0", "", ""}, {"COM 0", "", ""}, {"100", "", ""},
            {"COM", "", ""}, {"COM -1", "", ""}, {"COM +3", "", ""}, {"ttyUSB0", "", ""}, {"COM 3x", "3=/dev/ttyUSB0\n", ""},
        };
        for (const Row &r : rows) {
            const Folder folder(r.ini);
            const QString text = QString::fromLatin1(r.text), device = QString::fromLatin1(r.device);
            QString got;
            try {
                got = resolvePortName(text, folder.path());
            } catch (const Fault &fault) {
                got = fault.code() == FaultCode::PortOpen ? fault.description() : QString();
            }
            QCOMPARE(got, device.isEmpty() ? (text.isEmpty() ? QString("The Com Port box is empty") : QString("The Com Port box holds \"%1\", which names no port").arg(text))
                                                 + ": choose COM 1 to COM 99 in the Com Port list or type a device path such as /dev/ttyUSB0, then start again." : device);
            // The failure box says where a COM item leads, and whether Ports.ini sent it there.
            const QString origin = portOrigin(text, folder.path());
            QVERIFY2(device.isEmpty() || text.startsWith('/') ? origin.isEmpty()
                     : origin.contains(" is " + device) && origin.contains("Ports.ini maps") == !device.contains("ttyS"),
                     qPrintable(text + ": " + origin));
        }
        // A pipe in Ports.ini's place maps nothing and is never waited on; opening a COM item through it says why.
        const Folder piped("");
        QVERIFY(::mkfifo(QFile::encodeName(piped.file()).constData(), 0600) == 0 && portMappings(piped.path()).isEmpty());
        QCOMPARE(resolvePortName("/dev/pts/7", piped.path()), QString("/dev/pts/7"));
        try {
            resolvePortName("COM 3", piped.path());
            QFAIL("opened through a pipe");
        } catch (const Fault &fault) {
            QVERIFY2(fault.code() == FaultCode::FileAccess && fault.description().contains("Ports.ini is a pipe, not a regular file"),
                     qPrintable(fault.description()));
        }
        // The file dialogs take their patterns from the parentheses.
        QCOMPARE(qtFileFilter("Hexadecimal Files (*.hex)|*.hex|Logs|*.txt; ;*.log"), QString("Hexadecimal Files (*.hex);;Logs (*.txt *.log)"));
        QCOMPARE(presentDevicesText({}), QString("The system lists no serial device now: plug in the adapter, then open the Com Port list again."));
    }

    // The Com Port list, then the user chooses /dev/ttyUSB0 from it.
    void listsAndMapsPresentDevices()
    {
        struct Row { QByteArray ini; QStringList present, listed; int number; QByteArray after; }; // number 0: refused
        QByteArray full;
        for (int n = 1; n <= 99; ++n)
            full += QByteArray::number(n) + "=/dev/ttyACM" + QByteArray::number(n) + '\n';
        const QStringList usbAndS0 = {"/dev/ttyUSB0|FT232R USB UART", "/dev/ttyS0|"};
        const Row rows[] = {
            {"", usbAndS0, {"COM 1 = /dev/ttyS0", "/dev/ttyUSB0 = /dev/ttyUSB0, FT232R USB UART"}, 2, "2=/dev/ttyUSB0\n"},
            {"3=/dev/ttyUSB0\n", usbAndS0, {"COM 1 = /dev/ttyS0", "COM 3 = /dev/ttyUSB0, FT232R USB UART"}, 3, "3=/dev/ttyUSB0\n"},
            // A mapping hides the default device, which is then listed after the COM items.
            {"1=/dev/ttyUSB0\n", usbAndS0, {"COM 1 = /dev/ttyUSB0, FT232R USB UART", "/dev/ttyS0 = /dev/ttyS0"}, 1, "1=/dev/ttyUSB0\n"},
            {"[Other]\nx=1\n", {"/dev/ttyUSB0|"}, {"/dev/ttyUSB0 = /dev/ttyUSB0"}, 1, "1=/dev/ttyUSB0\n[Other]\nx=1\n"},
            {"; bench\r\n[Ports]\r\n1=/dev/ttyACM0\r\n[Other]\r\n2=x\r\n", {}, {}, 2,
             "; bench\r\n[Ports]\r\n2=/dev/ttyUSB0\r\n1=/dev/ttyACM0\r\n[Other]\r\n2=x\r\n"},
            {"1=/dev/ttyACM0", {"/dev/ttyACM0|"}, {"COM 1 = /dev/ttyACM0"}, 2, "1=/dev/ttyACM0\n2=/dev/ttyUSB0\n"},
            {full, {}, {}, 0, full},
        };
        for (const Row &r : rows) {
            const Folder folder(r.ini);
            const QList<PortItem> items = portItems(FakePorts(r.present), folder.path());
            QStringList listed;
            for (const PortItem &it : items) {
                if (it.present)
                    listed << it.text + " = " + it.deviceText();
            }
            QCOMPARE(listed, r.listed);
            QCOMPARE(items.size(), 99 + listed.size() - listed.filter("COM ").size());
            QVERIFY(items[98].text == "COM 99" && items[98].number == 99);
            int number = 0;
            try {
                number = mapDevice("/dev/ttyUSB0", FakePorts(r.present).devices(), folder.path());
                QCOMPARE(resolvePortName(QString("COM %1").arg(number), folder.path()), QString("/dev/ttyUSB0"));
            } catch (const Fault &fault) {
                QCOMPARE(fault.code(), FaultCode::PortOpen);
            }
            QCOMPARE(number, r.number);
            QFile ini(folder.file());
            QVERIFY(ini.open(QIODevice::ReadOnly));
            QCOMPARE(ini.readAll(), r.after);
        }
    }
};

QTEST_GUILESS_MAIN(TestPortNames)
#include "test_portnames.moc"
