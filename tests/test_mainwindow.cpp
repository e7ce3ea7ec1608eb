#include "app/resultsummary.h"
#include "platform/clock.h"
#include "platform/desk.h"
#include "session/session.h"
#include "support/fakeports.h"
#include "support/hexbuilder.h"
#include "support/nullport.h"
#include "ui/mainwindow.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QDir>
#include <QTemporaryDir>
#include <QFontMetrics>
#include <QTest>

using namespace vantorel;

namespace {
struct SetClock : Clock {
    double now = 0;
    double seconds() const override { return now; }
};
} // namespace

class TestMainWindow : public QObject {
    Q_OBJECT

    QTemporaryDir home;
    NullSerialPort port;
    RecordingDesk desk;
    MonotonicClock clock;

    // Clicks a check box on its indicator, wherever the layout stretched it.
    static void tick(QCheckBox *box) { QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(8, box->height() / 2)); }

    template <typename W>
    static W *find(QWidget &window, const QString &name)
    {
        W *w = window.findChild<W *>(name);
        if (!w)
            qFatal("no widget %s", qPrintable(name));
        return w;
    }

private slots:
    void portListShowsPresentDevices();
    void keyboardWalksTheWindow();
    void remembersFileAndFolder();
    void logViewFollowsTheFile();
    void progressNumbers_data();
    void progressNumbers();
    void summaryLine_data();
    void summaryLine();

    void controlsAndStartStates()
    {
        Session session(port, desk, clock);
        session.context().portInfo = std::make_shared<FakePorts>(QStringList());
        session.startUp(home.path());
        MainWindow window(session);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QCOMPARE(window.windowTitle(), QString(" Vantorel version ") + VANTOREL_VERSION);

        const QList<QPair<QString, QString>> buttons = {
            {"Command1", "&Browse ..."}, {"ALL", "All"}, {"NONE", "None"}, {"Auto", "Auto"},
            {"Cmd3to4", "3 -> 4"}, {"Cmd4to3", "4 -> 3"}, {"ComBoot", "&Boot Info"}, {"ComInfo", "&Flash Info"},
            {"ComLoad00", "Download (Serial)"}, {"ComLoad", "&Download (Parallel)"}, {"ComClose", "&Exit"}};
        for (const auto &[name, text] : buttons)
            QCOMPARE(find<QPushButton>(window, name)->text(), text);
        for (const char *name : {"ComBoot", "ComInfo", "Auto", "ComLoad", "ComLoad00"})
            QVERIFY2(!find<QPushButton>(window, name)->isEnabled(), name);
        QVERIFY(find<QPushButton>(window, "Cmd3to4")->isHidden());
        QVERIFY(find<QCheckBox>(window, "ChkProto")->isHidden());
        QCOMPARE(find<QCheckBox>(window, "ChkProto")->text(), QString("All Controllers same protocol"));
        QCOMPARE(find<QCheckBox>(window, "QRV3")->text(), QString("Prot 3"));
        QCOMPARE(find<QCheckBox>(window, "Protocol4Plus")->text(), QString("Prot 4+"));
        QCOMPARE(find<QCheckBox>(window, "Check1")->text(), QString("Save configuration on exit"));
        QVERIFY(find<QCheckBox>(window, "Check1")->isChecked());
        QCOMPARE(find<QCheckBox>(window, "FastAnswers")->text(), QString("Fast answers"));
        QVERIFY(!find<QCheckBox>(window, "FastAnswers")->isChecked());
        QVERIFY(find<QCheckBox>(window, "FastAnswers")->toolTip().contains("Leave it off"));
        for (const char *name : {"V4800", "V9600", "V19200", "V38400"})
            QCOMPARE(find<QCheckBox>(window, name)->text(), QString(name));
        QCOMPARE(find<QComboBox>(window, "ComPort")->count(), 99);
        QCOMPARE(find<QComboBox>(window, "Vitesse")->count(), 4);
        QCOMPARE(find<QComboBox>(window, "Vitesse")->itemText(3), QString("38400"));
        for (int i = 0; i < 32; ++i)
            QCOMPARE(find<QCheckBox>(window, QString("C%1").arg(i))->text(), QString::number(i));
        QVERIFY(find<QLineEdit>(window, "FileName")->isReadOnly());
        // Fits a 1366x768 screen.
        QVERIFY(window.sizeHint().width() <= 1366 && window.sizeHint().height() <= 740);
    }

    void typingAndClickingRunTheReactions()
    {
        Session session(port, desk, clock);
        session.startUp(home.path());
        MainWindow window(session);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        MainState &m = session.main();

        auto *protocol = find<QLineEdit>(window, "Protocol");
        protocol->clear();
        QTest::keyClicks(protocol, "3");
        QCOMPARE(m.Protocol.text(), QString("3"));
        QVERIFY(find<QPushButton>(window, "ComInfo")->isEnabled());
        QVERIFY(!find<QPushButton>(window, "ComLoad")->isEnabled());
        QTest::keyClick(protocol, Qt::Key_Backspace);
        QVERIFY(!find<QPushButton>(window, "ComInfo")->isEnabled());
        QTest::keyClicks(protocol, "3");

        tick(find<QCheckBox>(window, "QRV3"));
        QVERIFY(m.QRV3.ticked());
        QVERIFY(find<QPushButton>(window, "Cmd3to4")->isVisible());
        QVERIFY(find<QPushButton>(window, "Cmd4to3")->isVisible());
        tick(find<QCheckBox>(window, "QRV3"));
        QVERIFY(find<QPushButton>(window, "Cmd3to4")->isHidden());

        QTest::mouseClick(find<QPushButton>(window, "ALL"), Qt::LeftButton);
        QCOMPARE(m.selectedControllers().size(), 32);
        QVERIFY(find<QCheckBox>(window, "C17")->isChecked());
        QTest::mouseClick(find<QPushButton>(window, "NONE"), Qt::LeftButton);
        QVERIFY(m.selectedControllers().isEmpty());
        tick(find<QCheckBox>(window, "C5"));
        QCOMPARE(m.selectedControllers(), QList<int>({5}));
        // The box is the setting Vantorel.ini keeps.
        tick(find<QCheckBox>(window, "FastAnswers"));
        QVERIFY(m.FastAnswers.ticked() && session.context().user.fastAnswers);

        // The program's own changes show in the widgets.
        m.Vitesse.setText("19200");
        QCOMPARE(find<QComboBox>(window, "Vitesse")->currentText(), QString("19200"));

        // F12 alone does nothing; Shift+F12 shows the hidden box.
        window.activateWindow();
        QTest::keyRelease(protocol, Qt::Key_F12);
        QVERIFY(!m.ChkProto.visible());
        QTest::keyRelease(protocol, Qt::Key_F12, Qt::ShiftModifier);
        QVERIFY(m.ChkProto.visible());
        QVERIFY(find<QCheckBox>(window, "ChkProto")->isVisible());

        // Browse fills the file name; a good file and a protocol enable the downloads.
        const QString file = home.filePath("w.hex");
        QVERIFY(writeFile(file, ":0300000002ABCD83\r\n:00000001FF\r\n"));
        desk.fileAnswers << file;
        QTest::mouseClick(find<QPushButton>(window, "Command1"), Qt::LeftButton);
        QCOMPARE(find<QLineEdit>(window, "FileCheksum")->text(), QString("1C7F"));
        QVERIFY(find<QPushButton>(window, "ComLoad")->isEnabled());
        QVERIFY(find<QPushButton>(window, "ComLoad00")->isEnabled());
    }

    void exitSavesWhenTicked()
    {
        QTemporaryDir dir;
        {
            Session session(port, desk, clock);
            session.startUp(dir.path());
            MainWindow window(session);
            window.show();
            QTest::keyClicks(find<QLineEdit>(window, "Text1"), "1500");
            QTest::mouseClick(find<QPushButton>(window, "ComClose"), Qt::LeftButton);
            QVERIFY(!window.isVisible());
        }
        QFile cfg(dir.filePath("Flash.cfg"));
        QVERIFY(cfg.open(QIODevice::ReadOnly));
        QVERIFY(cfg.readAll().startsWith("1500\r\n"));
    }

    void resultWindowShowsLongWordsWhole()
    {
        Session session(port, desk, clock);
        session.startUp(home.path());
        MainWindow window(session);
        InfoState &info = session.context().info;
        info.prepare("Flash Info", "1C7F");
        for (const auto &[ver, ck] : {std::pair{"Communication", "ERROR"}, std::pair{"Programmation", "ERROR"},
                                      std::pair{"communication", "Failure"}}) {
            info.Ver(13).text = ver;
            info.Ver(13).bold = true;
            info.Ver(13).foreground = kRed;
            info.CkSum(13).text = ck;
            info.CkSum(13).bold = true;
            info.changed();
            auto *box = window.findChild<QWidget *>("Info")->findChild<QLineEdit *>("Ver13");
            QVERIFY(box);
            QVERIFY2(QFontMetrics(box->font()).horizontalAdvance(ver) <= box->width() - 4, ver);
            QCOMPARE(box->toolTip(), QString(ver));
        }
        info.close();
    }

    void progressWindowFollowsItsState()
    {
        Session session(port, desk, clock);
        session.startUp(home.path());
        MainWindow window(session);
        window.show();
        Context &ctx = session.context();
        ctx.message.show();
        ctx.message.showOnly(ctx.message.Jumelle);
        ctx.message.Label1.setText("Auto Detection in Progress  ...");
        auto *progress = window.findChild<QWidget *>("Message");
        QVERIFY(progress && progress->isVisible());
        QCOMPARE(progress->findChild<QLabel *>("Label1")->text(), QString("Auto Detection in Progress  ..."));
        QVERIFY(progress->findChild<QLabel *>("Jumelle")->isVisible());
        QVERIFY(progress->findChild<QLabel *>("Inquiet")->isHidden());
        ctx.StopRequested = false;
        QTest::mouseClick(progress->findChild<QPushButton *>("Command1"), Qt::LeftButton);
        QVERIFY(ctx.StopRequested);
        QVERIFY(!ctx.message.exists());
        QTRY_VERIFY(window.findChild<QWidget *>("Message") == nullptr);
        // A later touch creates it anew, empty.
        ctx.message.show();
        QVERIFY(ctx.message.Label1.text().isEmpty());
        QVERIFY(ctx.StopRequested); // stays set until the next operation clears it
        // Closed and shown again inside one operation step, with no return to
        // the main loop: one window on the screen, never a pile.
        ctx.message.close();
        ctx.message.show();
        int visible = 0;
        for (const QWidget *w : window.findChildren<QWidget *>("Message"))
            visible += w->isVisible();
        QCOMPARE(visible, 1);
        ctx.message.close();
    }

    void inputIsLockedWhileAnOperationRuns()
    {
        Session session(port, desk, clock);
        session.startUp(home.path());
        session.context().timings.failureHold = 0;
        session.context().timings.settleDelay = 0;
        MainWindow window(session);
        window.show();
        MainState &m = session.main();
        m.Protocol.setText("3");
        m.Text1.setText("1");
        m.Vitesse.setText("9600");
        m.ComPort.setText("COM 1");
        m.selectNone();
        m.C[4].setValue(1);
        const QStringList lockedNames = {"Text1", "C4", "ALL", "Command1", "ComInfo", "ComBoot"};
        QStringList unlockedDuringRun;
        desk.onProcessEvents = [&] {
            for (const QString &name : lockedNames) {
                if (find<QWidget>(window, name)->isEnabled() && !unlockedDuringRun.contains(name))
                    unlockedDuringRun << name;
            }
        };
        QTest::mouseClick(find<QPushButton>(window, "ComInfo"), Qt::LeftButton);
        desk.onProcessEvents = nullptr;
        QVERIFY2(!port.written.isEmpty(), desk.boxes.isEmpty() ? "" : qPrintable(desk.boxes.last().text));
        QCOMPARE(unlockedDuringRun, QStringList());
        for (const QString &name : lockedNames)
            QVERIFY2(find<QWidget>(window, name)->isEnabled(), qPrintable(name));
    }
};

void TestMainWindow::portListShowsPresentDevices()
{
    QTemporaryDir dir;
    QVERIFY(writeFile(dir.filePath("Ports.ini"), "3=/dev/ttyUSB0\n"));
    Session session(port, desk, clock);
    auto devices = std::make_shared<FakePorts>(QStringList{"/dev/ttyUSB0|FT232R USB UART", "/dev/ttyACM0|Arduino Uno"});
    session.context().portInfo = devices;
    session.startUp(dir.path());
    session.main().ComPort.setText("COM 3");
    MainWindow window(session);
    window.show();
    auto *box = find<QComboBox>(window, "ComPort");
    QCOMPARE(find<QLabel>(window, "ComPortDevice")->text(), QString("/dev/ttyUSB0, FT232R USB UART"));
    QCOMPARE(box->count(), 100);
    QCOMPARE(box->itemText(99), QString("/dev/ttyACM0"));

    // Plugged in after the start: there when the list is opened.
    devices->list.append({"/dev/ttyUSB1", "CP2102", ""});
    box->showPopup();
    QCOMPARE(box->count(), 101);
    box->hidePopup();
    QCOMPARE(session.main().ComPort.text(), QString("COM 3"));

    // Choosing an unmapped device gives it the first free number.
    box->setCurrentIndex(99);
    emit box->activated(99);
    QCOMPARE(session.main().ComPort.text(), QString("COM 1"));
    QCOMPARE(box->currentText(), QString("COM 1"));
    QCOMPARE(box->count(), 100);
    QCOMPARE(find<QLabel>(window, "ComPortDevice")->text(), QString("/dev/ttyACM0, Arduino Uno"));
    QFile ini(dir.filePath("Ports.ini"));
    QVERIFY(ini.open(QIODevice::ReadOnly));
    QCOMPARE(ini.readAll(), QByteArray("3=/dev/ttyUSB0\n1=/dev/ttyACM0\n"));
}

void TestMainWindow::keyboardWalksTheWindow()
{
    QTemporaryDir dir;
    Session session(port, desk, clock);
    session.startUp(dir.path());
    MainWindow window(session);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    window.activateWindow();
    QTRY_COMPARE(QApplication::focusWidget(), find<QWidget>(window, "Protocol")); // empty: the first thing to type

    auto focused = [] { return QApplication::focusWidget() ? QApplication::focusWidget()->objectName() : QString(); };
    find<QWidget>(window, "Command1")->setFocus();
    const QList<QPair<Qt::Key, QString>> walk = {{Qt::Key_Tab, "C0"},   {Qt::Key_Right, "C1"}, {Qt::Key_Down, "C9"},
                                                 {Qt::Key_Left, "C8"},  {Qt::Key_Left, "C8"},  {Qt::Key_Tab, "ALL"},
                                                 {Qt::Key_Backtab, "C8"}, {Qt::Key_Up, "C0"},  {Qt::Key_Tab, "ALL"}};
    for (const auto &[key, name] : walk) {
        QTest::keyClick(QApplication::focusWidget(), key);
        QCOMPARE(focused(), name);
    }
    // From Browse to Exit without stopping at each of the 32 boxes.
    find<QWidget>(window, "Command1")->setFocus();
    int presses = 0;
    while (focused() != "ComClose" && presses < 40) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        ++presses;
    }
    QVERIFY2(presses < 25, qPrintable(QString::number(presses)));
}

void TestMainWindow::remembersFileAndFolder()
{
    QTemporaryDir dir;
    const QString file = dir.filePath("images/w.hex");
    QVERIFY(QDir(dir.path()).mkpath("images"));
    QVERIFY(writeFile(file, ":0300000002ABCD83\r\n:00000001FF\r\n"));
    {
        Session session(port, desk, clock);
        session.startUp(dir.path());
        session.dropFile(file);
        QVERIFY(session.shutDown());
    }
    Session session(port, desk, clock);
    session.startUp(dir.path());
    QCOMPARE(session.context().user.lastHexFile, file);
    reopenLastHexFile(session.context());
    QCOMPARE(session.main().FileName.text(), file);
    QCOMPARE(session.main().FileCheksum.text(), QString("1C7F"));
    desk.foldersShown.clear();
    session.browse();
    QCOMPARE(desk.foldersShown, QStringList{dir.filePath("images")});

    // Gone since: not reopened, but Browse still starts in its folder.
    QVERIFY(QFile::remove(file));
    Session later(port, desk, clock);
    later.startUp(dir.path());
    reopenLastHexFile(later.context());
    QVERIFY(later.main().FileName.text().isEmpty());
    later.browse();
    QCOMPARE(desk.foldersShown.last(), dir.filePath("images"));
}

void TestMainWindow::logViewFollowsTheFile()
{
    QTemporaryDir dir;
    Session session(port, desk, clock);
    session.startUp(dir.path());
    MainWindow window(session);
    window.show();
    session.context().log.write("Message : $73  - Checking Flash");
    QTest::mouseClick(find<QPushButton>(window, "LogButton"), Qt::LeftButton);
    auto *text = window.findChild<QWidget *>("Log")->findChild<QPlainTextEdit *>("LogText");
    QVERIFY(text && text->isReadOnly());
    QCOMPARE(text->toPlainText(), QString("Message : $73  - Checking Flash"));
    for (int i = 0; i < 200; ++i)
        session.context().log.write(QString("Recu en String : %1").arg(i));
    QTRY_VERIFY(text->toPlainText().endsWith("\nRecu en String : 199"));
    QCOMPARE(text->verticalScrollBar()->value(), text->verticalScrollBar()->maximum());
    QCOMPARE(text->blockCount(), 201);
}

void TestMainWindow::progressNumbers_data()
{
    // Feeds, one a text: "run 0,3,5,7 batches 10 broadcast", "at 5", "sent 4", "time 30". The
    // window redraws on each feed (and once a second), so a time is followed by a feed.
    QTest::addColumn<QStringList>("feeds");
    QTest::addColumn<QString>("line");
    QTest::newRow("query, third of four")
        << QStringList{"run 0,3,5,7", "at 0", "at 3", "time 30", "at 5"}
        << "Controller 3 of 4 \u00B7 50 % \u00B7 0:30 elapsed \u00B7 about 0:30 left";
    QTest::newRow("unticked controller is not counted")
        << QStringList{"run 0,3", "time 5", "at 0", "at 1"}
        << "Controller 1 of 2 \u00B7 0 % \u00B7 0:05 elapsed \u00B7 time left not known yet";
    QTest::newRow("serial download, second controller half sent")
        << QStringList{"run 3,9 batches 10", "at 3", "sent 10", "at 9", "time 60", "sent 5"}
        << "Controller 2 of 2 \u00B7 5 of 10 batches sent \u00B7 75 % \u00B7 1:00 elapsed \u00B7 about 0:20 left";
    QTest::newRow("parallel download, broadcast")
        << QStringList{"run 3,9 batches 10 broadcast", "at 3", "at 9", "time 3720", "sent 4"}
        << "All 2 controllers at once \u00B7 4 of 10 batches sent \u00B7 42 % \u00B7 1:02:00 elapsed \u00B7 about 1:22:40 left";
    QTest::newRow("parallel download, checking after the broadcast")
        << QStringList{"run 3,9 batches 10 broadcast", "at 3", "at 9", "sent 10", "time 65", "at 9"}
        << "Controller 2 of 2 \u00B7 10 of 10 batches sent \u00B7 92 % \u00B7 1:05 elapsed \u00B7 about 0:05 left";
}

void TestMainWindow::progressNumbers()
{
    QFETCH(QStringList, feeds);
    QFETCH(QString, line);
    Session session(port, desk, clock);
    session.startUp(home.path());
    MainWindow window(session);
    window.show();
    MessageState &message = session.context().message;
    SetClock fake;
    message.clock = &fake;
    message.show();
    for (const QString &feed : feeds) {
        const QStringList w = feed.split(' ');
        if (w[0] == "run") {
            QList<int> numbers;
            for (const QString &n : w[1].split(','))
                numbers << n.toInt();
            message.startRun(numbers, w.size() > 3 ? w[3].toInt() : 0, w.size() > 4);
        } else if (w[0] == "at") {
            message.atController(w[1].toInt());
        } else if (w[0] == "sent") {
            message.setProgress(w[1].toInt(), 10);
        } else {
            fake.now = w[1].toDouble();
        }
    }
    auto *progress = window.findChild<QWidget *>("Message");
    QVERIFY(progress);
    QCOMPARE(progress->findChild<QLabel *>("RunLine")->text(), line);
    QCOMPARE(progress->findChild<QProgressBar *>("Progress")->value(), message.percent());
    message.endRun();
    QVERIFY(progress->findChild<QLabel *>("RunLine")->isHidden());
    message.close();
    message.clock = nullptr;
}

void TestMainWindow::summaryLine_data()
{
    // Rows of the ticked controllers: "ok", "differs", "noanswer", "programmation", "erase" or "" (not reached).
    QTest::addColumn<QString>("operation");
    QTest::addColumn<QStringList>("rows");
    QTest::addColumn<QString>("ending"); // "", "cancel" or a fault
    QTest::addColumn<QString>("summary");
    QTest::newRow("all programmed") << "Download (Serial)" << QStringList{"ok", "ok", "ok", "ok"} << ""
                                    << "Download (Serial): 4 of 4 controllers programmed and verified.";
    QTest::newRow("failures by what the rows say")
        << "Download (Parallel)" << QStringList{"ok", "noanswer", "programmation", "noanswer", "erase"} << ""
        << "Download (Parallel): 1 of 5 controllers programmed and verified; Erasing Failure: 4; No Answer: 1, 3; "
           "Programmation ERROR: 2.";
    QTest::newRow("cancelled before the last")
        << "Download (Serial)" << QStringList{"ok", ""} << "cancel"
        << "Download (Serial): 1 of 2 controllers programmed and verified; not reached: 1 (stopped by Cancel).";
    QTest::newRow("query with a differing checksum")
        << "Flash Info" << QStringList{"ok", "differs"} << ""
        << "Flash Info: 2 of 2 controllers answered; checksum differs from the file: 1.";
    QTest::newRow("port fault") << "Boot Info" << QStringList{""} << "Error # 8002"
                                << "Boot Info: 0 of 1 controller answered; not reached: 0 (ended by Error # 8002).";
    QTest::newRow("none ticked") << "Flash Info" << QStringList{} << "" << "Flash Info: no controller was ticked.";
}

void TestMainWindow::summaryLine()
{
    QFETCH(QString, operation);
    QFETCH(QStringList, rows);
    QFETCH(QString, ending);
    Session session(port, desk, clock);
    session.startUp(home.path());
    MainWindow window(session);
    InfoState &info = session.context().info;
    info.prepare("Flash Info", "1C7F");
    QList<int> ticked;
    for (int i = 0; i < rows.size(); ++i) {
        ticked << i;
        ResultBox &ver = info.Ver(i);
        ResultBox &ck = info.CkSum(i);
        const QString &row = rows[i];
        if (row == "ok" || row == "differs") {
            ver.text = "01/02/03";
            ck.text = row == "ok" ? "1C7F" : "0000";
            if (row == "differs") {
                ck.background = int(kRed);
                ck.foreground = kWhite;
            }
        } else if (!row.isEmpty()) {
            const QMap<QString, QPair<QString, QString>> words = {{"noanswer", {"No", "Answer"}},
                                                                  {"programmation", {"Programmation", "ERROR"}},
                                                                  {"erase", {"Erasing", "Failure"}}};
            ver.text = words[row].first;
            ck.text = words[row].second;
            ver.foreground = ck.foreground = kRed;
            ver.bold = ck.bold = true;
        }
    }
    info.changed();
    const bool cancelled = ending == "cancel";
    const QString fault = cancelled ? QString() : ending;
    const QString line = resultSummary(operation, operation.startsWith("Download"), ticked, info, cancelled, fault);
    QTEST(line, "summary");
    info.setSummary(line, false);
    auto *shown = window.findChild<QWidget *>("Info")->findChild<QLabel *>("Summary");
    QVERIFY(shown);
    QCOMPARE(shown->toolTip(), line);
    // The window's caption stays the one the query set.
    QCOMPARE(window.findChild<QWidget *>("Info")->windowTitle(), QString("Flash Info"));
    info.close();
}

QTEST_MAIN(TestMainWindow)
#include "test_mainwindow.moc"
