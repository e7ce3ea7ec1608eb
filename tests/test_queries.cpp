// The flash check and the queries, end to end on the simulated line, judged
// by literal frames, the result table and the log.
#include "link/protocolchar.h"
#include "platform/fault.h"
#include "programming/flashcheck.h"
#include "protocolswitch/switching.h"
#include "run/runcheck.h"
#include "run/speedsearch.h"
#include "support/fakeports.h"
#include "support/hexbuilder.h"
#include "support/linebench.h"
#include "support/shardmain.h"

#include <QElapsedTimer>
#include <QTest>

using namespace vantorel;

namespace {
QByteArray hex(const char *digits) { return QByteArray::fromHex(digits); }

// Flash checks of controllers 1, 2 and 31 with 0x04 and with "@".
const QByteArray kCheck1 = hex("04010173800404"), kCheck1At = hex("40010173246904");
const QByteArray kCheck2 = hex("04020173D95404"), kCheck2At = hex("400201737D3904");
const QByteArray kCheck31 = hex("041F0173D86604"), kCheck31At = hex("401F01737C0B04");

QList<QByteArray> framesOf(const QByteArray &bytes, int size)
{
    QList<QByteArray> out;
    for (qsizetype at = 0; at + size <= bytes.size(); at += size)
        out << bytes.mid(at, size);
    return out;
}

void openOn(LineBench &b)
{
    b.ctx().link = checkSettings(settingsForm(b.ctx()), {});
    b.ctx().port.selectPort(b.line->slavePath());
    b.ctx().port.setSettings("9600,N,8,2");
    b.ctx().port.open();
}
} // namespace

class TestQueries : public QObject {
    Q_OBJECT

private slots:
    // What the check shows of one answer, against the file's checksum.
    void flashCheck_data()
    {
        QTest::addColumn<QList<int>>("version");
        QTest::addColumn<QString>("fileChecksum");
        QTest::addColumn<QString>("row"); // texts, then colour/background/bold of each box
        QTest::addColumn<int>("beeps");
        QTest::newRow("no file") << QList<int>{1, 5, 7} << "" << "01/05/07 1E02 0/-/0 0/-/0" << 0;
        QTest::newRow("equal") << QList<int>{1, 5, 7} << "1E02" << "01/05/07 1E02 0/-/0 0/-/0" << 0;
        QTest::newRow("different") << QList<int>{1, 5, 7} << "1E03" << "01/05/07 1E02 0/-/0 ffffff/ff0000/1" << 1;
        QTest::newRow("the terminator inside") << QList<int>{4, 4, 4} << "" << "04/04/04 1E02 0/-/0 0/-/0" << 0;
    }
    void flashCheck()
    {
        QFETCH(QList<int>, version);
        QFETCH(QString, fileChecksum);
        QFETCH(int, beeps);
        sim::ControllerConfig c = controller(1);
        c.version = {std::uint8_t(version[0]), std::uint8_t(version[1]), std::uint8_t(version[2])};
        LineBench b(lineOf({c}));
        openOn(b);
        b.m().FileCheksum.setText(fileChecksum);
        b.ctx().info.prepare("Flash Info", fileChecksum);
        QVERIFY(FlashCheck(b.run(), 1));
        b.ctx().port.close();
        const ResultBox &v = b.ctx().info.verView(1), &k = b.ctx().info.ckSumView(1);
        const auto style = [](const ResultBox &x) {
            return QString("%1/%2/%3").arg(x.foreground, 0, 16).arg(x.background < 0 ? "-" : QString::number(x.background, 16))
                .arg(int(x.bold));
        };
        QTEST(QString("%1 %2 %3 %4").arg(v.text, k.text, style(v), style(k)), "row");
        QCOMPARE(b.desk.beeps, beeps);
        const QString answer = QString("0401076173%1%2%3").arg(version[0], 2, 16, QChar('0')).arg(version[1], 2, 16, QChar('0'))
                                   .arg(version[2], 2, 16, QChar('0')) + "1E02";
        const QStringList log = b.log();
        QCOMPARE(log.mid(0, 2), QStringList({"Message : $73  - Checking Flash", "04010173800404"}));
        QVERIFY2(log.value(2).startsWith("Recu en String : " + answer), qPrintable(log.value(2)));
        QCOMPARE(log.value(3), QString("Communication OK  - CRC checked"));
        QCOMPARE(b.labels.last(), QString("Controller 1 : Checking Flash  (Speed : 9600 Bds) ..."));
        QVERIFY(!b.ctx().message.exists());
    }

    // The "@" rule: each controller tries its own character and falls back to
    // "@", unless the same protocol is ticked or "@" is the character already.
    void atRule_data()
    {
        QTest::addColumn<bool>("same");
        QTest::addColumn<QString>("protocol");
        QTest::addColumn<QList<QByteArray>>("frames");
        QTest::newRow("own character per controller")
            << false << "3"
            << QList<QByteArray>{kCheck1, kCheck1, kCheck1, kCheck1At, kCheck2, kCheck2, kCheck2, kCheck2At};
        QTest::newRow("same protocol: the second starts with @")
            << true << "3" << QList<QByteArray>{kCheck1, kCheck1, kCheck1, kCheck1At, kCheck2At};
        QTest::newRow("already @: no second attempt") << false << "63" << QList<QByteArray>{kCheck1At, kCheck2At};
    }
    void atRule()
    {
        QFETCH(bool, same);
        QFETCH(QString, protocol);
        QFETCH(QList<QByteArray>, frames);
        LineBench b(lineOf({controller(1, 9600, '@'), controller(2, 9600, '@')}));
        b.m().Protocol.setText(protocol);
        b.m().ChkProto.setValue(same ? 1 : 0);
        openOn(b);
        QVERIFY(FlashCheck(b.run(), 1));
        QVERIFY(FlashCheck(b.run(), 2));
        b.ctx().port.close();
        QCOMPARE(framesOf(b.bytesSent(), 7), frames);
        QCOMPARE(b.ctx().link.runChar, same ? QByteArray("@") : QByteArray(1, protocol == "3" ? 0x04 : '@'));
    }

    // Controller 1 answers after the time-out, only as the tool writes again; controller 2 is absent. Its late
    // answers reach the line while controller 2 is asked: they are logged as stray, and controller 2 is not given
    // controller 1's figures.
    // The switch's answer, which the downloads do not look at: whether the controller took it.
    void sendP4SaysWhetherTheSwitchWasTaken()
    {
        for (const bool taken : {true, false}) {
            sim::ControllerConfig c = controller(5);
            c.protocol = 3;
            c.faults.silent = !taken;
            LineBench b(lineOf({c}));
            openOn(b);
            QCOMPARE(SendP4(b.run(), 5), taken);
            b.ctx().port.close();
            QCOMPARE(b.line->snapshot().controller(5)->protocol, taken ? 4 : 3);
        }
    }

    void aLateAnswerIsNotTheNextControllers_data()
    {
        QTest::addColumn<bool>("fast");
        QTest::addColumn<QString>("timeOut");
        QTest::newRow("written timing") << false << "300";
        QTest::newRow("fast answers") << true << "150";
    }
    void aLateAnswerIsNotTheNextControllers()
    {
        QFETCH(bool, fast);
        QFETCH(QString, timeOut);
        sim::ControllerConfig late = controller(1);
        late.answerWithNextWrite = true; // its second try's answer meets controller 2's first frame
        LineBench b(lineOf({late}));
        b.ctx().timings.settleDelay = 0.5;
        b.m().FastAnswers.setValue(fast);
        b.m().Text1.setText(timeOut);
        b.select({1, 2});
        b.session->run(Session::Operation::FlashInfo);
        const Context &ctx = b.ctx();
        QCOMPARE(ctx.info.verView(1).text, QString("01/00/00"));
        QCOMPARE(ctx.info.verView(2).text + ctx.info.ckSumView(2).text, QString("NoAnswer"));
        QVERIFY(ctx.outcomes[2].version.isEmpty());
        const QStringList log = b.log();
        QVERIFY2(std::any_of(log.begin(), log.end(), [](const QString &l) {
                     return l.startsWith("Stray bytes : 0401") && l.endsWith("(not controller 2's answer)");
                 }), qPrintable(log.join('\n')));
        QCOMPARE(ctx.info.summary(), QString("Flash Info: 1 of 2 controllers answered; No Answer: 2."));
    }

    void flashInfoSearchesTheSpeed()
    {
        // Controller 6 never answers: tried at 38400, 4800, 9600 and 19200, it
        // leaves 19200 for controller 31, which answers only at 4800 (the last
        // controller, so the flags still show its speeds at the end).
        LineBench b(lineOf({controller(1, 38400), controller(31, 4800)}));
        b.m().Vitesse.setText("38400");
        b.select({1, 6, 31});
        b.session->run(Session::Operation::FlashInfo);
        Context &ctx = b.ctx();
        QVERIFY(ctx.info.shown());
        QCOMPARE(ctx.info.caption(), QString("Flash Info"));
        QVERIFY(ctx.info.label41Visible());
        QCOMPARE(ctx.info.verView(1).text, QString("01/00/00"));
        QCOMPARE(ctx.info.verView(31).text, QString("01/00/00"));
        QVERIFY(!ctx.info.verView(31).marked());
        // The silent one keeps the failure words in red bold.
        QCOMPARE(ctx.info.verView(6).text + ctx.info.ckSumView(6).text, QString("NoAnswer"));
        QVERIFY(ctx.info.verView(6).foreground == kRed && ctx.info.verView(6).bold && !ctx.info.summaryAllWell());
        QCOMPARE(b.m().Vitesse.text(), QString("4800"));
        QVERIFY(b.m().V19200.ticked() && b.m().V4800.ticked());
        QVERIFY(!b.m().V9600.ticked() && !b.m().V38400.ticked());
        QVERIFY(!b.port.isOpen() && !ctx.message.exists());
        QVERIFY(b.runLines.value(b.labels.indexOf("Controller 31 : Checking Flash  (Speed : 4800 Bds) ...")).startsWith("Controller 31 (3 of 3) \u00B7 "));
        // Controller 31: 0x04 then "@" at 19200, then 0x04 at 4800.
        const auto sent = sentWithSpeed(b);
        QCOMPARE(sent.last(), qMakePair(4800, kCheck31));
        QCOMPARE(sent[sent.size() - 2].first, 19200);
        QVERIFY(sent[sent.size() - 2].second.endsWith(kCheck31.repeated(3) + kCheck31At.repeated(3)));
        // Controller 6: four speeds, two characters, three tries each.
        QCOMPARE(b.bytesSent().count(hex("04060173")) + b.bytesSent().count(hex("40060173")), 4 * 2 * 3);
    }

    // A second Flash Info over controllers 29 at 19200, 30 at 4800 and 31 at 38400, after a first from 9600. Frames
    // as "controller@speed", with repeats: six frames are a silent speed (three tries with 0x04, three with "@").
    void knownSpeedsFirst_data()
    {
        QTest::addColumn<bool>("on");
        QTest::addColumn<int>("movedTo"); // controller 30's known speed made wrong, as when it moved: 0 leaves it
        QTest::addColumn<QString>("second");
        QTest::addColumn<QString>("flags"); // the speeds tried for controller 31
        QTest::newRow("on: each at its own speed") << true << 0 << "29@19200 30@4800 31@38400" << "38400";
        QTest::newRow("off: the written search, from the speed in hand") << false << 0
            << "29@38400x6 29@4800x6 29@9600x6 29@19200 30@19200x6 30@4800 31@4800x6 31@9600x6 31@19200x6 31@38400"
            << "4800 9600 19200 38400";
        QTest::newRow("on: moved away, found by the written order") << true << 38400
            << "29@19200 30@38400x6 30@4800 31@38400" << "38400";
    }
    void knownSpeedsFirst()
    {
        QFETCH(bool, on);
        QFETCH(int, movedTo);
        LineBench b(lineOf({controller(29, 19200), controller(30, 4800), controller(31, 38400)}));
        b.m().KnownSpeedsFirst.setValue(on);
        b.select({29, 30, 31});
        b.session->run(Session::Operation::FlashInfo);
        const qsizetype first = b.framesSent().size();
        if (movedTo)
            b.ctx().user.rememberSpeed(b.line->slavePath(), 30, movedTo);
        b.ctx().link.knownSpeedsFirst = on; // as the run's check will take it
        const QList<double> planned = expectedSearches(b.run(), {29, 30, 31}, b.m().Vitesse.text().toInt());
        b.session->run(Session::Operation::FlashInfo);
        QStringList second;
        int repeats = 1;
        const QList<QByteArray> frames = b.framesSent();
        const std::vector<sim::FrameRecord> records = b.line->frames();
        for (qsizetype n = first; n < frames.size(); ++n) {
            const QString one = QString("%1@%2").arg(int(frames[n][1])).arg(records[n].signal.baud);
            repeats = !second.isEmpty() && second.last().section('x', 0, 0) == one ? repeats + 1 : 1;
            if (repeats > 1)
                second.last() = one + "x" + QString::number(repeats);
            else
                second << one;
        }
        QTEST(second.join(' '), "second");
        // The time left's plan meets the silent speeds the search met, where the known speeds still hold.
        if (!movedTo) {
            QList<double> met;
            for (const int ctrl : {29, 30, 31})
                met << second.filter(QRegularExpression(QString("^%1@\\d+x6$").arg(ctrl))).size();
            QCOMPARE(planned, met);
        }
        QStringList flags;
        for (const Control *f : {&b.m().V4800, &b.m().V9600, &b.m().V19200, &b.m().V38400})
            if (f->ticked())
                flags << f->caption().mid(1);
        QTEST(flags.join(' '), "flags");
        QCOMPARE(b.m().Vitesse.text(), QString("38400"));
        QCOMPARE(b.ctx().info.summary(), QString("Flash Info: 3 of 3 controllers answered."));
        QCOMPARE(b.ctx().user.knownSpeed(b.line->slavePath(), 30), 4800);
    }

    void autoDetection_data()
    {
        QTest::addColumn<int>("cancelAt"); // the controller in hand when Cancel comes
        QTest::addColumn<QList<int>>("selected");
        // Only controllers 0 to 4 are looked at; boxes ticked before stay as they were after the cancel.
        QTest::addColumn<QString>("summary");
        QTest::addColumn<QString>("outcomes"); // of controllers 0 to 5 and 31, as recorded for the command line
        QTest::newRow("found at their speeds") << 5 << QList<int>{0, 2, 4, 10, 20}
            << "Auto: 3 of 32 controllers answered: 0 at 9600 Bds, 2 at 19200 Bds, 4 at 4800 Bds; cancelled: 5-31 (stopped by Cancel)."
            << "ok,failed not found,ok,failed not found,ok,cancelled,cancelled";
        QTest::newRow("cancelled at controller 4") << 4 << QList<int>{0, 2, 10, 20}
            << "Auto: 2 of 32 controllers answered: 0 at 9600 Bds, 2 at 19200 Bds; cancelled: 4-31 (stopped by Cancel)."
            << "ok,failed not found,ok,failed not found,cancelled,cancelled,cancelled";
        QTest::newRow("whole line") << 99 << QList<int>{0, 2, 4}
            << "Auto: 3 of 32 controllers answered: 0 at 9600 Bds, 2 at 19200 Bds, 4 at 4800 Bds."
            << "ok,failed not found,ok,failed not found,ok,failed not found,failed not found";
    }
    void autoDetection()
    {
        QFETCH(int, cancelAt);
        QFETCH(QList<int>, selected);
        LineBench b(lineOf({controller(0, 9600), controller(2, 19200), controller(4, 4800)}));
        b.m().Text1.setText("777");
        b.select({1, 3, 10, 20});
        QStringList shown, labels, runLines; // Time Out, the Auto button and the progress window while the detection runs
        b.desk.onProcessEvents = [&] {
            shown << b.m().Text1.text() + (b.m().Auto.enabled() ? " on" : " off")
                    + (b.ctx().message.shown() ? " shown" : "");
            labels << b.ctx().message.Label1.text();
            runLines << b.ctx().message.runLine();
            if (b.m().ControllerIndex >= cancelAt && !b.ctx().StopRequested)
                b.ctx().message.cancel();
        };
        bool windowUnderSummary = true;
        b.desk.onMessage = [&](const RecordingDesk::Box &) { windowUnderSummary = b.ctx().message.exists(); };
        b.session->run(Session::Operation::Auto);
        QVERIFY(!windowUnderSummary); // the progress window is gone before the summary comes up
        QVERIFY(shown.contains("5000 off shown") && shown.filter("5000 on").isEmpty() && shown.filter("777 off").isEmpty());
        QCOMPARE(labels.value(1), QString("Auto Detection in Progress  ...")); // while the first controller is asked
        // The run line counts the whole line: controller 4 is the fifth of 32.
        QVERIFY(!runLines.filter(QRegularExpression("^Controller 4 \\(5 of 32\\) \u00B7 ")).isEmpty());
        QCOMPARE(b.m().selectedControllers(), selected);
        QCOMPARE(b.m().Text1.text(), QString("777"));
        QCOMPARE(b.m().Vitesse.text(), QString("9600"));
        QVERIFY(b.m().Auto.enabled() && !b.port.isOpen() && !b.ctx().message.exists());
        QVERIFY(b.log().contains("Message : AutoDetection $73"));
        QCOMPARE(b.desk.boxes.size(), 1);
        QTEST(b.desk.boxes[0].text, "summary");
        QStringList outcomes;
        for (int n : {0, 1, 2, 3, 4, 5, 31})
            outcomes << (outcomeName(b.ctx().outcomes[n].outcome) + " " + failureWords(b.ctx().outcomes[n].failure)).trimmed();
        QTEST(outcomes.join(','), "outcomes");
    }

    // Cancel during a controller's search: it was not heard out, so it is cancelled, not failed.
    void cancelCutsASearchShortWithoutAVerdict_data()
    {
        QTest::addColumn<int>("operation");
        QTest::addColumn<QString>("atSpeed"); // empty: at the first look
        for (const QString &speed : {QString(), QStringLiteral("38400")}) { // 38400: the last speed tried
            const QByteArray at = speed.isEmpty() ? QByteArray() : " at the last speed";
            QTest::newRow("Flash Info" + at) << int(Session::Operation::FlashInfo) << speed;
            QTest::newRow("Boot Info" + at) << int(Session::Operation::BootInfo) << speed;
            QTest::newRow("4 -> 3" + at) << int(Session::Operation::To3) << speed; // marks each silent speed
            QTest::newRow("Auto" + at) << int(Session::Operation::Auto) << speed;
        }
    }
    void cancelCutsASearchShortWithoutAVerdict()
    {
        QFETCH(int, operation);
        QFETCH(QString, atSpeed);
        LineBench b(lineOf({controller(0)})); // 1 and 2 are missing
        b.select({0, 1, 2});
        b.desk.onProcessEvents = [&] {
            if (b.m().ControllerIndex >= 1 && !b.ctx().StopRequested && b.port.settings().startsWith(atSpeed))
                b.ctx().message.cancel();
        };
        b.session->run(Session::Operation(operation));
        QStringList outcomes;
        for (int n : {0, 1, 2})
            outcomes << (outcomeName(b.ctx().outcomes[n].outcome) + " " + failureWords(b.ctx().outcomes[n].failure)).trimmed();
        QCOMPARE(outcomes.join(','), QString("ok,cancelled,cancelled"));
        if (operation == int(Session::Operation::FlashInfo) || operation == int(Session::Operation::BootInfo))
            QVERIFY2(b.ctx().info.summary().endsWith("1 of 3 controllers answered; cancelled: 1, 2 (stopped by Cancel)."),
                     qPrintable(b.ctx().info.summary()));
    }

    // Cancel is seen within a try's wait, not at its end, and the controller's working time runs to it
    // (from its first frame, a moment after the first look of the hook).
    void cancelIsSeenInATrysWait()
    {
        LineBench b(lineOf({controller(0)})); // 1 is missing
        b.clock.skipSilence = false;          // the wait is what is cut
        b.m().Text1.setText("8000");
        b.select({0, 1});
        QElapsedTimer sinceFirstLook, run;
        b.desk.onProcessEvents = [&] {
            if (b.m().ControllerIndex != 1 || b.ctx().StopRequested)
                return;
            if (!sinceFirstLook.isValid())
                sinceFirstLook.start();
            else if (sinceFirstLook.elapsed() >= 300)
                b.ctx().message.cancel();
        };
        run.start();
        b.session->run(Session::Operation::FlashInfo);
        QVERIFY2(run.elapsed() < 6000, qPrintable(QString::number(run.elapsed()))); // well within the 8 s time-out
        QCOMPARE(outcomeName(b.ctx().outcomes[1].outcome), QString("cancelled"));
        const std::optional<qint64> worked = b.ctx().outcomes[1].durationMs();
        QVERIFY2(worked && *worked >= 200 && *worked < 6000, qPrintable(QString::number(worked.value_or(-1))));
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
        QCOMPARE(ctx.info.verView(31).text + " " + ctx.info.ckSumView(31).text, QString("12/05/03 A1B2"));
        QCOMPARE(ctx.info.caption() + "|" + ctx.info.Titre(), QString("Boot Info|Boot Info"));
        QVERIFY(!ctx.info.label41Visible() && !ctx.message.exists());
        QVERIFY(!b.runLines.isEmpty() && b.runLines.first().startsWith("Controller 31 (1 of 1) \u00B7 "));
        QCOMPARE(b.labels.last(), QString("Controller 31 : Checking Boot  (Speed : 19200 Bds) ..."));
        QCOMPARE(b.m().Vitesse.text(), QString("19200"));
        QVERIFY(b.m().V4800.ticked() && b.m().V9600.ticked() && b.m().V19200.ticked());
        const QByteArray with04 = hex("041F0475AA5550B89504"), withAt = hex("401F0475AA5550A4BF04");
        const QList<QPair<int, QByteArray>> expected = {{9600, with04.repeated(3) + withAt.repeated(3)},
                                                        {4800, with04.repeated(3) + withAt.repeated(3)},
                                                        {19200, with04.repeated(3) + withAt}};
        QCOMPARE(sentWithSpeed(b), expected);
        QCOMPARE(b.log().mid(0, 2), QStringList({"Message Checking BOOT", "041F0475AA5550B89504"}));
        QVERIFY(b.m().ControllerIndex == 32 && b.desk.boxes.isEmpty());
    }

    void lostOrUnusablePortIsOneBoxNamingIt()
    {
        sim::ControllerConfig c = controller(0);
        c.faults.unplugAfterFrames = 0; // the first frame it hears pulls the plug
        LineBench b(lineOf({c, controller(1)}));
        b.select({0, 1, 2});
        b.session->run(Session::Operation::FlashInfo);
        QCOMPARE(b.desk.boxes.size(), 1);
        QCOMPARE(b.desk.boxes[0].title, QString("Flash Error"));
        QVERIFY2(b.desk.boxes[0].text.contains("lost"), qPrintable(b.desk.boxes[0].text));
        QVERIFY(!b.port.isOpen());
        QCOMPARE(b.ctx().lastRun.faultNumber.value_or(0), int(FaultCode::PortLost));
        QCOMPARE(b.line->snapshot().controller(1)->framesHeard, 0);

        // A COM item names its device and where that came from, and the box lists what exists.
        b.ctx().portInfo = std::make_shared<FakePorts>(QStringList{"/dev/ttyUSB7|FT232R USB UART", "/dev/ttyS0|"});
        QVERIFY(writeFile(b.m().AppDir + "Ports.ini", "4=/dev/vantorel-no-such-port\n"));
        b.m().ComPort.setText("COM 4");
        b.session->run(Session::Operation::FlashInfo);
        QCOMPARE(b.desk.boxes.size(), 2);
        QVERIFY2(b.desk.boxes[1].text.startsWith("Error #  8002\r")
                     && b.desk.boxes[1].text.endsWith("\rCOM 4 is /dev/vantorel-no-such-port, as Ports.ini maps it."
                                                      "\rSerial devices present now: /dev/ttyUSB7 (FT232R USB UART), /dev/ttyS0."),
                 qPrintable(b.desk.boxes[1].text));
        // The detection puts its time-out back and its button on again.
        b.m().Text1.setText("77");
        b.session->run(Session::Operation::Auto);
        QCOMPARE(b.desk.boxes.size(), 3);
        QCOMPARE(b.m().Text1.text(), QString("77"));
        QVERIFY(b.m().Auto.enabled() && !b.ctx().message.exists());
    }

    // No other operation and no other file under a running one; but a controller cleared meanwhile is skipped.
    void nothingChangesUnderARunningOperation()
    {
        LineBench b(lineOf({controller(1), controller(5)}));
        const QString first = b.useImage(":0300000002ABCD83\r\n:00000001FF\r\n", "first.hex");
        b.select({1, 5});
        b.desk.fileAnswers << b.home.filePath("other.hex");
        bool refused = false;
        b.desk.onProcessEvents = [&] {
            refused = refused || !b.session->run(Session::Operation::Auto);
            b.session->dropFile(b.home.filePath("other.hex"));
            b.session->browse();
            b.session->selectNone();
        };
        b.session->run(Session::Operation::FlashInfo);
        QVERIFY(refused);
        QCOMPARE(b.ctx().info.verView(1).text, QString("01/00/00"));
        QVERIFY(!b.bytesSent().contains(hex("0405")) && !b.bytesSent().contains(hex("4005")));
        QCOMPARE(b.ctx().info.summary(), QString("Flash Info: 1 of 2 controllers answered; checksum differs from the file: 1; not reached: 5."));
        QCOMPARE(b.m().FileName.text(), first);
        QVERIFY(b.desk.dialogsShown.isEmpty());
        b.desk.onProcessEvents = {};
        QVERIFY(b.session->run(Session::Operation::FlashInfo)); // taken again once idle
    }
};

VANTOREL_TEST_MAIN(TestQueries, QCoreApplication)
#include "test_queries.moc"
