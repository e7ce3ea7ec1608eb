// A download must never erase a controller it cannot then program: every bad
// file, bad setting or unusable port is refused before the first erase, in
// the window and on the command line alike, and a run programs the bytes it
// checked whatever happens to the file on disk.
#include "state/config.h"
#include "support/hexbuilder.h"
#include "support/linebench.h"

#include <QDir>
#include <QProcess>
#include <QTest>

#include <functional>
#include <stdexcept>

using namespace vantorel;

namespace {

constexpr int Patience = 120000;

QByteArray pattern(int size, int seed = 0)
{
    QByteArray b(size, '\0');
    for (int i = 0; i < size; ++i)
        b[i] = char((i * 7 + seed) & 0xFF);
    return b;
}

// 512 bytes of code, their sum differing by seed.
QByteArray code(int seed)
{
    QByteArray c = pattern(512, seed);
    c[0] = char(seed * 3);
    return c;
}

// The code and a configuration record (programmable speed, protocol byte 04).
QByteArray goodImage(int seed = 0)
{
    return hexImage(0x0000, code(seed), 16, "\r\n", false) + hexRecord(0x2020, QByteArray::fromHex("70000402"))
        + "\r\n:00000001FF\r\n";
}

struct CliRun {
    int exitCode = -1;
    QString err;
};

CliRun runCli(const QStringList &args)
{
    QProcess p;
    p.start(QStringLiteral(VANTOREL_CLI), args);
    CliRun r;
    if (!p.waitForFinished(Patience)) {
        p.kill();
        p.waitForFinished(Patience);
        return r;
    }
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -2;
    r.err = QString::fromLocal8Bit(p.readAllStandardError());
    return r;
}

struct Refusal {
    const char *name;
    QByteArray image;                          // the file downloaded
    std::function<void(LineBench &)> setting;  // a bad setting in the window
    QStringList cliArgs;                       // the same on the command line
    const char *says;                          // in the box and on standard error
    int cliExit;
    bool parallelOnly = false;
};

} // namespace

class TestSafety : public QObject {
    Q_OBJECT

private slots:
    void badInputIsRefusedBeforeTheFirstErase()
    {
        const QByteArray end = ":00000001FF\r\n";
        auto noSetting = [](LineBench &) {};
        const QList<Refusal> rows = {
            {"empty image", end, noSetting, {}, "no data to program", 2},
            {"unreadable", ":03000000020bcd83\r\n" + end, noSetting, {}, "not an upper-case hex number", 2},
            {"57343 bytes", hexImage(0, pattern(57343), 16), noSetting, {}, "to DFFE, more than the 57342 bytes of the flash", 2},
            {"64 KiB", hexImage(0, pattern(65536), 32), noSetting, {}, "to FFFF, more than the 57342 bytes of the flash", 2},
            {"record past FFFF", hexRecord(0xFFF8, pattern(16)) + "\r\n" + end, noSetting, {}, "beyond address FFFF", 2},
            {"batch of 300", hexRecord(0, pattern(100)) + "\r\n" + hexRecord(100, pattern(200)) + "\r\n" + end,
             noSetting, {}, "batch of 300 bytes", 2},
            {"record of 250", hexRecord(0, pattern(250)) + "\r\n" + end, noSetting, {}, "batch of 250 bytes", 2},
            {"extended address", ":020000040000FA\r\n" + goodImage(), noSetting, {}, "record type 04", 2},
            {"data after the end", goodImage() + hexRecord(0x3000, pattern(4)) + "\r\n", noSetting, {},
             "after the end-of-file record", 2},
            {"overlap", hexRecord(0x100, pattern(16)) + "\r\n" + hexRecord(0x108, pattern(16)) + "\r\n" + end,
             noSetting, {}, "overlaps", 2},
            {"empty delay", goodImage(), [](LineBench &b) { b.m().Text2.setText(""); }, {"--delay", ""},
             "Parallel Waiting Delay", 2, true},
            {"time-out 3OO", goodImage(), [](LineBench &b) { b.m().Text1.setText("3OO"); }, {"--timeout", "3OO"},
             "Time Out", 2},
            {"speed 96OO", goodImage(), [](LineBench &b) { b.m().Vitesse.setText("96OO"); }, {"--speed", "96OO"},
             "Speed", 2},
            {"protocol x", goodImage(), [](LineBench &b) { b.m().Protocol.setText("x"); }, {"--protocol", "x"},
             "Protocol", 2},
            {"garbage Boot.ini", goodImage(),
             [](LineBench &b) {
                 writeFile(b.home.filePath("Boot.ini"), "fast\r\n");
                 b.m().BootSettings = bootSettings(b.home.path());
             },
             {}, "Boot.ini", 2},
            {"no port", goodImage(), [](LineBench &b) { b.m().ComPort.setText("/dev/vantorel-absent"); },
             {"--port", "/dev/vantorel-absent"}, "cannot be opened", 3},
        };
        for (const Refusal &row : rows) {
            for (const auto operation : {Session::Operation::DownloadSerial, Session::Operation::DownloadParallel}) {
                if (row.parallelOnly && operation == Session::Operation::DownloadSerial)
                    continue;
                const bool parallel = operation == Session::Operation::DownloadParallel;
                const QByteArray what = QByteArray(row.name) + (parallel ? " (parallel)" : " (serial)");
                LineBench b(lineOf({controller(1), controller(2)}));
                b.select({1, 2});
                // A good file first: the buttons it enabled must not outlive a bad one.
                b.useImage(goodImage(7), "earlier.hex");
                QVERIFY2(b.m().ComLoad00.enabled(), what);
                const QString path = b.useImage(row.image);
                row.setting(b);
                const bool badFile = row.cliArgs.isEmpty() && QByteArray(row.says) != "Boot.ini";
                if (badFile) {
                    QVERIFY2(!b.m().ComLoad00.enabled() && !b.m().ComLoad.enabled(), what);
                    QVERIFY2(b.m().FileCheksum.text().isEmpty() || b.m().FileProblem.text().contains(row.says), what);
                    b.m().Protocol.setText("4"); // the Protocol box's reaction must not enable them either
                    b.m().Protocol.setText("3");
                    QVERIFY2(!b.m().ComLoad00.enabled() && !b.m().ComLoad.enabled(), what);
                }
                b.desk.boxes.clear();
                b.session->run(operation);
                QVERIFY2(b.ctx().lastRun.refused, what);
                QCOMPARE(b.desk.boxes.size(), 1);
                QVERIFY2(b.desk.boxes[0].text.contains(row.says), qPrintable(what + ": " + b.desk.boxes[0].text));
                QVERIFY2(!b.port.isOpen() && !b.ctx().message.exists(), what);

                QVERIFY2(b.line->frames().empty(), what);
                // The command line shares the rules: once per row is enough.
                if (!parallel)
                    continue;
                QStringList args = {parallel ? "download-parallel" : "download-serial", "--dir", b.home.path(),
                                    "--port", b.line->slavePath(), "--file", path, "--controllers", "1,2",
                                    "--protocol", "3", "--timeout", "1000", "--speed", "9600", "--delay", "5"};
                args += row.cliArgs; // later options win
                const CliRun cli = runCli(args);
                QVERIFY2(cli.exitCode == row.cliExit, qPrintable(what + ": exit " + QString::number(cli.exitCode) + "\n" + cli.err));
                QVERIFY2(cli.err.contains(row.says), qPrintable(what + ": " + cli.err));
                QVERIFY2(b.line->frames().empty(), what);
            }
        }
    }

    void theRunProgramsTheBytesItChecked()
    {
        LineBench b(lineOf({controller(1), controller(2)}));
        b.select({1, 2});
        const QString path = b.useImage(goodImage(1));
        const QString shown = b.m().FileCheksum.text();

        // Changed between choice and run: refused, the user has not seen the new file.
        writeFile(path, goodImage(2));
        b.session->run(Session::Operation::DownloadSerial);
        QVERIFY(b.ctx().lastRun.refused);
        QVERIFY(b.desk.boxes.last().text.contains("changed on disk since it was chosen"));
        QVERIFY(b.line->frames().empty());

        // Choosing the same name again reads the new file.
        b.session->dropFile(path);
        QVERIFY(b.m().FileCheksum.text() != shown);
        const QString second = b.m().FileCheksum.text();

        // Rewritten, then deleted, while controller 1 is programmed: neither
        // controller sees anything but the checked image.
        int step = 0;
        b.desk.onProcessEvents = [&] {
            const QString label = b.ctx().message.Label1.text();
            if (step == 0 && label.startsWith("Controller 1 : Programming Batch 2")) {
                writeFile(path, goodImage(3));
                ++step;
            } else if (step == 1 && label.startsWith("Controller 1 : Checking Flash")) {
                QFile::remove(path);
                ++step;
            }
        };
        b.desk.boxes.clear();
        b.session->run(Session::Operation::DownloadSerial);
        QCOMPARE(step, 2);
        QVERIFY(b.desk.boxes.isEmpty());
        const QByteArray want = code(2);
        for (int n : {1, 2}) {
            QCOMPARE(b.line->flash(n).left(512), want);
            QCOMPARE(b.ctx().info.ckSumView(n).text, second);
        }
        QVERIFY(!b.ctx().message.exists() && !b.port.isOpen());

        // All and None between runs do, and never move the controller in hand.
        b.m().ControllerIndex = 5;
        b.session->selectAll();
        QVERIFY(b.m().selectedControllers().size() == 32 && b.m().C[31].value() == 1);
        QCOMPARE(b.m().ControllerIndex, qint16(5));
    }

    void aSaveThatFailsIsNotSuccess()
    {
        LineBench b(lineOf({controller(1)}));
        QVERIFY(QDir(b.home.path()).mkdir("Flash.cfg")); // cannot be replaced by a file
        const CliRun cli = runCli({"flash-info", "--dir", b.home.path(), "--port", b.line->slavePath(), "--controllers",
                                   "1", "--protocol", "3", "--speed", "9600", "--timeout", "1000", "--save"});
        QVERIFY2(cli.exitCode != 0 && cli.exitCode > 0, qPrintable(cli.err));
        QVERIFY(cli.err.contains("not saved"));
    }

    void noFileOrAnInternalFaultEndsInOneBox()
    {
        LineBench b(lineOf({controller(1)}));
        b.select({1});
        // No file chosen: no checksum to judge by, so nothing may be erased.
        b.session->run(Session::Operation::DownloadSerial);
        QVERIFY(b.ctx().lastRun.refused);
        QVERIFY(b.desk.boxes.last().text.contains("no HEX file is chosen"));
        QVERIFY(b.line->frames().empty());

        // A fault of the tool's own making mid-run: one box, port and progress window closed.
        b.desk.boxes.clear();
        b.desk.onProcessEvents = [] { throw std::out_of_range("row 32"); };
        b.session->run(Session::Operation::FlashInfo);
        QCOMPARE(b.desk.boxes.size(), 1);
        QVERIFY(b.desk.boxes[0].text.startsWith("Error #  51\rInternal error (row 32)"));
        QVERIFY(!b.port.isOpen() && !b.ctx().message.exists() && !b.session->busy());
        QCOMPARE(b.ctx().lastRun.faultNumber.value_or(0), 51);
        // The next run starts clean.
        b.desk.onProcessEvents = {};
        b.session->run(Session::Operation::FlashInfo);
        QVERIFY(!b.ctx().lastRun.faultNumber && b.ctx().info.verView(1).text == "01/00/00");
    }

    void aControllerLeftInItsBootProgramIsFoundAgain_data()
    {
        QTest::addColumn<int>("bootSpeed");
        QTest::addColumn<bool>("prot4Plus"); // the tool's frames carry the sum, which a boot program ignores
        QTest::newRow("boot speed outside the search") << 57600 << false;
        QTest::newRow("Prot 4+ ticked") << 9600 << true;
    }
    void aControllerLeftInItsBootProgramIsFoundAgain()
    {
        QFETCH(int, bootSpeed);
        QFETCH(bool, prot4Plus);
        sim::ControllerConfig c = controller(3);
        c.startInBoot = true;
        c.bootSpeed = bootSpeed;
        LineBench b(lineOf({c}));
        writeFile(b.home.filePath("Boot.ini"), QByteArray::number(bootSpeed) + "\r\n");
        b.m().BootSettings = bootSettings(b.home.path());
        b.m().Protocol4Plus.setValue(prot4Plus ? 1 : 0);
        b.select({3});
        b.useImage(goodImage(4));
        b.session->run(Session::Operation::DownloadSerial);
        QCOMPARE(b.line->flash(3).left(512), code(4));
        QCOMPARE(b.ctx().info.ckSumView(3).text, b.m().FileCheksum.text());
        QCOMPARE(b.line->snapshot().controller(3)->mode, sim::Mode::Firmware);
        QVERIFY(b.labels.contains(QString("Controller 3 : Erasing  (Speed : %1 Bds) ...").arg(bootSpeed)));
    }

    void answersNeverWholeAreAskedForTenTimes_data()
    {
        QTest::addColumn<Session::Operation>("operation");
        QTest::newRow("Flash Info") << Session::Operation::FlashInfo;
        QTest::newRow("Boot Info") << Session::Operation::BootInfo;
        QTest::newRow("serial download's check") << Session::Operation::DownloadSerial;
    }
    void answersNeverWholeAreAskedForTenTimes()
    {
        QFETCH(Session::Operation, operation);
        sim::ControllerConfig c = controller(2);
        c.faults.wrongLength = 1; // one byte too long, its check code right
        LineBench b(lineOf({c}));
        b.useImage(goodImage());
        b.select({2});
        b.session->run(operation);
        const QStringList log = b.log();
        QCOMPARE(log.count("Answer : 10 answers without version and checksum, no more asking at this speed"), 1);
        const int asks = int(log.count(operation == Session::Operation::BootInfo ? "Message Checking BOOT"
                                                                                   : "Message : $73  - Checking Flash"));
        QCOMPARE(asks, 10 + 3 * 2); // ten at its speed, then 0x04 and "@" once at each other speed
        QVERIFY(!b.session->busy() && !b.port.isOpen());
    }
};

QTEST_GUILESS_MAIN(TestSafety)
#include "test_safety.moc"
