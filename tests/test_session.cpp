#include "state/windowview.h"
#include "platform/clock.h"
#include "platform/desk.h"
#include "platform/fault.h"
#include "run/runcheck.h"
#include "session/session.h"
#include "state/config.h"
#include "state/context.h"
#include "support/hexbuilder.h"
#include "support/nullport.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>
#include <unistd.h>

using namespace vantorel;

namespace {
QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

struct Bench {
    NullSerialPort port;
    RecordingDesk desk;
    MonotonicClock clock;
    Session session{port, desk, clock};
    MainState &m = session.main();
    explicit Bench(const QString &home) { session.startUp(home); }
};
} // namespace

class TestSession : public QObject {
    Q_OBJECT

private slots:
    void startUpEmptiesTheLogAndLeavesThePortClosed()
    {
        QTemporaryDir home;
        QVERIFY(writeFile(home.filePath("Log.txt"), "last run\r\n") && writeFile(home.filePath("Log.old.txt"), "older\r\n"));
        QVERIFY(writeFile(home.filePath("boot.INI"), "19200\r\n"));
        Bench b(home.path());
        QCOMPARE(b.m.AppDir, home.path() + "/");
        QCOMPARE(b.m.BootSettings, QString("19200,N,8,2"));
        QVERIFY(b.desk.boxes.isEmpty());
        QVERIFY(!b.port.isOpen() && b.port.opens == 0);
        QCOMPARE(readAll(home.filePath("Log.txt")), QByteArray());
        QCOMPARE(readAll(home.filePath("Log.old.txt")), QByteArray("last run\r\n")); // kept, the older one replaced
        b.session.context().log.write("Message : $73  - Checking Flash");
        b.session.context().log.write("4001017324 6904");
        // Flushed line by line: on disk before the log is closed.
        QCOMPARE(readAll(home.filePath("Log.txt")), QByteArray("Message : $73  - Checking Flash\r\n4001017324 6904\r\n"));
        QCOMPARE(b.session.context().log.path(), home.path() + "/Log.txt"); // what the Log window follows
    }

    void pipesInPlaceOfFilesAreToldNeverWaitedOn()
    {
        QTemporaryDir home;
        for (const char *name : {"Flash.cfg", "Boot.ini", "fw.hex"})
            QVERIFY(::mkfifo(QFile::encodeName(home.filePath(name)).constData(), 0600) == 0);
        Bench b(home.path());
        // Flash.cfg is told at start-up; Boot.ini by the check of a download, the only thing that needs it.
        QVERIFY(b.desk.boxes.size() == 1 && b.desk.boxes[0].text.contains("Flash.cfg is a pipe, not a regular file"));
        QVERIFY2(b.m.BootIniProblem.contains("Boot.ini is a pipe, not a regular file"), qPrintable(b.m.BootIniProblem));
        b.m.Protocol.setText("3");
        b.session.dropFile(home.filePath("fw.hex"));
        const QString told = b.desk.boxes.last().text;
        QVERIFY2(b.desk.boxes.size() == 2 && b.desk.boxes.last().title == "Flash Error" && told.contains("fw.hex is a pipe")
                     && told.endsWith("\rPlease, Check your HEX file !") && b.m.FileCheksum.text().isEmpty() && !b.m.ComLoad00.enabled(),
                 qPrintable(told));
    }

    void settingsSurviveARestartWhenCheck1IsTicked()
    {
        QTemporaryDir home;
        const QString file = home.filePath("images/w.hex");
        QVERIFY(QDir(home.path()).mkpath("images") && writeFile(file, ":0300000002ABCD83\r\n:00000001FF\r\n"));
        {
            Bench b(home.path());
            b.m.Protocol.setText("3");
            b.m.C[2].setValue(1);
            b.m.FastAnswers.setValue(1);
            b.m.KnownSpeedsFirst.setValue(1);
            b.session.context().user.rememberSpeed("/dev/ttyUSB0", 3, 19200);
            b.session.context().user.rememberSpeed("/dev/serial/by-id/usb-FTDI-if00", 31, 4800);
            b.session.dropFile(file);
            QVERIFY(b.session.shutDown());
        }
        // Known speeds by device, then controller; with Check1 cleared they alone are saved.
        const auto speedsOf = [](Bench &b, int ctrl) {
            const UserSettings &u = b.session.context().user;
            return QList<int>{u.knownSpeed("/dev/ttyUSB0", ctrl), u.knownSpeed("/dev/serial/by-id/usb-FTDI-if00", ctrl)};
        };
        {
            Bench b(home.path());
            QCOMPARE(b.m.Protocol.text(), QString("3"));
            QCOMPARE(b.m.selectedControllers(), QList<int>({2}));
            QVERIFY(b.m.FastAnswers.ticked()); // kept in Vantorel.ini, beside Flash.cfg
            QVERIFY(b.m.KnownSpeedsFirst.ticked() && speedsOf(b, 3) == QList<int>({19200, 0}) && speedsOf(b, 31) == QList<int>({0, 4800}));
            b.session.context().user.rememberSpeed("/dev/ttyUSB0", 31, 38400);
            reopenLastHexFile(b.session.context());
            QCOMPARE(b.m.FileName.text(), file);
            QCOMPARE(b.m.FileCheksum.text(), QString("1C7F"));
            b.session.browse(); // cancelled: opened in the file's folder
            QCOMPARE(b.desk.foldersShown, QStringList{home.filePath("images")});
            b.m.Check1.setValue(0);
            b.m.Protocol.setText("7");
            b.m.FastAnswers.setValue(0);
            QVERIFY(b.session.shutDown());
        }
        QVERIFY(QFile::remove(file));
        Bench b(home.path());
        QVERIFY(b.m.Check1.ticked()); // whatever it was at the last exit
        QCOMPARE(b.m.Protocol.text(), QString("3")); // closing with Check1 cleared saved nothing
        QVERIFY(b.m.FastAnswers.ticked() && speedsOf(b, 31) == QList<int>({38400, 4800}));
        // The file is gone: not reopened, but Browse still starts in its folder.
        reopenLastHexFile(b.session.context());
        QVERIFY(b.m.FileName.text().isEmpty());
        b.session.browse();
        QCOMPARE(b.desk.foldersShown, QStringList{home.filePath("images")});
    }

    void unwritableFolderStillStarts()
    {
        // Where the log file should be, something that is no file: it is not written, whatever the rights.
        const QList<std::pair<QString, QString>> rows = {{"folder", "Log.txt is a folder, not a regular file"},
                                                         {"/dev/zero", "Log.txt is a device, not a regular file"},
                                                         {"/dev/null", "Log.txt is a device, not a regular file"}};
        for (const auto &[what, saying] : rows) {
            QTemporaryDir home;
            const QByteArray log = QFile::encodeName(home.filePath("Log.txt"));
            QVERIFY(what == "folder" ? QDir(home.path()).mkdir("Log.txt") : ::symlink(qPrintable(what), log.constData()) == 0);
            Bench b(home.path());
            QVERIFY(!b.session.context().log.kept());
            b.session.context().log.write("nothing happens");
            QCOMPARE(b.desk.boxes.size(), 1); // said once
            QVERIFY2(b.desk.boxes[0].text.contains(saying) && b.desk.boxes[0].text.endsWith("without a traffic log."),
                     qPrintable(b.desk.boxes[0].text));
            QVERIFY(b.session.shutDown());
        }
    }

    void oneRefusalNamesEverySettingToCorrect()
    {
        // A fresh folder leaves the boxes empty: one box names all of them, in the order they are checked.
        QTemporaryDir home;
        Bench b(home.path());
        b.session.run(Session::Operation::DownloadParallel);
        b.session.run(Session::Operation::FlashInfo);
        QCOMPARE(b.port.opens, 0);
        const QString box = b.desk.boxes.value(1).text;
        QVERIFY2(b.desk.boxes.size() == 2 && b.desk.boxes[0].text.contains("\r5 settings to correct") && box.startsWith("Error #  5\r4 settings to correct, nothing was sent:\r- the Time Out box holds \"\": ")
                     && box.contains(";\r- the Speed box holds \"\": choose one of 4800, 9600, 19200, 38400;\r- the Protocol box holds \"\"")
                     && box.endsWith(";\r- the Com Port box is empty: choose COM 1 to COM 99 in the Com Port list or type a device path such as /dev/ttyUSB0"),
                 qPrintable(box));
        struct Row { const char *timeOut, *delay, *speed, *protocol, *port; QStringList boxes; }; // boxes: what the refusal names
        // A waiting delay up to 32767 ms passes.
        const Row rows[] = {{"1000", "32767", "115200", "3", "", {}}, // an image's speed passes; the port alone is told on opening it
                            {"-5", "", "57600", "x", "COM x", {"Time Out", "Parallel Waiting Delay", "Protocol", "Com Port"}},
                            {"1000", "32768", "57601", "3", "/dev/ttyUSB0", {"Parallel Waiting Delay", "Speed"}},
                            {"1000", "10", "57601", "3", "COM 1", {"Speed"}}};
        for (const Row &r : rows) {
            b.m.Text1.setText(r.timeOut), b.m.Text2.setText(r.delay), b.m.Vitesse.setText(r.speed), b.m.Protocol.setText(r.protocol), b.m.ComPort.setText(r.port);
            QString said;
            try { checkSettings(settingsForm(b.session.context()), RunNeeds{true, true}); } catch (const Fault &f) { said = f.number() == 5 ? f.description() : "wrong number"; }
            QStringList named;
            for (auto it = QRegularExpression("[Tt]he ([\\w ]+?) box (holds|is empty)").globalMatch(said); it.hasNext();)
                named << it.next().captured(1);
            QVERIFY2(named == r.boxes && (r.boxes.size() != 1 || said == "The Speed box holds \"57601\": choose one of 4800, 9600, 19200, 38400"), qPrintable(said));
        }
        // An unreadable Boot.ini among them is named in its own words, not as the fault that carried them.
        QVERIFY(QDir(home.path()).mkdir("Boot.ini"));
        try { bootSettings(home.path()); QFAIL("read"); } catch (const Fault &f) { b.m.BootIniProblem = f.description(); }
        try { checkSettings(settingsForm(b.session.context()), RunNeeds{true, true}); QFAIL("passed"); } catch (const Fault &f) {
            QCOMPARE(f.description(), "2 settings to correct, nothing was sent:\r- the Speed box holds \"57601\": choose one of 4800, 9600, "
                                      "19200, 38400;\r- " + home.filePath("Boot.ini") + " is a folder, not a regular file: make it a plain "
                                      "text file holding only the boot line speed, for example 9600, or remove it for 9600");
        }
    }

    void protocolCharacter()
    {
        // The character the frames start with: the text's value plus one, rounded.
        QCOMPARE(protocolCharFromText("3") + protocolCharFromText("63") + protocolCharFromText("2.6")
                     + protocolCharFromText("254") + protocolCharFromText("-1"),
                 QByteArray("\x04@\x04\xFF\x00", 5));
        for (const char *bad : {"", "abc", "255", "-2"}) {
            try { protocolCharFromText(bad); QFAIL(bad); } catch (const Fault &f) { QVERIFY(f.number() == 5 && f.description().contains("from -1 to 254")); }
        }
    }

    void fileSelection()
    {
        QTemporaryDir home;
        const QString good = home.filePath("good.hex");
        QVERIFY(writeFile(good, hexRecord(0x2020, QByteArray::fromHex("18004002")) + "\r\n:0300000002ABCD83\r\n"));
        const QString bad = home.filePath("bad.hex");
        QVERIFY(writeFile(bad, ":03000000zz\r\n"));
        Bench b(home.path());

        // No protocol: the checksum shows, the downloads stay disabled.
        b.session.dropFile(good);
        QCOMPARE(b.m.FileCheksum.text() + " " + b.m.FileName.toolTip(), QString("18DD QRVB Baud Rate Fix 9600  [40 1]"));
        QVERIFY(!b.m.ComLoad.enabled());
        QCOMPARE(b.desk.busyCount, 0);
        b.m.Protocol.setText("3");
        QVERIFY(b.m.ComLoad.enabled() && b.m.ComLoad00.enabled());

        // Cancelled dialog: nothing changes.
        b.session.browse();
        QCOMPARE(b.desk.dialogsShown, QStringList({"Select a Hex file|Hexadecimal Files (*.hex)|*.hex"}));
        QCOMPARE(b.m.FileName.text() + " " + b.m.FileCheksum.text(), good + " 18DD");

        // Unreadable file: the box, an empty checksum, the downloads disabled.
        b.desk.fileAnswers << bad;
        b.session.browse();
        QCOMPARE(b.m.FileName.text(), bad);
        QVERIFY(b.m.FileCheksum.text().isEmpty());
        QCOMPARE(b.desk.boxes.size(), 1);
        QCOMPARE(b.desk.boxes[0].title, QString("Flash Error"));
        QVERIFY(b.desk.boxes[0].text.startsWith("Error #  5\r"));
        QVERIFY(b.desk.boxes[0].text.endsWith("\rPlease, Check your HEX file !"));
        QVERIFY(!b.m.ComLoad.enabled() && !b.m.ComLoad00.enabled());

        b.session.dropFile(home.filePath("absent.hex"));
        QCOMPARE(b.desk.boxes.size(), 2);
        QCOMPARE(b.desk.boxes[1].text, QString("File not Found!"));
        QCOMPARE(b.m.FileName.toolTip(), QString("   [ 0]"));

        // Cleared name: downloads disabled even with a protocol.
        b.session.dropFile(good);
        b.session.dropFile(QString());
        QVERIFY(!b.m.ComLoad.enabled() && !b.m.ComLoad00.enabled());
        QVERIFY(b.m.FileCheksum.text().isEmpty() && b.m.FileName.toolTip().isEmpty());

    }
};

QTEST_GUILESS_MAIN(TestSession)
#include "test_session.moc"
