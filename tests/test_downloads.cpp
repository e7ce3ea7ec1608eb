// Downloads and protocol switches, end to end on the simulated line: the
// bytes that crossed it (literal frames), what landed in each controller's
// flash, the result table, the progress texts and the log.
#include "link/frames.h"
#include "link/textcodec.h"
#include "programming/downloads.h"
#include "support/shardmain.h"
#include "support/hexbuilder.h"
#include "support/linebench.h"

#include <QElapsedTimer>
#include <QTest>

using namespace vantorel;

namespace {

QByteArray code() { return sampleCode(); }
QByteArray image(const char *configuration = "70000402") { return sampleImage(configuration); }
bool holdsImage(const LineBench &b, int n) { return b.line->flash(n) == sampleFlash(); }

QByteArray hex(const char *digits) { return QByteArray::fromHex(digits); }

int countFrames(const LineBench &b, const QByteArray &frame) { return int(b.framesSent().count(frame)); }

// A row of the result table: texts, then colour/background/bold of each box.
QString boxes(LineBench &b, int n)
{
    const auto style = [](const ResultBox &x) {
        return QString("%1/%2/%3").arg(x.foreground, 0, 16).arg(x.background < 0 ? "-" : QString::number(x.background, 16))
            .arg(int(x.bold));
    };
    const ResultBox &v = b.ctx().info.verView(n);
    const ResultBox &c = b.ctx().info.ckSumView(n);
    return QString("%1 %2 %3 %4").arg(v.text, c.text, style(v), style(c));
}
const QString kOkBoxes = "01/00/00 1C7C 0/-/0 0/-/0";

// A window that keeps what a download tells of its line plan and its searches, each outlook with when it came.
struct PlanView : WindowView {
    explicit PlanView(LineBench &b) : WindowView(b.ctx()), bench(b) {}
    void planLine(const LinePlan &plan) override { plans << plan, WindowView::planLine(plan); }
    void searching(const SearchOutlook &outlook) override { outlooks << outlook, at << bench.clock.seconds(), WindowView::searching(outlook); }
    // Runs a download through this window.
    void download(bool parallel)
    {
        const std::unique_ptr<Run> run = runFromWindow(bench.ctx(), *this);
        parallel ? ComLoadClick(*run) : ComLoad00Click(*run);
    }
    LineBench &bench;
    QList<LinePlan> plans;
    QList<SearchOutlook> outlooks;
    QList<double> at;
};

} // namespace

class TestDownloads : public QObject {
    Q_OBJECT

private slots:
    void serialDownloadAtMixedSpeeds()
    {
        // Controller 2 listens to "@" only; 4 sits at 4800; 6 at 19200 reports a damaged flash.
        sim::ControllerConfig damaged = controller(6, 19200);
        damaged.faults.damagedFlash = true;
        LineBench b(lineOf({controller(2, 9600, '@'), controller(4, 4800), damaged}));
        b.useImage(image());
        b.select({2, 4, 6});
        b.m().Text2.setText(""); // the serial download never reads the delay
        b.session->run(Session::Operation::DownloadSerial);

        for (int n : {2, 4, 6})
            QVERIFY2(holdsImage(b, n), qPrintable(QString::number(n)));
        QCOMPARE(boxes(b, 2), kOkBoxes);
        QCOMPARE(boxes(b, 4), kOkBoxes);
        QCOMPARE(boxes(b, 6), QString("Programmation ERROR ff0000/-/1 ffffff/ff0000/1"));
        QVERIFY(b.labels.contains("Controller 2 : Programming OK (Speed : 9600 Bds) ..."));
        QVERIFY(b.labels.contains("Controller 4 : Erasing OK (Speed : 4800 Bds) ..."));
        QVERIFY(b.labels.contains("Controller 4 : Programming OK (Speed : 4800 Bds) ..."));
        QVERIFY(b.labels.contains("Controller 6 : Programming failure   (Speed : 19200 Bds) "));
        const qsizetype erasing4 = b.labels.indexOf("Controller 4 : Erasing  (Speed : 9600 Bds) ...");
        QVERIFY(erasing4 >= 0 && b.runLines[erasing4].startsWith("Controller 4 (2 of 3) \u00B7 "));
        // Eight batches are counted sent as the ninth goes, and all nine before the full checksum.
        const qsizetype batch9 = b.labels.indexOf(QRegularExpression("Controller 4 : Programming Batch 9 .*"));
        QVERIFY(batch9 >= 0 && b.runLines[batch9].contains(" \u00B7 8 of 9 batches sent \u00B7 "));
        const qsizetype summing4 = b.labels.indexOf("Controller 4 : Sending full CheckSum  ..."); // the short form: no speed
        QVERIFY(summing4 >= 0 && b.runLines[summing4].contains(" \u00B7 9 of 9 batches sent \u00B7 "));
        QCOMPARE(b.desk.beeps, 1);
        const QStringList log = b.log();
        for (int n : {2, 4, 6})
            QVERIFY(log.contains(QString("******** PROGRAMMATION DU CTRL %1 **********").arg(n)));
        QCOMPARE(log.count("Message : $75 - Sending full Checksum "), 3);
        QCOMPARE(log.count("Message : $75 - Programmation Batch 9"), 3);
        QCOMPARE(log.count("Answer : 61"), 3 * (1 + 9 + 1)); // each erase, batch and full checksum
        QVERIFY(!log.contains("Message : $75 - Programmation Batch 10"));
        QVERIFY(b.desk.boxes.isEmpty() && !b.port.isOpen() && !b.ctx().message.exists());
        QVERIFY(!b.ctx().message.running()); // no time left is reckoned after the run
        // Controller 2's erase went with 0x04 three times, then with "@"; its batches always with "@".
        QVERIFY(b.bytesSent().contains(hex("0402047455AAF0E39004").repeated(3) + hex("4002047455AAF0FFBA04")));
        QCOMPARE(countFrames(b, hex("40028675AA55100000") + code().left(128) + hex("E88E04")), 1);
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
        b.useImage(image());
        b.select({1});
        b.session->run(Session::Operation::DownloadSerial);
        const QStringList log = b.log();
        QCOMPARE(log.contains("Answer : Failure 3*E1"), !programmed);
        QCOMPARE(log.contains("Message : $75 - Sending full Checksum "), programmed);
        QCOMPARE(holdsImage(b, 1), programmed);
        // Given up: left in its boot program, the check finds nobody; no verdict.
        QCOMPARE(boxes(b, 1), programmed ? kOkBoxes : QString("No Answer ff0000/-/1 ff0000/-/1"));
        QVERIFY(b.labels.contains(programmed ? "Controller 1 : Programming OK (Speed : 9600 Bds) ..."
                                             : "Controller 1 : Communication Failure   (Speed : 9600 Bds) "));
    }

    void eraseRefusedOrSilentEverywhereEndsTheRun()
    {
        sim::ControllerConfig c = controller(1);
        c.faults.refuseErase = 6;
        LineBench b(lineOf({c, controller(3)}));
        b.useImage(image());
        b.m().Vitesse.setText("19200");
        b.select({1, 3});
        b.session->run(Session::Operation::DownloadSerial);
        // Speeds in order: 19200, then 4800, 9600, 38400. Silent: three tries with 0x04, three with "@".
        // Refused at 9600: three tries, "Erasing" / "Failure", no "@". Any frame after those might have
        // started a boot program whose answer was lost: it is asked once more at the boot speed.
        const QByteArray with04 = hex("0401047455AAF02D7004"), withAt = hex("4001047455AAF0315A04");
        const QList<QPair<int, QByteArray>> expected = {{19200, with04.repeated(3) + withAt.repeated(3)},
                                                        {4800, with04.repeated(3) + withAt.repeated(3)},
                                                        {9600, with04.repeated(3)},
                                                        {38400, with04.repeated(3) + withAt.repeated(3)},
                                                        {9600, with04.repeated(3)}};
        QCOMPARE(sentWithSpeed(b), expected);
        QVERIFY(b.labels.contains("Controller 1 : Erasing Failure   (Speed : 9600 Bds) "));
        QCOMPARE(b.log().mid(0, 2), QStringList({"Message : $74", "0401047455AAF02D7004"}));
        QCOMPARE(b.log().count("Answer : Failure 3*E1"), 2);
        QCOMPARE(b.line->snapshot().controller(3)->framesHeard, 0);
        QVERIFY(!b.port.isOpen());
    }

    void checkAttemptsSwitchToProtocol4First()
    {
        // Controller 1 waits in its boot program; its new firmware speaks
        // protocol 3 and goes deaf after the checksum. Controller 2 runs protocol 4.
        sim::ControllerConfig deaf = controller(1);
        deaf.startInBoot = true;
        deaf.protocol = 3;
        deaf.faults.stopAfterFrames = 1 + 9 + 1; // erase, nine batches, checksum
        LineBench b(lineOf({deaf, controller(2)}));
        b.useImage(image());
        b.m().QRV3.setValue(1);
        b.select({1, 2});
        b.session->run(Session::Operation::DownloadSerial);
        // Every check attempt of controller 1 starts with the switch, at each speed.
        const QByteArray p4 = "@1p400:4/", check04 = hex("04010173800404"), checkAt = hex("40010173246904");
        const QByteArray attempt = p4.repeated(3) + check04.repeated(3) + checkAt.repeated(3);
        const auto sent = sentWithSpeed(b);
        QVERIFY(sent.size() >= 4);
        QVERIFY(sent[0].second.endsWith(attempt));
        for (int k = 1; k < 4; ++k)
            QVERIFY2(sent[k].second.startsWith(attempt), qPrintable(QString::number(sent[k].first)));
        QVERIFY(holdsImage(b, 1) && holdsImage(b, 2));
        QCOMPARE(b.ctx().info.verView(1).text, QString("No")); // no verdict
        QCOMPARE(boxes(b, 2), kOkBoxes);
        QVERIFY(b.bytesSent().contains("@2p400:4/"));
    }

    void imageSettingsAreTakenOn()
    {
        // D0 = 0x38: 38400 fixed and Prot 4+; protocol byte 04. Controller 2
        // already runs such a firmware, so it understands the sum check code. A parallel run erases
        // before taking them on: 2 takes the CRC frame, its answer in the sum code cannot be read,
        // and its boot program is asked at the boot speed.
        for (const Session::Operation op : {Session::Operation::DownloadSerial, Session::Operation::DownloadParallel}) {
            sim::ControllerConfig runs = controller(2, 38400);
            runs.prot4Plus = true;
            LineBench b(lineOf({controller(1), runs}));
            b.useImage(image("38000404"));
            QCOMPARE(b.m().FileName.toolTip(), QString("KB700 Baud Rate Fix 38400  [04 1]"));
            b.select({1, 2});
            // While its boot program is asked, 2's row no longer shows the search's failure.
            QStringList askedInBoot;
            b.desk.onProcessEvents = [&] {
                if (b.m().BootSettings.startsWith(b.port.settings()) && b.labels.last().startsWith("Controller 2 : Erasing "))
                    askedInBoot << boxes(b, 2);
            };
            b.session->run(op);
            QVERIFY2(op == Session::Operation::DownloadSerial || (askedInBoot.size() > 0 && askedInBoot.filter("ff0000").isEmpty()),
                     qPrintable(askedInBoot.join('|')));
            QCOMPARE(b.m().Vitesse.text(), QString("38400"));
            QCOMPARE(b.m().Protocol.text(), QString("3"));
            QVERIFY(b.m().Protocol4Plus.ticked());
            const sim::LineSnapshot s = b.line->snapshot();
            QCOMPARE(s.controller(1)->speed, 38400);
            QVERIFY(s.controller(1)->prot4Plus);
            for (const int n : {1, 2})
                QCOMPARE(b.ctx().info.ckSumView(n).text, b.m().FileCheksum.text());
            // Controller 2's first erase frame went at 38400 with the byte sum.
            bool seen = false;
            for (const auto &[speed, bytes] : sentWithSpeed(b))
                seen = seen || (speed == 38400 && bytes.contains(hex("0402047455AAF0026D04")));
            QCOMPARE(seen, op == Session::Operation::DownloadSerial);
        }
    }

    void parallelDownload()
    {
        // Controller 3 refuses the full checksum twice, 8 three times. The
        // line echoes: the broadcasts' echo must not be read as an answer.
        sim::ControllerConfig twice = controller(3), thrice = controller(8);
        twice.faults.refuseChecksum = 2;
        thrice.faults.refuseChecksum = 3;
        sim::LineOptions echo;
        echo.echo = true;
        LineBench b(lineOf({controller(0), twice, thrice, controller(17), controller(31)}), echo);
        b.useImage(image());
        b.select({0, 3, 8, 17, 31});
        // Cleared after its erase: it is sent no full checksum, and is not hidden.
        int looksAtBatch1 = 0; // the window is served while the line carries a batch, not only between two
        b.desk.onProcessEvents = [&] {
            if (!b.labels.isEmpty() && b.labels.last().startsWith(" Programming Batch"))
                b.m().C[17].setValue(0);
            looksAtBatch1 += !b.labels.isEmpty() && b.labels.last().startsWith(" Programming Batch 1 ");
        };
        b.session->run(Session::Operation::DownloadParallel);
        // Nine broadcasts: eight batches of 128 bytes (count byte 86), then the configuration record.
        QList<QByteArray> broadcasts;
        for (const QByteArray &f : b.framesSent())
            if (f.startsWith(hex("405F")))
                broadcasts << f;
        QCOMPARE(broadcasts.size(), 9);
        QVERIFY2(looksAtBatch1 > 1, qPrintable(QString::number(looksAtBatch1)));
        QCOMPARE(broadcasts[0], hex("405F8675AA55100000") + code().left(128) + hex("EF3504"));
        QCOMPARE(broadcasts[8], hex("405F0A75AA55102020700004026CD704"));
        // The full checksum, one per controller, sent again on a refusal, at most three times.
        const QList<QPair<int, QByteArray>> checksums = {{0, hex("40000775AA550FDD1C7C13A504")},
                                                         {3, hex("40030775AA550FDD1C7C3EE104")},
                                                         {8, hex("40080775AA550FDD1C7C3A5A04")},
                                                         {17, hex("40110775AA550FDD1C7CAB7804")},
                                                         {31, hex("401F0775AA550FDD1C7CD80F04")}};
        for (const auto &[n, frame] : checksums)
            QCOMPARE(countFrames(b, frame), n == 3 || n == 8 ? 3 : n == 17 ? 0 : 1);
        QCOMPARE(b.ctx().outcomes[17].outcome, Outcome::ErasedNotProgrammed);
        for (int n : {0, 3, 31}) {
            QVERIFY(holdsImage(b, n));
            QCOMPARE(boxes(b, n), kOkBoxes);
            QCOMPARE(b.ctx().outcomes[n].outcome, Outcome::Ok);
            QVERIFY(b.ctx().outcomes[n].failure == Failure::None); // "programmed, not verified" no longer
        }
        // Refused three times: reported, left in its boot program, no verdict.
        QVERIFY(b.labels.contains("Controller 8 : Communication Failure   (Speed : 9600 Bds) "));
        const qsizetype erasing8 = b.labels.indexOf("Controller 8 : Erasing  (Speed : 9600 Bds) ...");
        QVERIFY(erasing8 >= 0 && b.runLines[erasing8].startsWith("Controller 8 (3 of 5) \u00B7 "));
        // The check pass walks the controllers again from the first.
        const qsizetype checking0 = b.labels.lastIndexOf(QRegularExpression("Controller 0 : Checking Flash .*"));
QVERIFY(checking0 >= 0 && b.runLines[checking0].startsWith("Controller 0 (1 of 5) \u00B7 "));
        QCOMPARE(b.line->snapshot().controller(8)->mode, sim::Mode::Boot);
        QCOMPARE(b.ctx().info.verView(8).text, QString("No"));
        const QStringList log = b.log();
        QCOMPARE(log.count("Programming 5F without answer"), 1);
        // Each batch, which nobody answers, is in the log as it went out.
        qsizetype batches = 0, batchesLogged = 0;
        for (const QByteArray &f : b.framesSent()) {
            batches += f.startsWith(hex("405F"));
            batchesLogged += f.startsWith(hex("405F")) && log.contains(QString(f.toHex().toUpper()));
        }
        QVERIFY(batches > 0 && batchesLogged == batches);
        QCOMPARE(log.count("Message : $75 Sending full checksum"), 4);
        QCOMPARE(log.count("Answer : Failure 3*E1"), 1);
        QVERIFY(!b.port.isOpen() && !b.ctx().message.exists());
        // The broadcasts' echo, left waiting, is dropped before the full checksums: no stray answer.
        QVERIFY2(log.filter("Stray bytes").isEmpty(), qPrintable(log.filter("Stray bytes").join('\n')));
    }

    // Controllers 1 to 3 ticked, 2 cannot be erased: 1 and 3 are still programmed, never left erased;
    // 2 is sent nothing but erase frames and marked with what happened.
    void aControllerThatCannotBeErasedLeavesNoOtherErased_data()
    {
        QTest::addColumn<bool>("refuses");
        QTest::newRow("absent") << false;
        QTest::newRow("refusing every erase") << true;
    }
    void aControllerThatCannotBeErasedLeavesNoOtherErased()
    {
        QFETCH(bool, refuses);
        // Away from the boot speed: the boot program's last try meets silence, and the refusals must still be told.
        sim::ControllerConfig two = controller(2, 19200);
        two.faults.refuseErase = 1000;
        LineBench b(refuses ? lineOf({controller(1), two, controller(3)}) : lineOf({controller(1), controller(3)}));
        b.useImage(image());
        b.select({1, 2, 3});
        b.session->run(Session::Operation::DownloadParallel);
        for (int n : {1, 3}) {
            QVERIFY(holdsImage(b, n));
            QCOMPARE(boxes(b, n), kOkBoxes);
        }
        // Its erase frames went out: the absent one may have taken one, so it takes the image and is
        // checked; the refusing one said no itself and keeps its mark.
        QCOMPARE(boxes(b, 2), QString(refuses ? "Erasing Failure" : "No Answer") + " ff0000/-/1 ff0000/-/1");
        // (The line tells apart only frames for controllers on it: the log says what went out.)
        const QStringList log = b.log();
        QCOMPARE(log.contains("40020775AA550FDD1C7CD5C204"), !refuses); // its full checksum
        QCOMPARE(log.contains(StrToHex(flashCheckFrame("\x04", 2, CheckKind::Crc))), !refuses);
        QCOMPARE(b.ctx().info.summary(), QString("Download (Parallel): 2 of 3 controllers programmed and verified; "
                                                 "may be erased, not programmed: 2 (%1).")
                                             .arg(refuses ? "refused erase" : "No Answer"));
        QCOMPARE(b.ctx().outcomes[2].outcome, Outcome::EraseUnconfirmed);
        // Alone it ends the run as before, with no image sent to anybody; with nobody ticked the image still goes.
        for (const bool alone : {true, false}) {
            const qsizetype before = b.framesSent().size();
            b.select(alone ? QList<int>{2} : QList<int>{});
            b.session->run(Session::Operation::DownloadParallel);
            const QList<QByteArray> sent = b.framesSent().mid(before);
            QCOMPARE(std::count_if(sent.begin(), sent.end(), [](const QByteArray &f) { return f.startsWith(hex("405F")); }),
                     alone ? 0 : 9);
        }
    }

    // The boot program refused the image three times, then starts it anyway: whatever the check answers,
    // the controller is not called programmed.
    void aRefusedImageIsAFailedProgramming()
    {
        for (const Session::Operation op : {Session::Operation::DownloadSerial, Session::Operation::DownloadParallel}) {
            sim::ControllerConfig c = controller(1);
            c.faults.refuseChecksum = 3;
            c.faults.runsRefusedImage = true;
            // Controller 2 goes deaf after its last batch: its full checksum gets no answer, and says so.
            sim::ControllerConfig deaf = controller(2);
            deaf.faults.stopAfterFrames = 1 + 9;
            LineBench b(lineOf({c, deaf}));
            b.useImage(image());
            b.select({1, 2});
            b.session->run(op);
            QCOMPARE(boxes(b, 1), QString("Programmation ERROR ff0000/-/1 ffffff/-/1"));
            QVERIFY(b.labels.contains("Controller 1 : Programming failure   (Speed : 9600 Bds) "));
            const qsizetype summing2 = b.labels.indexOf(QRegularExpression("Controller 2 : Sending full CheckSum .*"));
            QVERIFY(summing2 >= 0 && b.labels.value(summing2 + 1) == "Controller 2 : No Answer   (Speed : 9600 Bds) ");
            QVERIFY(b.ctx().info.summary().endsWith("0 of 2 controllers programmed and verified; erased, not programmed: 1, 2."));
        }
    }

    void parallelWaitingDelayBetweenBroadcasts()
    {
        LineBench b(lineOf({controller(1)}));
        b.clock.skipSilence = false; // the delay is what is measured
        b.m().FastAnswers.setValue(1);
        b.useImage(image());
        b.m().Text2.setText("150");
        b.select({1});
        b.session->run(Session::Operation::DownloadParallel);
        QList<double> at;
        for (const sim::FrameRecord &f : b.line->frames())
            if (f.bytes.startsWith(hex("405F")))
                at << f.timeMs;
        QCOMPARE(at.size(), 9);
        // Each batch leaves at least the delay after the one before. The line
        // notes a batch when it reads it, which a busy machine may delay for
        // one batch by some milliseconds: the eight gaps are judged together.
        QVERIFY2(at[8] - at[0] >= 8 * 150 - 100, qPrintable(QString::number(at[8] - at[0])));
        QVERIFY(holdsImage(b, 1));
    }

    void cancel_data()
    {
        QTest::addColumn<bool>("parallel");
        QTest::addColumn<QString>("at");
        QTest::addColumn<int>("broadcasts");
        QTest::addColumn<bool>("checksums");
        QTest::addColumn<int>("heardBy5"); // frames controller 5 took
        QTest::addColumn<QString>("summary"); // after "Download (Serial|Parallel): 0 of 2 controllers programmed and verified; "
        // Cancel before an erase frame went out: nothing goes out after it, the controller is untouched.
        QTest::newRow("parallel, erase") << true << "Controller 1 : Erasing " << 0 << false << 0
                                         << "cancelled: 1, 5 (stopped by Cancel).";
        QTest::newRow("parallel, erase of 5") << true << "Controller 5 : Erasing " << 0 << false << 0
                                              << "erased, not programmed: 1; cancelled: 5 (stopped by Cancel).";
        // Cancel while 5's erase is answered: it may be erased (it is), though no answer was taken;
        // no "@" try follows, and the frame reaches it whole before the port closes.
        QTest::newRow("parallel, erase wait of 5") << true << "log:2" << 0 << false << 1
                                                   << "erased, not programmed: 1; may be erased, not programmed: 5 "
                                                      "(stopped by Cancel).";
        QTest::newRow("parallel, programming") << true << " Programming Batch 4 " << 3 << false << 4
                                               << "erased, not programmed: 1, 5 (stopped by Cancel).";
        QTest::newRow("parallel, check") << true << "Controller 1 : Checking Flash" << 9 << true << 11
                                         << "No Answer: 1; programmed, not verified: 5 (stopped by Cancel).";
        QTest::newRow("serial, programming") << false << "Controller 1 : Programming Batch 3" << 0 << false << 0
                                              << "erased, not programmed: 1; cancelled: 5 (stopped by Cancel).";
    }
    void cancel()
    {
        QFETCH(bool, parallel);
        QFETCH(QString, at);
        QFETCH(int, broadcasts);
        QFETCH(bool, checksums);
        QFETCH(int, heardBy5);
        QFETCH(QString, summary);
        LineBench b(lineOf({controller(1), controller(5)}));
        b.useImage(image());
        b.select({1, 5});
        // "log:N": once the Nth erase frame is on its way.
        const int erasesSent = at.startsWith("log:") ? at.mid(4).toInt() : 0;
        b.desk.onProcessEvents = [&] {
            const bool now = erasesSent > 0 ? b.log().count("Message : $74") >= erasesSent
                                            : b.ctx().message.Label1.text().startsWith(at);
            if (!b.ctx().StopRequested && now)
                b.ctx().message.cancel();
        };
        b.session->run(parallel ? Session::Operation::DownloadParallel : Session::Operation::DownloadSerial);
        int sentBroadcasts = 0;
        for (const QByteArray &f : b.framesSent())
            sentBroadcasts += f.startsWith(hex("405F"));
        QCOMPARE(sentBroadcasts, broadcasts);
        // No "@" erase try follows a Cancel, nor is one needed before: every controller answers.
        for (const QByteArray &f : b.framesSent())
            QVERIFY2(!(f.startsWith('@') && f.mid(2, 2) == hex("0474")), f.toHex().constData());
        QCOMPARE(b.log().contains("Message : $75 Sending full checksum"), checksums);
        QVERIFY(!b.log().contains("Message : $75 - Sending full Checksum "));
        // The line may still be telling its last frame apart when the run ends.
        b.line->waitUntil([&](const sim::LineSnapshot &s) { return s.controller(5)->framesHeard >= heardBy5; }, 5000);
        QCOMPARE(b.line->snapshot().controller(5)->framesHeard, heardBy5);
        QVERIFY(!b.port.isOpen());
        // Every ticked controller named: one left erased is never "not reached", nor "No Answer".
        QCOMPARE(b.ctx().info.summary().section("verified; ", 1), summary);
        QCOMPARE(b.ctx().outcomes[5].mayHoldNoFirmware(), b.line->snapshot().controller(5)->mode == sim::Mode::Boot);
    }

    // The time left's plan as a live download makes it, where the timing rows cannot tell it within their margin:
    // an erase search that finds nothing ends with a try in the boot program only where its last speed (38400,
    // from 9600) was not the boot speed already, and a broadcast's checks are expected to search.
    void timeLeftPlanFollowsTheSearch_data()
    {
        QTest::addColumn<bool>("parallel");
        QTest::addColumn<int>("bootSpeed");
        QTest::addColumn<bool>("bootTry");
        for (const bool parallel : {false, true}) {
            const QByteArray mode = parallel ? "parallel, " : "serial, ";
            QTest::newRow(mode + "boot at 9600") << parallel << 9600 << true;
            QTest::newRow(mode + "boot at 38400") << parallel << 38400 << false;
        }
    }
    void timeLeftPlanFollowsTheSearch()
    {
        QFETCH(bool, parallel);
        QFETCH(int, bootSpeed);
        QFETCH(bool, bootTry);
        LineBench b(sim::LineConfig{}); // 1 and 2 are missing: 1's search ends the run
        b.m().BootSettings = QString::number(bootSpeed) + ",N,8,2";
        b.useImage(hexImage(0, QByteArray(256, '\x5A'), 32));
        b.select({1, 2});
        PlanView view(b);
        view.download(parallel);
        QCOMPARE(view.plans.size(), 1);
        QCOMPARE(view.plans[0].silentChecks.size(), parallel ? 2 : 0);
        for (const double expected : view.plans[0].silentChecks)
            QVERIFY(expected > 0); // where the checks start, nothing is known
        // Nothing is known of 2: where it starts, each of the four speeds is as likely, so 1.5 of them are
        // expected silent before it answers.
        QStringList told;
        for (const SearchOutlook &o : view.outlooks)
            if (o.controller != 0) // a broadcast passes 0, not ticked, before a frame
                told << QString("%1%2, then %3").arg(o.controller).arg(o.bootTry ? " boot try" : "").arg(o.later.value(0));
        const QString expected = QString(bootTry ? "1 boot try, then 1.5" : "1, then 1.5");
        QVERIFY2(told.size() >= 4 && told == QStringList(told.size(), expected), qPrintable(told.join(", ")));
        // At each of 1's speeds: the silent speeds expected here, and after this one.
        QStringList silent;
        for (const SearchOutlook &o : view.outlooks)
            if (o.controller == 1)
                silent << QString("%1/%2").arg(o.silentHere).arg(o.silentAfter);
        QCOMPARE(silent, QStringList({"1.5/1", "1/0.5", "0.5/0", "0/0"}));
    }

    // Where every ticked controller's speed was learnt (and is not tried first), the plan foretells exactly the
    // silent speeds each erase search then meets: the searches start where the one before found its controller.
    void timeLeftPlanFollowsTheSpeedsLearnt_data()
    {
        QTest::addColumn<bool>("parallel");
        QTest::newRow("serial") << false;
        QTest::newRow("parallel") << true;
    }
    void timeLeftPlanFollowsTheSpeedsLearnt()
    {
        QFETCH(bool, parallel);
        LineBench b(lineOf({controller(1, 19200), controller(2, 4800), controller(3, 38400)}));
        b.select({1, 2, 3});
        b.session->run(Session::Operation::FlashInfo);
        b.m().KnownSpeedsFirst.setValue(0);
        b.useImage(image());
        PlanView view(b);
        view.download(parallel);
        QVERIFY(b.ctx().info.summaryAllWell());
        QCOMPARE(view.plans.size(), 1);
        QList<double> met;
        for (const int n : {1, 2, 3})
            met << std::count_if(view.outlooks.begin(), view.outlooks.end(),
                                 [n](const SearchOutlook &o) { return o.controller == n && !o.checking; }) - 1.0;
        QCOMPARE(view.plans[0].silentSpeeds, met);
        // Only a broadcast's checks tell where their searches stand: a serial check follows its own erase.
        QCOMPARE(std::any_of(view.outlooks.begin(), view.outlooks.end(), [](const SearchOutlook &o) { return o.checking; }), parallel);
    }

    // A run where every first try is answered puts on the line, both ways, exactly the bytes its plan counts.
    void timeLeftPlanCountsEveryByteOnTheLine()
    {
        LineBench b(lineOf({controller(1)}));
        b.useImage(hexImage(0, QByteArray(256, '\x5A'), 32));
        b.select({1});
        PlanView view(b);
        view.download(false);
        QVERIFY(b.ctx().info.summaryAllWell());
        QCOMPARE(view.plans.size(), 1);
        const LinePlan &p = view.plans[0];
        qsizetype planned = p.eraseBytes + p.checksumBytes + p.checkBytes;
        for (const int batch : p.batchBytes)
            planned += batch + p.batchAnswerBytes;
        b.settle();
        qsizetype onLine = 0;
        for (const sim::TrafficEntry &e : b.line->traffic())
            onLine += e.bytes.size();
        QCOMPARE(planned, onLine);
    }

    // What the plan counts for a speed where no erase is answered is what such a speed takes: on a paced line,
    // with a real clock and the tool's waits shortened, from one speed's start to the next.
    void timeLeftPlanCostsASilentSpeedAsTheLineDoes_data()
    {
        QTest::addColumn<bool>("fast");
        QTest::addColumn<QString>("protocol");
        QTest::newRow("fast, both characters") << true << "3";
        QTest::newRow("written, '@' only") << false << "63";
    }
    void timeLeftPlanCostsASilentSpeedAsTheLineDoes()
    {
        QFETCH(bool, fast);
        QFETCH(QString, protocol);
        sim::LineOptions paced;
        paced.pace = true;
        LineBench b(sim::LineConfig{}, paced); // 1 is missing
        b.clock.skipSilence = false;
        b.ctx().timings.settleDelay = 0.2;
        b.ctx().timings.failureHold = 0.3; // 0.2 with fast answers
        b.m().FastAnswers.setValue(fast ? 1 : 0);
        b.m().Protocol.setText(protocol);
        b.m().Text1.setText("100");
        b.useImage(hexImage(0, QByteArray(256, '\x5A'), 32));
        b.select({1});
        PlanView view(b);
        view.download(false);
        QCOMPARE(view.plans.size(), 1);
        const double planned = view.plans[0].silentSpeed;
        QVERIFY2(view.at.size() == 4, qPrintable(QString::number(view.at.size())));
        QString told;
        for (int k = 1; k < view.at.size(); ++k) {
            const double took = view.at[k] - view.at[k - 1];
            if (took < planned * 0.85 || took > planned * 1.3 + 0.15) // a loaded machine only makes it longer
                told += QString(" %1 s").arg(took, 0, 'f', 3);
        }
        QVERIFY2(told.isEmpty(), qPrintable(QString("planned %1 s a silent speed, took").arg(planned, 0, 'f', 3) + told));
    }

    // The time left the progress window shows keeps to the run: on a line paced as a UART, with the tool's own
    // timings, once the last controller's search is over (the last third of these runs) every look foretells the
    // run's end within a fifth (a loaded machine slows the tool's own turns, which the plan reckons at their usual
    // cost). Before, a controller not yet found is counted as found, so the end foretold is later.
    void timeLeftKeepsToTheRun_data()
    {
        QTest::addColumn<bool>("parallel");
        QTest::addColumn<QList<int>>("present"); // of 1 and 2, both ticked; 2 at 4800
        QTest::newRow("serial") << false << QList<int>{1, 2};
        QTest::newRow("serial, 1 missing ends it") << false << QList<int>{2};
        QTest::newRow("parallel") << true << QList<int>{1, 2};
    }
    void timeLeftKeepsToTheRun()
    {
        QFETCH(bool, parallel);
        QFETCH(QList<int>, present);
        sim::LineConfig config;
        for (const int n : present)
            config.controllers.push_back(controller(n, n == 2 ? 4800 : 9600));
        sim::LineOptions paced;
        paced.pace = true;
        LineBench b(config, paced);
        programAtSpeed(b, 9600);
        b.m().FastAnswers.setValue(1);
        b.m().Text1.setText("300");
        b.useImage(hexImage(0, QByteArray(24 * 128, '\x5A'), 32));
        b.select({1, 2});
        QElapsedTimer clock;
        QList<QPair<double, double>> looks; // when, and the time left shown then
        b.desk.onProcessEvents = [&] {
            if (const std::optional<double> left = b.session->progressShown().secondsLeft)
                looks.append({clock.elapsed() / 1000.0, *left});
        };
        clock.start();
        b.session->run(parallel ? Session::Operation::DownloadParallel : Session::Operation::DownloadSerial);
        const double end = clock.elapsed() / 1000.0;
        // No load makes a run shorter than the time its bytes held the line (11 bits a byte), nor any look's end sooner.
        double busy = 0;
        for (const sim::TrafficEntry &t : b.line->traffic())
            busy += t.bytes.size() * 11.0 / t.signal.baud;
        QString told;
        int judged = 0;
        for (const auto &[at, left] : looks) {
            const bool last = at >= end * 2 / 3;
            judged += last;
            if ((last ? qAbs(at + left - end) > end / 5 + 0.5 : at + left < busy) && told.count(';') < 5)
                told += QString(" %1 s: %2 s left;").arg(at, 0, 'f', 1).arg(left, 0, 'f', 1);
        }
        QVERIFY(judged > 10);
        QVERIFY2(told.isEmpty(), qPrintable(QString("ended at %1 s, the line busy %2 s, but at").arg(end, 0, 'f', 1).arg(busy, 0, 'f', 1) + told));
    }

    void imagesReachTheControllerWhole_data()
    {
        QTest::addColumn<QByteArray>("hexText");
        QTest::addColumn<bool>("parallel");
        QTest::addColumn<QString>("fileChecksum");
        QTest::addColumn<int>("flashStart"); // the address of the controller's first flash byte
        // No end record: the last records are gathered when the file ends, and still sent.
        QTest::newRow("file ends while gathering") << hexImage(0x0100, QByteArray(200, '\x11'), 16, "\r\n", false)
                                                   << false << "6412" << 0;
        // 54 KiB of zeros but one byte: a full checksum below 0x100000 still arrives as its value.
        QByteArray zeros(54 * 1024, '\0');
        zeros[100] = '\x12';
        QTest::newRow("checksum of five digits") << hexImage(0, zeros, 32) << true << "F614" << 0;
        // A flash from 2000 to FFFD, filled to both ends, the configuration record at 2020.
        const QByteArray high = hexRecord(0x2000, QByteArray(16, '\x21')) + "\r\n" + hexRecord(0x2020, hex("70000402")) + "\r\n"
            + hexRecord(0xFFF0, QByteArray(14, '\x3C')) + "\r\n" + hexEndRecord() + "\r\n";
        // 16 x 21 + 70 + 04 + 02 + 14 x 3C = 1486, plus 255 x (57342 - 34): DF01F2.
        QTest::newRow("flash from 2000, serial") << high << false << "01F2" << 0x2000;
        QTest::newRow("flash from 2000, parallel") << high << true << "01F2" << 0x2000;
    }
    void imagesReachTheControllerWhole()
    {
        QFETCH(QByteArray, hexText);
        QFETCH(bool, parallel);
        QFETCH(QString, fileChecksum);
        QFETCH(int, flashStart);
        sim::ControllerConfig c = controller(1);
        c.flashStart = flashStart;
        // The boot programs at 38400: 54 KiB at 9600 would hold the line for a minute.
        c.bootSpeed = 38400;
        LineBench b(lineOf({c}));
        writeFile(b.home.filePath("Boot.ini"), "38400\r\n");
        b.m().BootSettings = "38400,N,8,2";
        b.useImage(hexText);
        QCOMPARE(b.m().FileCheksum.text(), fileChecksum);
        b.select({1});
        b.m().Text2.setText("1");
        b.session->run(parallel ? Session::Operation::DownloadParallel : Session::Operation::DownloadSerial);
        QVERIFY(!b.log().contains("Answer : Failure 3*E1"));
        QCOMPARE(b.line->snapshot().controller(1)->mode, sim::Mode::Firmware);
        QCOMPARE(b.ctx().info.ckSumView(1).text, fileChecksum);
        QVERIFY(b.ctx().info.summaryAllWell());
        if (flashStart == 0x2000)
            QVERIFY(b.line->flash(1).startsWith(QByteArray(16, '\x21') + QByteArray(16, '\xFF') + hex("70000402")) && b.line->flash(1).endsWith(QByteArray(14, '\x3C')));
    }

    // Fast answers change when a wait ends, never what is sent, logged or shown.
    void bothAnswerModesAgree_data()
    {
        QTest::addColumn<int>("which");
        QTest::newRow("serial: answers in pieces, a refused batch, @") << 0;
        QTest::newRow("parallel: a late answer") << 1;
        QTest::newRow("parallel: a delay far under a batch's line time") << 5;
        QTest::newRow("switch to protocol 4: 68 2F") << 2;
        QTest::newRow("Flash Info: speed search, answers in pieces") << 3;
        QTest::newRow("Boot Info: echo apart from the answer") << 4;
    }
    void bothAnswerModesAgree()
    {
        QFETCH(int, which);
        sim::ControllerConfig pieces = controller(2, 9600, '@'), slow = controller(3, 4800);
        pieces.answerPieces = slow.answerPieces = 3;
        pieces.pieceGapMs = slow.pieceGapMs = 5;
        pieces.faults.refuseBatches = {{2, 1}};
        sim::ControllerConfig late = controller(3);
        late.answerDelayMs = 20;
        sim::ControllerConfig p3 = controller(5);
        p3.protocol = 3;
        sim::LineOptions echo;
        echo.echo = true;
        const auto slowBoot = [](int number) {
            sim::ControllerConfig c = controller(number);
            c.bootSpeed = 4800;
            return c;
        };
        using Op = Session::Operation;
        struct Case {
            sim::LineConfig line;
            sim::LineOptions options;
            Op op;
            QList<int> selected;
            QString mustLog; // what the case is about happened, so many times
            int times;
            QString delayMs = "200"; // a batch's line time at 9600: the line keeps up
            QString timeOutMs = "5000";
            QString bootSettings = {}; // empty: the bench's
        };
        const QString ok = "Communication OK  - CRC checked";
        const Case cases[] = {
            {lineOf({pieces}), {}, Op::DownloadSerial, {2}, "Message : $75 - Sending full Checksum ", 1},
            {lineOf({controller(1), late}), {}, Op::DownloadParallel, {1, 3}, "Message : $75 Sending full checksum", 2},
            {lineOf({p3}), {}, Op::To4, {5}, "Recu en String : 682F", 1},
            {lineOf({controller(1), slow}), {}, Op::FlashInfo, {1, 3}, ok, 2},
            {lineOf({late}), echo, Op::BootInfo, {3}, ok, 1},
            // The broadcast takes 2.6 s of line at 4800, more than three tries of a full checksum sent
            // before the line has carried it; after it, its answer comes at once (a starved simulator
            // may take 0.7 s to give it).
            {lineOf({slowBoot(1), slowBoot(2)}), {}, Op::DownloadParallel, {1, 2}, "Answer : 61", 4, "1", "700", "4800,N,8,2"},
        };
        const Case &c = cases[which];
        const auto [written, fast] = runInBothModes(c.line, c.options, c.op, [&](LineBench &b) {
            b.useImage(image());
            b.m().QRV3.setValue(c.op == Op::To4 ? 1 : 0);
            b.select(c.selected);
            b.m().Text2.setText(c.delayMs);
            b.m().Text1.setText(c.timeOutMs);
            if (!c.bootSettings.isEmpty())
                b.m().BootSettings = c.bootSettings;
        });
        QCOMPARE(written.log.count(c.mustLog), c.times);
        if (c.op == Op::DownloadSerial || c.op == Op::DownloadParallel)
            QVERIFY(written.allWell && fast.allWell);
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
        // Several switched: no click awaited per controller, one closing line saying which switched.
        QCOMPARE(b.desk.boxes.size(), 1);
        QCOMPARE(b.desk.boxes.last().text, QString("3 -> 4: 3 of 3 controllers switched to protocol 4: 1, 2, 3."));
        QVERIFY(b.labels.contains("Controller 2 : Switching to protocol 4  (Speed : 9600 Bds) ..."));
        for (int n : {1, 2, 3})
            QCOMPARE(b.line->snapshot().controller(n)->protocol, 4);
        QCOMPARE(b.bytesSent(), QByteArray("@1p400:4/@2p400:4/@3p400:4/"));
        QCOMPARE(b.log().mid(0, 2), QStringList({"Message : p4 => QRV3", "4031703430303A342F"}));
        QVERIFY(!b.ctx().info.shown() && !b.ctx().message.exists());
        for (int n : {0, 1, 2, 3}) // not ticked, then switched
            QCOMPARE(b.ctx().outcomes[n].outcome, n ? Outcome::Ok : Outcome::NotReached);
        // One alone keeps its own box before the closing line.
        LineBench one(lineOf({c[0]}));
        one.m().QRV3.setValue(1);
        one.select({1});
        one.session->run(Session::Operation::To4);
        QCOMPARE(one.desk.boxes.size(), 2);
        QCOMPARE(one.desk.boxes[0].text, QString("send p4 OK!!!"));
    }

    // A controller that never answers the return to protocol 3 keeps its failure on its row.
    void aControllerSilentToTheReturnIsMarked()
    {
        sim::ControllerConfig silent = controller(5);
        silent.faults.silent = true;
        LineBench b(lineOf({silent}));
        b.m().Text1.setText("50");
        b.select({5});
        b.session->run(Session::Operation::To3);
        const ControllerOutcome &o = b.ctx().outcomes[5];
        QCOMPARE(outcomeName(o.outcome) + " " + failureWords(o.failure), QString("failed No Answer"));
        QCOMPARE(boxes(b, 5), QString("No Answer ff0000/-/1 ff0000/-/1"));
        QCOMPARE(b.labels.filter(QRegularExpression("^Controller 5 : No Answer ")).size(), 4);
    }

    void returnToProtocol3_data()
    {
        QTest::addColumn<int>("refusals");
        QTest::addColumn<int>("speed");
        QTest::newRow("accepted") << 0 << 9600;
        QTest::newRow("refused twice, then accepted") << 2 << 9600;
        // Silent at the speeds tried before: their No Answer is cleared from its row.
        QTest::newRow("accepted at the last speed") << 0 << 19200;
        // At 19200 and searched last (from 38400: 4800, 9600, then 19200).
        QTest::newRow("refused three times") << 3 << 19200;
    }
    void returnToProtocol3()
    {
        QFETCH(int, refusals);
        QFETCH(int, speed);
        sim::ControllerConfig c = controller(31, speed);
        c.faults.refuseReturn = refusals;
        LineBench b(lineOf({c}));
        b.m().Vitesse.setText(speed == 9600 ? "9600" : "38400");
        b.select({31});
        b.session->run(Session::Operation::To3);
        const bool accepted = refusals < 3;
        const auto sent = sentWithSpeed(b);
        QCOMPARE(sent.last(), qMakePair(speed, hex("401F37485404").repeated(refusals ? 3 : 1)));
        QCOMPARE(b.log().mid(0, 2), QStringList({"Message : Cmd 55 to return to QRV3", "401F37485404"}));
        QCOMPARE(b.log().contains("Answer : Ok"), accepted);
        QCOMPARE(b.log().contains("Answer : Failure Sending p4 "), !accepted);
        QCOMPARE(b.line->snapshot().controller(31)->protocol, accepted ? 3 : 4);
        const QString at = QString(" (Speed : %1 Bds) ...").arg(speed);
        QVERIFY(b.labels.contains("Controller 31 : Returning to protocol 3 " + at));
        QCOMPARE(b.labels.contains("Controller 31 : Sending p4 OK" + at), accepted);
        const ControllerOutcome &o = b.ctx().outcomes[31]; // what the command line reports
        QCOMPARE(outcomeName(o.outcome) + " " + failureWords(o.failure), accepted ? QString("ok ") : QString("failed Erasing Failure"));
        QCOMPARE(boxes(b, 31), accepted ? QString("  0/-/0 0/-/0") : QString("Erasing Failure ff0000/-/1 ff0000/-/1"));
        QVERIFY(!b.ctx().info.shown() && !b.ctx().message.exists());
        QCOMPARE(b.desk.boxes.last().text, accepted ? QString("4 -> 3: 1 of 1 controller returned to protocol 3: 31.")
                                                    : QString("4 -> 3: 0 of 1 controller returned to protocol 3; not returned to protocol 3: 31."));
    }
};

VANTOREL_TEST_MAIN(TestDownloads, QCoreApplication)
#include "test_downloads.moc"
