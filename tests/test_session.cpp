#include "app/config.h"
#include "platform/fault.h"
#include "platform/clock.h"
#include "platform/desk.h"
#include "session/session.h"
#include "support/hexbuilder.h"
#include "support/nullport.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

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
};
} // namespace

class TestSession : public QObject {
    Q_OBJECT

private slots:
    void startUpWithoutFiles()
    {
        QTemporaryDir home;
        Bench b;
        b.session.startUp(home.path());
        QCOMPARE(b.m.AppDir, home.path() + "/");
        QCOMPARE(b.m.BootSettings, QString("9600,N,8,2"));
        QCOMPARE(b.m.title, QString(" Vantorel version ") + QString(VANTOREL_VERSION));
        QCOMPARE(b.m.ComPort.items().size(), 99);
        QCOMPARE(b.m.ComPort.items().first(), QString("COM 1"));
        QCOMPARE(b.m.ComPort.items().last(), QString("COM 99"));
        QVERIFY(b.m.Check1.ticked());
        QVERIFY(!b.m.FastAnswers.ticked());
        QVERIFY(b.desk.boxes.isEmpty());
        for (Control *c : {&b.m.Auto, &b.m.ComInfo, &b.m.ComBoot, &b.m.ComLoad, &b.m.ComLoad00})
            QVERIFY(!c->enabled());
        QVERIFY(!b.m.ChkProto.visible() && !b.m.Cmd3to4.visible() && !b.m.Cmd4to3.visible());
        QVERIFY(!b.port.isOpen() && b.port.opens == 0);
        QVERIFY(QFile::exists(home.filePath("Log.txt")));
    }

    void startUpEmptiesTheLogAndReadsBootIni()
    {
        QTemporaryDir home;
        QVERIFY(writeFile(home.filePath("Log.txt"), "last run\r\n"));
        QVERIFY(writeFile(home.filePath("boot.INI"), "19200\r\n"));
        Bench b;
        b.session.startUp(home.path());
        QCOMPARE(b.m.BootSettings, QString("19200,N,8,2"));
        QCOMPARE(readAll(home.filePath("Log.txt")), QByteArray());
        b.session.context().log.write("Message : $73  - Checking Flash");
        b.session.context().log.write("4001017324 6904");
        // Flushed line by line: visible before the log is closed.
        QCOMPARE(readAll(home.filePath("Log.txt")), QByteArray("Message : $73  - Checking Flash\r\n4001017324 6904\r\n"));
    }

    void check1IsTickedAtEveryStartAndSaveFollowsIt()
    {
        QTemporaryDir home;
        {
            Bench b;
            b.session.startUp(home.path());
            b.m.Protocol.setText("3");
            b.m.C[2].setValue(1);
            b.m.FastAnswers.setValue(1);
            QVERIFY(b.session.shutDown());
        }
        {
            Bench b;
            b.session.startUp(home.path());
            QCOMPARE(b.m.Protocol.text(), QString("3"));
            QVERIFY(b.m.ComInfo.enabled());
            QCOMPARE(b.m.selectedControllers(), QList<int>({2}));
            // Vantorel.ini keeps it; Flash.cfg keeps its 40 lines.
            QVERIFY(b.m.FastAnswers.ticked());
            QCOMPARE(readAll(home.filePath("Flash.cfg")).count("\r\n"), 40);
            b.m.Check1.setValue(0);
            b.m.Protocol.setText("7");
            b.m.FastAnswers.setValue(0);
            QVERIFY(b.session.shutDown());
        }
        {
            Bench b;
            b.session.startUp(home.path());
            QVERIFY(b.m.Check1.ticked());
            QCOMPARE(b.m.Protocol.text(), QString("3")); // closing with Check1 cleared saved nothing
            QVERIFY(b.m.FastAnswers.ticked());
        }
    }

    void unwritableFolderStillStarts()
    {
        QTemporaryDir home;
        // A directory where the log file should be: it cannot be created, whatever the rights.
        QVERIFY(QDir(home.path()).mkdir("Log.txt"));
        Bench b;
        b.session.startUp(home.path());
        QVERIFY(!b.session.context().log.kept());
        QCOMPARE(b.desk.boxes.size(), 1);
        QVERIFY(b.desk.boxes[0].text.contains("without a traffic log"));
        b.session.context().log.write("nothing happens");
        QCOMPARE(b.desk.boxes.size(), 1); // said once
        b.m.Protocol.setText("3");
        QVERIFY(b.session.shutDown());
    }

    void protocolReaction_data()
    {
        QTest::addColumn<QString>("protocol");
        QTest::addColumn<QString>("checksum");
        QTest::addColumn<bool>("queries");
        QTest::addColumn<bool>("downloads");
        QTest::newRow("typed, no file") << "3" << "" << true << false;
        QTest::newRow("typed, file read") << "3" << "1C7F" << true << true;
        QTest::newRow("deleted") << "" << "1C7F" << false << false;
        QTest::newRow("not a number still enables") << "x" << "1C7F" << true << true;
    }
    void protocolReaction()
    {
        QFETCH(QString, protocol);
        QFETCH(QString, checksum);
        QFETCH(bool, queries);
        QFETCH(bool, downloads);
        MainState m;
        m.FileCheksum.setText(checksum);
        m.Protocol.setText("9"); // start from a filled box, so that every row is a change
        m.Protocol.setText(protocol);
        QCOMPARE(m.Auto.enabled(), queries);
        QCOMPARE(m.ComInfo.enabled(), queries);
        QCOMPARE(m.ComBoot.enabled(), queries);
        QCOMPARE(m.ComLoad.enabled(), downloads);
        QCOMPARE(m.ComLoad00.enabled(), downloads);
    }

    void checkBoxReactions()
    {
        MainState m;
        m.QRV3.setValue(1);
        QVERIFY(m.Cmd3to4.visible() && m.Cmd4to3.visible());
        m.QRV3.setValue(0);
        QVERIFY(!m.Cmd3to4.visible() && !m.Cmd4to3.visible());
        m.ChkProto.setValue(1);
        QVERIFY(m.SameProtocol);
        m.ChkProto.setValue(0);
        QVERIFY(!m.SameProtocol);
        m.revealSameProtocol();
        QVERIFY(m.ChkProto.visible());
        m.selectAll();
        QCOMPARE(m.selectedControllers().size(), 32);
        m.selectNone();
        QVERIFY(m.selectedControllers().isEmpty());
    }

    void protocolCharacter()
    {
        QCOMPARE(protocolCharFromText("3"), QByteArray(1, '\x04'));
        QCOMPARE(protocolCharFromText("63"), QByteArray("@"));
        QCOMPARE(protocolCharFromText("2.6"), QByteArray(1, '\x04'));
        for (const char *bad : {"", "abc", "255", "-2"}) {
            try {
                protocolCharFromText(bad);
                QFAIL(bad);
            } catch (const Fault &f) {
                QCOMPARE(f.code(), FaultCode::InvalidArgument);
            }
        }
    }

    void fileSelection()
    {
        QTemporaryDir home;
        const QString good = home.filePath("good.hex");
        QVERIFY(writeFile(good, hexRecord(0x2020, QByteArray::fromHex("18004002")) + "\r\n:0300000002ABCD83\r\n"));
        const QString bad = home.filePath("bad.hex");
        QVERIFY(writeFile(bad, ":03000000zz\r\n"));
        Bench b;
        b.session.startUp(home.path());

        // No protocol: the checksum shows, the downloads stay disabled.
        b.session.dropFile(good);
        QVERIFY(!b.m.FileCheksum.text().isEmpty());
        QVERIFY(!b.m.ComLoad.enabled());
        QCOMPARE(b.m.FileName.toolTip(), QString("QRVB Baud Rate Fix 9600  [40 1]"));
        QCOMPARE(b.desk.busyCount, 0);

        b.m.Protocol.setText("3");
        QVERIFY(b.m.ComLoad.enabled() && b.m.ComLoad00.enabled());

        // Cancelled dialog: nothing changes.
        const QString shownBefore = b.m.FileCheksum.text();
        b.session.browse();
        QCOMPARE(b.desk.dialogsShown, QStringList({"Select a Hex file|Hexadecimal Files (*.hex)|*.hex"}));
        QCOMPARE(b.m.FileName.text(), good);
        QCOMPARE(b.m.FileCheksum.text(), shownBefore);

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

        // Missing file.
        b.session.dropFile(home.filePath("absent.hex"));
        QCOMPARE(b.desk.boxes.size(), 2);
        QCOMPARE(b.desk.boxes[1].text, QString("File not Found!"));
        QCOMPARE(b.m.FileName.toolTip(), QString("   [ 0]"));

        // Cleared name disables the downloads even with a protocol.
        b.session.dropFile(QString());
        QVERIFY(!b.m.ComLoad.enabled() && !b.m.ComLoad00.enabled());
        QVERIFY(b.m.FileCheksum.text().isEmpty());
        QVERIFY(b.m.FileName.toolTip().isEmpty());
    }

    void shortChecksumIsNotPadded()
    {
        QTemporaryDir home;
        // 57342 data bytes: V = S. Ten bytes 0xFF and one 0xC6 make S = 0xABC.
        QByteArray data(57342, '\0');
        for (int i = 0; i < 10; ++i)
            data[i] = '\xFF';
        data[10] = '\xC6';
        const QString path = home.filePath("small.hex");
        QVERIFY(writeFile(path, hexImage(0, data, 32)));
        Bench b;
        b.session.startUp(home.path());
        b.session.dropFile(path);
        QCOMPARE(b.m.FileCheksum.text(), QString("ABC"));
    }
};

QTEST_GUILESS_MAIN(TestSession)
#include "test_session.moc"
