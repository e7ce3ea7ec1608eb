#include "state/config.h"
#include "state/mainstate.h"
#include "state/usersettings.h"
#include "platform/fault.h"
#include "support/hexbuilder.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>
#include <unistd.h>

using namespace vantorel;

namespace {
QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Text1|ComPort|Vitesse|Text2|Protocol|ticked C|ChkProto QRV3 Prot 4+ values|what their
// reactions show: ChkProto visible, Cmd3to4 visible, ComInfo enabled.
QString settings(const MainState &s)
{
    QStringList ticked;
    for (const int i : s.selectedControllers())
        ticked << QString::number(i);
    return QStringList({s.Text1.text(), s.ComPort.text(), s.Vitesse.text(), s.Text2.text(), s.Protocol.text(),
                        ticked.join(','), QString::number(s.ChkProto.value() * 100 + s.QRV3.value() * 10 + s.Protocol4Plus.value()),
                        QString::number(s.ChkProto.visible() * 100 + s.Cmd3to4.visible() * 10 + s.ComInfo.enabled())})
        .join('|');
}
} // namespace

class TestConfig : public QObject {
    Q_OBJECT
    QTemporaryDir dir;

private slots:
    void savedFileHasItsFortyLinesAndReadsBack()
    {
        MainState s;
        const std::pair<Control *, QString> texts[] = {
            {&s.Text1, "1000"}, {&s.ComPort, "COM 12"}, {&s.Vitesse, "19200"}, {&s.Text2, "10"}, {&s.Protocol, "63"}};
        for (const auto &[control, text] : texts)
            control->setText(text);
        for (Control *box : {&s.C[5], &s.C[31], &s.ChkProto, &s.Protocol4Plus})
            box->setValue(1);
        const QString path = dir.filePath("Flash.cfg");
        SaveConfig(s, path);
        const QByteArray zero = " 0 \r\n";
        QCOMPARE(readAll(path), "1000\r\nCOM 12\r\n19200\r\n" + zero.repeated(5) + " 1 \r\n" + zero.repeated(25)
                                    + " 1 \r\n10\r\n63\r\n 1 \r\n 0 \r\n 1 \r\n");
        MainState back;
        ReadConfig(back, path);
        QCOMPARE(settings(back), QString("1000|COM 12|19200|10|63|5,31|101|101"));
        QVERIFY(back.SameProtocol);
    }

    void reading_data()
    {
        QTest::addColumn<QByteArray>("content"); // empty: no file; "pipe": a pipe in its place
        QTest::addColumn<QString>("settings");   // read over C2 and C5 ticked
        QTest::addColumn<QString>("problem");    // what reading it tells the user
        QByteArray states; // C0 to C31
        for (const char *line : {" 0 ", " 1 ", "x", "2", "99999", " 0", "1", "-1"})
            states += QByteArray(line) + "\r\n";
        states += QByteArray(" 0 \r\n").repeated(24);
        QTest::newRow("no file: empty texts, boxes kept") << QByteArray() << "|||||2,5|0|0" << "";
        QTest::newRow("short: the last line repeats") << QByteArray("500\r\nCOM 2\r\n") << "500|COM 2|COM 2|COM 2|COM 2|2,5|0|1" << "";
        QTest::newRow("only 0 and 1 change a box") << "1000\r\nCOM 1\r\n9600\r\n" + states + "10\r\n3\r\n 1 \r\n 1 \r\nyes\r\n"
                                                   << "1000|COM 1|9600|10|3|1,2,6|110|111" << "";
        // Never waited on nor read without end: as if missing, and the user is told.
        QTest::newRow("a pipe") << QByteArray("pipe") << "|||||2,5|0|0" << "read.cfg is a pipe, not a regular file: the saved settings were not read";
        QTest::newRow("past 64 KiB") << "1000\r\n" + QByteArray(64 << 10, ' ') << "|||||2,5|0|0" << "more than Flash.cfg can be (64 KiB at most)";
    }
    void reading()
    {
        QFETCH(QByteArray, content);
        const QString path = dir.filePath("read.cfg");
        QFile::remove(path);
        if (content == "pipe")
            QVERIFY(::mkfifo(QFile::encodeName(path).constData(), 0600) == 0);
        else if (!content.isEmpty())
            QVERIFY(writeFile(path, content));
        MainState s;
        s.C[2].setValue(1);
        s.C[5].setValue(1);
        const QString told = ReadConfig(s, path);
        QTEST(settings(s), "settings");
        QFETCH(QString, problem);
        QVERIFY2(problem.isEmpty() ? told.isEmpty() : told.contains(problem), qPrintable(told));
    }

    void saveReplacesTheFileOrLeavesItAlone()
    {
        // A second name for the old file still shows the old bytes after a save: the settings
        // went to a new file renamed over the old name, so a crash half-way cannot leave a
        // truncated Flash.cfg.
        const QString path = dir.filePath("Linked.cfg");
        const QString other = dir.filePath("Linked.old");
        QVERIFY(writeFile(path, "old settings\r\n"));
        QFile::remove(other);
        QVERIFY(::link(QFile::encodeName(path).constData(), QFile::encodeName(other).constData()) == 0);
        MainState s;
        s.Text1.setText("777");
        SaveConfig(s, path);
        QCOMPARE(readAll(other), QByteArray("old settings\r\n"));
        QVERIFY(readAll(path).startsWith("777\r\n"));
        QCOMPARE(QDir(dir.path()).entryList({"Linked*"}, QDir::Files).size(), 2); // no temporary left

        // A folder in the file's place cannot be replaced, whatever the rights.
        QVERIFY(QDir(dir.path()).mkdir("Blocked.cfg"));
        try {
            SaveConfig(s, dir.filePath("Blocked.cfg"));
            QFAIL("saved over a folder");
        } catch (const Fault &f) {
            QCOMPARE(f.code(), FaultCode::FileAccess);
            QVERIFY(f.description().contains("Blocked.cfg"));
        }
    }

    // Known speeds are kept for the devices that answered last, whatever the file held; a file too big is not read
    // (no setting of it is) and never written over.
    void knownSpeedsAreBounded()
    {
        const QString path = dir.filePath("Vantorel.ini");
        struct Row { int devices; int padding; int kept; QString told; };
        const Row rows[] = {{3, 0, 3, ""},
                            {200, 0, kKnownSpeedDevices, "held the known speeds of 200 devices: only the 128 that answered last"},
                            {3, 300 << 10, 0, "more than Vantorel.ini can be (256 KiB at most)"}};
        for (const Row &row : rows) {
            QByteArray ini = "[Line]\nFastAnswers=true\n[Notes]\nText=" + QByteArray(row.padding, 'x') + "\n[KnownSpeeds]\n";
            for (int d = 1; d <= row.devices; ++d)
                ini += QByteArray::number(d) + "\\Device=/dev/tty" + QByteArray::number(d) + "\n" + QByteArray::number(d) + "\\C5=9600\n";
            ini += "size=" + QByteArray::number(row.devices) + "\n";
            QVERIFY(writeFile(path, ini));
            UserSettings u = UserSettings::read(path);
            const QString told = u.problem + u.note;
            QVERIFY2(row.told.isEmpty() ? told.isEmpty() : told.contains(row.told), qPrintable(told));
            QCOMPARE(u.fastAnswers, row.kept > 0);
            QCOMPARE(u.knownDevices.size(), row.kept);
            QCOMPARE(u.knownSpeeds.size(), row.kept);
            if (row.kept == 0) {
                u.rememberSpeed("/dev/ttyNew", 1, 4800);
                QVERIFY_THROWS_EXCEPTION(Fault, u.save(path));
                QVERIFY_THROWS_EXCEPTION(Fault, u.saveKnownSpeeds(path));
                QCOMPARE(readAll(path), ini);
                continue;
            }
            const QString oldest = "/dev/tty" + QString::number(row.devices - row.kept + 1);
            QCOMPARE(u.knownDevices.first(), oldest);
            QCOMPARE(u.knownSpeed(oldest, 5), 9600);
            // The oldest answers again: the next oldest gives way once the devices are too many.
            u.rememberSpeed(oldest, 5, 19200);
            u.rememberSpeed("/dev/ttyNew", 1, 4800);
            u.saveKnownSpeeds(path);
            const UserSettings back = UserSettings::read(path);
            const bool full = row.kept == kKnownSpeedDevices;
            QVERIFY(back.problem.isEmpty() && back.note.isEmpty() && back.fastAnswers);
            QCOMPARE(back.knownDevices.size(), full ? kKnownSpeedDevices : row.kept + 1);
            QCOMPARE(back.knownDevices.mid(back.knownDevices.size() - 2), QStringList({oldest, "/dev/ttyNew"}));
            QCOMPARE(back.knownSpeed(oldest, 5), 19200);
            QCOMPARE(back.knownDevices.contains("/dev/tty" + QString::number(row.devices - row.kept + 2)), !full);
        }
        // Two lines of a station (or a line and the window, which saves all its settings) read the file before
        // either saved: each keeps its speeds beside the other's.
        QVERIFY(writeFile(path, "[KnownSpeeds]\n1\\Device=/dev/ttyOld\n1\\C1=4800\nsize=1\n"));
        UserSettings a = UserSettings::read(path), b = UserSettings::read(path);
        a.rememberSpeed("/dev/ttyA", 1, 9600);
        b.rememberSpeed("/dev/ttyB", 2, 19200);
        a.saveKnownSpeeds(path);
        b.save(path);
        const UserSettings both = UserSettings::read(path);
        QCOMPARE(both.knownDevices, QStringList({"/dev/ttyOld", "/dev/ttyA", "/dev/ttyB"}));
        QCOMPARE(QList<int>({both.knownSpeed("/dev/ttyOld", 1), both.knownSpeed("/dev/ttyA", 1), both.knownSpeed("/dev/ttyB", 2)}),
                 QList<int>({4800, 9600, 19200}));
    }

    void bootIni()
    {
        // The first line of a Boot.ini found whatever the case of its name.
        // One that is there but cannot be read refuses (content "pipe": a pipe, "folder": a folder).
        const QList<std::tuple<QString, QByteArray, QString>> rows = {
            {QString(), QByteArray(), "9600,N,8,2"}, {"Boot.ini", "19200\r\nignored\r\n", "19200,N,8,2"},
            {"boot.ini", "38400\r\n", "38400,N,8,2"}, {"BOOT.INI", "4800\n", "4800,N,8,2"},
            {"boot.ini", "pipe", "boot.ini is a pipe, not a regular file: make it a plain text file holding only the boot line speed"},
            {"Boot.ini", "folder", "Boot.ini is a folder, not a regular file"}};
        for (const auto &[name, content, settings] : rows) {
            QTemporaryDir appDir;
            const QByteArray path = QFile::encodeName(appDir.filePath(name));
            if (content == "pipe" || content == "folder")
                QVERIFY(content == "pipe" ? ::mkfifo(path.constData(), 0600) == 0 : QDir().mkdir(appDir.filePath(name)));
            else if (!name.isEmpty())
                QVERIFY(writeFile(appDir.filePath(name), content));
            QString got;
            try {
                got = bootSettings(appDir.path() + "/");
            } catch (const Fault &f) {
                got = f.code() == FaultCode::FileAccess ? f.description() : QString();
            }
            QVERIFY2(settings.contains(' ') ? got.contains(settings) : got == settings, qPrintable(got));
        }
    }
};

QTEST_GUILESS_MAIN(TestConfig)
#include "test_config.moc"
