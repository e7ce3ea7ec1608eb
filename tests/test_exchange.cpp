// One exchange, end to end: the real serial layer
// against the simulated line. Frames and answers are literal bytes.
#include "link/exchange.h"
#include "run/line.h"
#include "run/runcheck.h"
#include "run/waits.h"
#include "support/linebench.h"

#include <QElapsedTimer>
#include <QRegularExpression>
#include <QTest>

#include <cmath>

using namespace vantorel;

namespace {
// Flash check of controller 1 with "@".
const QByteArray kCheck1 = QByteArray::fromHex("40010173246904");

Exchange exchange(LineBench &b, const QByteArray &frame, bool accept682F = false)
{
    b.ctx().link = checkSettings(settingsForm(b.ctx()), {});
    b.ctx().port.selectPort(b.line->slavePath());
    b.ctx().port.setSettings("9600,N,8,2");
    b.ctx().port.open();
    const Exchange e = SendReceive(b.run(), 1, frame, accept682F);
    b.ctx().port.close();
    return e;
}
} // namespace

class TestExchange : public QObject {
    Q_OBJECT

private slots:
    // Tries, verdict and log of one exchange, for each way an answer can come or not.
    void exchangeEndToEnd()
    {
        const auto with = [](auto change) {
            sim::ControllerConfig c = controller(1, 9600, '@');
            change(c);
            return c;
        };
        const auto plain = with([](auto &) {});
        const auto silent = with([](auto &c) { c.faults.silent = true; });
        struct Row {
            const char *name;
            sim::ControllerConfig c;
            bool echo;
            QByteArray frame;
            bool prot4Plus;
            bool accept682F;
            int settleMs;
            int result;
            int tries;
            int answers;      // "Recu en String" lines
            QString firstLog; // the first line of the log, or a prefix of it
        };
        const auto shortAnswer = with([](auto &c) { c.faults.wrongLength = -10; });
        const auto corrupt = with([](auto &c) { c.faults.corruptAnswers = 1; });
        const auto sum = with([](auto &c) { c.prot4Plus = true; });
        const auto p3 = with([](auto &c) { c.protocol = 3; });
        const QString answer = "Recu en String : 4001076173";
        const QString lastLine[] = {"Communication OK  - CRC checked", "No Answer", "Communication Error - CRC false 3 time"};
        const Row rows[] = {
            {"answered at once", plain, false, kCheck1, false, false, 1000, 0, 1, 1, answer},
            {"silent", silent, false, kCheck1, false, false, 1000, 1, 3, 0, "No Answer"},
            {"echo alone", silent, true, kCheck1, false, false, 30, 1, 3, 0, "No Answer"},
            {"echo with the answer", plain, true, kCheck1, false, false, 1000, 0, 1, 1, answer},
            {"echo first, answer after the settle", with([](auto &c) { c.answerDelayMs = 90; }), true, kCheck1, false,
             false, 30, 0, 1, 1, answer},
            // Three bytes carry the CRC of nothing: only 00 00 04 passes.
            {"00 00 04", shortAnswer, false, kCheck1, false, false, 1000, 0, 1, 1, "Recu en String : 000004"},
            {"00 00 04 with a flipped bit", with([](auto &c) { c.faults.wrongLength = -10; c.faults.corruptAnswers = 1; }),
             false, kCheck1, false, false, 1000, 2, 3, 3, "Recu en String : "},
            {"CRC corrupted", corrupt, false, kCheck1, false, false, 1000, 2, 3, 3, "Recu en String : 40010761"},
            {"byte sum without Prot 4+", sum, false, kCheck1, false, false, 1000, 2, 3, 3, "Recu en String : 40010761"},
            {"byte sum with Prot 4+", sum, false, kCheck1, true, false, 1000, 0, 1, 1, "Recu en String : 40010761"},
            {"byte sum corrupted", with([](auto &c) { c.prot4Plus = true; c.faults.corruptAnswers = 1; }), false, kCheck1,
             true, false, 1000, 2, 3, 3, "Recu en String : 40010761"},
            {"CRC corrupted with Prot 4+", corrupt, false, kCheck1, true, false, 1000, 2, 3, 3, "Recu en String : 40010761"},
            // A protocol 3 firmware answers its switch with 68 2F, which only the switch takes; switched, it hears no more.
            {"68 2F for the switch", p3, false, "@1p400:4/", false, true, 1000, 0, 1, 1, "Recu en String : 682F"},
            {"68 2F for another", p3, false, "@1p400:4/", false, false, 1000, 1, 3, 1, "Recu en String : 682F"},
        };
        for (const Row &r : rows) {
            sim::LineOptions options;
            options.echo = r.echo;
            LineBench b(lineOf({r.c}), options);
            b.m().Protocol4Plus.setValue(r.prot4Plus ? 1 : 0);
            b.ctx().timings.settleDelay = r.settleMs / 1000.0;
            const Exchange e = exchange(b, r.frame, r.accept682F);
            QVERIFY2(e.result == r.result, r.name);
            QVERIFY2(b.bytesSent() == r.frame.repeated(r.tries), r.name);
            const QStringList log = b.log();
            QVERIFY2(!log.isEmpty() && log.first().startsWith(r.firstLog), qPrintable(QString(r.name) + ": " + log.join('|')));
            QVERIFY2(log.last() == lastLine[r.result], r.name);
            QVERIFY2(log.size() == r.answers + 1, r.name);
            QVERIFY2(e.answer == (r.result == 0 && !r.accept682F ? log.first().mid(17) : QString()), r.name);
            // Its working time runs from the first frame: every unanswered try had the whole time-out.
            const qint64 timeOutMs = std::llround(b.ctx().link.timeOut * 1000);
            QVERIFY2(b.ctx().outcomes[1].durationMs() >= (r.tries - r.answers) * timeOutMs, r.name);
        }
    }

    // Fast answers end the settle wait at a whole answer, and skip it after silence.
    void fastAnswersEndTheWaitEarly()
    {
        for (const bool answers : {true, false}) {
            sim::ControllerConfig c = controller(1, 9600, '@');
            c.answerDelayMs = c.pieceGapMs = 20;
            c.answerPieces = 3;
            c.faults.silent = !answers;
            sim::LineOptions options;
            options.pace = true;
            options.echo = answers; // the echo comes apart from the answer
            LineBench b(lineOf({c}), options);
            b.clock.skipSilence = false;
            b.ctx().timings.settleDelay = 5.0; // a wait that ran its course would show
            b.m().Text1.setText("300");
            b.m().FastAnswers.setValue(1);
            QElapsedTimer t;
            t.start();
            const Exchange e = exchange(b, kCheck1);
            QVERIFY2(t.elapsed() < 5000, qPrintable(QString::number(t.elapsed())));
            QCOMPARE(e.result, answers ? 0 : 1);
            QCOMPARE(b.bytesSent(), kCheck1.repeated(answers ? 1 : 3));
            if (answers) // judged whole, not by its first piece
                QCOMPARE(b.log(), QStringList({"Recu en String : " + e.answer, "Communication OK  - CRC checked"}));
        }
    }

    void judgingWithoutTheLine()
    {
        // Flash check of controller 0 and its answers: CRC CE D3, byte sum 01 2B.
        const QByteArray frame = QByteArray::fromHex("04000173B73404");
        const QByteArray crc = QByteArray::fromHex("04000761730102032A1CCED304");
        const QByteArray sum = QByteArray::fromHex("04000761730102032A1C012B04");
        QByteArray flipped = sum;
        flipped[5] = char(flipped[5] ^ 0x10);
        // Right check code, but one byte more than the count byte says; or no terminator.
        const QByteArray tooLong = QByteArray::fromHex("04000761730102032A1C55E1D204");
        const QByteArray noEnd = QByteArray::fromHex("04000761730102032A1CCED305");
        const QByteArray h682F = QByteArray::fromHex("682F"), crcOfNothing = QByteArray::fromHex("000004");
        const auto none = AnswerVerdict::NoAnswer, failed = AnswerVerdict::CheckFailed, ok = AnswerVerdict::Accepted;
        struct Row {
            const char *name;
            QByteArray received;
            bool prot4Plus, accept682F;
            AnswerVerdict verdict;
            QByteArray answer;
            bool complete;
        };
        const Row rows[] = {
            {"CRC answer", crc, false, false, ok, crc, true},
            {"echo, then answer", frame + crc, false, false, ok, crc, true},
            {"echo alone", frame, false, false, none, {}, false},
            {"nothing", {}, true, true, none, {}, false},
            {"first piece", crc.left(7), false, false, failed, crc.left(7), false},
            {"echo and first piece", frame + crc.left(3), false, false, failed, crc.left(3), false},
            {"byte sum without Prot 4+", sum, false, false, failed, sum, false},
            {"byte sum with Prot 4+", sum, true, false, ok, sum, true},
            {"CRC with Prot 4+ (boot program)", crc, true, false, ok, crc, true},
            {"corrupted with Prot 4+", flipped, true, false, failed, flipped, false},
            {"noise after the answer", crc + "\x55", false, false, failed, crc + "\x55", false},
            {"one byte too long", tooLong, false, false, ok, tooLong, false},
            {"no terminator", noEnd, false, false, ok, noEnd, false},
            {"CRC of nothing", crcOfNothing, false, false, ok, crcOfNothing, false},
            {"68 2F for the switch", h682F, false, true, AnswerVerdict::Accepted682F, h682F, true},
            {"68 2F for others", h682F, false, false, failed, h682F, false},
            {"68 alone", h682F.left(1), false, true, failed, h682F.left(1), false},
        };
        for (const Row &r : rows) {
            const AnswerJudgement j = judgeAnswer(r.received, frame, {r.prot4Plus, r.accept682F});
            QVERIFY2(j.verdict == r.verdict && j.answer == r.answer, r.name);
            QVERIFY2(answerComplete(r.received, frame, {r.prot4Plus, r.accept682F}) == r.complete, r.name);
        }
        // Whole, sound answers naming controller 1 are set aside from the front; the rest is judged.
        const QByteArray ack1 = QByteArray::fromHex("04010161B27704"), refusal1 = QByteArray::fromHex("040101E123FF04");
        QByteArray damaged1 = ack1;
        damaged1[3] = char(0x62);
        const QList<std::tuple<const char *, QByteArray, QByteArray, qsizetype>> strays = { // frame, received, stray bytes
            {"controller 1's ack, then ours", frame, ack1 + crc, ack1.size()},
            {"two of controller 1's", frame, ack1 + refusal1, 2 * ack1.size()},
            {"ours, then controller 1's", frame, crc + ack1, 0},
            {"a damaged one is judged", frame, damaged1 + crc, 0},
            {"a protocol-3 text", "@0p400:4/", ack1, 0},
        };
        for (const auto &[name, sent, received, strayBytes] : strays) {
            const StraySplit split = splitStray(received, sent, 0, {});
            QVERIFY2(split.stray == received.left(strayBytes) && split.rest == received.mid(strayBytes), name);
        }
        // Two whole answers naming the controller are two boards on its number; a protocol-3 text names none.
        QVERIFY(answeredTwice(crc + crc, frame, 0, {}) && answeredTwice(crc + crc + crc, frame, 0, {}));
        QVERIFY(!answeredTwice(crc, frame, 0, {}) && !answeredTwice(crc + crc.left(7), frame, 0, {}));
        QVERIFY(!answeredTwice(crc + crc, "@0p400:4/", 0, {}));
    }

    // Answers that came after their exchange ended wait on the line: the next exchange logs them as stray, takes
    // its own answer, not the stale ones, and learns no speed from it (a late answer may be to a frame at another
    // speed), also where another late answer follows ours. Only another's late answers waiting say nothing of ours.
    void leftoversBeforeAnExchangeAreNotItsAnswer()
    {
        struct Row { bool oursLate, othersLate; const char *stale; };
        const Row rows[] = {{true, false, "(4001076173\\w{16}){3}"},
                            {true, true, "(400[13]076173\\w{16}){6}"},
                            {false, true, "(4003076173\\w{16}){1}"}};
        for (const Row &r : rows) {
            sim::ControllerConfig c = controller(1, 9600, '@');
            c.answerDelayMs = r.oursLate ? 300 : 0;
            sim::ControllerConfig misnumbered = controller(1, 9600, '@'); // hears frames to 1, answers later naming 3
            misnumbered.answerDelayMs = 800;
            misnumbered.faults.answerAs = 3;
            LineBench b(r.othersLate ? lineOf({c, misnumbered}) : lineOf({c}));
            b.m().FastAnswers.setValue(1);
            b.m().Text1.setText("50");
            QCOMPARE(exchange(b, kCheck1).result, int(r.oursLate ? ComNoAnswer : ComOk));
            // The line took all the frames and sent all the answers.
            QTRY_VERIFY_WITH_TIMEOUT(b.line->activity() == std::make_pair(b.port.written, true), 10000);
            b.m().Text1.setText("5000");
            b.ctx().outcomes[1].speed.reset();
            const Exchange e = exchange(b, kCheck1);
            QVERIFY(e.result == ComOk && e.answer.startsWith("4001076173") && e.answer.size() == 26);
            QCOMPARE(b.log().filter(QRegularExpression(QString("^Stray bytes : ") + r.stale + " ")).size(), 1);
            QVERIFY(b.log().filter("Stray bytes : ").first().endsWith("(waiting before the frame was sent)"));
            QCOMPARE(b.ctx().outcomes[1].speed, r.oursLate ? std::nullopt : std::optional<int>(9600));
        }
    }

    // Another controller's answer ends the try's settle wait: with the written timing the rest of the time-out
    // is waited for our answer, but silence after it gets no second settle wait.
    void aStrayAnswerGetsOneSettleWait()
    {
        sim::ControllerConfig other = controller(1, 9600, '@'); // hears frames to 1, answers naming 9
        other.faults.answerAs = 9;
        LineBench b(lineOf({other}));
        b.clock.skipSilence = false; // the wait is what is measured
        b.ctx().timings.settleDelay = 0.4;
        b.m().Text1.setText("1000");
        QElapsedTimer t;
        t.start();
        QCOMPARE(exchange(b, kCheck1).result, int(ComNoAnswer));
        // Three tries of 1 s; a second settle would make each 1.4 s.
        QVERIFY2(t.elapsed() < 3 * 1200, qPrintable(QString::number(t.elapsed())));
        QCOMPARE(b.log().filter("(not controller 1's answer)").size(), 3);
    }

    void stopDuringTheWaitEndsAtOnceWithoutVerdict()
    {
        sim::ControllerConfig c = controller(1, 9600, '@');
        c.faults.silent = true;
        LineBench b(lineOf({c}));
        b.clock.skipSilence = false;
        b.m().Text1.setText("60000");
        int calls = 0;
        b.desk.onProcessEvents = [&] {
            if (++calls == 20)
                b.ctx().StopRequested = true;
        };
        QElapsedTimer t;
        t.start();
        const Exchange e = exchange(b, kCheck1);
        QCOMPARE(e.result, 1);
        QVERIFY(t.elapsed() < 30000);
        QVERIFY(b.log().isEmpty());
        QCOMPARE(b.bytesSent(), kCheck1);
    }

    void textsAndSettings()
    {
        QCOMPARE(ComResultText(3), QString("Communication Failure - 3 * E1"));

        LineBench b(sim::LineConfig{});
        Timings &t = b.ctx().timings;
        t.failureHold = 2.0;
        QCOMPARE(failureHoldSeconds(b.ctx()), 2.0);
        b.m().FastAnswers.setValue(1); // the box alone is no run's setting: a run takes it at its start
        QCOMPARE(failureHoldSeconds(b.ctx()), 2.0);
        b.ctx().link.fastAnswers = true;
        QCOMPARE(failureHoldSeconds(b.ctx()), 0.2);
        t.failureHold = 0.05; // a shorter hold set for tests or scripts stays
        QCOMPARE(failureHoldSeconds(b.ctx()), 0.05);

    }
};

QTEST_GUILESS_MAIN(TestExchange)
#include "test_exchange.moc"
