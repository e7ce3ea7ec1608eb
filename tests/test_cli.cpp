// vantorel-cli as a script or a production line runs it: the real program on
// a simulated line, judged by what it prints, its exit status, the bytes it
// put on the line, its records, Log.txt and Flash.cfg. One test holds the
// windowed tool to the same bytes.
#include "cli/report.h"
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

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <fcntl.h>
#include <functional>
#include <memory>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

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

// Starts vantorel-cli with VANTOREL_HOME at 'home', so a run without --dir
// never touches the build folder. 'stderrFd': the descriptor its standard
// error goes to instead of a pipe (a terminal), or -1.
void startCli(QProcess &p, const QStringList &args, const QString &home, int stderrFd = -1)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("VANTOREL_HOME"), home);
    p.setProcessEnvironment(env);
    if (stderrFd >= 0)
        p.setChildProcessModifier([stderrFd] { ::dup2(stderrFd, STDERR_FILENO); });
    p.start(QStringLiteral(VANTOREL_CLI), args);
}

CliRun finishCli(QProcess &p)
{
    CliRun r;
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

// Runs vantorel-cli to its end.
CliRun runCli(const QStringList &args, const QString &home, const std::function<void(QProcess &)> &whileRunning = {})
{
    QProcess p;
    startCli(p, args, home);
    if (!p.waitForStarted(Patience))
        return CliRun();
    if (whileRunning)
        whileRunning(p);
    return finishCli(p);
}

QString described(const CliRun &r)
{
    return QStringLiteral("exit %1\nstdout: %2\nstderr: %3").arg(r.exitCode).arg(QString::fromLocal8Bit(r.out), r.err);
}

std::unique_ptr<sim::Line> lineFrom(const QByteArray &json, const QString &folder)
{
    return std::make_unique<sim::Line>(sim::parseLineConfig(json, QStringLiteral("test line"), folder));
}

// "id|ver|cksum|marked|speed|result" for each controller row of a JSON
// report, then "|" and the window's two words where they are not ver and cksum.
QStringList rowsOf(const QJsonObject &report)
{
    QStringList rows;
    for (const QJsonValue &v : report.value(QStringLiteral("controllers")).toArray()) {
        const QJsonObject c = v.toObject();
        const QString ver = c.value(QStringLiteral("ver")).toString();
        const QString cksum = c.value(QStringLiteral("cksum")).toString();
        const QJsonArray display = c.value(QStringLiteral("display")).toArray();
        const QJsonValue speed = c.value(QStringLiteral("speed"));
        QString row = QStringLiteral("%1|%2|%3|%4|%5|%6")
                          .arg(c.value(QStringLiteral("id")).toInt())
                          .arg(ver, cksum, c.value(QStringLiteral("marked")).toBool() ? QStringLiteral("marked") : QString(),
                               speed.isNull() ? QString() : QString::number(speed.toInt()),
                               c.value(QStringLiteral("result")).toString());
        if (display != QJsonArray{ver, cksum})
            row += QStringLiteral("|%1 %2").arg(display.at(0).toString(), display.at(1).toString());
        rows << row;
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

// An image of 'batches' batches of 128 bytes (contiguous 16-byte records),
// then the configuration record of the sample image.
QByteArray bigImage(int batches)
{
    QByteArray code(batches * 128, '\0');
    for (qsizetype i = 0; i < code.size(); ++i)
        code[i] = char(i * 7 + 3);
    const QByteArray configuration = QByteArray::fromHex("70000402");
    if (code.size() <= 0x2020)
        return hexImage(0, code, 16, "\r\n", false) + hexRecord(0x2020, configuration) + "\r\n" + hexEndRecord() + "\r\n";
    code.replace(0x2020, 4, configuration); // a record of its own would overlap the code
    return hexImage(0, code, 16, "\r\n", false) + hexEndRecord() + "\r\n";
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

bool waitUntil(const std::function<bool()> &condition)
{
    QElapsedTimer t;
    t.start();
    while (!condition()) {
        if (t.elapsed() > Patience)
            return false;
        QTest::qWait(10);
    }
    return true;
}

// Processes waiting for an exclusive lock of the file (Linux's /proc/locks).
int waitingForLock(const QString &path)
{
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return -1;
    const QString inode = QStringLiteral(":%1 ").arg(st.st_ino);
    int waiting = 0;
    for (const QString &line : QString::fromLatin1(readAll(QStringLiteral("/proc/locks"))).split('\n'))
        waiting += line.contains(QLatin1String("-> FLOCK")) && line.contains(inode);
    return waiting;
}

const QRegularExpression isoTime(QStringLiteral("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d(\\.\\d{3})?(Z|[+-]\\d\\d:\\d\\d)$"));

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

    void sampleImageDownloadsIntoTheBuiltInLine()
    {
        // What the demo's image says of itself: programmable speed, protocol byte 04, CRC.
        QTemporaryDir home;
        const CliRun checksum = runCli({"--format", "json", "--file", sample, "checksum"}, home.path());
        QVERIFY2(checksum.exitCode == 0, qPrintable(described(checksum)));
        QCOMPARE(checksum.json.value("file_checksum").toString(), sampleSum);
        QCOMPARE(checksum.json.value("ctrl_type").toString(), QString("QRVB"));
        QCOMPARE(checksum.json.value("baud_text").toString(), QString("Baud Rate Programmable"));
        QCOMPARE(checksum.json.value("protocol_byte").toString(), QString("04"));
        QCOMPARE(checksum.json.value("prot4plus").toBool(), false);

        // The demo: every controller of the built-in line takes the image at its own speed and keeps that speed.
        sim::Line line(sim::defaultLine());
        const CliRun r = runCli(base(home.path(), line)
                                    + QStringList{QStringLiteral("--speed"), QStringLiteral("9600"),
                                                  QStringLiteral("--timeout"), QStringLiteral("400"),
                                                  QStringLiteral("--controllers"), QStringLiteral("0,3,5,7"),
                                                  QStringLiteral("--file"), sample, QStringLiteral("download-serial")},
                                home.path());
        QVERIFY2(r.exitCode == 0, qPrintable(described(r)));
        const QString &sum = sampleSum;
        const QStringList ok = {QString("0|01/02/03|%1||9600|ok").arg(sum), QString("3|01/02/03|%1||19200|ok").arg(sum),
                                QString("5|01/01/09|%1||38400|ok").arg(sum), QString("7|01/00/07|%1||4800|ok").arg(sum)};
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

    // What a station script reads: status, summary, error and rows, for each way a run ends.
    void runsEndWithStatusSummaryAndRows_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<QByteArray>("line"); // empty: a port that does not exist
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("exit");
        QTest::addColumn<QString>("status");
        QTest::addColumn<QList<int>>("summary"); // selected, ok, failed
        QTest::addColumn<int>("error");          // its number; 0: none
        QTest::addColumn<QStringList>("rows");

        const QString s = sampleSum;
        const QStringList withSample = {"--file", sample, "--controllers", "1,2"};
        const QByteArray two = R"({"controllers": [
            {"number": 1, "protocolChar": "0x04", "version": "01/02/03", "flash": "sample.hex"},
            {"number": 2, "protocolChar": "0x04", "version": "01/00/09"}]})";

        // Another checksum than the file's, a controller only found at 19200, one that never answers.
        QTest::newRow("failed")
            << "flash-info"
            << QByteArray(R"({"controllers": [
                   {"number": 1, "protocolChar": "0x04", "version": "01/02/03", "flash": "sample.hex"},
                   {"number": 2, "protocolChar": "0x04", "version": "01/00/09"},
                   {"number": 3, "protocolChar": "0x04", "version": "01/02/03", "flash": "sample.hex", "speed": 19200},
                   {"number": 4, "protocolChar": "0x04", "faults": {"silent": true}}]})")
            << QStringList{"--file", sample, "--controllers", "1-4", "--timeout", "400"} << 1 << "failed"
            << QList<int>{4, 2, 2} << 0
            << QStringList{QString("1|01/02/03|%1||9600|ok").arg(s), "2|01/00/09|1E02|marked|9600|mismatch",
                           QString("3|01/02/03|%1||19200|ok").arg(s), "4|||marked||failed|No Answer"};
        QTest::newRow("ok") << "download-serial" << two << withSample << 0 << "ok" << QList<int>{2, 2, 0} << 0
                            << QStringList{QString("1|01/02/03|%1||9600|ok").arg(s),
                                           QString("2|01/00/09|%1||9600|ok").arg(s)};
        QTest::newRow("ok, a switch")
            << "to-p4"
            << QByteArray(R"({"controllers": [{"number": 1, "protocolChar": "0x04", "startProtocol": 3},
                                              {"number": 2, "protocolChar": "0x04", "startProtocol": 3}]})")
            << QStringList{"--controllers", "1,2"} << 0 << "ok" << QList<int>{2, 2, 0} << 0
            << QStringList{"1||||9600|ok", "2||||9600|ok"};
        // All 32 are listed; the detection is ok when it ran to its end.
        QStringList autoRows;
        for (int i = 0; i < 32; ++i)
            autoRows << (i == 1 ? "1||||9600|ok" : i == 6 ? "6||||19200|ok" : QString("%1|||||failed").arg(i));
        QTest::newRow("ok, the detection")
            << "auto"
            << QByteArray(R"({"controllers": [{"number": 1, "protocolChar": "0x04"},
                                              {"number": 6, "protocolChar": "0x04", "speed": 19200}]})")
            << QStringList{"--settle-ms", "5", "--controllers", "0"} << 0 << "ok" << QList<int>{32, 2, 30} << 0
            << autoRows;
        QTest::newRow("error, the line lost")
            << "flash-info"
            << QByteArray(R"({"controllers": [{"number": 1, "protocolChar": "0x04"},
                                 {"number": 2, "protocolChar": "0x04", "faults": {"unplugAfterFrames": 0}}]})")
            << QStringList{"--controllers", "1,2"} << 3 << "error" << QList<int>{2, 1, 1} << 8003
            << QStringList{"1|01/00/00|1E02||9600|ok", "2|||||failed"};
        QTest::newRow("error, no such port") << "flash-info" << QByteArray() << QStringList{"--controllers", "1"} << 3
                                             << "error" << QList<int>{1, 0, 1} << 8002
                                             << QStringList{"1|||||failed"};
    }

    void runsEndWithStatusSummaryAndRows()
    {
        QFETCH(QString, command);
        QFETCH(QByteArray, line);
        QFETCH(QStringList, args);
        QFETCH(int, exit);
        QFETCH(QString, status);
        QFETCH(QList<int>, summary);
        QFETCH(int, error);
        QFETCH(QStringList, rows);

        std::unique_ptr<sim::Line> sim;
        if (!line.isEmpty())
            sim = lineFrom(line, files.path());
        QTemporaryDir home;
        const QString port = sim ? sim->slavePath() : home.filePath("no-such-device");
        const CliRun r = runCli(QStringList{"--dir", home.path(), "--port", port, "--protocol", "3", "--format", "json",
                                            "--speed", "9600", "--timeout", "2000"}
                                    + Quick + args + QStringList{command},
                                home.path());
        QVERIFY2(!r.crashed && r.exitCode == exit, qPrintable(described(r)));
        QCOMPARE(r.json.value("status").toString(), status);
        const QJsonObject sum = r.json.value("summary").toObject();
        QCOMPARE((QList<int>{sum.value("selected").toInt(-1), sum.value("ok").toInt(-1), sum.value("failed").toInt(-1)}),
                 summary);
        QCOMPARE(rowsOf(r.json), rows);
        const QJsonValue fault = r.json.value("error");
        QVERIFY2(error ? fault.toObject().value("number").toInt() == error : fault.isNull(), qPrintable(described(r)));
        if (error) // the box text without its "Error # " line, which the number already says
            QVERIFY2(!fault.toObject().value("text").toString().isEmpty()
                         && !fault.toObject().value("text").toString().contains("Error #"),
                     qPrintable(described(r)));
        QCOMPARE(r.json.value("operation").toString(), command);
        QCOMPARE(r.json.value("protocol").toInt(), 3);
        QVERIFY(r.json.value("speed").isDouble());
        QVERIFY(!r.json.value("program_version").toString().isEmpty());
    }

    void judgeRunMapsEveryEnding_data()
    {
        QTest::addColumn<bool>("refused");
        QTest::addColumn<int>("fault"); // 0: none
        QTest::addColumn<bool>("cancelled");
        QTest::addColumn<bool>("allOk");
        QTest::addColumn<QString>("status");
        QTest::addColumn<int>("exit");

        QTest::newRow("all ok") << false << 0 << false << true << "ok" << 0;
        QTest::newRow("one failed") << false << 0 << false << false << "failed" << 1;
        QTest::newRow("cancelled") << false << 0 << true << false << "cancelled" << 4;
        QTest::newRow("refused: a setting") << true << 5 << false << false << "error" << 2;
        QTest::newRow("refused: the port") << true << 8002 << false << false << "error" << 3;
        QTest::newRow("line lost") << false << 8003 << false << false << "error" << 3;
        QTest::newRow("write failed") << false << 8005 << false << false << "error" << 3;
        QTest::newRow("another fault") << false << 75 << false << false << "error" << 5;
        QTest::newRow("a fault, then Ctrl-C") << false << 6 << true << false << "error" << 5;
    }

    void judgeRunMapsEveryEnding()
    {
        QFETCH(bool, refused);
        QFETCH(int, fault);
        QFETCH(bool, cancelled);
        QFETCH(bool, allOk);
        QFETCH(QString, status);
        QFETCH(int, exit);
        const Verdict v = judgeRun(refused, fault ? std::optional<int>(fault) : std::nullopt, cancelled, allOk);
        QCOMPARE(v.status, status);
        QCOMPARE(v.exit, exit);
    }

    void textAndCsvTellTheSameRun()
    {
        const std::unique_ptr<sim::Line> sim = lineFrom(R"({"controllers": [{"number": 4, "protocolChar": "0x04",
            "bootVersion": "02/00/01", "bootChecksum": "A1B2"}]})", files.path());
        QTemporaryDir home;
        const QStringList args = {"--dir", home.path(), "--port", sim->slavePath(), "--protocol", "3", "--speed", "9600",
                                  "--timeout", "2000", "--controllers", "4", "boot-info"};
        const CliRun text = runCli(args + Quick, home.path());
        QVERIFY2(text.exitCode == 0, qPrintable(described(text)));
        const QStringList lines = QString::fromLocal8Bit(text.out).split('\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 5);
        QVERIFY2(lines[0].startsWith("boot-info ") && lines[0].contains("speed 9600"), qPrintable(lines[0]));
        QCOMPARE(lines[1].simplified(), QString("ctrl version checksum marked result"));
        QCOMPARE(lines[2].simplified(), QString("4 02/00/01 A1B2 no ok"));
        // Columns line up under their headings.
        QCOMPARE(lines[2].indexOf("A1B2"), lines[1].indexOf("checksum"));
        QCOMPARE(lines[3], QString("selected: 4"));
        QCOMPARE(lines[4], QString("status: ok  (1 of 1 ok)"));

        // The same rows on standard output and in the results file, which is new and gets the header.
        const QString records = home.filePath("records.csv");
        const CliRun csv = runCli(args + Quick + QStringList{"--format", "csv", "--results", records}, home.path());
        QVERIFY2(csv.exitCode == 0, qPrintable(described(csv)));
        QCOMPARE(readAll(records), csv.out);
        const QList<QByteArray> rows = csv.out.split('\n');
        QCOMPARE(rows.size(), 3); // header, one row, nothing after the last line end
        QCOMPARE(rows[0], QByteArray("time,operation,port,file,file_checksum,controller,speed,version,checksum,result\r"));
        const QList<QByteArray> cells = rows[1].chopped(1).split(',');
        QCOMPARE(cells.size(), 10);
        QVERIFY2(isoTime.match(QString::fromLatin1(cells[0])).hasMatch(), cells[0].constData());
        QCOMPARE(cells.mid(1), (QList<QByteArray>{"boot-info", sim->slavePath().toLatin1(), "", "", "4", "9600",
                                                  "02/00/01", "A1B2", "ok"}));
    }

    void refusedBeforeStartUp_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("saying");

        const QString missing = files.filePath("no-such.hex");
        const QString lowerCase = files.filePath("lower.hex");
        const QString noFolder = files.filePath("no-such-folder");
        writeFile(lowerCase, hexRecord(0, "\xAB\xCD").toLower() + "\r\n");

        QTest::newRow("missing HEX file") << QStringList{"--file", missing, "--controllers", "1", "download-serial"}
                                          << missing;
        QTest::newRow("unreadable HEX file") << QStringList{"--file", lowerCase, "checksum"} << lowerCase;
        QTest::newRow("unreadable HEX file to download")
            << QStringList{"--file", lowerCase, "--controllers", "1", "download-serial"} << "upper-case hex";
        QTest::newRow("download without a file") << QStringList{"download-parallel"} << "--file";
        QTest::newRow("no command") << QStringList() << "COMMAND";
        QTest::newRow("unknown command") << QStringList{"flash"} << "COMMAND";
        QTest::newRow("unknown option") << QStringList{"--sped", "9600", "auto"} << "--help";
        QTest::newRow("controller out of range") << QStringList{"--controllers", "3-32", "auto"} << "--controllers";
        QTest::newRow("no controller") << QStringList{"--protocol", "3", "--controllers", "none", "flash-info"}
                                       << "--controllers";
        QTest::newRow("bad format") << QStringList{"--format", "xml", "auto"} << "--format";
        QTest::newRow("bad settle time") << QStringList{"--settle-ms", "soon", "auto"} << "--settle-ms";
        QTest::newRow("time-out not a number") << QStringList{"--protocol", "3", "--timeout", "abc", "auto"}
                                               << "--timeout";
        QTest::newRow("empty delay") << QStringList{"--protocol", "3", "--delay", "", "auto"} << "--delay";
        QTest::newRow("unknown speed") << QStringList{"--protocol", "3", "--speed", "9601", "auto"} << "9601";
        QTest::newRow("unknown speed, as JSON")
            << QStringList{"--protocol", "3", "--speed", "57601", "--format", "json", "auto"} << "57601";
        QTest::newRow("folder missing") << QStringList{"--dir", noFolder, "auto"} << noFolder;
        QTest::newRow("results file in no folder")
            << QStringList{"--protocol", "3", "--results", noFolder + "/r.csv", "auto"} << noFolder;
        QTest::newRow("log copy in no folder") << QStringList{"--protocol", "3", "--log", noFolder + "/l.txt", "auto"}
                                               << noFolder;
        QTest::newRow("no protocol") << QStringList{"--controllers", "1", "flash-info"} << "--protocol";
    }

    void refusedBeforeStartUp()
    {
        QFETCH(QStringList, args);
        QFETCH(QString, saying);

        QTemporaryDir home;
        const QByteArray earlierLog = "the last run's traffic\r\n";
        QVERIFY(writeFile(home.filePath("Log.txt"), earlierLog));
        const CliRun r = runCli(QStringList{"--speed", "9600", "--timeout", "2000"} + Quick + args, home.path());
        QVERIFY2(!r.crashed && r.exitCode == 2, qPrintable(described(r)));
        QVERIFY2(r.err.contains(saying), qPrintable(r.err));
        // Nothing to report but the refusal, and the log of the last run is kept.
        if (args.contains("json")) {
            QCOMPARE(r.json.value("status").toString(), QString("error"));
            QVERIFY(r.json.value("error").toObject().value("text").toString().contains(saying));
        } else {
            QCOMPARE(r.out, QByteArray());
        }
        QCOMPARE(readAll(home.filePath("Log.txt")), earlierLog);
    }

    void ctrlCCancelsADownload()
    {
        const std::unique_ptr<sim::Line> sim = lineFrom(R"({"controllers": [
            {"number": 0, "protocolChar": "0x04", "bootVersion": "02/00/01", "bootChecksum": "A1B2"},
            {"number": 1, "protocolChar": "0x04", "bootVersion": "02/00/01", "bootChecksum": "A1B2"}]})",
                                                        files.path());
        QTemporaryDir home;
        const QString big = home.filePath("big.hex");
        // 200 batches: far more than can go by between the signal and its being seen.
        QVERIFY(writeFile(big, bigImage(200)));
        const QString copy = home.filePath("traffic.txt");

        bool signalled = false;
        const CliRun r = runCli(base(home.path(), *sim)
                                    + QStringList{"--speed", "9600", "--timeout", "2000", "--controllers", "0,1",
                                                  "--file", big, "--log", copy, "download-serial"},
                                home.path(), [&](QProcess &p) {
                                    // Erase and three batches, then Ctrl-C.
                                    const bool programming = sim->waitUntil(
                                        [](const sim::LineSnapshot &s) { return s.controller(0)->framesHeard >= 4; },
                                        Patience);
                                    signalled = programming && ::kill(pid_t(p.processId()), SIGINT) == 0;
                                });
        QVERIFY(signalled);
        QVERIFY2(!r.crashed && r.exitCode == 4, qPrintable(described(r)));
        QCOMPARE(r.json.value("status").toString(), QString("cancelled"));
        QCOMPARE(rowsOf(r.json), QStringList({"0||||9600|failed", "1|||||failed"}));
        // Not a terminal: the progress texts as lines, each after the elapsed time.
        const QStringList errLines = r.err.split('\n', Qt::SkipEmptyParts);
        QVERIFY2(errLines.size() > 3, qPrintable(r.err));
        static const QRegularExpression timed(QStringLiteral("^\\[ *\\d+\\.\\d s\\] (.*)$"));
        for (const QString &l : errLines)
            QVERIFY2(timed.match(l).hasMatch(), qPrintable(l));
        QVERIFY2(errLines.filter(QRegularExpression("\\] Cancel$")).size() == 1, qPrintable(r.err));

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
        // The copy holds the same lines, each after its time.
        const QStringList copied = QString::fromLatin1(readAll(copy).chopped(2)).split(QStringLiteral("\r\n"));
        QCOMPARE(copied.size(), logLines.size());
        for (int i = 0; i < copied.size(); ++i) {
            const qsizetype blank = copied[i].indexOf(' ');
            QVERIFY2(isoTime.match(copied[i].left(blank)).hasMatch() && copied[i].left(blank).contains('.'),
                     qPrintable(copied[i]));
            QCOMPARE(copied[i].mid(blank + 1), logLines[i]);
        }
    }

    void resultsFileKeepsWholeRowsOfTwoStations()
    {
        const QByteArray description = R"({"controllers": [{"number": 1, "protocolChar": "0x04"},
                                                           {"number": 2, "protocolChar": "0x04"}]})";
        const std::unique_ptr<sim::Line> lineA = lineFrom(description, files.path());
        const std::unique_ptr<sim::Line> lineB = lineFrom(description, files.path());
        QTemporaryDir homeA;
        QTemporaryDir homeB;
        QTemporaryDir shared;
        const QString records = shared.filePath("records.csv");
        auto args = [&](const QString &home, const sim::Line &line) {
            return base(home, line) + QStringList{"--speed", "9600", "--timeout", "2000", "--controllers", "1,2",
                                                  "--results", records, "boot-info"};
        };

        // Holding the file's lock, the test sees both stations wait for it with their rows.
        const int held = ::open(QFile::encodeName(records).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
        QVERIFY(held >= 0 && ::flock(held, LOCK_EX) == 0);
        QProcess a;
        QProcess b;
        startCli(a, args(homeA.path(), *lineA), homeA.path());
        startCli(b, args(homeB.path(), *lineB), homeB.path());
        const bool bothWaited = waitUntil([&] { return waitingForLock(records) == 2; });
        const qint64 sizeWhileHeld = QFileInfo(records).size();
        ::close(held);
        const CliRun ra = finishCli(a);
        const CliRun rb = finishCli(b);
        QVERIFY(bothWaited);
        QCOMPARE(sizeWhileHeld, 0);
        QVERIFY2(ra.exitCode == 0 && rb.exitCode == 0, qPrintable(described(ra) + described(rb)));

        // One header, then each station's rows together.
        auto portsOf = [&] {
            QStringList ports;
            for (const QByteArray &row : readAll(records).split('\n'))
                ports << QString::fromLatin1(row.split(',').value(2));
            return ports;
        };
        const QString pa = lineA->slavePath();
        const QString pb = lineB->slavePath();
        const QStringList together = portsOf();
        QVERIFY2(together == QStringList({"port", pa, pa, pb, pb, ""}) || together == QStringList({"port", pb, pb, pa, pa, ""}),
                 readAll(records).constData());

        // A row cut short by a crash elsewhere keeps its own line; the next rows are whole.
        QFile f(records);
        QVERIFY(f.open(QIODevice::Append) && f.write("2026-01-01T00:00:00Z,boot-info,/dev/pts/99") > 0);
        f.close();
        const CliRun again = runCli(args(homeA.path(), *lineA), homeA.path());
        QVERIFY2(again.exitCode == 0, qPrintable(described(again)));
        const QStringList after = portsOf();
        QCOMPARE(after.mid(0, 5), together.mid(0, 5));
        QCOMPARE(after.mid(5), QStringList({"/dev/pts/99\r", pa, pa, ""}));
    }

    void progressLineOnATerminal()
    {
        const std::unique_ptr<sim::Line> sim = lineFrom(R"({"controllers": [
            {"number": 1, "protocolChar": "0x04"}, {"number": 2, "protocolChar": "0x04", "speed": 19200}]})",
                                                        files.path());
        QTemporaryDir home;
        const QString image = home.filePath("image.hex");
        QVERIFY(writeFile(image, bigImage(40))); // about a second of batches for each controller

        const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        QVERIFY(master >= 0 && ::grantpt(master) == 0 && ::unlockpt(master) == 0);
        const int terminal = ::open(::ptsname(master), O_RDWR | O_NOCTTY);
        QVERIFY(terminal >= 0);
        winsize size{};
        size.ws_col = 200;
        size.ws_row = 40;
        QCOMPARE(::ioctl(master, TIOCSWINSZ, &size), 0);
        QByteArray shown;
        // Drained while the program runs: a full terminal would stop it. Ends when the last writer is gone.
        std::thread reader([&] {
            char buffer[4096];
            for (;;) {
                const ssize_t n = ::read(master, buffer, sizeof buffer);
                if (n > 0)
                    shown.append(buffer, n);
                else if (!(n < 0 && errno == EINTR))
                    break;
            }
        });
        QProcess p;
        startCli(p,
                 base(home.path(), *sim)
                     + QStringList{"--speed", "9600", "--timeout", "400", "--controllers", "1,2", "--file", image,
                                   "download-serial"},
                 home.path(), terminal);
        const bool started = p.waitForStarted(Patience);
        ::close(terminal);
        const CliRun r = finishCli(p);
        reader.join();
        ::close(master);
        QVERIFY(started);
        QVERIFY2(r.exitCode == 0, qPrintable(described(r)));

        // One line per controller, rewritten in place; the last state of each says how it ended.
        QList<QStringList> lines;
        for (const QByteArray &line : shown.split('\n')) {
            QStringList states;
            for (QString state : QString::fromLatin1(line).split('\r', Qt::SkipEmptyParts))
                states << state.remove(QStringLiteral("\x1b[K"));
            if (!states.isEmpty())
                lines << states;
        }
        QVERIFY2(lines.size() == 2, shown.constData());
        for (int k = 0; k < 2; ++k) {
            const QString last = lines[k].last();
            QVERIFY2(last.startsWith(QStringLiteral("download-serial  controller %1 (%1 of 2)").arg(k + 1))
                         && last.endsWith(QStringLiteral("Controller %1 : Programming OK (Speed : %2 Bds) ...")
                                              .arg(k + 1)
                                              .arg(k ? 19200 : 9600))
                         && !last.contains("left"),
                     qPrintable(last));
        }
        static const QRegularExpression batches(
            QStringLiteral("  batch (\\d+) of (\\d+)  (\\d+)%  \\d+:\\d\\d, about \\d+:\\d\\d left  "));
        int withEstimate = 0;
        for (const QString &state : lines[0]) {
            const QRegularExpressionMatch m = batches.match(state);
            if (m.hasMatch()) {
                ++withEstimate;
                QCOMPARE(m.captured(3).toInt(), m.captured(1).toInt() * 100 / m.captured(2).toInt());
            }
        }
        QVERIFY2(withEstimate > 0, qPrintable(lines[0].join('\n')));
        // A speed that does not answer is no failure while the search goes on.
        QVERIFY2(!lines[1].filter(QRegularExpression("Controller 2 : no answer at 9600 Bds, trying the next speed$")).isEmpty(),
                 qPrintable(lines[1].join('\n')));
        QVERIFY(!shown.contains("No Answer"));
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
        QCOMPARE(second.json.value("speed").toInt(), 19200);
        QCOMPARE(second.json.value("prot4plus").toBool(), true);
        QCOMPARE(numbers(second.json.value("selected")), QList<int>({1, 4}));
        QCOMPARE(rowsOf(second.json), QStringList({"1|01/00/00|0000||19200|ok", "4|01/00/00|0000||19200|ok"}));

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
            for (const QJsonValue &row : r.json.value("controllers").toArray()) {
                const int id = row.toObject().value("id").toInt();
                const QJsonArray display = row.toObject().value("display").toArray();
                QCOMPARE(info.ver(id).text, display.at(0).toString());
                QCOMPARE(info.ckSum(id).text, display.at(1).toString());
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
