#include "state/resultsummary.h"
#include "run/status.h"
#include "state/windowview.h"
#include "platform/clock.h"
#include "platform/desk.h"
#include "session/session.h"
#include "state/context.h"
#include "support/fakeports.h"
#include "support/hexbuilder.h"
#include "support/linebench.h"
#include "support/nullport.h"
#include "ui/mainwindow.h"

#include <QTest>
#include <QtWidgets>

using namespace vantorel;

namespace {
const QString kLongSummary = "Download (Serial): 1 of 9 controllers programmed and verified; erased, not programmed: 3; "
                             "No Answer: 5, 9, 12; cancelled: 20, 21, 22, 23, 24 (stopped by Cancel).";

// The progress window on the screen, if one is.
QWidget *shownMessage(const QWidget *window)
{
    for (QWidget *w : window->findChildren<QWidget *>("Message"))
        if (w->isVisible())
            return w;
    return nullptr;
}

struct SetClock : Clock {
    double now = 0;
    double seconds() const override { return now; }
};

// A started session and its main window on the screen; 'before' runs ahead of the window.
struct Bench {
    QTemporaryDir home;
    NullSerialPort port;
    RecordingDesk desk;
    MonotonicClock clock;
    Session session{port, desk, clock};
    Context &ctx = session.context();
    MainState &m = session.main();
    std::unique_ptr<MainWindow> window;

    explicit Bench(const std::function<void(Bench &)> &before = [](Bench &) {})
    {
        // Nothing here is about timing: no failure hold, no settle wait after a silent try.
        ctx.timings.failureHold = 0;
        ctx.timings.settleDelay = 0;
        session.startUp(home.path());
        before(*this);
        window = std::make_unique<MainWindow>(session);
        window->show();
    }
    template <typename W = QWidget>
    W *find(const QString &name, const char *in = nullptr) const
    {
        W *w = (in ? window->findChild<QWidget *>(in) : window.get())->findChild<W *>(name);
        return w ? w : (qFatal("no widget %s", qPrintable(name)), nullptr);
    }
    void click(const QString &name, const char *in = nullptr) { QTest::mouseClick(find(name, in), Qt::LeftButton); }
    // On the indicator, wherever the layout stretched the check box.
    void tick(const QString &name) { QTest::mouseClick(find(name), Qt::LeftButton, {}, QPoint(8, find(name)->height() / 2)); }
    QString enabledOperations() const
    {
        QStringList names = {"Auto", "ComBoot", "ComInfo", "ComLoad00", "ComLoad"};
        names.removeIf([this](const QString &name) { return !find(name)->isEnabled(); });
        return names.join(' ');
    }
    // Controller n's two result boxes, e.g. "No[red bold]/Answer[red bold]"; empty without a result table.
    QString row(int n) const
    {
        auto look = [](const ResultBox &box) {
            return box.text + "[" + (box.foreground == kRed ? "red" : box.foreground == kWhite ? "white" : "black")
                + (box.bold ? " bold" : "") + (box.background == int(kRed) ? " on red" : "") + "]";
        };
        return ctx.info.exists() ? look(ctx.info.verView(n)) + "/" + look(ctx.info.ckSumView(n)) : QString();
    }
};
// The main window over the tool on a simulated line, its queries and downloads run from its buttons.
struct WindowOnLine {
    LineBench bench;
    std::unique_ptr<MainWindow> window;

    explicit WindowOnLine(const sim::LineConfig &config) : bench(config)
    {
        bench.useImage(patternedImage(1));
        window = std::make_unique<MainWindow>(*bench.session);
        window->show();
    }
    void run(const QList<int> &ticked, const char *button)
    {
        bench.select(ticked);
        QTest::mouseClick(window->findChild<QWidget *>(button), Qt::LeftButton);
    }
    QWidget *progressWindow() const { return shownMessage(window.get()); }
    // Controller n's two boxes as the result window paints them, e.g. "Erased[red bold]/No Firmware[red bold]".
    QString shown(int n) const
    {
        auto look = [this](const QString &name) {
            const auto *box = window->findChild<QWidget *>("Info")->findChild<QLineEdit *>(name);
            const QRgb c = box->palette().color(QPalette::Text).rgb() & 0xFFFFFF;
            return box->text() + "[" + (c == kRed ? "red" : c == kGrey ? "grey" : c == kBlack ? "black" : "other")
                + (box->font().bold() ? " bold" : "") + "]";
        };
        return look(QString("Ver%1").arg(n)) + "/" + look(QString("CkSum%1").arg(n));
    }
};
} // namespace

class TestMainWindow : public QObject {
    Q_OBJECT

private slots:
    void controlsStartAndReact()
    {
        Bench b([](Bench &b) { b.ctx.portInfo = std::make_shared<FakePorts>(QStringList{"/dev/ttyACM0|Arduino Uno"}); });
        QCOMPARE(b.window->windowTitle(), QString(" Vantorel version ") + VANTOREL_VERSION);
        const QStringList captions = {"Command1=&Browse ...", "ALL=All", "NONE=None", "Auto=Auto", "Cmd3to4=3 -> 4",
            "Cmd4to3=4 -> 3", "ComBoot=&Boot Info", "ComInfo=&Flash Info", "ComLoad00=Download (Serial)",
            "ComLoad=&Download (Parallel)", "ComClose=&Exit", "ChkProto=All Controllers same protocol", "QRV3=Prot 3",
            "Protocol4Plus=Prot 4+", "Check1=Save configuration on exit", "FastAnswers=Fast answers",
            "KnownSpeedsFirst=Known speeds first", "V4800=V4800", "V38400=V38400", "C0=0", "C31=31"};
        for (const QString &caption : captions)
            QCOMPARE(b.find<QAbstractButton>(caption.section('=', 0, 0))->text(), caption.section('=', 1));
        QCOMPARE(b.enabledOperations(), QString());
        QVERIFY(b.find("Cmd3to4")->isHidden() && b.find("Cmd4to3")->isHidden() && b.find("ChkProto")->isHidden());
        QVERIFY(b.find<QCheckBox>("Check1")->isChecked() && !b.find<QCheckBox>("FastAnswers")->isChecked()
                && b.find("FastAnswers")->toolTip().contains("Leave it off") && b.find("Protocol")->toolTip().contains("-1 to 254"));
        // What a Time Out of 0 does depends on the timing.
        QVERIFY(b.find("Text1")->toolTip().contains("settle wait that follows still takes an answer"));
        b.tick("FastAnswers");
        QVERIFY(b.find("Text1")->toolTip().contains("0 ends that wait at once: only an answer already arriving"));
        // The 99 COM items, then a present device that no COM item reaches yet.
        auto *ports = b.find<QComboBox>("ComPort"), *speeds = b.find<QComboBox>("Vitesse");
        QCOMPARE(QStringList({QString::number(ports->count()), ports->itemText(0), ports->itemText(98), ports->itemText(99),
                              speeds->itemText(0), speeds->itemText(1), speeds->itemText(2), speeds->itemText(3)}),
                 QStringList({"100", "COM 1", "COM 99", "/dev/ttyACM0", "4800", "9600", "19200", "38400"}));
        QVERIFY(b.window->sizeHint().width() <= 1366 && b.window->sizeHint().height() <= 740); // a 1366x768 screen

        // At first start the window says what the greyed buttons wait for, until the Protocol box is filled.
        QVERIFY(b.find("ProtocolHint")->isVisible() && b.find<QLabel>("ProtocolHint")->text().contains("Protocol box"));
        QCOMPARE(b.find<QLabel>("ComPortDevice")->text(), QString("no port chosen: pick one from the list"));
        auto *protocol = b.find<QLineEdit>("Protocol");
        QTest::keyClicks(protocol, "3");
        QCOMPARE(b.enabledOperations(), QString("Auto ComBoot ComInfo")); // no file yet
        QVERIFY(b.find("ProtocolHint")->isHidden());
        QTest::keyClick(protocol, Qt::Key_Backspace);
        QVERIFY(b.enabledOperations().isEmpty() && b.find("ProtocolHint")->isVisible());
        QTest::keyClicks(protocol, "3");
        // Browse fills the file name (read-only); its checksum and the protocol enable the downloads, also
        // with a record checksum edited by hand, which the amber line under the file box tells.
        QVERIFY(writeFile(b.home.filePath("w.hex"), ":0300000002ABCD00\r\n:00000001FF\r\n"));
        b.desk.fileAnswers << b.home.filePath("w.hex");
        b.click("Command1");
        QVERIFY(b.find<QLineEdit>("FileName")->isReadOnly() && b.find<QLineEdit>("FileCheksum")->text() == "1C7F");
        QCOMPARE(b.enabledOperations(), QString("Auto ComBoot ComInfo ComLoad00 ComLoad"));
        QVERIFY(b.find("FileWarning")->isVisible() && b.find("FileProblem")->isHidden()
                && b.find<QLabel>("FileWarning")->text().contains("line 1: the record checksum is 00 where the record needs 83; edited by hand?"));
        b.tick("QRV3");
        QVERIFY(b.m.QRV3.ticked() && b.find("Cmd3to4")->isVisible() && b.find("Cmd4to3")->isVisible());
        b.tick("QRV3");
        QVERIFY(b.find("Cmd3to4")->isHidden() && b.find("Cmd4to3")->isHidden());
        b.click("ALL");
        QVERIFY(b.m.selectedControllers().size() == 32 && b.find<QCheckBox>("C17")->isChecked());
        b.click("NONE");
        QVERIFY(b.m.selectedControllers().isEmpty() && !b.find<QCheckBox>("C17")->isChecked());
        // F12 alone does nothing; Shift+F12 shows the hidden box.
        b.window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(b.window.get(), 30000)); // the keys count in the active window only
        QTest::keyRelease(protocol, Qt::Key_F12);
        QVERIFY(!b.m.ChkProto.visible());
        QTest::keyRelease(protocol, Qt::Key_F12, Qt::ShiftModifier);
        QVERIFY(b.m.ChkProto.visible() && b.find("ChkProto")->isVisible());
        // A file chosen hands the keyboard to "Download (Parallel)".
        b.desk.fileAnswers << b.home.filePath("w.hex");
        b.click("Command1");
        QTRY_COMPARE(QApplication::focusWidget(), b.find("ComLoad"));
        // Chosen, the device gets the first free number.
        ports->setCurrentIndex(99);
        emit ports->activated(99);
        QCOMPARE(b.m.ComPort.text() + " | " + b.find<QLabel>("ComPortDevice")->text(), QString("COM 1 | /dev/ttyACM0, Arduino Uno"));
        // Exit with Check1 ticked saves Flash.cfg.
        QTest::keyClicks(b.find<QLineEdit>("Text1"), "1500");
        b.click("ComClose");
        QFile cfg(b.home.filePath("Flash.cfg"));
        QVERIFY(!b.window->isVisible() && cfg.open(QIODevice::ReadOnly) && cfg.readAll().startsWith("1500\r\n"));
    }

    void progressWindowShowsTheStatus_data()
    {
        // Steps on controller 7 at 9600 Bd; then Label1, the picture shown and row 7 of the result table
        // (shown only by "prepare", as a query does).
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<QString>("label");
        QTest::addColumn<QString>("picture");
        QTest::addColumn<QString>("row");
        const QString running = "Controller 7 : Checking Flash  (Speed : 9600 Bds) ...";
        const QString noAnswer = "Controller 7 : No Answer   (Speed : 9600 Bds) ";
        const QString commError = "Controller 7 : Communication Error   (Speed : 9600 Bds) ";
        const QString failed = "No[red bold]/Answer[red bold]";
        QTest::newRow("running") << QStringList{"progress"} << running << "Inquiet" << "";
        QTest::newRow("running, short") << QStringList{"short"} << "Controller 7 : Checking Flash  ..." << "Inquiet" << "";
        QTest::newRow("detection") << QStringList{"progress", "detection"} << running << "Jumelle" << "";
        QTest::newRow("code 1") << QStringList{"progress", "prepare", "no-answer"} << noAnswer << "Stop" << failed;
        QTest::newRow("code 2") << QStringList{"prepare", "communication-error"} << commError << "Stop" << "Communication[red bold]/ERROR[red bold]";
        QTest::newRow("code 3") << QStringList{"prepare", "communication-failure"} << "Controller 7 : Communication Failure   (Speed : 9600 Bds) " << "Stop"
                                << "communication[red bold]/Failure[red bold]";
        QTest::newRow("code 4") << QStringList{"erasing-failure"} << "Controller 7 : Erasing Failure   (Speed : 9600 Bds) " << "Stop"
                                << "Erasing[red bold]/Failure[red bold]";
        QTest::newRow("code 5 does nothing") << QStringList{"progress", "not-found"} << running << "Inquiet" << "";
        QTest::newRow("code 0 clears") << QStringList{"no-answer", "none"} << noAnswer << "Stop" << "[black]/[black]";
        QTest::newRow("reset keeps the texts") << QStringList{"communication-error", "mismatch", "reset"} << commError << "Stop" << "Communication[black]/0000[black]";
        // Cancel asks the operation to stop and closes the window; shown again, it comes back empty.
        QTest::newRow("cancel") << QStringList{"progress", "cancel"} << "(no window)" << "" << "";
        QTest::newRow("shown after cancel") << QStringList{"no-answer", "cancel", "show"} << "" << "" << failed;
        // After a run its Close button destroys the result table; a later mark brings it back empty and hidden.
        QTest::newRow("result table closed") << QStringList{"prepare", "summary", "communication-error", "closeInfo"} << commError << "Stop" << "";
        QTest::newRow("marked after closing") << QStringList{"prepare", "summary", "communication-error", "closeInfo", "reset"} << commError << "Stop" << "[black]/[black]";
        // Closed during a run it keeps its rows, and comes back with the verdict.
        QTest::newRow("closed in a run") << QStringList{"prepare", "communication-error", "closeInfo"} << commError << "Stop" << "Communication[red bold]/ERROR[red bold]";
        QTest::newRow("back at the run's end") << QStringList{"prepare", "communication-error", "closeInfo", "summary"} << commError << "Stop" << "Communication[red bold]/ERROR[red bold]";
        // Closed and shown again within one step, with no return to the main loop: one window, not a pile.
        QTest::newRow("closed and shown") << QStringList{"progress", "close", "show"} << "" << "" << "";
        QTest::newRow("closed and shown after detection") << QStringList{"progress", "detection", "close", "show"} << "" << "" << "";
        // In a run it comes back where it stood, moved or not, at one size whatever its text; Cancel says "Stopping…".
        QTest::newRow("back in place") << QStringList{"run", "short", "move", "close", "erasing-failure", "close", "progress"} << running << "Inquiet"
                                       << "Erasing[red bold]/Failure[red bold]";
        QTest::newRow("stopping") << QStringList{"run", "progress", "cancel", "no-answer"} << noAnswer << "Stop" << failed;
    }
    void progressWindowShowsTheStatus()
    {
        QFETCH(QStringList, steps);
        QFETCH(QString, label);
        QFETCH(QString, picture);
        Bench b;
        b.m.Vitesse.setText("9600");
        WindowView view(b.ctx);
        const std::unique_ptr<Run> run = runFromWindow(b.ctx, view);
        MessageState &message = b.ctx.message;
        QHash<QString, std::function<void()>> actions = {
            {"progress", [&] { ShowProgress(*run, "Controller 7 : Checking Flash ", false); }},
            {"short", [&] { ShowProgress(*run, "Controller 7 : Checking Flash ", true); }},
            {"detection", [&] { message.showOnly(message.Jumelle); }},
            {"mismatch", [&] { b.ctx.info.CkSum(7) = ResultBox{"0000", kWhite, int(kRed), false}; }},
            {"reset", [&] { ResetCtrlStatus(*run, 7); }}, {"cancel", [&] { b.click("Command1", "Message"); }},
            {"close", [&] { message.close(); }}, {"show", [&] { message.show(); }},
            {"prepare", [&] { b.ctx.info.prepare("Flash Info", "1C7F"); }}, {"closeInfo", [&] { b.click("ComClose", "Info"); }},
            {"summary", [&] { b.ctx.info.setSummary(kLongSummary, false); }}};
        const auto shownWindow = [&] { return shownMessage(b.window.get()); };
        actions["run"] = [&] { message.startRun({7}); };
        actions["move"] = [&] { shownWindow()->move(shownWindow()->pos() + QPoint(40, 30)); };
        QRect stood; // where and how big the window was at the last step that showed it
        for (const QString &step : steps) {
            actions.contains(step) ? actions[step]() : ShowCtrlStatus(*run, 7, failureFromStored(step).value_or(Failure::None));
            if (QWidget *w = shownWindow()) {
                QVERIFY(stood.isNull() || (message.running() ? w->geometry() == stood : w->size() == stood.size()) || step == "move");
                stood = w->geometry();
            }
        }
        QCOMPARE(message.exists() ? message.Label1.text() : "(no window)", label);
        const QString pictures = QString(message.Inquiet.visible() ? "Inquiet" : "") + (message.Stop.visible() ? "Stop" : "")
            + (message.Jumelle.visible() ? "Jumelle" : "");
        QCOMPARE(message.exists() ? pictures : "", picture);
        QTEST(b.row(7), "row");
        QCOMPARE(b.ctx.StopRequested, steps.contains("cancel"));
        // Shown and drawn once: the progress window while it has a text, the result table from "prepare" (never
        // by a mark) to its Close, and again at the end of a run it was closed in.
        const bool infoShown = steps.contains("prepare") && steps.lastIndexOf("summary") >= steps.indexOf("closeInfo");
        for (const auto &[name, shown, expected] : {std::tuple{"Message", message.shown(), label != "(no window)"},
                                                    {"Info", b.ctx.info.shown(), infoShown}}) {
            const QList<QWidget *> windows = b.window->findChildren<QWidget *>(name);
            QCOMPARE(std::count_if(windows.begin(), windows.end(), [](QWidget *w) { return w->isVisible(); }), expected ? 1 : 0);
            QVERIFY2(shown == expected, name);
        }
        if (b.ctx.info.shown()) { // long words in bold shown whole
            auto *box = b.find<QLineEdit>("Ver7", "Info");
            QVERIFY(QFontMetrics(box->font()).horizontalAdvance(box->text()) <= box->width() - 4 && box->toolTip() == box->text());
            // The verdict whole, wrapped inside a window that can be resized.
            auto *summary = b.find<QLabel>("Summary", "Info");
            QWidget *info = summary->window();
            QVERIFY(summary->text() == b.ctx.info.summary() && info->minimumSize() != info->maximumSize());
            QVERIFY(info->rect().contains(summary->geometry()) && summary->height() >= summary->heightForWidth(summary->width()));
        }
        if (message.shown()) {
            QCOMPARE(shownWindow()->findChild<QLabel *>("Label1")->text(), label);
            for (const char *name : {"Inquiet", "Stop", "Jumelle"})
                QVERIFY2(shownWindow()->findChild<QWidget *>(name)->isVisible() == (picture == name), name);
            const bool stopping = steps.contains("cancel");
            QVERIFY(shownWindow()->findChild<QPushButton *>("Command1")->isEnabled() != stopping);
            const QString runLine = shownWindow()->findChild<QLabel *>("RunLine")->text();
            QVERIFY((runLine == "Stopping\u2026") == stopping);
            QVERIFY2(!runLine.contains(QRegularExpression("\\d elapsed")), qPrintable(runLine)); // wraps between its parts only
        }
    }

    void settingsAreLockedWhileAnOperationRuns()
    {
        Bench b;
        for (const auto &[control, text] : {std::pair{&b.m.Protocol, "3"}, {&b.m.Text1, "1"}, {&b.m.Vitesse, "9600"}, {&b.m.ComPort, "COM 1"}})
            control->setText(text);
        b.m.C[4].setValue(1);
        // Marks of an earlier run: the next operation resets every row's letters and keeps its texts.
        WindowView view(b.ctx);
        for (int n : {0, 31})
            ShowCtrlStatus(*runFromWindow(b.ctx, view), n, Failure::NoAnswer);
        // The settings the run took are locked; the controller boxes stay live, to leave one out.
        const QStringList locked = {"Text1", "Command1", "ComInfo", "ComBoot"}, live = {"C4", "ALL", "NONE"};
        int looks = 0, wrong = 0;
        b.desk.onProcessEvents = [&] {
            ++looks;
            for (const QString &name : locked + live)
                wrong += b.find(name)->isEnabled() != live.contains(name);
        };
        // Closing meanwhile asks, naming what a stop would leave erased; No and the run goes on.
        const auto closeOnce = [&] {
            if (b.desk.boxes.isEmpty()) {
                b.ctx.outcomes[4].justErased();
                b.window->close();
            }
        };
        b.desk.onProcessEvents = [&, count = b.desk.onProcessEvents] { count(); closeOnce(); };
        b.click("ComInfo");
        QVERIFY(looks > 0 && wrong == 0 && b.window->isVisible() && b.desk.boxes.size() == 1);
        QCOMPARE(b.desk.boxes[0].text, "An operation is still running. Controller 4 is erased and not yet programmed: closing "
                                       "now leaves it without firmware until it is downloaded again.\r\rStop the operation and close?");
        QVERIFY(!b.ctx.info.summary().contains("Cancel"));
        // Unlocked again, each download button by its own rule: no file, no download.
        QCOMPARE(b.enabledOperations(), QString("Auto ComBoot ComInfo"));
        for (const QString &name : locked)
            QVERIFY2(b.find(name)->isEnabled(), qPrintable(name));
        QCOMPARE(QStringList({b.row(0), b.row(4), b.row(31)}),
                 QStringList({"No[black]/Answer[black]", "No[red bold]/Answer[red bold]", "No[black]/Answer[black]"}));
        // Yes: the run is stopped, and the window closes (saving Flash.cfg) once it has.
        b.desk.boxes.clear();
        b.desk.answers = {true};
        b.desk.onProcessEvents = closeOnce;
        b.click("ComInfo");
        QVERIFY(b.ctx.info.summary().endsWith("(stopped by Cancel).") && !QFile::exists(b.home.filePath("Flash.cfg")));
        QTRY_VERIFY(!b.window->isVisible() && QFile::exists(b.home.filePath("Flash.cfg")));
    }

    void progressNumbers()
    {
        // Runs: controllers (10 batches each, or once for all by "broadcast"), then feeds: "at 5" (controller in
        // hand), "sent 4" (batches), "time 30"; and the line under Label1 at the last feed.
        // A download's time left comes from its line: here every erase, batch, full checksum and check costs 1 s
        // (0.5 s of bytes, 0.5 s of settle), a broadcast batch its line time and then its delay of 2 s; never
        // from the time spent.
        const QList<std::tuple<QString, QStringList, QString>> runs = {
            {"0,3,5,7", {"at 0", "at 3", "time 30", "at 5"}, "Controller 5 (3 of 4) · 50 % · 0:30 elapsed"},
            {"0,3", {"time 5", "at 0", "at 1"}, "Controller 0 (1 of 2) · 0 % · 0:05 elapsed"}, // 1 is not in it
            {"3,9 batches", {"at 3", "time 4"}, "Controller 3 (1 of 2) · 0 % · 0:04 elapsed · about 0:25 left"},
            {"3,9 batches", {"at 3", "sent 10", "at 9", "time 60", "sent 5"},
             "Controller 9 (2 of 2) · 5 of 10 batches sent · 75 % · 1:00 elapsed · about 0:07 left"},
            {"3,9 broadcast", {"at 3", "at 9", "time 3720", "sent 4"},
             "All 2 controllers at once · 4 of 10 batches sent · 42 % · 1:02:00 elapsed · about 0:19 left"},
            {"3,9 broadcast", {"at 3", "at 9", "sent 10", "time 65", "at 9"}, // checking after the broadcast
             "Controller 9 (2 of 2) · 10 of 10 batches sent · 92 % · 1:05 elapsed · about 0:01 left"}};
        LinePlan plan{{11000}, {11000}, QList<int>(10, 493), 7, 500, 500, 500, 0.5, 2.0, 0, 0, {}, {}}; // 8N2: 1 ms a byte
        SetClock fake;
        Bench b([&fake](Bench &b) { b.ctx.message.clock = &fake; b.ctx.message.show(); });
        MessageState &message = b.ctx.message;
        for (const auto &[run, feeds, line] : runs) {
            QList<int> controllers;
            for (const QString &n : run.section(' ', 0, 0).split(','))
                controllers << n.toInt();
            fake.now = 0;
            message.startRun(controllers, run.contains(' ') ? 10 : 0, run.endsWith("broadcast"));
            if (run.contains(' '))
                message.planLine(plan);
            for (const QString &feed : feeds) {
                const int n = feed.section(' ', 1).toInt();
                feed.startsWith("at") ? message.atController(n) : feed.startsWith("sent") ? message.setProgress(n, 10) : void(fake.now = n);
            }
            QCOMPARE(message.runLine(), line);
        }
    }

    void timeLeftCountsTheSpeedSearch_data()
    {
        // Controllers 3 and 9, two batches each (or broadcast once). An erase, a batch, a full checksum and a
        // check cost 1 s each (0.5 s of bytes, 0.5 s of settle), so a controller found at once costs 5 s; a
        // speed without an answer costs 10 s, certain 1 s into it. Feeds: "time t", "at n" (taken in hand),
        // "search n here after [last] [boot] [ends] [next0]" (its search starts a speed; next0: the next controller
        // is then expected at once), "out n" (not erased), "sent b".
        QTest::addColumn<bool>("broadcast");
        QTest::addColumn<QList<double>>("planned"); // silent speeds expected of 3 and 9
        QTest::addColumn<QStringList>("feeds");
        QTest::addColumn<double>("left");
        QTest::newRow("before the run: each planned search") << false << QList<double>{0, 1.5} << QStringList{}
                                                             << 5 + 5 + 1.5 * 10;
        QTest::newRow("the speed in hand may still answer") << false << QList<double>{0, 1.5}
            << QStringList{"at 3", "search 3 2 1", "time 0.5"} << (2 * 10 + 1 - 0.5) + 4 + (5 + 15);
        QTest::newRow("a silent speed: what it has had is subtracted") << false << QList<double>{0, 1.5}
            << QStringList{"at 3", "time 1", "search 3 2 1", "time 4"} << (10 - 3) + 1 * 10 + 1 + 4 + (5 + 15.0);
        QTest::newRow("the last speed silent: the boot try, and the serial run ends") << false << QList<double>{0, 1.5}
            << QStringList{"at 3", "search 3 0 0 last boot ends", "time 4"} << (10 - 4) + 10.0;
        QTest::newRow("parallel: one not found, the others go on") << true << QList<double>{0, 1.5}
            << QStringList{"at 3", "search 3 0 0 last", "time 4"}
            << (10 - 4) + (1 + 15) + 2 * (0.493 + 2) + 2 * 1 + (1 + 10) + (1 + 20);
        QTest::newRow("parallel: the checks' searches, none for one left out") << true << QList<double>{0, 1.5}
            << QStringList{"at 3", "out 3", "at 9", "sent 2"} << 1 * 1 + (1 + 2 * 10.0);
        QTest::newRow("the search in hand tells where the next one starts") << false << QList<double>{0, 1.5}
            << QStringList{"at 3", "search 3 0 0 next0", "time 0.5"} << (1 - 0.5) + 4 + 5.0;
        QTest::newRow("another controller's search is not the one in hand") << false << QList<double>{0.5, 1.5}
            << QStringList{"at 3", "search 7 3 3", "time 0.5"} << (0.5 * 10 + 1 - 0.5) + 4 + (5 + 15);
    }
    void timeLeftCountsTheSpeedSearch()
    {
        QFETCH(bool, broadcast);
        QFETCH(QList<double>, planned);
        QFETCH(QStringList, feeds);
        QFETCH(double, left);
        SetClock fake;
        NullSerialPort port;
        RecordingDesk desk;
        Context ctx(port, desk, fake);
        MessageState &message = ctx.message;
        message.clock = &fake;
        message.startRun({3, 9}, 2, broadcast);
        // A broadcast's checks are expected to meet one silent speed for 3, two for 9.
        const LinePlan plan{{11000}, {11000}, QList<int>(2, 493), 7, 500, 500, 500, 0.5, 2.0, 10, 1, planned, {1, 2}}; // 8N2: 1 ms a byte
        message.planLine(plan);
        for (const QString &feed : feeds) {
            const QStringList f = feed.split(' ');
            if (f[0] == "time")
                fake.now = f[1].toDouble();
            else if (f[0] == "at")
                message.atController(f[1].toInt());
            else if (f[0] == "out")
                message.leaveOut(f[1].toInt());
            else if (f[0] == "sent")
                message.setProgress(f[1].toInt(), 2);
            else
                message.searching({f[1].toInt(), f[2].toDouble(), f[3].toDouble(), f.contains("last"), f.contains("boot"),
                                   f.contains("ends"), false, f.contains("next0") ? QList<double>{0} : QList<double>{}});
        }
        QVERIFY(message.secondsLeft());
        QVERIFY2(qAbs(*message.secondsLeft() - left) < 1e-9, qPrintable(QString::number(*message.secondsLeft())));
    }

    void rowsAtTheRunsEnd_data()
    {
        // A Flash Info over 0, 3, 5, 7 first; then a download of 'ticked', cancelled by a click on Cancel
        // (answered Yes) once the progress window's step starts with 'at' (empty: never). Then the rows of
        // 0, 2, 3, 5 and 7 as painted: "ok" (this run's image), "before" (the Flash Info's texts, in the normal
        // letters every run starts with), or the boxes.
        QTest::addColumn<bool>("parallel");
        QTest::addColumn<QList<int>>("ticked");
        QTest::addColumn<QString>("at");
        QTest::addColumn<QStringList>("rows");
        const QString erased = "Erased[red bold]/No Firmware[red bold]", blank = "[black]/[black]";
        QTest::newRow("serial, cancelled in 3's programming")
            << false << QList<int>{0, 3, 5} << "Controller 3 : Programming Batch 2"
            << QStringList{"ok", blank, erased, "Cancelled[grey]/untouched[grey]", "before"};
        QTest::newRow("parallel, cancelled while programming all")
            << true << QList<int>{3, 5} << " Programming Batch 2" << QStringList{"before", blank, erased, erased, "before"};
        // Controller 2 is missing: the serial download ends at it (its erase went out unanswered) and
        // never reaches 5.
        QTest::newRow("serial, a missing controller ends it")
            << false << QList<int>{0, 2, 5} << "" << QStringList{"ok", "May be[red bold]/erased[red bold]", "before",
                                                                 "Not[grey]/reached[grey]", "before"};
    }
    void rowsAtTheRunsEnd()
    {
        QFETCH(bool, parallel);
        QFETCH(QList<int>, ticked);
        QFETCH(QString, at);
        QFETCH(QStringList, rows);
        WindowOnLine w(lineOf({controller(0), controller(3), controller(5), controller(7)}));
        LineBench &b = w.bench;
        const QList<int> shownRows = {0, 2, 3, 5, 7};
        w.run({0, 3, 5, 7}, "ComInfo");
        QMap<int, QString> before;
        for (const int n : shownRows)
            before[n] = w.shown(n);
        b.desk.answers = {true};
        b.desk.onProcessEvents = [&] {
            if (!at.isEmpty() && !b.ctx().StopRequested && b.ctx().message.Label1.text().startsWith(at))
                QTest::mouseClick(w.progressWindow()->findChild<QPushButton *>("Command1"), Qt::LeftButton);
        };
        w.run(ticked, parallel ? "ComLoad" : "ComLoad00");
        QCOMPARE(b.ctx().StopRequested, !at.isEmpty());
        QStringList painted, expected;
        for (qsizetype k = 0; k < shownRows.size(); ++k) {
            const int n = shownRows[k];
            painted << w.shown(n);
            expected << (rows[k] == "ok" ? b.ctx().outcomes[n].version + "[black]/" + b.ctx().info.FileCheksum() + "[black]"
                                         : rows[k] == "before" ? QString(before[n]).replace(QRegularExpression("\\[[^]]*\\]"), "[black]")
                                                               : rows[k]);
            // What the run wrote stays as written (the command line reports it): a row Cancel or the
            // run's end left alone keeps the earlier texts there.
            if (rows[k].contains("grey"))
                QCOMPARE(b.ctx().info.verView(n).text, before[n].section('[', 0, 0));
        }
        QCOMPARE(painted, expected);
        QVERIFY(!before[5].startsWith('['));
        // A new run shows what it writes: nothing of the last run's ending is left.
        w.run({0, 3, 5, 7}, "ComInfo");
        for (const int n : {0, 3, 5, 7})
            QVERIFY2(!w.shown(n).contains("grey") && !w.shown(n).contains("Erased"), qPrintable(w.shown(n)));
    }

    void noAccidentalCancel()
    {
        WindowOnLine w(lineOf({controller(0), controller(3)}));
        LineBench &b = w.bench;
        // While 0 is erased and not programmed: Return, Esc and Space at the progress window, then a click on
        // Cancel answered No. The run goes on to the end.
        int keysSent = 0;
        b.desk.onProcessEvents = [&] {
            QWidget *progress = w.progressWindow();
            if (keysSent || !progress || !b.ctx().message.Label1.text().startsWith("Controller 0 : Programming Batch 2"))
                return;
            for (const Qt::Key key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Escape, Qt::Key_Space}) {
                QTest::keyClick(progress, key);
                if (QWidget *focus = progress->focusWidget())
                    QTest::keyClick(focus, key);
                ++keysSent;
            }
            QVERIFY(b.desk.boxes.isEmpty() && !b.ctx().StopRequested);
            QTest::mouseClick(progress->findChild<QPushButton *>("Command1"), Qt::LeftButton);
        };
        w.run({0, 3}, "ComLoad00");
        QCOMPARE(keysSent, 4);
        QVERIFY(!b.ctx().StopRequested && b.ctx().info.summaryAllWell());
        QCOMPARE(b.desk.boxes.size(), 1);
        QCOMPARE(b.desk.boxes[0].text, "Controller 0 is erased and not yet programmed: stopping now leaves it without "
                                       "firmware until it is downloaded again.\r\rStop the operation?");
        // Nothing erased yet: Cancel stops at once, without a question.
        b.desk.boxes.clear();
        b.desk.onProcessEvents = [&] {
            if (!b.ctx().StopRequested && b.ctx().message.Label1.text().startsWith("Controller 0 : Erasing"))
                QTest::mouseClick(w.progressWindow()->findChild<QPushButton *>("Command1"), Qt::LeftButton);
        };
        w.run({0, 3}, "ComLoad00");
        QVERIFY(b.ctx().StopRequested && b.desk.boxes.isEmpty());
        QCOMPARE(w.shown(0), QString("Cancelled[grey]/untouched[grey]"));
    }

    void summaryLine_data()
    {
        // Per ticked controller its outcome: "ok", "" (not reached) or what failed. A cancelled run's summary and a
        // query's differing checksum: test_downloads' cancel and test_queries' nothingChangesUnderARunningOperation.
        QTest::addColumn<QString>("operation");
        QTest::addColumn<QStringList>("rows");
        QTest::addColumn<QString>("ending"); // "" or a fault
        QTest::addColumn<QString>("summary");
        QTest::newRow("failures by what failed")
            << "Download (Parallel)" << QStringList{"ok", "No Answer", "Programmation ERROR", "No Answer", "refused erase"}
            << "" << "Download (Parallel): 1 of 5 controllers programmed and verified; No Answer: 1, 3; "
                     "Programmation ERROR: 2; refused erase: 4.";
        QTest::newRow("port fault") << "Boot Info" << QStringList{""} << "Error # 8002"
                                    << "Boot Info: 0 of 1 controller answered; not reached: 0 (ended by Error # 8002).";
        QTest::newRow("none ticked") << "Flash Info" << QStringList{} << "" << "Flash Info: no controller was ticked.";
    }
    void summaryLine()
    {
        QFETCH(QString, operation);
        QFETCH(QStringList, rows);
        QFETCH(QString, ending);
        Outcomes outcomes{};
        QList<int> ticked;
        for (int i = 0; i < rows.size(); ++i) {
            const QHash<QString, Outcome> named{{"ok", Outcome::Ok}, {"", Outcome::NotReached}};
            outcomes[i].outcome = named.value(rows[i], Outcome::Failed);
            outcomes[i].failure = named.contains(rows[i]) ? Failure::None : *failureFromStored(rows[i]);
            ticked << i;
        }
        QTEST(resultSummary(operation, operation.startsWith("Download"), ticked, outcomes, false, ending), "summary");
    }
};

QTEST_MAIN(TestMainWindow)
#include "test_mainwindow.moc"
