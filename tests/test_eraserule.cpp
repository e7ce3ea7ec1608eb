// An erase that went out is never forgotten, and a time-out is the
// controller's time: downloads on lines whose answers are lost, foreign,
// garbled, late or doubled, end to end on the simulated line.
#include "support/shardmain.h"
#include "support/hexbuilder.h"
#include "support/linebench.h"

#include <QTest>

using namespace vantorel;

namespace {

QByteArray image() { return sampleImage(); }
QByteArray imageFlash() { return sampleFlash(); }

// Old firmware: anything but the image.
sim::ControllerConfig withOldFirmware(sim::ControllerConfig c)
{
    c.flash = QByteArray(0xDFFE, char(0x5A));
    return c;
}

// What no report may ever say: a controller whose flash the run changed, or
// which waits in its boot program, reported as left as it was; one called ok
// that does not run the image.
void assertNothingHidden(LineBench &b, const QList<int> &controllers, const QMap<int, QByteArray> &before)
{
    b.settle();
    const sim::LineSnapshot s = b.line->snapshot();
    for (const int n : controllers) {
        const ControllerOutcome &o = b.ctx().outcomes[n];
        const bool touched = s.controller(n)->mode == sim::Mode::Boot || b.line->flash(n) != before.value(n);
        const bool runsImage = b.line->flash(n) == imageFlash() && s.controller(n)->mode == sim::Mode::Firmware;
        if (o.outcome == Outcome::Ok) {
            QVERIFY2(runsImage, qPrintable(QString::number(n)));
        } else if (touched && !runsImage) { // a report worse than the truth hides nothing
            QVERIFY2(o.erased && o.mayHoldNoFirmware(), qPrintable(QString("%1: %2").arg(n).arg(outcomeName(o.outcome))));
            QVERIFY(o.outcome == Outcome::EraseUnconfirmed || o.outcome == Outcome::ErasedNotProgrammed);
        }
    }
}

} // namespace

class TestEraseRule : public QObject {
    Q_OBJECT

private slots:
    // Controller 1 is sound; controller 2's erase reaches it, but no answer the tool could take
    // comes back. In a parallel run 2 takes the image and its verdict comes from its check.
    // The fault table of one download kind in one timing: each quarter runs on its own.
    static void faultRows(bool parallel, bool fast)
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<bool>("parallel");
        QTest::addColumn<bool>("fast");
        QTest::addColumn<int>("outcome");
        const QString mode = QString(parallel ? "parallel" : "serial") + (fast ? ", fast" : ", written");
        const int unconfirmed = int(Outcome::EraseUnconfirmed);
        QTest::newRow(qPrintable("another's number, " + mode)) << "foreign" << parallel << fast << unconfirmed;
        QTest::newRow(qPrintable("garbled, " + mode)) << "garbled" << parallel << fast << unconfirmed;
        QTest::newRow(qPrintable("two boards as 2, " + mode)) << "twins" << parallel << fast << unconfirmed;
        // Only the erase's answers are lost: the image lands, and the check says so.
        QTest::newRow(qPrintable("answer lost, " + mode))
            << "lost" << parallel << fast << int(parallel ? Outcome::Ok : Outcome::EraseUnconfirmed);
        // With the written settle a late "61" may be taken for a later frame's: whatever it is
        // taken for, the controller is not hidden (-1: no one outcome).
        QTest::newRow(qPrintable("acknowledged 4 s late, " + mode)) << "late" << parallel << fast << (fast ? unconfirmed : -1);
    }
    void anEraseWithoutATakenAnswerIsNeverForgotten_data() { faultRows(false, false); }
    void anEraseWithoutATakenAnswerIsNeverForgotten() { eraseFaultRow(); }
    void anEraseWithoutATakenAnswerIsNeverForgottenFast_data() { faultRows(false, true); }
    void anEraseWithoutATakenAnswerIsNeverForgottenFast() { eraseFaultRow(); }
    void anEraseWithoutATakenAnswerIsNeverForgottenInParallel_data() { faultRows(true, false); }
    void anEraseWithoutATakenAnswerIsNeverForgottenInParallel() { eraseFaultRow(); }
    void anEraseWithoutATakenAnswerIsNeverForgottenInParallelFast_data() { faultRows(true, true); }
    void anEraseWithoutATakenAnswerIsNeverForgottenInParallelFast() { eraseFaultRow(); }

private:
    void eraseFaultRow()
    {
        QFETCH(QString, fault);
        QFETCH(bool, parallel);
        QFETCH(bool, fast);
        QFETCH(int, outcome);
        sim::ControllerConfig two = withOldFirmware(controller(2));
        sim::LineConfig line = lineOf({controller(1), two});
        if (fault == "foreign")
            line.controllers[1].faults.answerAs = 9;
        else if (fault == "garbled")
            line.controllers[1].faults.corruptAnswers = 1.0;
        else if (fault == "lost")
            line.controllers[1].faults.dropEraseAnswers = 1000;
        else if (fault == "late")
            line.controllers[1].answerDelayMs = 4000;
        else if (fault == "twins")
            line.controllers.push_back(withOldFirmware(controller(2)));
        // Late answers need a time-out they miss; a sound controller beside them would have to keep
        // within it under any load, so that one is alone. Elsewhere the bench's generous one holds.
        const bool alone = fault == "late";
        if (alone)
            line.controllers.erase(line.controllers.begin());
        LineBench b(line);
        b.ctx().timings.settleDelay = 0.2; // not under test
        b.useImage(image());
        b.m().FastAnswers.setValue(fast ? 1 : 0);
        if (alone)
            b.m().Text1.setText("100");
        b.select(alone ? QList<int>{2} : QList<int>{1, 2});
        const QMap<int, QByteArray> before = {{1, b.line->flash(1)}, {2, b.line->flash(2)}};
        b.session->run(parallel ? Session::Operation::DownloadParallel : Session::Operation::DownloadSerial);

        const ControllerOutcome &o = b.ctx().outcomes[2];
        if (!alone) {
            QCOMPARE(outcomeName(b.ctx().outcomes[1].outcome), outcomeName(Outcome::Ok));
            assertNothingHidden(b, {1}, before);
        }
        if (outcome >= 0) {
            QCOMPARE(outcomeName(o.outcome), outcomeName(Outcome(outcome)));
            QVERIFY(!o.eraseConfirmed);
        }
        QVERIFY(o.erased);
        if (fault != "twins") // two boards share one number's snapshot
            assertNothingHidden(b, {2}, before);
        // Its row is never blank, and the summary names it with those left without firmware.
        QVERIFY(!b.ctx().info.verView(2).text.isEmpty());
        if (outcome == int(Outcome::EraseUnconfirmed))
            QVERIFY2(b.ctx().info.summary().contains("may be erased, not programmed: 2"), qPrintable(b.ctx().info.summary()));
        // Late answers to two tries may land in one settle and read as twins (a wrong name for a
        // verdict that stays no better than the line): only the other faults are held to it.
        if (fault != "late") {
            QCOMPARE(b.log().contains("Warning : two controllers answer as 2"), fault == "twins");
            QCOMPARE(o.sharesNumber, fault == "twins");
        }
    }

private slots:
    // A parallel download on a dead line ends at the first controller, having erased nobody.
    void aDeadLineEndsAtTheFirstController()
    {
        LineBench b(lineOf({}));
        b.useImage(image());
        b.m().Text1.setText("300");
        b.select({1, 2, 3, 4});
        b.session->run(Session::Operation::DownloadParallel);
        for (const QByteArray &f : b.framesSent())
            QCOMPARE(int(quint8(f[1])), 1);
        QCOMPARE(b.ctx().outcomes[1].outcome, Outcome::EraseUnconfirmed);
        for (const int n : {2, 3, 4})
            QCOMPARE(b.ctx().outcomes[n].outcome, Outcome::NotReached);
    }

    // The time-out starts when the frame has left the line: at 4800 a 137-byte batch takes 314 ms,
    // more than the whole Time Out of 300 (which leaves a loaded machine's line room to answer). And
    // a Time Out no answer could beat is refused.
    // Its rows as three functions: the written ones wait out the full settle and run on their own.
    void theTimeOutIsTheControllersTime_data() { timeOutRows({{"300", true, false}, {"0", true, true}}); }
    void theTimeOutIsTheControllersTime() { timeOutRow(); }
    void theTimeOutIsTheControllersTimeWritten_data() { timeOutRows({{"300", false, false}}); }
    void theTimeOutIsTheControllersTimeWritten() { timeOutRow(); }
    void theTimeOutOfZeroWritten_data() { timeOutRows({{"0", false, false}}); }
    void theTimeOutOfZeroWritten() { timeOutRow(); }

private:
    struct TimeOutRow { const char *timeOut; bool fast, refused; };
    static void timeOutRows(std::initializer_list<TimeOutRow> rows)
    {
        QTest::addColumn<QString>("timeOut");
        QTest::addColumn<bool>("fast");
        QTest::addColumn<bool>("refused");
        for (const TimeOutRow &r : rows)
            QTest::newRow(qPrintable(QString("%1, %2").arg(r.timeOut, r.fast ? "fast" : "written"))) << QString(r.timeOut) << r.fast << r.refused;
    }
    void timeOutRow()
    {
        QFETCH(QString, timeOut);
        QFETCH(bool, fast);
        QFETCH(bool, refused);
        sim::LineOptions paced;
        paced.pace = true;
        sim::ControllerConfig c[2] = {controller(1, 4800), controller(2, 4800)};
        for (auto &x : c)
            x.bootSpeed = 4800;
        LineBench b(lineOf({c[0], c[1]}), paced);
        b.clock.skipSilence = false;
        b.ctx().timings.settleDelay = Timings{}.settleDelay; // the bench's generous one only costs time here
        b.m().Vitesse.setText("4800");
        b.m().BootSettings = "4800,N,8,2";
        b.useImage(image());
        b.m().FastAnswers.setValue(fast ? 1 : 0);
        b.m().Text1.setText(timeOut);
        b.select({1, 2});
        b.session->run(Session::Operation::DownloadSerial);
        if (refused) {
            QVERIFY(b.bytesSent().isEmpty());
            QCOMPARE(b.desk.boxes.size(), 1);
            QVERIFY2(b.desk.boxes[0].text.contains("with fast answers") && b.desk.boxes[0].text.contains("--timeout 20"),
                     qPrintable(b.desk.boxes[0].text));
            return;
        }
        for (const int n : {1, 2}) {
            QCOMPARE(b.ctx().outcomes[n].outcome, Outcome::Ok);
            QCOMPARE(b.line->flash(n), imageFlash());
        }
        QVERIFY(!b.log().contains("No Answer"));
        // Every frame went out once: no try ran out while its frame was still on the wire. (A
        // Time Out of 0 leaves the written timing no room to be sure of that on a loaded machine.)
        QByteArray last;
        if (timeOut != "300")
            return;
        for (const sim::FrameRecord &f : b.line->frames()) {
            QVERIFY2(f.bytes != last, qPrintable("sent again: " + f.bytes.toHex(' ')));
            last = f.bytes;
        }
    }

private slots:
    // Two boards numbered 2, one holding the image and one old firmware: the verdict does not hang on
    // which answers first, and is the same in both timing modes.
    void twoBoardsOnOneNumberAreToldInBothModes()
    {
        sim::ControllerConfig holding = controller(2);
        holding.flash = imageFlash();
        const auto [written, fast] = runInBothModes(lineOf({holding, withOldFirmware(controller(2))}), {},
                                                    Session::Operation::FlashInfo, [](LineBench &b) {
                                                        b.ctx().timings.settleDelay = 0.2;
                                                        b.useImage(image());
                                                        b.select({2});
                                                    });
        QVERIFY(!written.allWell);
        QVERIFY(!fast.allWell);
        QVERIFY(written.log.contains("Warning : two controllers answer as 2"));
        QCOMPARE(fast.log, written.log);
        QCOMPARE(fast.table, written.table);
    }

    // A controller at 9600 that answers 0.35 s late, Time Out 100: on a line paced like a UART its answers reach
    // a tool that has moved on to 4800 as garbage, and no speed is learnt from them. (Late answers found waiting
    // before a frame teach nothing either: the exchange's own tests hold that, where the line's pace cannot move
    // an answer from before a try into it.)
    void aLateAnswerTeachesNoSpeed()
    {
        sim::LineOptions options;
        options.pace = true;
        sim::ControllerConfig late = controller(3, 9600, '@');
        late.answerDelayMs = 350;
        late.flash = imageFlash();
        LineBench b(lineOf({late}), options);
        b.clock.skipSilence = false;
        b.ctx().timings.settleDelay = 0.2;
        b.ctx().timings.failureHold = 0.0;
        b.useImage(image());
        b.m().Protocol.setText("63"); // "@": no second round of tries at a speed
        b.m().FastAnswers.setValue(1);
        b.m().KnownSpeedsFirst.setValue(1);
        b.m().Text1.setText("100");
        b.select({3});
        b.session->run(Session::Operation::FlashInfo);
        const ControllerOutcome &o = b.ctx().outcomes[3];
        QVERIFY2(o.speed.value_or(9600) == 9600, qPrintable(QString::number(o.speed.value_or(0))));
        const int known = b.ctx().user.knownSpeed(b.port.portName(), 3);
        QVERIFY2(known == 0 || known == 9600, qPrintable(QString::number(known)));
    }

    // Cancel in the middle of an erase search, or just after it: untouched if no erase had gone out to it, else
    // maybe erased, or erased.
    void cancelInASearch_data()
    {
        QTest::addColumn<QString>("at");
        QTest::addColumn<int>("speed2"); // 0: not on the line, searched to its boot program's try at 9600
        QTest::addColumn<int>("outcome");
        QTest::addColumn<QString>("row"); // its boxes' texts
        QTest::newRow("before its first erase") << "Controller 2 : Erasing " << 19200 << int(Outcome::Cancelled) << " ";
        QTest::newRow("after its tries at 9600") << "Controller 2 : No Answer" << 19200 << int(Outcome::EraseUnconfirmed) << "No Answer";
        // Erased at 19200: the marks of its silent speeds are gone with its firmware.
        QTest::newRow("after its erase") << "Controller 2 : Programming Batch 1" << 19200 << int(Outcome::ErasedNotProgrammed) << " ";
        QTest::newRow("in its boot program's try") << "Controller 2 : Erasing  (Speed : 9600" << 0 << int(Outcome::EraseUnconfirmed) << "No Answer";
    }
    void cancelInASearch()
    {
        QFETCH(QString, at);
        QFETCH(int, speed2);
        QFETCH(int, outcome);
        QFETCH(QString, row);
        LineBench b(speed2 ? lineOf({controller(1), controller(2, speed2)}) : lineOf({controller(1)}));
        b.useImage(image());
        b.select({1, 2});
        bool searchedOn = speed2 != 0; // without 2 on the line: once its search has left 9600
        b.desk.onProcessEvents = [&] {
            const QString label = b.ctx().message.Label1.text();
            searchedOn = searchedOn || (label.startsWith("Controller 2 : Erasing ") && !label.startsWith(at));
            if (!b.ctx().StopRequested && searchedOn && label.startsWith(at))
                b.ctx().message.cancel();
        };
        b.session->run(Session::Operation::DownloadSerial);
        QCOMPARE(outcomeName(b.ctx().outcomes[2].outcome), outcomeName(Outcome(outcome)));
        QVERIFY2(b.ctx().outcomes[2].failure == Failure::None, qPrintable(failureWords(b.ctx().outcomes[2].failure)));
        QCOMPARE(b.ctx().info.verView(2).text + " " + b.ctx().info.ckSumView(2).text, row);
        if (outcome != int(Outcome::ErasedNotProgrammed) && speed2)
            QCOMPARE(b.line->snapshot().controller(2)->framesHeard, 0); // at 19200 it heard none of them
    }
};

VANTOREL_TEST_MAIN(TestEraseRule, QCoreApplication)
#include "test_eraserule.moc"
