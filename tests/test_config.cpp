#include "app/config.h"
#include "app/mainstate.h"
#include "platform/fault.h"
#include "support/hexbuilder.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <unistd.h>

using namespace vantorel;

namespace {
QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}
} // namespace

class TestConfig : public QObject {
    Q_OBJECT
    QTemporaryDir dir;

private slots:
    void savedFileHasTheFortyLines()
    {
        MainState s;
        s.Text1.setText("1000");
        s.ComPort.setText("COM 3");
        s.Vitesse.setText("19200");
        s.C[5].setValue(1);
        s.Text2.setText("10");
        s.Protocol.setText("63");
        s.QRV3.setValue(1);
        const QString path = dir.filePath("Flash.cfg");
        SaveConfig(s, path);
        const QByteArray bytes = readAll(path);
        QVERIFY(bytes.endsWith("\r\n"));
        const QList<QByteArray> lines = bytes.chopped(1).split('\n');
        QCOMPARE(lines.size(), 40);
        for (const QByteArray &line : lines)
            QVERIFY(line.endsWith('\r'));
        QCOMPARE(lines[0], QByteArray("1000\r"));
        QCOMPARE(lines[1], QByteArray("COM 3\r"));
        QCOMPARE(lines[2], QByteArray("19200\r"));
        for (int i = 0; i < 32; ++i)
            QCOMPARE(lines[3 + i], QByteArray(i == 5 ? " 1 \r" : " 0 \r"));
        QCOMPARE(lines[35], QByteArray("10\r"));
        QCOMPARE(lines[36], QByteArray("63\r"));
        QCOMPARE(lines[37], QByteArray(" 0 \r"));
        QCOMPARE(lines[38], QByteArray(" 1 \r"));
        QCOMPARE(lines[39], QByteArray(" 0 \r"));
    }

    void roundTrip()
    {
        MainState a;
        a.Text1.setText("250");
        a.ComPort.setText("COM 12");
        a.Vitesse.setText("4800");
        for (int i : {0, 7, 31})
            a.C[i].setValue(1);
        a.Text2.setText("25");
        a.Protocol.setText("3");
        a.ChkProto.setValue(1);
        a.QRV3.setValue(1);
        a.Protocol4Plus.setValue(1);
        const QString path = dir.filePath("round.cfg");
        SaveConfig(a, path);

        MainState b;
        ReadConfig(b, path);
        QCOMPARE(b.Text1.text(), QString("250"));
        QCOMPARE(b.ComPort.text(), QString("COM 12"));
        QCOMPARE(b.Vitesse.text(), QString("4800"));
        QCOMPARE(b.selectedControllers(), QList<int>({0, 7, 31}));
        QCOMPARE(b.Text2.text(), QString("25"));
        QCOMPARE(b.Protocol.text(), QString("3"));
        QVERIFY(b.ChkProto.ticked() && b.ChkProto.visible() && b.SameProtocol);
        QVERIFY(b.QRV3.ticked() && b.Cmd3to4.visible() && b.Cmd4to3.visible());
        QVERIFY(b.Protocol4Plus.ticked());
        QVERIFY(b.ComInfo.enabled() && b.Auto.enabled() && b.ComBoot.enabled());
        QVERIFY(!b.ComLoad.enabled()); // no file checksum yet
    }

    void missingFileLeavesTextsEmpty()
    {
        MainState s;
        ReadConfig(s, dir.filePath("absent.cfg"));
        QVERIFY(s.Text1.text().isEmpty());
        QVERIFY(s.Text2.text().isEmpty());
        QVERIFY(s.Protocol.text().isEmpty());
        QVERIFY(!s.ComInfo.enabled());
        QVERIFY(s.selectedControllers().isEmpty());
    }

    void shortFileRepeatsTheLastLine()
    {
        const QString path = dir.filePath("short.cfg");
        QVERIFY(writeFile(path, "500\r\nCOM 2\r\n"));
        MainState s;
        s.C[4].setValue(1);
        ReadConfig(s, path);
        QCOMPARE(s.Text1.text(), QString("500"));
        QCOMPARE(s.ComPort.text(), QString("COM 2"));
        // Later text boxes receive the last line read; boxes keep their state.
        QCOMPARE(s.Vitesse.text(), QString("COM 2"));
        QCOMPARE(s.Protocol.text(), QString("COM 2"));
        QCOMPARE(s.selectedControllers(), QList<int>({4}));
    }

    void garbageStateLinesAreSkipped()
    {
        QByteArray content = "1000\r\nCOM 1\r\n9600\r\n";
        for (int i = 0; i < 32; ++i)
            content += (i == 1 ? " 1 " : i == 2 ? "x" : i == 3 ? "2" : i == 4 ? "99999" : "1") + QByteArray("\r\n");
        content += "10\r\n3\r\n 1 \r\nyes\r\n 0 \r\n";
        const QString path = dir.filePath("garbage.cfg");
        QVERIFY(writeFile(path, content));
        MainState s;
        s.C[2].setValue(1);
        s.QRV3.setValue(1);
        ReadConfig(s, path);
        QVERIFY(s.C[1].ticked());
        QVERIFY(s.C[2].ticked());  // "x": kept
        QVERIFY(!s.C[3].ticked()); // 2 is no state of a box: kept clear
        QVERIFY(!s.C[4].ticked());
        QVERIFY(s.C[31].ticked());
        QVERIFY(s.ChkProto.visible() && s.ChkProto.ticked());
        QVERIFY(s.QRV3.ticked()); // "yes": kept
        QCOMPARE(s.Protocol.text(), QString("3"));
    }

    void failedSaveKeepsTheOldFile()
    {
        QTemporaryDir locked;
        const QString path = locked.filePath("Flash.cfg");
        QVERIFY(writeFile(path, "old settings\r\n"));
        QFile::setPermissions(locked.path(), QFile::ReadOwner | QFile::ExeOwner);
        MainState s;
        s.Text1.setText("new");
        bool failed = false;
        try {
            SaveConfig(s, path);
        } catch (const Fault &f) {
            failed = true;
            QCOMPARE(f.code(), FaultCode::FileAccess);
            QVERIFY(f.description().contains("Flash.cfg"));
        }
        QFile::setPermissions(locked.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        if (!failed && QFileInfo(locked.path()).isWritable())
            QSKIP("running with rights that ignore folder permissions");
        QVERIFY(failed);
        QCOMPARE(readAll(path), QByteArray("old settings\r\n"));
    }

    void saveReplacesTheFileInsteadOfRewritingIt()
    {
        // A second name for the old file still shows the old bytes after a save:
        // the new settings went to a new file renamed over the old name, so a
        // crash half-way could never have left a truncated Flash.cfg.
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
    }

    void bootIni_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("settings");
        QTest::newRow("none") << QString() << QByteArray() << "9600,N,8,2";
        QTest::newRow("Boot.ini") << "Boot.ini" << QByteArray("19200\r\nignored\r\n") << "19200,N,8,2";
        QTest::newRow("lower case name") << "boot.ini" << QByteArray("38400\r\n") << "38400,N,8,2";
        QTest::newRow("upper case name, LF") << "BOOT.INI" << QByteArray("4800\n") << "4800,N,8,2";
    }
    void bootIni()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, content);
        QFETCH(QString, settings);
        QTemporaryDir appDir;
        if (!name.isEmpty())
            QVERIFY(writeFile(appDir.filePath(name), content));
        QCOMPARE(bootSettings(appDir.path() + "/"), settings);
    }
};

QTEST_GUILESS_MAIN(TestConfig)
#include "test_config.moc"
