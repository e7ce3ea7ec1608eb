// The exchange of one frame, end to end: the real serial layer against the
// simulated line.
#include "link/checkcode.h"
#include "link/exchange.h"
#include "link/frames.h"
#include "platform/fault.h"
#include "support/linebench.h"

#include <QElapsedTimer>
#include <QTest>

using namespace vantorel;

namespace {
QStringList linesStartingWith(const QStringList &log, const QString &prefix)
{
    QStringList out;
    for (const QString &l : log) {
        if (l.startsWith(prefix))
            out << l;
    }
    return out;
}

struct Exchange {
    int result = -1;
    QString answer;
};

Exchange exchange(LineBench &b, int ctrl, const QByteArray &frame, bool accept682F = false)
{
    b.ctx().port.selectPort(b.line->slavePath());
    b.ctx().port.setSettings(b.m().Vitesse.text() + ",N,8,2");
    b.ctx().port.open();
    Exchange e;
    e.result = SendReceive(b.ctx(), ctrl, frame, e.answer, accept682F);
    b.ctx().port.close();
    return e;
}

QByteArray check(int ctrl, std::uint8_t pc = 0x04) { return flashCheckFrame(QByteArray(1, char(pc)), ctrl, CheckKind::Crc); }
} // namespace

class TestExchange : public QObject {
    Q_OBJECT

private slots:
    void answeredAtOnce()
    {
        LineBench b(lineOf({controller(1)}));
        const Exchange e = exchange(b, 1, check(1));
        QCOMPARE(e.result, 0);
        QCOMPARE(e.answer.size(), 26);
        QVERIFY(e.answer.startsWith("040107" "61" "73"));
        QCOMPARE(b.bytesSent(), check(1));
        QCOMPARE(b.log(), QStringList({"Recu en String : " + e.answer, "Communication OK  - CRC checked"}));
    }

    void silentControllerIsTriedThreeTimes()
    {
        LineBench b(lineOf({controller(1)}));
        const Exchange e = exchange(b, 2, check(2));
        QCOMPARE(e.result, 1);
        QVERIFY(e.answer.isEmpty());
        QCOMPARE(b.bytesSent(), check(2).repeated(3));
        QCOMPARE(b.log(), QStringList({"No Answer"}));
    }

    void echoAloneRestartsTheWaitWithoutSendingAgain()
    {
        sim::LineOptions echo;
        echo.echo = true;
        LineBench b(lineOf({controller(1)}), echo);
        // Silent controller on an echoing line: only the echo comes back.
        Exchange e = exchange(b, 4, check(4));
        QCOMPARE(e.result, 1);
        QCOMPARE(b.bytesSent(), check(4).repeated(3));
        QCOMPARE(b.log(), QStringList({"No Answer"}));
    }

    void answerAfterTheEchoIsAccepted_data()
    {
        QTest::addColumn<int>("delayMs");
        QTest::newRow("echo and answer in one read") << 0;
        QTest::newRow("echo first, answer after the settle") << 90;
    }
    void answerAfterTheEchoIsAccepted()
    {
        QFETCH(int, delayMs);
        sim::LineOptions echo;
        echo.echo = true;
        sim::ControllerConfig c = controller(1);
        c.answerDelayMs = delayMs;
        LineBench b(lineOf({c}), echo);
        b.m().Text1.setText("1000");
        const Exchange e = exchange(b, 1, check(1));
        QCOMPARE(e.result, 0);
        QVERIFY2(e.answer.startsWith("0401"), qPrintable(e.answer)); // the echo is gone
        QCOMPARE(e.answer.size(), 26);
        QCOMPARE(b.bytesSent(), check(1));
    }

    void threeByteAnswers_data()
    {
        QTest::addColumn<bool>("corrupt");
        QTest::addColumn<int>("result");
        // An answer of three bytes carries the CRC of nothing: it passes only
        // as 00 00 xx.
        QTest::newRow("00 00 04 passes") << false << 0;
        QTest::newRow("a flipped bit fails") << true << 2;
    }
    void threeByteAnswers()
    {
        QFETCH(bool, corrupt);
        QFETCH(int, result);
        sim::ControllerConfig c = controller(1);
        c.faults.wrongLength = -10; // nothing left before the check code: 00 00 04
        c.faults.corruptAnswers = corrupt ? 1.0 : 0.0;
        LineBench b(lineOf({c}));
        const Exchange e = exchange(b, 1, check(1));
        QCOMPARE(e.result, result);
        const QStringList received = linesStartingWith(b.log(), "Recu en String : ");
        QCOMPARE(received.size(), result == 0 ? 1 : 3);
        if (result == 0)
            QCOMPARE(received.first(), QString("Recu en String : 000004"));
        for (const QString &line : received)
            QCOMPARE(line.size(), QString("Recu en String : ").size() + 6);
    }

    void prot4PlusAnswersAreChecked_data()
    {
        QTest::addColumn<bool>("ticked");      // Prot 4+ in the window
        QTest::addColumn<bool>("sumAnswers");  // a Prot 4+ firmware: it answers with the byte sum
        QTest::addColumn<bool>("corrupt");
        QTest::addColumn<int>("result");
        QTest::newRow("CRC: corrupted fails") << false << false << true << 2;
        QTest::newRow("CRC: a byte-sum answer fails") << false << true << false << 2;
        QTest::newRow("Prot 4+: byte sum accepted") << true << true << false << 0;
        QTest::newRow("Prot 4+: corrupted byte sum fails") << true << true << true << 2;
        QTest::newRow("Prot 4+: corrupted CRC fails") << true << false << true << 2;
    }
    void prot4PlusAnswersAreChecked()
    {
        QFETCH(bool, ticked);
        QFETCH(bool, sumAnswers);
        QFETCH(bool, corrupt);
        QFETCH(int, result);
        sim::ControllerConfig c = controller(1);
        c.prot4Plus = sumAnswers;
        c.faults.corruptAnswers = corrupt ? 1.0 : 0.0;
        LineBench b(lineOf({c}));
        b.m().Protocol4Plus.setValue(ticked ? 1 : 0);
        // The frame itself always carries the CRC here: the controller takes both.
        const Exchange e = exchange(b, 1, check(1));
        QCOMPARE(e.result, result);
        QCOMPARE(b.log().last(), ComResultText(result));
        QCOMPARE(int(linesStartingWith(b.log(), "Recu en String : ").size()), result == 0 ? 1 : 3);
    }

    void fastAnswersEndTheWaitEarly_data()
    {
        QTest::addColumn<bool>("answers");
        QTest::newRow("answer in pieces after a separate echo") << true;
        QTest::newRow("silence has nothing to settle") << false;
    }
    void fastAnswersEndTheWaitEarly()
    {
        QFETCH(bool, answers);
        sim::ControllerConfig c = controller(1);
        c.answerDelayMs = 20;
        c.answerPieces = 3;
        c.pieceGapMs = 20;
        sim::LineOptions options;
        options.pace = true;
        options.echo = answers;
        LineBench b(lineOf({c}), options);
        b.ctx().timings.settleDelay = 5.0; // a wait that ran its course would show
        b.m().Text1.setText("300");
        b.m().FastAnswers.setValue(1);
        QElapsedTimer t;
        t.start();
        const int ctrl = answers ? 1 : 2;
        const Exchange e = exchange(b, ctrl, check(ctrl));
        QVERIFY2(t.elapsed() < 5000, qPrintable(QString::number(t.elapsed())));
        QCOMPARE(e.result, answers ? 0 : 1);
        QCOMPARE(b.bytesSent(), answers ? check(ctrl) : check(ctrl).repeated(3));
        if (answers) // judged whole, not by its first piece
            QCOMPARE(b.log(), QStringList({"Recu en String : " + e.answer, "Communication OK  - CRC checked"}));
    }

    void failureHoldWithFastAnswers()
    {
        LineBench b(sim::LineConfig{});
        Timings &t = b.ctx().timings;
        t.failureHold = 2.0;
        QCOMPARE(failureHoldSeconds(b.ctx()), 2.0);
        b.m().FastAnswers.setValue(1);
        QCOMPARE(failureHoldSeconds(b.ctx()), 0.2);
        t.failureHold = 0.05; // a shorter hold set for tests or scripts stays
        QCOMPARE(failureHoldSeconds(b.ctx()), 0.05);
    }

    void judgingWithoutTheLine_data()
    {
        QTest::addColumn<QByteArray>("received");
        QTest::addColumn<bool>("prot4Plus");
        QTest::addColumn<bool>("accept682F");
        QTest::addColumn<int>("verdict");
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<bool>("complete");
        const int none = int(AnswerVerdict::NoAnswer), failed = int(AnswerVerdict::CheckFailed),
                  ok = int(AnswerVerdict::Accepted), ok682F = int(AnswerVerdict::Accepted682F);
        // Flash check of controller 0 and its answers: CRC CE D3, byte sum 01 2B.
        const QByteArray frame = QByteArray::fromHex("04000173B73404");
        const QByteArray crc = QByteArray::fromHex("04000761730102032A1CCED304");
        const QByteArray sum = QByteArray::fromHex("04000761730102032A1C012B04");
        QTest::newRow("CRC answer") << crc << false << false << ok << crc << true;
        QTest::newRow("echo, then answer") << frame + crc << false << false << ok << crc << true;
        QTest::newRow("echo alone") << frame << false << false << none << QByteArray() << false;
        QTest::newRow("nothing") << QByteArray() << true << true << none << QByteArray() << false;
        QTest::newRow("first piece") << crc.left(7) << false << false << failed << crc.left(7) << false;
        QTest::newRow("echo and first piece") << frame + crc.left(3) << false << false << failed << crc.left(3) << false;
        QTest::newRow("byte sum without Prot 4+") << sum << false << false << failed << sum << false;
        QTest::newRow("byte sum with Prot 4+") << sum << true << false << ok << sum << true;
        QTest::newRow("CRC with Prot 4+ (boot program)") << crc << true << false << ok << crc << true;
        QByteArray flipped = sum;
        flipped[5] = char(flipped[5] ^ 0x10);
        QTest::newRow("corrupted with Prot 4+") << flipped << true << false << failed << flipped << false;
        QTest::newRow("noise after the answer") << crc + "\x55" << false << false << failed << crc + "\x55" << false;
        // Right check code, but one byte more than the count byte says.
        const QByteArray tooLong = QByteArray::fromHex("04000761730102032A1C55E1D204");
        QTest::newRow("one byte too long") << tooLong << false << false << ok << tooLong << false;
        const QByteArray noTerminator = QByteArray::fromHex("04000761730102032A1CCED305");
        QTest::newRow("no terminator") << noTerminator << false << false << ok << noTerminator << false;
        QTest::newRow("CRC of nothing") << QByteArray::fromHex("000004") << false << false << ok
                                        << QByteArray::fromHex("000004") << false;
        QTest::newRow("68 2F for the switch") << QByteArray::fromHex("682F") << false << true << ok682F
                                              << QByteArray::fromHex("682F") << true;
        QTest::newRow("68 2F for others") << QByteArray::fromHex("682F") << false << false << failed
                                          << QByteArray::fromHex("682F") << false;
        QTest::newRow("68 alone") << QByteArray::fromHex("68") << false << true << failed << QByteArray::fromHex("68")
                                  << false;
    }
    void judgingWithoutTheLine()
    {
        QFETCH(QByteArray, received);
        QFETCH(bool, prot4Plus);
        QFETCH(bool, accept682F);
        QFETCH(int, verdict);
        QFETCH(QByteArray, answer);
        QFETCH(bool, complete);
        const QByteArray frame = QByteArray::fromHex("04000173B73404");
        const AnswerJudgement j = judgeAnswer(received, frame, {prot4Plus, accept682F});
        QCOMPARE(int(j.verdict), verdict);
        QCOMPARE(j.answer, answer);
        QCOMPARE(answerComplete(received, frame, {prot4Plus, accept682F}), complete);
    }

    void answer682FOnlyForTheSwitch()
    {
        sim::ControllerConfig c = controller(5);
        c.protocol = 3;
        {
            LineBench b(lineOf({c}));
            const Exchange e = exchange(b, 5, switchToP4Command(5), true);
            QCOMPARE(e.result, 0);
            QVERIFY(e.answer.isEmpty());
            QCOMPARE(b.log(), QStringList({"Recu en String : 682F", "Communication OK  - CRC checked"}));
        }
        {
            LineBench b(lineOf({c}));
            const Exchange e = exchange(b, 5, switchToP4Command(5), false);
            QVERIFY(e.result != 0);
            QCOMPARE(b.log().first(), QString("Recu en String : 682F"));
        }
    }

    void stopDuringTheWaitEndsAtOnceWithoutVerdict()
    {
        LineBench b(lineOf({controller(1)}));
        b.m().Text1.setText("60000");
        int calls = 0;
        b.desk.onProcessEvents = [&] {
            if (++calls == 20)
                b.ctx().StopRequested = true;
        };
        QElapsedTimer t;
        t.start();
        const Exchange e = exchange(b, 9, check(9));
        QCOMPARE(e.result, 1);
        QVERIFY(t.elapsed() < 30000);
        QVERIFY(b.log().isEmpty());
        QCOMPARE(b.bytesSent(), check(9));
    }

    void lateAnswersAreReadAsTheStartOfTheNext()
    {
        // The answer to the first try arrives during the third: it is taken.
        // The answers to the second and third tries wait in the port and are
        // read first by the next exchange.
        sim::ControllerConfig c = controller(1);
        c.answerDelayMs = 2600; // tries start at 0, 1.03 and 2.06 s
        LineBench b(lineOf({c}));
        b.clock.skipSilence = false;
        b.m().Text1.setText("1000");
        b.ctx().timings.settleDelay = 0.03;
        b.ctx().port.selectPort(b.line->slavePath());
        b.ctx().port.setSettings("9600,N,8,2");
        b.ctx().port.open();
        QString first;
        QCOMPARE(SendReceive(b.ctx(), 1, check(1), first, false), 0);
        QCOMPARE(b.bytesSent(), check(1).repeated(3));
        QVERIFY(b.line->waitForFrames(3, 10000));
        QVERIFY(b.line->waitUntil([](const sim::LineSnapshot &s) { return s.quiet; }, 10000));
        QTRY_VERIFY_WITH_TIMEOUT(b.ctx().port.bytesWaiting() >= 26, 10000);
        QString second;
        // A frame the controller does not even hear: the answer comes from the port's leftovers.
        // Two answers read together fail the check; the later tries hear silence.
        QCOMPARE(SendReceive(b.ctx(), 9, check(9), second, false), 1);
        b.ctx().port.close();
        QVERIFY(b.log().contains("Recu en String : " + first + first));
    }

    void timeOutTextMustBeANumber()
    {
        LineBench b(lineOf({controller(1)}));
        b.m().Text1.setText("");
        try {
            exchange(b, 1, check(1));
            QFAIL("no fault");
        } catch (const Fault &f) {
            QCOMPARE(f.code(), FaultCode::InvalidArgument);
            QVERIFY(f.description().contains("Time Out"));
        }
        b.ctx().port.close();
        QVERIFY(b.bytesSent().isEmpty());
    }

    void resultTexts()
    {
        QCOMPARE(ComResultText(0), QString("Communication OK  - CRC checked"));
        QCOMPARE(ComResultText(1), QString("No Answer"));
        QCOMPARE(ComResultText(2), QString("Communication Error - CRC false 3 time"));
        QCOMPARE(ComResultText(3), QString("Communication Failure - 3 * E1"));
        QCOMPARE(ComResultText(7), QString());
    }
};

QTEST_GUILESS_MAIN(TestExchange)
#include "test_exchange.moc"
