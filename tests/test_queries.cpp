// The flash check and the three queries, end to end on the simulated line.
#include "link/frames.h"
#include "link/textcodec.h"
#include "platform/fault.h"
#include "programming/flashcheck.h"
#include "support/fakeports.h"
#include "support/hexbuilder.h"
#include "support/linebench.h"
#include "support/shardedmain.h"

#include <QElapsedTimer>
#include <QTest>

using namespace vantorel;

namespace {
QByteArray check(int ctrl, char pc, CheckKind kind = CheckKind::Crc) { return flashCheckFrame(QByteArray(1, pc), ctrl, kind); }

// The frames of the tool, told apart by their known shapes.
QList<QByteArray> splitInto(const QByteArray &bytes, int frameSize)
{
    QList<QByteArray> out;
    for (qsizetype at = 0; at + frameSize <= bytes.size(); at += frameSize)
        out << bytes.mid(at, frameSize);
    return out;
}

void openOn(LineBench &b)
{
    b.ctx().port.selectPort(b.line->slavePath());
    b.ctx().port.setSettings("9600,N,8,2");
    b.ctx().port.open();
}

sim::ControllerConfig withVersion(sim::ControllerConfig c, std::array<std::uint8_t, 3> v)
{
    c.version = v;
    return c;
}
} // namespace

class TestQueries : public QObject {
    Q_OBJECT

private slots:
    void flashCheckShowsVersionAndChecksum()
    {
        LineBench b(lineOf({withVersion(controller(1), {0x01, 0x05, 0x07})}));
        openOn(b);
        b.ctx().info.prepare("Flash Info", "");
        QVERIFY(FlashCheck(b.ctx(), 1));
        b.ctx().port.close();
        const quint32 sum = b.line->snapshot().controller(1)->flashChecksum & 0xFFFF;
        QCOMPARE(b.ctx().info.ver(1).text, QString("01/05/07"));
        QCOMPARE(b.ctx().info.ckSum(1).text, QString::number(sum, 16).toUpper().rightJustified(4, '0'));
        QVERIFY(!b.ctx().info.ckSum(1).marked());
        QCOMPARE(b.desk.beeps, 0);
        QCOMPARE(b.log().mid(0, 2), QStringList({"Message : $73  - Checking Flash", StrToHex(check(1, 0x04))}));
        QCOMPARE(b.log().size(), 4);
        QVERIFY(b.log()[2].startsWith("Recu en String : 04010761"));
        QCOMPARE(b.log()[3], QString("Communication OK  - CRC checked"));
        QVERIFY(!b.ctx().message.exists());
    }

    void flashCheckMarksAMismatch_data()
    {
        QTest::addColumn<bool>("sameAsFile");
        QTest::newRow("equal") << true;
        QTest::newRow("different") << false;
    }
    void flashCheckMarksAMismatch()
    {
        QFETCH(bool, sameAsFile);
        LineBench b(lineOf({controller(2)}));
        const quint32 sum = b.line->snapshot().controller(2)->flashChecksum & 0xFFFF;
        const QString shown = QString::number(sameAsFile ? sum : (sum + 1) & 0xFFFF, 16).toUpper();
        openOn(b);
        b.ctx().info.prepare("Flash Info", shown);
        QVERIFY(FlashCheck(b.ctx(), 2));
        b.ctx().port.close();
        const ResultBox &ck = b.ctx().info.ckSum(2);
        QCOMPARE(ck.marked(), !sameAsFile);
        QCOMPARE(b.desk.beeps, sameAsFile ? 0 : 1);
        if (!sameAsFile) {
            QCOMPARE(ck.background, int(kRed));
            QCOMPARE(ck.foreground, kWhite);
            QVERIFY(ck.bold);
        }
    }

    void atRule_data()
    {
        QTest::addColumn<bool>("same");
        QTest::addColumn<QString>("protocol");
        QTest::addColumn<QList<QByteArray>>("frames");
        // Controllers 1 and 2 both listen to "@" only.
        QTest::newRow("own character per controller")
            << false << "3"
            << QList<QByteArray>{check(1, 0x04), check(1, 0x04), check(1, 0x04), check(1, '@'),
                                 check(2, 0x04), check(2, 0x04), check(2, 0x04), check(2, '@')};
        QTest::newRow("same protocol: the second starts with @")
            << true << "3"
            << QList<QByteArray>{check(1, 0x04), check(1, 0x04), check(1, 0x04), check(1, '@'), check(2, '@')};
        QTest::newRow("already @: no second attempt") << false << "63"
                                                       << QList<QByteArray>{check(1, '@'), check(2, '@')};
    }
    void atRule()
    {
        QFETCH(bool, same);
        QFETCH(QString, protocol);
        QFETCH(QList<QByteArray>, frames);
        LineBench b(lineOf({controller(1, 9600, '@'), controller(2, 9600, '@')}));
        b.m().Protocol.setText(protocol);
        b.m().ChkProto.setValue(same ? 1 : 0);
        b.m().ProtocolChar = protocolCharFromText(protocol);
        openOn(b);
        QVERIFY(FlashCheck(b.ctx(), 1));
        QVERIFY(FlashCheck(b.ctx(), 2));
        b.ctx().port.close();
        QCOMPARE(splitInto(b.bytesSent(), 7), frames);
        QCOMPARE(b.m().ProtocolChar, same ? QByteArray("@") : protocolCharFromText(protocol));
    }

    void shortAnswersAreAskedAgainUntilCancel()
    {
        sim::ControllerConfig c = controller(1);
        c.faults.wrongLength = -1; // 24 digits, right check code
        LineBench b(lineOf({c}));
        openOn(b);
        b.ctx().info.prepare("Flash Info", "");
        b.desk.onProcessEvents = [&] {
            if (b.bytesSent().size() >= 5 * 7)
                b.ctx().message.cancel();
        };
        QVERIFY(!FlashCheck(b.ctx(), 1));
        b.ctx().port.close();
        const QList<QByteArray> frames = splitInto(b.bytesSent(), 7);
        QVERIFY(frames.size() >= 5);
        for (const QByteArray &f : frames.mid(0, 5))
            QCOMPARE(f, check(1, 0x04));
        QVERIFY(b.ctx().info.ver(1).text != "01/00/00"); // never shown
    }

    void flashInfoSearchesTheSpeed()
    {
        // Controller 31 answers only at 4800 while Vitesse says 38400 (the last
        // controller, so the flags still show its speeds at the end).
        LineBench b(lineOf({controller(1, 38400), controller(31, 4800)}));
        b.m().Vitesse.setText("38400");
        b.select({1, 31});
        b.session->run(Session::Operation::FlashInfo);
        Context &ctx = b.ctx();
        QVERIFY(ctx.info.shown());
        QCOMPARE(ctx.info.caption(), QString("Flash Info"));
        QVERIFY(ctx.info.label41Visible());
        QCOMPARE(ctx.info.ver(1).text, QString("01/00/00"));
        QCOMPARE(ctx.info.ver(31).text, QString("01/00/00"));
        QVERIFY(!ctx.info.ver(31).marked());
        QCOMPARE(b.m().Vitesse.text(), QString("4800"));
        QVERIFY(b.m().V38400.ticked() && b.m().V4800.ticked());
        QVERIFY(!b.m().V9600.ticked() && !b.m().V19200.ticked());
        QVERIFY(!b.port.isOpen());
        QVERIFY(!ctx.message.exists());
        // Controller 31: 0x04 then "@" at 38400, then 0x04 at 4800.
        const auto sent = sentWithSpeed(b);
        QCOMPARE(sent.last().first, 4800);
        QCOMPARE(sent.last().second, check(31, 0x04));
        QCOMPARE(sent[sent.size() - 2].second.right(7 * 6), check(31, 0x04).repeated(3) + check(31, '@').repeated(3));
    }

    void flashInfoOfASilentControllerKeepsTheFailureWords()
    {
        LineBench b(lineOf({controller(1)}));
        b.m().Text1.setText("300"); // nobody answers: only the count of tries matters
        b.select({6});
        b.session->run(Session::Operation::FlashInfo);
        QCOMPARE(b.ctx().info.ver(6).text, QString("No"));
        QCOMPARE(b.ctx().info.ckSum(6).text, QString("Answer"));
        QCOMPARE(b.ctx().info.ver(6).foreground, kRed);
        QVERIFY(b.ctx().info.ver(6).bold);
        // Four speeds, two characters, three tries each.
        QCOMPARE(b.bytesSent().size(), 4 * 2 * 3 * 7);
    }

    void autoFindsControllersAtTheirSpeeds()
    {
        LineBench b(lineOf({controller(0, 9600), controller(2, 19200), controller(4, 4800)}));
        b.m().Text1.setText("777");
        b.ctx().timings.detectionTimeOutMs = 300; // many silent tries here; answers come in a millisecond
        b.select({1, 3}); // silent ones ticked before
        b.m().Vitesse.setText("9600");
        // Only controllers 0 to 4 are looked at: Cancel once controller 5 is in hand.
        b.desk.onProcessEvents = [&] {
            if (b.m().ControllerIndex >= 5 && !b.ctx().StopRequested)
                b.ctx().message.cancel();
        };
        b.session->run(Session::Operation::Auto);
        QCOMPARE(b.m().selectedControllers(), QList<int>({0, 2, 4}));
        QCOMPARE(b.m().Text1.text(), QString("777"));
        QCOMPARE(b.m().Vitesse.text(), QString("9600"));
        QVERIFY(b.m().Auto.enabled());
        QVERIFY(!b.port.isOpen());
        QVERIFY(!b.ctx().message.exists());
        QVERIFY(b.log().contains("Message : AutoDetection $73"));
    }

    void autoCancelLeavesLaterBoxesAlone()
    {
        LineBench b(lineOf({controller(0), controller(1), controller(2), controller(3)}));
        b.select({10, 20});
        b.desk.onProcessEvents = [&] {
            if (b.m().ControllerIndex == 4 && !b.ctx().StopRequested)
                b.ctx().message.cancel();
        };
        b.session->run(Session::Operation::Auto);
        QCOMPARE(b.m().selectedControllers(), QList<int>({0, 1, 2, 3, 10, 20}));
        QCOMPARE(b.m().Text1.text(), QString("5000"));
    }

    void bootInfoOrderOfFrames()
    {
        // Answers only at 19200 and only to "@": frames go at 9600 (0x04, "@"),
        // at 4800 (0x04, "@"), then at 19200 (0x04, "@").
        sim::ControllerConfig c = controller(31, 19200, '@');
        c.bootVersion = {0x12, 0x05, 0x03};
        c.bootChecksum = 0xA1B2;
        LineBench b(lineOf({c}));
        b.select({31});
        b.session->run(Session::Operation::BootInfo);
        Context &ctx = b.ctx();
        QCOMPARE(ctx.info.ver(31).text, QString("12/05/03"));
        QCOMPARE(ctx.info.ckSum(31).text, QString("A1B2"));
        QCOMPARE(ctx.info.caption(), QString("Boot Info"));
        QCOMPARE(ctx.info.Titre(), QString("Boot Info"));
        QVERIFY(!ctx.info.label41Visible());
        QCOMPARE(b.m().Vitesse.text(), QString("19200"));
        QVERIFY(b.m().V4800.ticked() && b.m().V9600.ticked() && b.m().V19200.ticked());
        QList<QPair<int, QByteArray>> expected;
        for (int speed : {9600, 4800}) {
            expected.append({speed, bootInfoFrame(QByteArray(1, 0x04), 31, CheckKind::Crc).repeated(3)
                                        + bootInfoFrame("@", 31, CheckKind::Crc).repeated(3)});
        }
        expected.append({19200, bootInfoFrame(QByteArray(1, 0x04), 31, CheckKind::Crc).repeated(3)
                                    + bootInfoFrame("@", 31, CheckKind::Crc)});
        QCOMPARE(sentWithSpeed(b), expected);
        QVERIFY(b.log().contains("Message Checking BOOT"));
    }

    void bothAnswerModesAgree_data()
    {
        QTest::addColumn<int>("which");
        QTest::newRow("Flash Info: speed search, answers in pieces") << 0;
        QTest::newRow("Boot Info: echo apart from the answer") << 1;
    }
    void bothAnswerModesAgree()
    {
        QFETCH(int, which);
        sim::ControllerConfig slow = controller(3, 4800);
        slow.answerPieces = 3;
        slow.pieceGapMs = 5;
        sim::ControllerConfig late = controller(1);
        late.answerDelayMs = 20;
        sim::LineOptions echo;
        echo.echo = true;
        const bool flashInfo = which == 0;
        const auto [written, fast] = runInBothModes(
            flashInfo ? lineOf({controller(1), slow}) : lineOf({late}), flashInfo ? sim::LineOptions{} : echo,
            flashInfo ? Session::Operation::FlashInfo : Session::Operation::BootInfo,
            [&](LineBench &b) { b.select(flashInfo ? QList<int>{1, 3} : QList<int>{1}); });
        // Each controller answered, controller 3 at 4800 after the search.
        QCOMPARE(written.log.count("Communication OK  - CRC checked"), flashInfo ? 2 : 1);
        QCOMPARE(fast.sent, written.sent);
        QCOMPARE(fast.log, written.log);
        QCOMPARE(fast.table, written.table);
        QCOMPARE(fast.boxes, written.boxes);
    }

    void garbageNeverCrashes_data()
    {
        QTest::addColumn<int>("noiseBefore");
        QTest::addColumn<int>("noiseAfter");
        QTest::addColumn<int>("wrongLength");
        QTest::addColumn<QString>("ver");
        // Noise spoils the check at the controller's speed; at the other speeds it is silent.
        QTest::newRow("noise before the answer") << 5 << 0 << 0 << "No";
        QTest::newRow("noise after the answer") << 0 << 7 << 0 << "No";
        QTest::newRow("overlong answer") << 0 << 0 << 300 << "No";
    }
    void garbageNeverCrashes()
    {
        QFETCH(int, noiseBefore);
        QFETCH(int, noiseAfter);
        QFETCH(int, wrongLength);
        QFETCH(QString, ver);
        sim::ControllerConfig c = controller(1);
        c.faults.noiseBefore = noiseBefore;
        c.faults.noiseAfter = noiseAfter;
        c.faults.wrongLength = wrongLength;
        c.faults.seed = 7;
        LineBench b(lineOf({c}));
        b.select({1});
        if (wrongLength > 0) {
            // An overlong answer passes the check but is never the 26 digits: Cancel ends it.
            b.desk.onProcessEvents = [&] {
                if (b.bytesSent().size() >= 6 * 7)
                    b.ctx().message.cancel();
            };
        }
        b.session->run(Session::Operation::FlashInfo);
        QCOMPARE(b.ctx().info.ver(1).text, ver);
        QVERIFY(!b.port.isOpen());
        if (wrongLength == 0)
            QVERIFY(b.log().contains("Communication Error - CRC false 3 time"));
    }

    void answerWithTerminatorInsideIsRead()
    {
        // A version of 04 04 04 and a checksum holding 04: the terminator byte
        // inside the data changes nothing.
        LineBench b(lineOf({withVersion(controller(1), {0x04, 0x04, 0x04})}));
        b.select({1});
        b.session->run(Session::Operation::FlashInfo);
        QCOMPARE(b.ctx().info.ver(1).text, QString("04/04/04"));
    }

    void unpluggedLineEndsWithOneClearError()
    {
        sim::ControllerConfig c = controller(0);
        c.faults.unplugAfterFrames = 0; // the first frame it hears pulls the plug
        LineBench b(lineOf({c, controller(1)}));
        b.select({0, 1, 2});
        QElapsedTimer t;
        t.start();
        b.session->run(Session::Operation::FlashInfo);
        QVERIFY(t.elapsed() < 60000);
        QCOMPARE(b.desk.boxes.size(), 1);
        QCOMPARE(b.desk.boxes[0].title, QString("Flash Error"));
        QVERIFY2(b.desk.boxes[0].text.contains("lost"), qPrintable(b.desk.boxes[0].text));
        QVERIFY(!b.port.isOpen());
        QCOMPARE(b.ctx().lastFaultNumber.value_or(0), int(FaultCode::PortLost));
        // The next operation is not blocked by a port left open.
        b.session->run(Session::Operation::FlashInfo);
        QCOMPARE(b.desk.boxes.size(), 2);
    }

    void unusablePortIsOneBoxNamingIt()
    {
        LineBench b(lineOf({controller(0)}));
        b.m().ComPort.setText("/dev/vantorel-no-such-port");
        b.select({0});
        b.session->run(Session::Operation::FlashInfo);
        QCOMPARE(b.desk.boxes.size(), 1);
        QVERIFY(b.desk.boxes[0].text.startsWith("Error #  8002\r"));
        QVERIFY(b.desk.boxes[0].text.contains("/dev/vantorel-no-such-port"));
        // A COM item names its device and where that came from, and the box lists what exists.
        b.ctx().portInfo = std::make_shared<FakePorts>(QStringList{"/dev/ttyUSB7|FT232R USB UART", "/dev/ttyS0|"});
        QVERIFY(writeFile(b.m().AppDir + "Ports.ini", "4=/dev/vantorel-no-such-port\n"));
        b.m().ComPort.setText("COM 4");
        b.session->run(Session::Operation::FlashInfo);
        QCOMPARE(b.desk.boxes.size(), 2);
        QVERIFY2(b.desk.boxes[1].text.endsWith("\rCOM 4 is /dev/vantorel-no-such-port, as Ports.ini maps it."
                                               "\rSerial devices present now: /dev/ttyUSB7 (FT232R USB UART), /dev/ttyS0."),
                 qPrintable(b.desk.boxes[1].text));
        b.desk.boxes.removeLast();
        b.m().Text1.setText("77");
        b.session->run(Session::Operation::Auto);
        QCOMPARE(b.desk.boxes.size(), 2);
        QCOMPARE(b.m().Text1.text(), QString("77"));
        QVERIFY(b.m().Auto.enabled());
        QVERIFY(!b.ctx().message.exists());
    }

    void secondOperationIsIgnoredWhileOneRuns()
    {
        LineBench b(lineOf({controller(1)}));
        b.select({1});
        bool refused = false;
        b.desk.onProcessEvents = [&] {
            if (!refused)
                refused = !b.session->run(Session::Operation::Auto);
        };
        b.session->run(Session::Operation::FlashInfo);
        QVERIFY(refused);
        QCOMPARE(b.ctx().info.ver(1).text, QString("01/00/00"));
        QVERIFY(b.session->run(Session::Operation::FlashInfo)); // taken again once idle
    }

    void fileCannotChangeUnderARunningOperation()
    {
        LineBench b(lineOf({controller(1)}));
        const QString first = b.useImage(":0300000002ABCD83\r\n:00000001FF\r\n", "first.hex");
        b.select({1});
        b.desk.fileAnswers << b.home.filePath("other.hex");
        b.desk.onProcessEvents = [&] {
            b.session->dropFile(b.home.filePath("other.hex"));
            b.session->browse();
        };
        b.session->run(Session::Operation::FlashInfo);
        QCOMPARE(b.m().FileName.text(), first);
        QVERIFY(b.desk.dialogsShown.isEmpty());
    }
};

VANTOREL_SHARDED_MAIN(TestQueries)
#include "test_queries.moc"
