#include "platform/clock.h"
#include "platform/desk.h"
#include "session/session.h"
#include "support/hexbuilder.h"
#include "support/nullport.h"
#include "ui/mainwindow.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QFontMetrics>
#include <QTest>

using namespace vantorel;

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
    void controlsAndStartStates()
    {
        Session session(port, desk, clock);
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
            QCOMPARE(box->geometry(), QRect(424, 176, 57, 19));
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
        ctx.message.close();
    }
};

QTEST_MAIN(TestMainWindow)
#include "test_mainwindow.moc"
