// Downloads and protocol switches, end to end on the simulated line: the
// bytes that crossed it, what landed in each controller's flash, the result
// table and the log.
#include "image/hexfile.h"
#include "link/checkcode.h"
#include "link/frames.h"
#include "platform/fault.h"
#include "support/hexbuilder.h"
#include "support/linebench.h"
#include "support/shardedmain.h"

#include <QElapsedTimer>
#include <QTest>

using namespace vantorel;

namespace {

// 1 KiB of code in 16-byte records (8 batches of 128 bytes) and a
// configuration record at 2020 (its own batch).
QByteArray image(int d0 = 0x70, int protocolByte = 0x04, int type = 0x02, int size = 1024)
{
    QByteArray code(size, '\0');
    for (int i = 0; i < size; ++i)
        code[i] = char((i * 13 + 5) & 0xFF);
    return hexImage(0x0000, code, 16, "\r\n", false)
        + hexRecord(0x2020, QByteArray::fromHex(QByteArray::number(d0, 16).rightJustified(2, '0') + "00"
                                                 + QByteArray::number(protocolByte, 16).rightJustified(2, '0')
                                                 + QByteArray::number(type, 16).rightJustified(2, '0')))
        + "\r\n" + hexEndRecord() + "\r\n";
}

quint32 fileSum(const QString &path)
{
    ImageDescription d;
    return readHexChecksum(path, d).toUInt(nullptr, 16);
}

int countLines(const QStringList &log, const QString &line) { return int(log.count(line)); }

int broadcastFrames(const LineBench &b)
{
    int n = 0;
    for (const sim::FrameRecord &f : b.line->frames()) {
        if (f.bytes.size() > 2 && f.bytes[1] == char(kBroadcast))
            ++n;
    }
    return n;
}

} // namespace

class TestDownloads : public QObject {
    Q_OBJECT

private slots:
    void serialDownloadAtMixedSpeeds()
    {
        // Controller 2 listens to "@" only; 4 sits at 4800, 6 at 19200.
        LineBench b(lineOf({controller(2, 9600, '@'), controller(4, 4800), controller(6, 19200)}));
        const QString path = b.useImage(image());
        QCOMPARE(b.ctx().imageBatches, 9);
        b.select({2, 4, 6});
        b.session->run(Session::Operation::DownloadSerial);

        const sim::LineSnapshot s = b.line->snapshot();
        for (int n : {2, 4, 6}) {
            QCOMPARE(s.controller(n)->flashChecksum, fileSum(path));
            QCOMPARE(s.controller(n)->mode, sim::Mode::Firmware);
            QCOMPARE(b.ctx().info.ver(n).text, QString("01/00/00"));
            QCOMPARE(b.ctx().info.ckSum(n).text, b.m().FileCheksum.text());
            QVERIFY(!b.ctx().info.ver(n).marked() && !b.ctx().info.ckSum(n).marked());
            QVERIFY(b.log().contains(QString("******** PROGRAMMATION DU CTRL %1 **********").arg(n)));
        }
        const QStringList log = b.log();
        QCOMPARE(countLines(log, "Message : $75 - Sending full Checksum "), 3);
        QCOMPARE(countLines(log, "Message : $75 - Programmation Batch 9"), 3);
        QVERIFY(!log.contains("Message : $75 - Programmation Batch 10"));
        QVERIFY(b.desk.boxes.isEmpty());
        QVERIFY(!b.port.isOpen());
        QVERIFY(!b.ctx().message.exists());
        // Controller 2 needed "@": its erase went as 0x04 (three tries), then "@".
        QVERIFY(b.bytesSent().contains(eraseFrame(QByteArray(1, 0x04), 2, CheckKind::Crc).repeated(3)
                                       + eraseFrame("@", 2, CheckKind::Crc)));
    }

    void refusedBatchesEndAtTheFourthRefusal_data()
    {
        QTest::addColumn<QList<int>>("refusals"); // batch, times, batch, times...
        QTest::addColumn<bool>("programmed");
        QTest::newRow("two on batch 2, one on batch 5") << QList<int>{2, 2, 5, 1} << true;
        QTest::newRow("two on batch 2, two on batch 5") << QList<int>{2, 2, 5, 2} << false;
    }
    void refusedBatchesEndAtTheFourthRefusal()
    {
        QFETCH(QList<int>, refusals);
        QFETCH(bool, programmed);
        sim::ControllerConfig c = controller(1);
        for (int i = 0; i < refusals.size(); i += 2)
            c.faults.refuseBatches.push_back({refusals[i], refusals[i + 1]});
        LineBench b(lineOf({c}));
        const QString path = b.useImage(image());
        b.select({1});
        b.session->run(Session::Operation::DownloadSerial);
        const QStringList log = b.log();
        QCOMPARE(log.contains("Answer : Failure 3*E1"), !programmed);
        QCOMPARE(log.contains("Message : $75 - Sending full Checksum "), programmed);
        if (programmed) {
            QCOMPARE(b.line->snapshot().controller(1)->flashChecksum, fileSum(path));
            QCOMPARE(b.ctx().info.ckSum(1).text, b.m().FileCheksum.text());
        } else {
            // Left in its boot program: the check finds nobody; no verdict.
            QCOMPARE(b.line->snapshot().controller(1)->mode, sim::Mode::Boot);
            QCOMPARE(b.ctx().info.ver(1).text, QString("No"));
        }
    }

    void eraseFailingEverywhereEndsTheRun()
    {
        LineBench b(lineOf({controller(3)}));
        b.m().Text1.setText("300"); // controller 1 never answers: only the tries matter
        b.useImage(image());
        b.m().Vitesse.setText("19200");
        b.select({1, 3});
        b.session->run(Session::Operation::DownloadSerial);
        QCOMPARE(b.line->snapshot().controller(3)->framesHeard, 0);
        QVERIFY(!b.port.isOpen());
        // Speeds in order: 19200, then 4800, 9600, 38400; two characters, three tries each.
        QList<int> speeds;
        for (const auto &[speed, bytes] : sentWithSpeed(b))
            speeds << speed;
        QCOMPARE(speeds, QList<int>({19200, 4800, 9600, 38400}));
        QCOMPARE(b.bytesSent().size(), 4 * 2 * 3 * 10);
    }

    void checkFailingEverywhereGivesNoVerdictAndGoesOn()
    {
        sim::ControllerConfig mute = controller(1);
        mute.faults.stopAfterFrames = 1 + 9 + 1; // erase, nine batches, checksum; then deaf
        LineBench b(lineOf({mute, controller(2)}));
        const QString path = b.useImage(image());
        b.select({1, 2});
        b.session->run(Session::Operation::DownloadSerial);
        QCOMPARE(b.line->snapshot().controller(1)->flashChecksum, fileSum(path));
        QCOMPARE(b.ctx().info.ver(1).text, QString("No"));
        QVERIFY(b.ctx().info.ver(2).text == "01/00/00");
        QCOMPARE(b.line->snapshot().controller(2)->flashChecksum, fileSum(path));
    }

    void imageSettingsAreTakenOn()
    {
        // D0 = 0x38: 38400 fixed and Prot 4+; protocol byte 04. Controller 2
        // already runs such a firmware, so it understands the sum check code.
        sim::ControllerConfig runs = controller(2, 38400);
        runs.prot4Plus = true;
        LineBench b(lineOf({controller(1), runs}));
        b.useImage(image(0x38, 0x04, 0x04));
        QCOMPARE(b.m().FileName.toolTip(), QString("KB700 Baud Rate Fix 38400  [04 1]"));
        b.select({1, 2});
        b.session->run(Session::Operation::DownloadSerial);
        QCOMPARE(b.m().Vitesse.text(), QString("38400"));
        QCOMPARE(b.m().Protocol.text(), QString("3"));
        QVERIFY(b.m().Protocol4Plus.ticked());
        const sim::LineSnapshot s = b.line->snapshot();
        QCOMPARE(s.controller(1)->speed, 38400);
        QVERIFY(s.controller(1)->prot4Plus);
        QCOMPARE(b.ctx().info.ckSum(2).text, b.m().FileCheksum.text());
        // Controller 2's first erase frame went at 38400 with the sum check code.
        const QByteArray sumErase = eraseFrame(QByteArray(1, 0x04), 2, CheckKind::Sum);
        bool seen = false;
        for (const auto &[speed, bytes] : sentWithSpeed(b)) {
            if (bytes.contains(sumErase)) {
                QCOMPARE(speed, 38400);
                seen = true;
                break;
            }
        }
        QVERIFY(seen);
    }

    void parallelDownloadOfFive()
    {
        LineBench b(lineOf({controller(0), controller(3), controller(8), controller(17), controller(31)}));
        const QString path = b.useImage(image());
        b.select({0, 3, 8, 17, 31});
        b.session->run(Session::Operation::DownloadParallel);
        QCOMPARE(broadcastFrames(b), 9);
        const sim::LineSnapshot s = b.line->snapshot();
        for (int n : {0, 3, 8, 17, 31}) {
            QCOMPARE(s.controller(n)->flashChecksum, fileSum(path));
            QCOMPARE(b.ctx().info.ckSum(n).text, b.m().FileCheksum.text());
            QVERIFY(!b.ctx().info.ckSum(n).marked());
        }
        const QStringList log = b.log();
        QCOMPARE(countLines(log, "Programming 5F without answer"), 1);
        QCOMPARE(countLines(log, "Message : $75 Sending full checksum"), 5);
        QVERIFY(!b.port.isOpen());
        QVERIFY(!b.ctx().message.exists());
    }

    void parallelCancel_data()
    {
        QTest::addColumn<QString>("when");
        QTest::addColumn<int>("broadcasts");
        QTest::addColumn<bool>("checked");
        QTest::newRow("during erase") << "erase" << 0 << false;
        QTest::newRow("during programming") << "programming" << 3 << false;
        QTest::newRow("during check") << "check" << 9 << true;
    }
    void parallelCancel()
    {
        QFETCH(QString, when);
        QFETCH(int, broadcasts);
        QFETCH(bool, checked);
        LineBench b(lineOf({controller(1), controller(5)}));
        b.useImage(image());
        b.select({1, 5});
        b.desk.onProcessEvents = [&] {
            if (b.ctx().StopRequested)
                return;
            const QString label = b.ctx().message.Label1.text();
            if ((when == "erase" && label.startsWith("Controller 1 : Erasing "))
                || (when == "programming" && label.startsWith(" Programming Batch 4 "))
                || (when == "check" && label.startsWith("Controller 1 : Checking Flash")))
                b.ctx().message.cancel();
        };
        b.session->run(Session::Operation::DownloadParallel);
        QCOMPARE(broadcastFrames(b), broadcasts);
        QVERIFY(!b.port.isOpen());
        QCOMPARE(b.log().contains("Message : $75 Sending full checksum"), checked);
        if (when == "erase")
            QCOMPARE(b.line->snapshot().controller(5)->framesHeard, 0);
        if (when == "check")
            QVERIFY(!b.ctx().message.exists()); // the normal end closes it
    }

    void serialCancelDuringProgramming()
    {
        LineBench b(lineOf({controller(1), controller(2)}));
        b.useImage(image());
        b.select({1, 2});
        b.desk.onProcessEvents = [&] {
            if (!b.ctx().StopRequested && b.ctx().message.Label1.text().startsWith("Controller 1 : Programming Batch 3"))
                b.ctx().message.cancel();
        };
        b.session->run(Session::Operation::DownloadSerial);
        QVERIFY(!b.log().contains("Message : $73  - Checking Flash"));
        QCOMPARE(b.line->snapshot().controller(2)->framesHeard, 0);
        QVERIFY(!b.port.isOpen());
    }

    void lastBatchIsSentWhenTheFileEndsWhileGathering()
    {
        // No end record: the last records are gathered when the file ends.
        QByteArray code(200, '\x11');
        LineBench b(lineOf({controller(1)}));
        const QString path = b.useImage(hexImage(0x0100, code, 16, "\r\n", false));
        b.select({1});
        b.session->run(Session::Operation::DownloadSerial);
        QCOMPARE(b.line->snapshot().controller(1)->flashChecksum, fileSum(path));
        QCOMPARE(b.ctx().info.ckSum(1).text, b.m().FileCheksum.text());
    }

    void smallFileChecksumReachesTheControllerWhole()
    {
        // 54 KiB of mostly zero bytes: the full checksum has fewer than six
        // digits and must still arrive as its own value.
        QByteArray code(54 * 1024, '\0');
        code[100] = '\x12';
        LineBench b(lineOf({controller(1)}));
        const QString path = b.useImage(hexImage(0, code, 32));
        QVERIFY(fileSum(path) < 0x100000);
        b.select({1});
        b.m().Text2.setText("1");
        b.session->run(Session::Operation::DownloadParallel);
        QVERIFY(!b.log().contains("Answer : Failure 3*E1"));
        QCOMPARE(b.line->snapshot().controller(1)->mode, sim::Mode::Firmware);
        QCOMPARE(b.ctx().info.ckSum(1).text, b.m().FileCheksum.text().rightJustified(4, '0'));
    }

    void bothAnswerModesAgree_data()
    {
        QTest::addColumn<int>("which");
        QTest::newRow("serial: answers in pieces, a refused batch, @") << 0;
        QTest::newRow("parallel: a late answer") << 1;
        QTest::newRow("switch to protocol 4: 68 2F") << 2;
    }
    void bothAnswerModesAgree()
    {
        QFETCH(int, which);
        sim::ControllerConfig pieces = controller(2, 9600, '@');
        pieces.answerPieces = 3;
        pieces.pieceGapMs = 5;
        pieces.faults.refuseBatches = {{2, 1}};
        sim::ControllerConfig late = controller(3);
        late.answerDelayMs = 20;
        sim::ControllerConfig p3 = controller(5);
        p3.protocol = 3;
        struct Case {
            sim::LineConfig line;
            sim::LineOptions options;
            Session::Operation op;
            QList<int> selected;
            QString mustLog; // what the case is about happened
        };
        const Case cases[] = {
            {lineOf({pieces}), {}, Session::Operation::DownloadSerial, {2}, "Message : $75 - Sending full Checksum "},
            {lineOf({controller(1), late}), {}, Session::Operation::DownloadParallel, {1, 3},
             "Message : $75 Sending full checksum"},
            {lineOf({p3}), {}, Session::Operation::To4, {5}, "Recu en String : 682F"},
        };
        const Case &c = cases[which];
        const auto [written, fast] = runInBothModes(c.line, c.options, c.op, [&](LineBench &b) {
            b.useImage(image());
            b.m().QRV3.setValue(c.op == Session::Operation::To4 ? 1 : 0);
            b.select(c.selected);
            b.m().Text2.setText("200"); // a batch's line time at 9600: the line keeps up
        });
        QVERIFY(written.log.contains(c.mustLog));
        QCOMPARE(fast.sent, written.sent);
        QCOMPARE(fast.log, written.log);
        QCOMPARE(fast.table, written.table);
        QCOMPARE(fast.boxes, written.boxes);
    }

    void switchToProtocol4()
    {
        sim::ControllerConfig c[3] = {controller(1), controller(2), controller(3)};
        for (auto &x : c)
            x.protocol = 3;
        LineBench b(lineOf({c[0], c[1], c[2]}));
        b.m().QRV3.setValue(1);
        b.select({1, 2, 3});
        b.session->run(Session::Operation::To4);
        QCOMPARE(b.desk.boxes.size(), 3);
        for (const auto &box : b.desk.boxes)
            QCOMPARE(box.text, QString("send p4 OK!!!"));
        for (int n : {1, 2, 3})
            QCOMPARE(b.line->snapshot().controller(n)->protocol, 4);
        QVERIFY(b.bytesSent().startsWith("@1p400:4/"));
        QVERIFY(!b.ctx().info.shown());
    }

    void returnToProtocol3()
    {
        LineBench b(lineOf({controller(1)}));
        b.select({1});
        b.session->run(Session::Operation::To3);
        QCOMPARE(b.line->snapshot().controller(1)->protocol, 3);
        QVERIFY(b.log().contains("Answer : Ok"));
        QCOMPARE(b.bytesSent(), returnToP3Frame(1, CheckKind::Crc));
        QCOMPARE(returnToP3Frame(1, CheckKind::Crc), QByteArray::fromHex("4001376828" "04"));
        QCOMPARE(returnToP3Frame(1, CheckKind::Sum), QByteArray::fromHex("4001370078" "04"));
    }

    void returnRefusedThreeTimesIsAnErasingFailure()
    {
        // At 19200 and searched last (from 38400: 4800, 9600, then 19200).
        sim::ControllerConfig c = controller(31, 19200);
        c.faults.refuseReturn = 3;
        LineBench b(lineOf({c}));
        b.m().Vitesse.setText("38400");
        b.select({31});
        b.session->run(Session::Operation::To3);
        const auto sent = sentWithSpeed(b);
        QCOMPARE(sent.last().first, 19200);
        QCOMPARE(sent.last().second, returnToP3Frame(31, CheckKind::Crc).repeated(3));
        QVERIFY(b.log().contains("Answer : Failure Sending p4 "));
        QCOMPARE(b.line->snapshot().controller(31)->protocol, 4);
        QCOMPARE(b.ctx().info.ver(31).text, QString("Erasing"));
        QCOMPARE(b.ctx().info.ckSum(31).text, QString("Failure"));
        QCOMPARE(b.ctx().info.ver(31).foreground, kRed);
        QVERIFY(!b.ctx().switchAccepted[31]);
        QVERIFY(!b.ctx().info.shown());
    }

    void returnRefusedThenAcceptedAtTheNextSpeedTry()
    {
        sim::ControllerConfig c = controller(31);
        c.faults.refuseReturn = 2;
        LineBench b(lineOf({c}));
        b.select({31});
        b.session->run(Session::Operation::To3);
        QCOMPARE(b.bytesSent(), returnToP3Frame(31, CheckKind::Crc).repeated(3));
        QVERIFY(b.log().contains("Answer : Ok"));
        QCOMPARE(b.line->snapshot().controller(31)->protocol, 3);
        QVERIFY(b.ctx().switchAccepted[31]);
        QCOMPARE(b.ctx().info.ver(31).text, QString());
    }

    void unpluggedDuringProgramming()
    {
        sim::ControllerConfig c = controller(1);
        c.faults.unplugAfterFrames = 4; // erase and three batches, then the plug
        LineBench b(lineOf({c, controller(2)}));
        b.useImage(image());
        b.select({1, 2});
        QElapsedTimer t;
        t.start();
        b.session->run(Session::Operation::DownloadSerial);
        QVERIFY(t.elapsed() < 60000);
        QCOMPARE(b.desk.boxes.size(), 1);
        QVERIFY(b.desk.boxes[0].text.contains("lost"));
        QVERIFY(!b.port.isOpen());
        const QStringList log = b.log();
        QVERIFY(log.contains("Message : $75 - Programmation Batch 4"));
        QVERIFY(!log.contains("Message : $75 - Programmation Batch 6"));
    }
};

VANTOREL_SHARDED_MAIN(TestDownloads)
#include "test_downloads.moc"
