// vantorel-cli as a script or a production line runs it: the real program on
// a simulated line, judged by what it prints, its exit status, the bytes it
// put on the line, Log.txt and Flash.cfg. One test holds the windowed tool to
// the same bytes.
#include "image/hexfile.h"
#include "link/textcodec.h"
#include "platform/clock.h"
#include "platform/desk.h"
#include "platform/qtserialport.h"
#include "session/session.h"
#include "sim/line.h"
#include "support/hexbuilder.h"
#include "support/linebench.h"
#include "ui/mainwindow.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <functional>
#include <memory>

using namespace vantorel;

namespace {

// Bounds for the programs, never reached when they work: the slowest run
// here takes about twenty seconds.
constexpr int Patience = 180000;

// Waits that these tests are not about: answers come within a millisecond,
// so the settle wait only has to cover the pseudo-terminal, and failure
// messages need not be held for anyone to read.
const QStringList Quick = {QStringLiteral("--settle-ms"), QStringLiteral("30"), QStringLiteral("--hold-ms"),
                           QStringLiteral("0")};

struct CliRun {
    int exitCode = -1;
    bool crashed = true;
    QByteArray out;
    QString err;
    QJsonObject json;
};

// Runs vantorel-cli to its end. VANTOREL_HOME points at 'home', so a run
// without --dir never touches the build folder.
CliRun runCli(const QStringList &args, const QString &home, const std::function<void(QProcess &)> &whileRunning = {})
{
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("VANTOREL_HOME"), home);
    p.setProcessEnvironment(env);
    p.start(QStringLiteral(VANTOREL_CLI), args);
    CliRun r;
    if (!p.waitForStarted(Patience))
        return r;
    if (whileRunning)
        whileRunning(p);
    if (!p.waitForFinished(Patience)) {
        p.kill();
        p.waitForFinished(Patience);
        return r;
    }
    r.crashed = p.exitStatus() != QProcess::NormalExit;
    r.exitCode = p.exitCode();
    r.out = p.readAllStandardOutput();
    r.err = QString::fromLocal8Bit(p.readAllStandardError());
    r.json = QJsonDocument::fromJson(r.out).object();
    return r;
}

QString described(const CliRun &r)
{
    return QStringLiteral("exit %1\nstdout: %2\nstderr: %3").arg(r.exitCode).arg(QString::fromLocal8Bit(r.out), r.err);
}

std::unique_ptr<sim::Line> lineFrom(const QByteArray &json, const QString &folder)
{
    return std::make_unique<sim::Line>(sim::parseLineConfig(json, QStringLiteral("test line"), folder));
}

// "id|ver|cksum|marked|result" for each controller row of a JSON report.
QStringList rowsOf(const QJsonObject &report)
{
    QStringList rows;
    for (const QJsonValue &v : report.value(QStringLiteral("controllers")).toArray()) {
        const QJsonObject c = v.toObject();
        rows << QStringLiteral("%1|%2|%3|%4|%5")
                    .arg(c.value(QStringLiteral("id")).toInt())
                    .arg(c.value(QStringLiteral("ver")).toString(), c.value(QStringLiteral("cksum")).toString(),
                         c.value(QStringLiteral("marked")).toBool() ? QStringLiteral("marked") : QString(),
                         c.value(QStringLiteral("result")).toString());
    }
    return rows;
}

QList<int> numbers(const QJsonValue &array)
{
    QList<int> out;
    for (const QJsonValue &v : array.toArray())
        out << v.toInt();
    return out;
}

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}


bool isBatch(const QByteArray &frame) { return frame.size() > 7 && frame.mid(3, 4) == QByteArray("u\xAA\x55\x10", 4); }
bool isFullChecksum(const QByteArray &frame)
{
    return frame.size() > 7 && frame.mid(3, 4) == QByteArray("u\xAA\x55\x0F", 4);
}

// Flash.cfg as the tool writes it: 40 lines ended by CR LF, Protocol 3.
QByteArray flashCfg(const QString &port, const QString &speed, const QString &timeOut, const QList<int> &ticked,
                    const QString &delay = QStringLiteral("10"), bool prot4Plus = false)
{
    QByteArray out = timeOut.toLatin1() + "\r\n" + port.toLatin1() + "\r\n" + speed.toLatin1() + "\r\n";
    for (int i = 0; i < 32; ++i)
        out += ticked.contains(i) ? " 1 \r\n" : " 0 \r\n";
    out += delay.toLatin1() + "\r\n3\r\n 0 \r\n 0 \r\n";
    out += prot4Plus ? " 1 \r\n" : " 0 \r\n";
    return out;
}

} // namespace

class TestCli : public QObject {
    Q_OBJECT

    QTemporaryDir files; // the sample image and the line descriptions' flash files
    QString sample;
    QString sampleSum; // the four digits the tool shows

    static QStringList base(const QString &dir, const sim::Line &line, const QString &format = QStringLiteral("json"))
    {
        return QStringList{QStringLiteral("--dir"), dir, QStringLiteral("--port"), line.slavePath(),
                           QStringLiteral("--protocol"), QStringLiteral("3"), QStringLiteral("--format"), format}
            + Quick;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(files.isValid());
        sample = files.filePath(QStringLiteral("sample.hex"));
        QProcess sim;
        sim.start(QStringLiteral(VANTOREL_LINESIM), {QStringLiteral("--write-sample-image"), sample});
        QVERIFY(sim.waitForFinished(Patience));
        QCOMPARE(sim.exitCode(), 0);
        ImageDescription d;
        sampleSum = readHexChecksum(sample, d).right(4);
        QCOMPARE(sampleSum.size(), 4);
    }

    void sampleImageIsPlainIntelHex()
    {
        const QByteArray text = readAll(sample);
        QVERIFY(text.endsWith(":00000001FF\r\n"));
        QList<QByteArray> lines = text.split('\n');
        lines.removeLast(); // after the last line end
        QVERIFY(lines.size() > 2);
        int configRecords = 0;
        for (QByteArray line : lines) {
            QVERIFY2(line.endsWith('\r'), line.constData());
            line.chop(1);
            const QByteArray raw = QByteArray::fromHex(line.mid(1));
            QVERIFY2(line.startsWith(':') && raw.size() >= 5 && raw.size() == raw.at(0) + 5, line.constData());
            int sum = 0;
            for (const char b : raw)
                sum += quint8(b);
            QVERIFY2((sum & 0xFF) == 0, line.constData());
            const int address = (quint8(raw.at(1)) << 8) | quint8(raw.at(2));
            if (raw.at(3) != 0x00)
                continue;
            if (address == 0x2020) {
                ++configRecords;
                // Speed programmable, CRC, protocol byte 04, type 02.
                QCOMPARE(raw.mid(4, 4), QByteArray::fromHex("70000402"));
            } else {
                QCOMPARE(int(raw.at(0)), 16);
            }
        }
        QCOMPARE(configRecords, 1);

        QTemporaryDir home;
        const CliRun r = runCli({QStringLiteral("--format"), QStringLiteral("json"), QStringLiteral("--file"), sample,
                                 QStringLiteral("checksum")},
                                home.path());
        QVERIFY2(r.exitCode == 0, qPrintable(described(r)));
        QCOMPARE(r.json.value(QStringLiteral("file_checksum")).toString(), sampleSum);
        QCOMPARE(r.json.value(QStringLiteral("ctrl_type")).toString(), QString("QRVB"));
        QCOMPARE(r.json.value(QStringLiteral("baud_text")).toString(), QString("Baud Rate Programmable"));
        QCOMPARE(r.json.value(QStringLiteral("protocol_byte")).toString(), QString("04"));
        QCOMPARE(r.json.value(QStringLiteral("prot4plus")).toBool(), false);
    }

    void sampleImageDownloadsIntoTheBuiltInLine()
    {
        // The demo: every controller of the built-in line takes the image at its own speed and keeps that speed.
        sim::Line line(sim::defaultLine());
        QTemporaryDir home;
        const CliRun r = runCli(base(home.path(), line)
                                    + QStringList{QStringLiteral("--speed"), QStringLiteral("9600"),
                                                  QStringLiteral("--timeout"), QStringLiteral("400"),
                                                  QStringLiteral("--controllers"), QStringLiteral("0,3,5,7"),
                                                  QStringLiteral("--file"), sample, QStringLiteral("download-serial")},
                                home.path());
        QVERIFY2(r.exitCode == 0, qPrintable(described(r)));
        const QString &sum = sampleSum;
        const QStringList ok = {QString("0|01/02/03|%1||ok").arg(sum), QString("3|01/02/03|%1||ok").arg(sum),
                                QString("5|01/01/09|%1||ok").arg(sum), QString("7|01/00/07|%1||ok").arg(sum)};
        QCOMPARE(rowsOf(r.json), ok);
        const QByteArray image = sim::flashFromHexFile(sample);
        const QList<QPair<int, int>> speeds = {{0, 9600}, {3, 19200}, {5, 38400}, {7, 4800}};
        const sim::LineSnapshot s = line.snapshot();
        for (const auto &[number, speed] : speeds) {
            QVERIFY2(line.flash(number) == image, qPrintable(QString::number(number)));
            QCOMPARE(s.controller(number)->speed, speed);
            QCOMPARE(int(s.controller(number)->protocolChar), 0x04);
        }
        // A handful of batches each keeps the demo download short.
        int batches = 0;
        for (const sim::FrameRecord &f : line.frames())
            batches += isBatch(f.bytes);
        QVERIFY2(batches <= 4 * 8, qPrintable(QString::number(batches)));
    }

    void commandsReportTheirRows_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("ticked");
        QTest::addColumn<QString>("fileChecksum");
        QTest::addColumn<QList<int>>("selectedAfter");
        QTest::addColumn<int>("status");
        QTest::addColumn<QStringList>("rows");
        QTest::addColumn<QList<int>>("imageIn");    // controllers whose flash must then hold the sample
        QTest::addColumn<int>("protocolAfter");     // of every controller; 0: not looked at

        const QString s = sampleSum;
        const QStringList withSample = {"--file", sample};
        const QByteArray twoAt9600 = R"({"controllers": [
            {"number": 1, "protocolChar": "0x04", "version": "01/02/03", "flash": "sample.hex",
             "bootVersion": "02/00/01", "bootChecksum": "A1B2"},
            {"number": 2, "protocolChar": "0x04", "version": "01/00/09",
             "bootVersion": "03/01/00", "bootChecksum": "0BAD"}]})";

        // A checksum other than the file's is a row "mismatch" and exit status 1.
        QTest::newRow("flash-info")
            << "flash-info" << twoAt9600 << withSample << "1,2" << s << QList<int>{1, 2} << 1
            << QStringList{QString("1|01/02/03|%1||ok").arg(s), "2|01/00/09|1E02|marked|mismatch"} << QList<int>{1}
            << 0;
        QTest::newRow("boot-info") << "boot-info" << twoAt9600 << QStringList() << "1,2" << "" << QList<int>{1, 2} << 0
                                   << QStringList{"1|02/00/01|A1B2||ok", "2|03/01/00|0BAD||ok"} << QList<int>{1} << 0;
        QTest::newRow("download-serial")
            << "download-serial" << twoAt9600 << withSample << "1,2" << s << QList<int>{1, 2} << 0
            << QStringList{QString("1|01/02/03|%1||ok").arg(s), QString("2|01/00/09|%1||ok").arg(s)}
            << QList<int>{1, 2} << 0;
        QTest::newRow("download-parallel")
            << "download-parallel" << twoAt9600 << withSample + QStringList{"--delay", "10"} << "1,2" << s
            << QList<int>{1, 2} << 0
            << QStringList{QString("1|01/02/03|%1||ok").arg(s), QString("2|01/00/09|%1||ok").arg(s)}
            << QList<int>{1, 2} << 0;
        QTest::newRow("to-p3") << "to-p3" << twoAt9600 << QStringList() << "1,2" << "" << QList<int>{1, 2} << 0
                               << QStringList{"1||||ok", "2||||ok"} << QList<int>{1} << 3;
        QTest::newRow("to-p4") << "to-p4"
                               << QByteArray(R"({"controllers": [
                                      {"number": 1, "protocolChar": "0x04", "startProtocol": 3},
                                      {"number": 2, "protocolChar": "0x04", "startProtocol": 3}]})")
                               << QStringList() << "1,2" << "" << QList<int>{1, 2} << 0
                               << QStringList{"1||||ok", "2||||ok"} << QList<int>() << 4;

        // All 32 are listed; those found end up ticked, whatever was ticked before.
        QStringList autoRows;
        for (int i = 0; i < 32; ++i)
            autoRows << QString("%1||||%2").arg(i).arg(i == 1 || i == 6 ? "ok" : "failed");
        QTest::newRow("auto") << "auto"
                              << QByteArray(R"({"controllers": [
                                     {"number": 1, "protocolChar": "0x04"},
                                     {"number": 6, "protocolChar": "0x04", "speed": 19200}]})")
                              << QStringList{"--settle-ms", "5"} << "0" << "" << QList<int>{1, 6} << 0 << autoRows
                              << QList<int>() << 0;
    }

    void commandsReportTheirRows()
    {
        QFETCH(QString, command);
        QFETCH(QByteArray, line);
        QFETCH(QStringList, args);
        QFETCH(QString, ticked);
        QFETCH(QString, fileChecksum);
        QFETCH(QList<int>, selectedAfter);
        QFETCH(int, status);
        QFETCH(QStringList, rows);
        QFETCH(QList<int>, imageIn);
        QFETCH(int, protocolAfter);

        const std::unique_ptr<sim::Line> sim = lineFrom(line, files.path());
        QTemporaryDir home;
        const CliRun r = runCli(base(home.path(), *sim)
                                    + QStringList{QStringLiteral("--speed"), QStringLiteral("9600"),
                                                  QStringLiteral("--timeout"), QStringLiteral("2000"),
                                                  QStringLiteral("--controllers"), ticked}
                                    + args + QStringList{command},
                                home.path());
        QVERIFY2(!r.crashed && r.exitCode == status, qPrintable(described(r)));
        QCOMPARE(r.json.value(QStringLiteral("operation")).toString(), command);
        QCOMPARE(r.json.value(QStringLiteral("file_checksum")).toString(), fileChecksum);
        QCOMPARE(r.json.value(QStringLiteral("protocol")).toString(), QString("3"));
        QCOMPARE(r.json.value(QStringLiteral("prot4plus")).toBool(), false);
        QCOMPARE(r.json.value(QStringLiteral("speed")).toString(), QString("9600"));
        QCOMPARE(numbers(r.json.value(QStringLiteral("selected"))), selectedAfter);
        QCOMPARE(rowsOf(r.json), rows);

        const QByteArray image = sim::flashFromHexFile(sample);
        const sim::LineSnapshot state = sim->snapshot();
        for (const int number : imageIn)
            QVERIFY2(sim->flash(number) == image, qPrintable(QString::number(number)));
        if (protocolAfter) {
            for (const sim::ControllerState &c : state.controllers)
                QCOMPARE(c.protocol, protocolAfter);
        }
    }

    void textFormatIsATable()
    {
        const std::unique_ptr<sim::Line> sim = lineFrom(R"({"controllers": [{"number": 4, "protocolChar": "0x04",
            "bootVersion": "02/00/01", "bootChecksum": "A1B2"}]})", files.path());
        QTemporaryDir home;
        const CliRun r = runCli(base(home.path(), *sim, QStringLiteral("text"))
                                    + QStringList{"--speed", "9600", "--timeout", "2000", "--controllers", "4",
                                                  "boot-info"},
                                home.path());
        QVERIFY2(r.exitCode == 0, qPrintable(described(r)));
        const QStringList lines = QString::fromLocal8Bit(r.out).split('\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 4);
        QVERIFY2(lines[0].startsWith("boot-info ") && lines[0].contains("speed 9600"), qPrintable(lines[0]));
        QCOMPARE(lines[1].simplified(), QString("ctrl version checksum marked result"));
        QCOMPARE(lines[2].simplified(), QString("4 02/00/01 A1B2 no ok"));
        // Columns line up under their headings.
        QCOMPARE(lines[2].indexOf("A1B2"), lines[1].indexOf("checksum"));
        QCOMPARE(lines[3], QString("selected: 4"));
    }

    void exitStatuses_data()
    {
        QTest::addColumn<QByteArray>("line"); // empty: no line
        QTest::addColumn<QStringList>("args"); // "@port" stands for the line's device
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("saying");

        const QString missing = files.filePath("no-such.hex");
        const QString lowerCase = files.filePath("lower.hex");
        const QString noFolder = files.filePath("no-such-folder");
        const QString noDevice = files.filePath("no-such-device");
        writeFile(lowerCase, hexRecord(0, "\xAB\xCD").toLower() + "\r\n");

        QTest::newRow("one silent controller")
            << QByteArray(R"({"controllers": [{"number": 1, "protocolChar": "0x04"},
                                              {"number": 2, "protocolChar": "0x04", "faults": {"silent": true}}]})")
            << QStringList{"--protocol", "3", "--port", "@port", "--controllers", "1,2", "--timeout", "300",
                           "flash-info"}
            << 1 << "Controller 2 : No Answer";
        QTest::newRow("missing HEX file") << QByteArray()
                                          << QStringList{"--file", missing, "--controllers", "1", "download-serial"}
                                          << 2 << missing;
        QTest::newRow("unreadable HEX file") << QByteArray() << QStringList{"--file", lowerCase, "checksum"} << 2
                                             << lowerCase;
        QTest::newRow("unreadable HEX file to download")
            << QByteArray() << QStringList{"--file", lowerCase, "--controllers", "1", "download-serial"} << 2
            << "upper-case hex";
        QTest::newRow("download without a file") << QByteArray() << QStringList{"download-parallel"} << 2 << "--file";
        QTest::newRow("no command") << QByteArray() << QStringList() << 2 << "COMMAND";
        QTest::newRow("unknown command") << QByteArray() << QStringList{"flash"} << 2 << "COMMAND";
        QTest::newRow("two commands") << QByteArray() << QStringList{"auto", "to-p3"} << 2 << "COMMAND";
        QTest::newRow("unknown option") << QByteArray() << QStringList{"--sped", "9600", "auto"} << 2 << "--help";
        QTest::newRow("controller out of range") << QByteArray() << QStringList{"--controllers", "3-32", "auto"} << 2
                                                 << "--controllers";
        QTest::newRow("bad format") << QByteArray() << QStringList{"--format", "xml", "auto"} << 2 << "--format";
        QTest::newRow("bad settle time") << QByteArray() << QStringList{"--settle-ms", "soon", "auto"} << 2
                                         << "--settle-ms";
        QTest::newRow("folder missing") << QByteArray() << QStringList{"--dir", noFolder, "auto"} << 2 << noFolder;
        QTest::newRow("port path that does not exist")
            << QByteArray() << QStringList{"--protocol", "3", "--port", noDevice, "--controllers", "1", "flash-info"}
            << 3 << noDevice;
        QTest::newRow("no protocol") << QByteArray() << QStringList{"--controllers", "1", "flash-info"} << 2
                                     << "--protocol";
    }

    void exitStatuses()
    {
        QFETCH(QByteArray, line);
        QFETCH(QStringList, args);
        QFETCH(int, status);
        QFETCH(QString, saying);

        std::unique_ptr<sim::Line> sim;
        if (!line.isEmpty())
            sim = lineFrom(line, files.path());
        args.replaceInStrings(QStringLiteral("@port"), sim ? sim->slavePath() : QString());
        QTemporaryDir home;
        const QByteArray earlierLog = "the last run's traffic\r\n";
        QVERIFY(writeFile(home.filePath("Log.txt"), earlierLog));
        const CliRun r = runCli(QStringList{"--speed", "9600", "--timeout", "2000"} + Quick + args,
                                home.path());
        QVERIFY2(!r.crashed && r.exitCode == status, qPrintable(described(r)));
        QVERIFY2(r.err.contains(saying), qPrintable(r.err));
        // Refused before the tool starts up: nothing to report, and the log of the last run is kept.
        if (status == 2) {
            QCOMPARE(r.out, QByteArray());
            QCOMPARE(readAll(home.filePath("Log.txt")), earlierLog);
        } else {
            const QStringList rows = QString::fromLocal8Bit(r.out).split('\n').filter("failed");
            QCOMPARE(rows.size(), 1);
        }
    }

    void ctrlCCancelsADownload()
    {
        const std::unique_ptr<sim::Line> sim = lineFrom(R"({"controllers": [
            {"number": 0, "protocolChar": "0x04", "bootVersion": "02/00/01", "bootChecksum": "A1B2"},
            {"number": 1, "protocolChar": "0x04", "bootVersion": "02/00/01", "bootChecksum": "A1B2"}]})",
                                                        files.path());
        // 200 batches: far more than can go by between the signal and its being seen.
        QByteArray code(200 * 128, '\0');
        for (qsizetype i = 0; i < code.size(); ++i)
            code[i] = char(i * 7 + 3);
        QTemporaryDir home;
        const QString big = home.filePath("big.hex");
        QVERIFY(writeFile(big, hexImage(0, code, 16)));

        bool signalled = false;
        const CliRun r = runCli(base(home.path(), *sim)
                                    + QStringList{"--speed", "9600", "--timeout", "2000", "--controllers", "0,1",
                                                  "--file", big, "download-serial"},
                                home.path(), [&](QProcess &p) {
                                    // Erase and three batches, then Ctrl-C.
                                    const bool programming = sim->waitUntil(
                                        [](const sim::LineSnapshot &s) { return s.controller(0)->framesHeard >= 4; },
                                        Patience);
                                    signalled = programming && ::kill(pid_t(p.processId()), SIGINT) == 0;
                                });
        QVERIFY(signalled);
        QVERIFY2(!r.crashed && r.exitCode == 1, qPrintable(described(r)));
        QVERIFY2(r.err.split('\n').contains("Cancel"), qPrintable(r.err));
        QCOMPARE(rowsOf(r.json), QStringList({"0||||failed", "1||||failed"}));

        // Cut short during the batches: no full checksum, and controller 1 untouched.
        int batches = 0;
        for (const sim::FrameRecord &f : sim->frames()) {
            QVERIFY(!isFullChecksum(f.bytes));
            batches += isBatch(f.bytes);
        }
        QVERIFY2(batches >= 3 && batches < 200, qPrintable(QString::number(batches)));
        QCOMPARE(sim->snapshot().controller(1)->framesHeard, 0);

        // Log.txt holds every frame that went out, and its last line is whole.
        const QByteArray log = readAll(home.filePath("Log.txt"));
        QVERIFY(log.endsWith("\r\n"));
        const QStringList logLines = QString::fromLatin1(log.chopped(2)).split(QStringLiteral("\r\n"));
        for (const sim::FrameRecord &f : sim->frames())
            QVERIFY2(logLines.contains(StrToHex(f.bytes)), qPrintable(StrToHex(f.bytes)));

        // The port was let go: the next run opens it and both controllers answer.
        const CliRun next = runCli(base(home.path(), *sim)
                                       + QStringList{"--speed", "9600", "--timeout", "2000", "--controllers", "0,1",
                                                     "boot-info"},
                                   home.path());
        QVERIFY2(next.exitCode == 0, qPrintable(described(next)));
        QCOMPARE(rowsOf(next.json), QStringList({"0|02/00/01|A1B2||ok", "1|02/00/01|A1B2||ok"}));
    }

    void saveWritesTheSettingsForTheNextRun()
    {
        const std::unique_ptr<sim::Line> sim = lineFrom(R"({"controllers": [
            {"number": 1, "speed": 19200, "protocolChar": "0x04", "prot4Plus": true},
            {"number": 4, "speed": 19200, "protocolChar": "0x04", "prot4Plus": true}]})",
                                                        files.path());
        QTemporaryDir home;
        const QString cfg = home.filePath("Flash.cfg");
        const CliRun first = runCli(QStringList{"--dir", home.path(), "--port", sim->slavePath(), "--speed", "19200",
                                                "--timeout", "1500", "--delay", "33", "--protocol", "3", "--prot4plus",
                                                "--controllers", "1,4", "--fast", "--save", "boot-info"}
                                        + Quick,
                                    home.path());
        QVERIFY2(first.exitCode == 0, qPrintable(described(first)));
        const QByteArray expected = flashCfg(sim->slavePath(), "19200", "1500", {1, 4}, "33", true);
        QCOMPARE(readAll(cfg), expected);
        // Fast answers go to Vantorel.ini, not into Flash.cfg's 40 lines.
        QVERIFY(readAll(home.filePath("Vantorel.ini")).contains("FastAnswers=true"));

        // Nothing but the folder: port, speed, time-out, selection and Prot 4+ come from Flash.cfg.
        const CliRun second = runCli(QStringList{"--dir", home.path(), "--format", "json", "boot-info"} + Quick,
                                     home.path());
        QVERIFY2(second.exitCode == 0, qPrintable(described(second)));
        QCOMPARE(second.json.value("speed").toString(), QString("19200"));
        QCOMPARE(second.json.value("prot4plus").toBool(), true);
        QCOMPARE(numbers(second.json.value("selected")), QList<int>({1, 4}));
        QCOMPARE(rowsOf(second.json), QStringList({"1|01/00/00|0000||ok", "4|01/00/00|0000||ok"}));

        // Without --save the file stays as it was.
        const CliRun third = runCli(QStringList{"--dir", home.path(), "--controllers", "4", "--timeout", "900",
                                                "boot-info"}
                                        + Quick,
                                    home.path());
        QVERIFY2(third.exitCode == 0, qPrintable(described(third)));
        QCOMPARE(readAll(cfg), expected);
    }

    void windowAndCommandLinePutTheSameBytesOnTheLine()
    {
        // Controller 2's flash differs from the file, controller 3 is only found at 4800.
        const QByteArray description = R"({"controllers": [
            {"number": 1, "protocolChar": "0x04", "flash": "sample.hex"},
            {"number": 2, "protocolChar": "0x04", "version": "01/00/09"},
            {"number": 3, "protocolChar": "0x04", "speed": 4800}]})";
        const QList<int> ticked = {1, 2, 3};

        const std::unique_ptr<sim::Line> cliLine = lineFrom(description, files.path());
        QTemporaryDir cliHome;
        QVERIFY(writeFile(cliHome.filePath("Flash.cfg"), flashCfg(cliLine->slavePath(), "9600", "400", ticked)));
        const CliRun r = runCli(QStringList{"--dir", cliHome.path(), "--file", sample, "--format", "json",
                                            "flash-info"}
                                    + Quick,
                                cliHome.path());
        QVERIFY2(r.exitCode == 1, qPrintable(described(r))); // controller 2 mismatches

        const std::unique_ptr<sim::Line> windowLine = lineFrom(description, files.path());
        QTemporaryDir windowHome;
        QVERIFY(writeFile(windowHome.filePath("Flash.cfg"), flashCfg(windowLine->slavePath(), "9600", "400", ticked)));
        {
            QtSerialPort port;
            RecordingDesk desk;
            MonotonicClock clock;
            Session session(port, desk, clock);
            session.startUp(windowHome.path());
            session.context().timings.settleDelay = 0.03;
            session.context().timings.failureHold = 0.0;
            MainWindow window(session);
            window.show();
            QVERIFY(QTest::qWaitForWindowExposed(&window));
            session.dropFile(sample);
            auto *comInfo = window.findChild<QPushButton *>(QStringLiteral("ComInfo"));
            QVERIFY(comInfo && comInfo->isEnabled());
            QTest::mouseClick(comInfo, Qt::LeftButton);
            const InfoState &info = session.context().info;
            QVERIFY(info.shown());
            for (const QString &row : rowsOf(r.json)) {
                const QStringList cells = row.split('|');
                const int id = cells[0].toInt();
                QCOMPARE(info.ver(id).text, cells[1]);
                QCOMPARE(info.ckSum(id).text, cells[2]);
            }
            session.main().Check1.setValue(0);
            session.shutDown();
        }

        const auto cliBytes = sentWithSpeed(*cliLine);
        QVERIFY2(cliBytes.size() >= 2, "the search went from 9600 to 4800");
        QCOMPARE(sentWithSpeed(*windowLine), cliBytes);
        const QByteArray cliLog = readAll(cliHome.filePath("Log.txt"));
        QVERIFY(cliLog.contains("Message : $73"));
        QCOMPARE(readAll(windowHome.filePath("Log.txt")), cliLog);
    }
};

QTEST_MAIN(TestCli)
#include "test_cli.moc"
