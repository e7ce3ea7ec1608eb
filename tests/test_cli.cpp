// vantorel-cli as a production line runs it: the real program on a simulated line, judged by its exit status, what
// it prints, its records, Log.txt and Flash.cfg. What the operations do is for the in-process tests to check.
#include "cli/progress.h"
#include "cli/report.h"
#include "cli/station.h"
#include "link/textcodec.h"
#include "sim/pty.h"
#include "support/shardmain.h"
#include "support/schemacheck.h"
#include "support/hexbuilder.h"
#include "support/linebench.h"
#include "support/nullport.h"
#include "ui/mainwindow.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>

#include <csignal>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace vantorel;

namespace {

constexpr int Patience = 180000; // a bound for the programs, never reached when they work

// Fast answers end a wait once the answer is whole, so the settle wait keeps its generous default. A silent
// try still costs the whole --timeout: short where nobody answers, generous where an answer is expected.
const QStringList Quick = {"--fast", "--hold-ms", "0"};

struct CliRun { // exit -1: crashed or never ended
    int exit = -1; QByteArray out; QString err; QJsonObject json;
    QString said() const { return QString("exit %1\nstdout: %2\nstderr: %3").arg(exit).arg(QString(out), err); }
};

// Runs vantorel-cli to its end with VANTOREL_HOME at 'home', so a run without --dir never touches the build
// folder. 'stderrFd': where standard error goes instead of a pipe, or -1. It leads a process group of its own,
// as a shell starts it: a signal to the group is what a terminal's Ctrl-C sends.
CliRun run(const QStringList &args, const QString &home, const std::function<void(QProcess &)> &whileRunning = {},
        int stderrFd = -1)
{
    QProcess p;
    p.setEnvironment(QProcess::systemEnvironment() << "VANTOREL_HOME=" + home);
    p.setChildProcessModifier([stderrFd] {
        ::setpgid(0, 0);
        if (stderrFd >= 0)
            ::dup2(stderrFd, STDERR_FILENO);
    });
    p.start(QStringLiteral(VANTOREL_CLI), args);
    if (whileRunning && p.waitForStarted(Patience))
        whileRunning(p);
    p.waitForFinished(Patience); // false, too, when it has ended already
    const bool ended = p.state() == QProcess::NotRunning && p.error() != QProcess::FailedToStart;
    const QByteArray out = p.readAllStandardOutput();
    return {ended && p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, out,
            QString::fromLocal8Bit(p.readAllStandardError()), schemaChecked(out)};
}

// "id|ver|cksum|marked|speed|result" per controller, the result followed by "/outcome" where that tells more,
// "!" where this run erased it, ": failure" and " #unit"; then "|" and the window's two words where they differ.
QStringList rowsOf(const QJsonObject &report)
{
    QStringList rows;
    const QJsonArray shown = report.value("shown").toArray();
    for (const QJsonValue &c : report.value("controllers").toArray()) {
        const QJsonValue window = shown.at(rows.size());
        const QJsonArray display = window["display"].toArray();
        const QString outcome = c["outcome"].toString(), failure = c["failure_text"].toString();
        rows << QString("%1|%2|%3|%4|%5|%6")
                    .arg(c["controller"].toInt())
                    .arg(c["version"].toString(), c["checksum"].toString(), window["marked"].toBool() ? "marked" : "",
                         c["speed"].isNull() ? "" : QString::number(c["speed"].toInt()),
                         c["result"].toString() + (outcome == c["result"].toString() ? "" : "/" + outcome)
                             + (c["erased"].toBool() ? "!" : "") + (failure.isEmpty() ? "" : ": " + failure)
                             + (c["unit"].toString().isEmpty() ? "" : " #" + c["unit"].toString()))
                + (display == QJsonArray{c["version"], c["checksum"]} ? "" : "|" + display[0].toString() + " " + display[1].toString());
    }
    return rows;
}

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// 'batches' batches of 128 bytes, then the configuration record: programmable speed, protocol byte 04.
QByteArray imageOf(int batches)
{
    QByteArray code;
    for (int i = 0; i < batches * 128; ++i)
        code += char(i * 7 + 3);
    return hexImage(0, code, 16, "\r\n", false) + hexRecord(0x2020, QByteArray::fromHex("70000402")) + "\r\n:00000001FF\r\n";
}

// Flash.cfg as the tool writes it: 40 lines ended by CR LF, Protocol 3.
QByteArray flashCfg(const QString &port, const char *speed, const char *timeOut, const QList<int> &ticked,
                    const char *delay = "10", bool prot4Plus = false)
{
    QByteArray out = timeOut + QByteArray("\r\n") + port.toLatin1() + "\r\n" + speed + "\r\n";
    for (int i = 0; i < 32; ++i)
        out += ticked.contains(i) ? " 1 \r\n" : " 0 \r\n";
    return out + delay + "\r\n3\r\n 0 \r\n 0 \r\n" + (prot4Plus ? " 1 \r\n" : " 0 \r\n");
}

const QRegularExpression isoTime("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d(\\.\\d{3})?(Z|[+-]\\d\\d:\\d\\d)$");

} // namespace

class TestCli : public QObject {
    Q_OBJECT

    QTemporaryDir files;       // the sample image and the line descriptions' flash files
    QString sample, sampleSum; // the file, and the four digits the tool shows of its checksum
    QString edited;            // the sample with its first record checksum edited by hand

    // A simulated line of controllers given as "n" or "n, more fields", each at protocol character 0x04.
    std::unique_ptr<sim::Line> lineOf(const QByteArrayList &controllers) const { return jsonLineOf(controllers, files.path()); }
    // Options a station script gives; a later option of the same name wins.
    static QStringList base(const QString &dir, const QString &port, const char *format = "json")
    {
        return QStringList{"--dir", dir, "--port", port, "--protocol", "3", "--format", format, "--speed", "9600",
                           "--timeout", "2000"} + Quick;
    }

private slots:
    void initTestCase()
    {
        sample = files.filePath("sample.hex");
        QCOMPARE(QProcess::execute(QStringLiteral(VANTOREL_LINESIM), {"--write-sample-image", sample}), 0);
        const CliRun r = run({"--format", "json", "--file", sample, "checksum"}, files.path());
        sampleSum = r.json["file_checksum"].toString();
        QVERIFY2(r.exit == 0 && sampleSum.size() == 4 && r.json["checksum"].toString().endsWith(sampleSum) && r.json["ctrl_type"] == "QRVB"
                     && r.json["protocol_byte"] == "04" && r.json["baud_text"] == "Baud Rate Programmable" && r.json["prot4plus"] == false,
                 qPrintable(r.said()));
        QByteArray e = readAll(sample);
        e[e.indexOf("\r\n") - 1] = e[e.indexOf("\r\n") - 1] == '0' ? '1' : '0';
        QVERIFY(writeFile(edited = files.filePath("edited.hex"), e));
    }

    // What a station script reads: status, summary, error and rows, for each way a run ends.
    void runsEndWithStatusSummaryAndRows()
    {
        struct Row { // line empty: a port that does not exist; summary: selected, ok, failed; error 0: none
            const char *command; QByteArrayList line; QStringList args; int exit; const char *status; QList<int> summary;
            int error; QStringList rows; QString says = {}; // in the error's text
        };
        // Program folders: a Boot.ini with a framing of its own, one that is a pipe, a Flash.cfg that --save cannot replace.
        const QString framed = files.filePath("framed"), piped = files.filePath("piped"), blocked = files.filePath("blocked");
        QVERIFY(QDir().mkpath(framed) && writeFile(framed + "/Boot.ini", "9600,E,7,1\r\n") && QDir().mkpath(piped)
                && ::mkfifo(QFile::encodeName(piped + "/Boot.ini").constData(), 0600) == 0 && QDir().mkpath(blocked + "/Flash.cfg"));
        // The detection finds nobody at 0, 1 only at 19200, all others at 9600. Its time-out is its own.
        QByteArrayList all = {R"(1, "speed": 19200)"};
        QStringList found = {"0|||||failed: not found", "1||||19200|ok"}, unreached;
        for (int i = 2; i < 32; ++i) {
            all << QByteArray::number(i);
            found << QString("%1||||9600|ok").arg(i);
        }
        for (int i = 0; i < 32; ++i) // a ticked one that nobody looked for is not found
            unreached << QString("%1|||||failed/not reached").arg(i);
        const Row rows[] = {
            {"download-serial", {R"(1, "version": "01/02/03")", R"(2, "version": "01/00/09")"},
             {"--file", sample, "--controllers", "1,2", "--unit", "2=SN 2=b"}, 0, "ok", {2, 2, 0}, 0,
             {QString("1|01/02/03|%1||9600|ok!").arg(sampleSum), QString("2|01/00/09|%1||9600|ok! #SN 2=b").arg(sampleSum)}},
            // A hand-edited record checksum warns; the controller's full checksum still proves the image.
            {"download-serial", {"1"}, {"--file", edited, "--controllers", "1"}, 0, "ok", {1, 1, 0}, 0,
             {QString("1|01/00/00|%1||9600|ok!").arg(sampleSum)}, "edited.hex: line 1: the record checksum is"},
            // Time Out 0 with the written timing: the settle wait takes the answer.
            {"flash-info", {"1"}, {"--controllers", "1", "--timeout", "0", "--no-fast"}, 0, "ok", {1, 1, 0}, 0, {"1|01/00/00|1E02||9600|ok"}},
            // The image refused, though the controller then answers with the file's checksum.
            {"download-serial", {R"(1, "faults": {"refuseChecksum": 3, "runsRefusedImage": true})"},
             {"--file", sample, "--controllers", "1"}, 1, "failed", {1, 0, 1}, 0,
             {QString("1|01/00/00|%1|marked|9600|failed/erased-not-programmed!: Programmation ERROR|Programmation ERROR").arg(sampleSum)}},
            {"to-p4", {R"(1, "startProtocol": 3)"}, {"--controllers", "1"}, 0, "ok", {1, 1, 0}, 0, {"1||||9600|ok"}},
            // All 32 are listed; the detection is ok when it ran to its end.
            {"auto", all, {"--controllers", "0"}, 0, "ok", {32, 31, 1}, 0, found},
            {"flash-info", {R"(4, "faults": {"silent": true})"}, {"--controllers", "4", "--timeout", "20"}, 1, "failed",
             {1, 0, 1}, 0, {"4|||marked||failed: No Answer|No Answer"}},
            {"flash-info", {"1", R"(2, "faults": {"unplugAfterFrames": 0})"}, {"--controllers", "1,2"}, 3, "error", {2, 1, 1},
             8003, {"1|01/00/00|1E02||9600|ok", "2|||||failed/not reached"}},
            {"boot-info", {}, {"--controllers", "1"}, 3, "error", {1, 0, 1}, 8002, {"1|||||failed/not reached"}},
            {"auto", {}, {"--controllers", "0"}, 3, "error", {32, 0, 32}, 8002, unreached},
            {"to-p4", {R"(1, "faults": {"silent": true})", "2"}, {"--controllers", "1", "--timeout", "20"}, 1, "failed", {1, 0, 1}, 0,
             {"1|||||failed: No Answer"}},
            // A silent controller ends a serial download; the one after it was never reached.
            {"download-serial", {R"(1, "faults": {"silent": true})", "2"}, {"--file", sample, "--controllers", "1,2", "--timeout", "20"},
             1, "failed", {2, 0, 2}, 0, {"1|||marked||failed/erase-unconfirmed!: not found|No Answer", "2|||||failed/not reached"}},
            // Refused before the erase, naming the file and what it must hold.
            {"download-serial", {"1"}, {"--dir", framed, "--file", sample, "--controllers", "1"}, 2, "error", {1, 0, 1}, 5,
             {"1|||||failed/not reached"}, "Boot.ini in " + framed + "/ holds \"9600,E,7,1\": its first line must hold only the boot line speed"},
            {"download-parallel", {"1"}, {"--dir", piped, "--delay", "10", "--file", sample, "--controllers", "1"}, 2, "error", {1, 0, 1}, 75,
             {"1|||||failed/not reached"}, piped + "/Boot.ini is a pipe, not a regular file"},
            // A record or settings lost after the run: an error, with every controller's result still reported.
            {"flash-info", {"1"}, {"--controllers", "1", "--results", "/dev/full"}, 5, "error", {1, 1, 0}, 75,
             {"1|01/00/00|1E02||9600|ok"}, "the results file /dev/full could not be written"},
            {"flash-info", {"1"}, {"--dir", blocked, "--save", "--controllers", "1"}, 5, "error", {1, 1, 0}, 75,
             {"1|01/00/00|1E02||9600|ok"}, blocked + "/Flash.cfg"},
        };
        for (const Row &row : rows) {
            const std::unique_ptr<sim::Line> sim = row.line.isEmpty() ? nullptr : lineOf(row.line);
            QTemporaryDir home;
            QStringList args = base(home.path(), sim ? sim->slavePath() : home.filePath("no-such-device")) + row.args;
            if (row.args.contains("--no-fast"))
                args.removeAll("--fast");
            const CliRun r = run(args + QStringList{row.command}, home.path());
            QVERIFY2(r.exit == row.exit && r.json["status"] == row.status && r.json["operation"] == row.command && r.json["after"]["protocol"] == 3
                         && r.json["after"]["speed"].isDouble() && r.json["settings"]["start_speed"].isDouble() && !r.json["program_version"].toString().isEmpty(), qPrintable(r.said()));
            const QJsonValue sum = r.json.value("summary"), fault = r.json.value("error");
            QCOMPARE((QList<int>{sum["selected"].toInt(-1), sum["ok"].toInt(-1), sum["failed"].toInt(-1)}), row.summary);
            QCOMPARE(rowsOf(r.json), row.rows);
            // The box text without its "Error # " line, which the number already says.
            QVERIFY2(row.error ? fault["number"] == row.error && !fault["text"].toString().isEmpty()
                                     && !fault["text"].toString().contains("Error #") && fault["text"].toString().contains(row.says)
                               : fault.isNull() && r.json["warnings"].toArray().size() == !row.says.isEmpty()
                                     && r.json["warnings"][0].toString().contains(row.says) && r.err.contains(row.says),
                     qPrintable(r.said()));
        }
    }

    void judgeRunMapsEveryEnding()
    {
        struct Row { bool refused; int fault; bool cancelled, allOk; const char *status; int exit; }; // fault 0: none
        // The endings no run on a simulated line reaches (runsEndWithStatusSummaryAndRows and ctrlCCancelsADownload
        // meet the others): the port's other fault, and a fault (6) followed by Ctrl-C.
        const Row rows[] = {{false, 8005, false, false, "error", 3}, {false, 6, true, false, "error", 5}};
        for (const Row &r : rows) {
            const Verdict v = judgeRun(r.refused, r.fault ? std::optional<int>(r.fault) : std::nullopt, r.cancelled, r.allOk);
            QVERIFY2(v.status == r.status && v.exit == r.exit, qPrintable(QString("%1 %2").arg(r.fault).arg(r.status)));
        }
    }

    void refusedBeforeStartUp()
    {
        const QString missing = files.filePath("no-such.hex"), lowerCase = files.filePath("lower.hex");
        const QString noFolder = files.filePath("no-such-folder");
        QVERIFY(writeFile(lowerCase, hexRecord(0, "\xAB\xCD").toLower() + "\r\n"));
        const QString pipe = files.filePath("pipe.hex"); // refused, never waited on, never read twice
        QVERIFY(::mkfifo(QFile::encodeName(pipe).constData(), 0600) == 0);
        const QString older = files.filePath("older.csv"); // begun before the unit column
        QVERIFY(writeFile(older, "time,operation,port,file,file_checksum,controller,speed,version,checksum,result,outcome\n"));
        const QStringList one = {"--protocol", "3", "--controllers", "1", "flash-info"};
        const QList<QPair<QStringList, QString>> rows = { // the arguments, and what standard error names
            {{"--file", missing, "--controllers", "1", "download-serial"}, missing}, {{"--file", lowerCase, "checksum"}, lowerCase},
            {{"--file", pipe, "--controllers", "1", "download-serial"}, pipe + " is a pipe, not a regular file"},
            {{"--file", "/dev/zero", "--format", "json", "checksum"}, "/dev/zero is a device, not a regular file"},
            {{"download-parallel"}, "--file"}, {{}, "COMMAND"}, {{"flash-inof"}, "unknown command: flash-inof; the commands: flash-info | boot-info"}, {{"--sped", "9600", "auto"}, "--help"},
            {{"--controllers", "3-32", "auto"}, "--controllers"}, {{"--format", "xml", "auto"}, "--format"},
            {{"--protocol", "3", "--controllers", "none", "flash-info"}, "--controllers"},
            {{"--settle-ms", "soon", "auto"}, "--settle-ms"}, {{"--dir", noFolder, "auto"}, noFolder},
            {{"--protocol", "3", "--speed", "57601", "--format", "json", "auto"}, "57601"},
            {{"--protocol", "3", "--results", noFolder + "/r.csv", "auto"}, noFolder},
            {{"--protocol", "3", "--log", noFolder + "/l.txt", "auto"}, noFolder}, {{"--controllers", "1", "flash-info"}, "--protocol"},
            {{"--protocol", "", "--controllers", "1", "flash-info"}, "--protocol"}, {{"--timeout", "-5", "auto"}, "--timeout"},
            // No port to send on: refused by the option's name, not tried as an empty Com Port box.
            {{"--protocol", "3", "--controllers", "1", "--format", "json", "flash-info"}, "no port: give --port"},
            // With fast answers a silent time-out of 0 would end every try before any controller could answer.
            {{"--timeout", "0", "--fast", "auto"}, "the Time Out box holds \"0\": with fast answers"}, {{"--port", "no-such-tty", "auto"}, "--port no-such-tty: there is no /dev/no-such-tty; give a device path"},
            // A fresh folder without --delay: the option is named, and no controller is called failed.
            {{"--protocol", "3", "--controllers", "1", "--file", sample, "download-parallel"}, "no waiting delay: give --delay MS"},
            {{"--file", edited, "--strict", "--controllers", "1", "download-parallel"}, "edited.hex): line 1: the record checksum is"},
            {one + QStringList{"--unit", "32=A"}, "--unit 32=A: the controller number must be 0 to 31"}, {one + QStringList{"--unit", "1"}, "--unit 1: give"},
            {one + QStringList{"--unit", "1=A", "--unit", "1=B"}, "--unit 1=B: controller 1 has a unit already (1=A)"},
            {one + QStringList{"--unit", "1="}, "--unit 1=: the ID after '=' is empty"}, {one + QStringList{"--unit", "1=A,B"}, "1=A,B: an ID may not hold"},
            {one + QStringList{"--unit", "1=A\"B"}, "an ID may not hold"}, {one + QStringList{"--unit", "1=A\nB"}, "an ID may not hold"},
            {one + QStringList{"--unit", "5=A"}, "--unit 5=A: controller 5 is not selected for this run"},
            {one + QStringList{"--unit", "1=A", "--results", older}, older + " was begun without a unit column"},
            {{"--file", sample, "--unit", "1=A", "checksum"}, "checksum prints text or json and keeps no record"},
            // A station run's ID: refused as a unit's is, and a blank too; on history as on a run.
            {one + QStringList{"--station-run", "L3 0815"}, "--station-run L3 0815: an ID may not hold a comma, a quote, a blank"},
            {one + QStringList{"--station-run", "L3,0815"}, "an ID may not hold"}, {one + QStringList{"--station-run", "L3\n0815"}, "an ID may not hold"},
            {one + QStringList{"--station-run", ""}, "--station-run : give the station run's ID"},
            {one + QStringList{"--station-run", "a", "--station-run", "b"}, "--station-run: give it once"},
            {{"--station-run", "L3\"0815", "history"}, "an ID may not hold"},
            {{"--file", sample, "--station-run", "L3", "checksum"}, "checksum prints text or json and keeps no record"},
            // history refuses what it cannot read instead of matching nothing.
            {{"--not-image", "nothere.hex", "history"}, "--not-image nothere.hex: there is no such file"},
            {{"--image", "nothere.hex", "history"}, "--image nothere.hex: there is no such file"},
            {{"--image", files.path(), "history"}, "--image " + files.path() + ": the file cannot be read (not a file)"},
            {{"--line", "/dev/ttyS0", "history"}, "history works on no line: leave out --line"},
            {{"--line", "/dev/ttyS0", "--file", sample, "checksum"}, "checksum works on no line: leave out --line"},
        };
        for (const auto &[args, saying] : rows) {
            QTemporaryDir home;
            QVERIFY(writeFile(home.filePath("Log.txt"), "the last run's traffic\r\n"));
            const CliRun r = run(QStringList{"--speed", "9600", "--timeout", "2000"} + Quick + args, home.path());
            // Nothing to report but the refusal, and the log of the last run is kept.
            QVERIFY2(r.exit == 2 && r.err.contains(saying) && readAll(home.filePath("Log.txt")) == "the last run's traffic\r\n"
                         && (args.contains("json") ? r.json["status"] == "error" && r.json["error"]["text"].toString().contains(saying)
                                                   : r.out.isEmpty()),
                     qPrintable(r.said()));
        }
    }

    // A file of the program folder that is a pipe, a device or too big is named and refused at once; the run goes
    // on, its verdict is its controllers', and records it could not keep make it an error. The file is left as it is.
    void programFolderFilesThatNeverEnd()
    {
        const std::unique_ptr<sim::Line> sim = lineOf({"1"});
        enum Kind { Pipe, Zero, Big };
        const QString stored = files.filePath("Records.db"), unreachable = files.filePath("no-folder/Records.db");
        QByteArray ini = "[KnownSpeeds]\n";
        for (int d = 1; ini.size() <= 256 << 10; ++d)
            for (int c = 0; c < 32; ++c)
                ini += QByteArray::number(d) + "\\C" + QByteArray::number(c) + "=9600\n";
        struct Row { const char *file; Kind kind; QStringList args; int exit; QStringList saying; };
        const Row rows[] = {
            // Not knowing the database Vantorel.ini names, the records wait for it rather than go elsewhere.
            {"Vantorel.ini", Pipe, {"--save"}, 5, {"Vantorel.ini is a pipe, not a regular file: remove it, or make it a plain text file",
                                                  "the results database is not known", "were not.", "wait in"}},
            {"Vantorel.ini", Zero, {}, 5, {"Vantorel.ini is a device, not a regular file"}},
            {"Vantorel.ini", Big, {"--results-db", stored, "--save"}, 5, {"more than Vantorel.ini can be (256 KiB at most)"}},
            {"Log.txt", Pipe, {"--results-db", stored}, 0, {"Log.txt is a pipe, not a regular file", "without a traffic log"}},
            {"Results-pending.jsonl", Pipe, {"--results-db", unreachable}, 5,
             {"Results-pending.jsonl is a pipe, not a regular file: rename it", "This run's records are lost"}},
            {"Results-pending.jsonl", Big, {"--results-db", unreachable}, 5, {"more than the fallback file can be (64 MiB at most)"}},
            // Read to replay what waits there once the run is stored: nothing waits in such a file.
            {"Results-pending.jsonl", Pipe, {"--results-db", stored}, 0, {}},
            {"Results-pending.jsonl", Zero, {"--results-db", stored}, 0, {}},
        };
        for (const Row &row : rows) {
            QTemporaryDir home;
            const QString path = home.filePath(row.file);
            const QByteArray name = QFile::encodeName(path);
            if (row.kind == Pipe)
                QVERIFY(::mkfifo(name.constData(), 0600) == 0);
            else if (row.kind == Zero)
                QVERIFY(::symlink("/dev/zero", name.constData()) == 0);
            else if (row.file == QLatin1String("Vantorel.ini"))
                QVERIFY(writeFile(path, ini));
            else
                QVERIFY(writeFile(path, {}) && QFile::resize(path, (64 << 20) + 1)); // sparse: no disk spent
            QProcess p;
            // Should the file be read without end after all, the program fails soon instead of eating the machine.
            p.setEnvironment(QProcess::systemEnvironment() << "VANTOREL_HOME=" + home.path()
                                                           << "ASAN_OPTIONS=" + qEnvironmentVariable("ASAN_OPTIONS") + ":hard_rss_limit_mb=3000");
#if !defined(__SANITIZE_ADDRESS__)
            p.setChildProcessModifier([] {
                const rlimit bound{rlim_t(4) << 30, rlim_t(4) << 30};
                ::setrlimit(RLIMIT_AS, &bound);
            });
#endif
            p.start(QStringLiteral(VANTOREL_CLI), base(home.path(), sim->slavePath()) + row.args
                                                      + QStringList{"--controllers", "1", "flash-info"});
            const bool ended = p.waitForFinished(60000); // a run takes a second or two; a wait for a pipe, for ever
            if (!ended)
                p.kill(), p.waitForFinished(Patience);
            const QString err = QString::fromLocal8Bit(p.readAllStandardError());
            const QJsonObject json = QJsonDocument::fromJson(p.readAllStandardOutput()).object();
            const QString said = QString("%1 (%2): exit %3\n%4").arg(row.file).arg(row.kind).arg(p.exitCode()).arg(err);
            QVERIFY2(ended && p.exitStatus() == QProcess::NormalExit && p.exitCode() == row.exit
                         && json["summary"]["ok"] == 1 && json["controllers"][0]["result"] == "ok",
                     qPrintable(said));
            for (const QString &saying : row.saying)
                QVERIFY2(err.contains(saying), qPrintable(saying + " not in " + said));
            // Left as it was: not replaced, not written into.
            struct stat st {};
            QVERIFY(::lstat(name.constData(), &st) == 0);
            QVERIFY2(row.kind == Pipe ? S_ISFIFO(st.st_mode)
                     : row.kind == Zero ? S_ISLNK(st.st_mode) && QFile::symLinkTarget(path) == "/dev/zero"
                                        : S_ISREG(st.st_mode) && (row.file == QLatin1String("Vantorel.ini") ? readAll(path) == ini
                                                                                                          : st.st_size == (64 << 20) + 1),
                     qPrintable(said));
        }
    }

    void ctrlCCancelsADownload()
    {
        const std::unique_ptr<sim::Line> sim = lineOf({"0", "1"});
        QTemporaryDir home;
        const QString image = home.filePath("big.hex"), copy = home.filePath("traffic.txt");
        QVERIFY(writeFile(image, imageOf(60)));
        // Without fast answers each batch waits out the settle time: 60 batches take six seconds, ample for a signal.
        QStringList args = base(home.path(), sim->slavePath())
            + QStringList{"--settle-ms", "100", "--controllers", "0,1", "--file", image, "--log", copy, "download-serial"};
        args.removeAll("--fast");
        bool signalled = false;
        const CliRun r = run(args, home.path(), [&](QProcess &p) {
            signalled = sim->waitUntil([](const sim::LineSnapshot &s) { return s.controller(0)->framesHeard >= 4; }, Patience)
                && ::kill(pid_t(p.processId()), SIGINT) == 0; // after the erase and three batches
        });
        QVERIFY2(signalled && r.exit == 4 && r.json.value("status") == "cancelled", qPrintable(r.said()));
        QCOMPARE(rowsOf(r.json), QStringList({"0||||9600|failed/erased-not-programmed!", "1|||||failed/cancelled"}));
        // Not a terminal: the progress texts as lines, each after the elapsed time.
        const QStringList errLines = r.err.split('\n', Qt::SkipEmptyParts);
        QVERIFY2(errLines.filter(QRegularExpression("^\\[ *\\d+\\.\\d s\\] ")).size() == errLines.size() && errLines.size() > 3
                     && errLines.filter(QRegularExpression("\\] Cancel$")).size() == 1,
                 qPrintable(r.err));
        // Cut short during the batches ("u" AA 55 10): no full checksum ("u" AA 55 0F), and controller 1 untouched.
        QStringList sent;
        for (const sim::FrameRecord &f : sim->frames())
            sent << StrToHex(f.bytes);
        const qsizetype batches = sent.filter(QRegularExpression("^.{6}75AA5510")).size();
        QVERIFY2(batches >= 3 && batches < 60 && sent.filter(QRegularExpression("^.{6}75AA550F")).isEmpty()
                     && sim->snapshot().controller(1)->framesHeard == 0,
                 qPrintable(sent.join('\n')));

        // Log.txt holds every frame that went out, its last line whole; the copy the same lines, each after its time.
        const QString log = readAll(home.filePath("Log.txt"));
        for (const QString &frame : sent)
            QVERIFY2(log.contains(frame + "\r\n"), qPrintable(frame));
        QString copied = readAll(copy);
        const QRegularExpression stamp("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3}(Z|[+-]\\d\\d:\\d\\d) ",
                                       QRegularExpression::MultilineOption);
        QVERIFY2(log.endsWith("\r\n") && copied.count(stamp) == log.count("\r\n") + 2, qPrintable(copied));
        copied.remove(stamp);
        const qsizetype first = copied.indexOf('\n') + 1, last = copied.lastIndexOf('\n', -2) + 1;
        QCOMPARE(copied.mid(first, last - first), QString(log).replace("\r\n", "\n")); // Log.txt keeps CR LF, the copy the line's own end
        // Around the traffic: the run's settings, then how it ended, one line each.
        const QString port = QRegularExpression::escape(sim->slavePath());
        QVERIFY2(QRegularExpression("^vantorel-cli start: operation=download-serial controllers=0,1 file=" + QRegularExpression::escape(image)
                                    + " file_checksum=[0-9A-F]+ port=" + port + " device=" + port + " speed=9600 protocol=3 timeout=2000 "
                                    "delay=\"\" prot3=no prot4plus=no same_protocol=no fast=no settle_ms=100 hold_ms=0 version=\\S+\n$")
                     .match(copied.left(first)).hasMatch(), qPrintable(copied.left(first)));
        QCOMPARE(copied.mid(last), QString("vantorel-cli end: status=cancelled cancelled=yes c0=erased-not-programmed c1=cancelled\n"));
    }

    // A station: three lines at once, one of them with a board missing. Each line's controllers are downloaded and
    // checked on their own line, the missing one changes no other line's verdict, and the one report names each row's line.
    void stationRunsEveryLineAtOnce()
    {
        const std::unique_ptr<sim::Line> a = lineOf({"0", "1"}), b = lineOf({"0"}), c = lineOf({"2"});
        QTemporaryDir home;
        const QString records = home.filePath("station.csv");
        QStringList args = base(home.path(), a->slavePath()) + QStringList{"--timeout", "300", "--known-speeds", "--file", sample,
                                                                           "--results", records, "--line", a->slavePath() + ":0,1",
                                                                           "--line", b->slavePath() + ":0,1", "--line", c->slavePath() + ":2",
                                                                           "--unit", b->slavePath() + ":0=SN7", "download-serial"};
        args.removeAt(args.indexOf("--port") + 1);
        args.removeAll("--port");
        const CliRun r = run(args, home.path());
        QVERIFY2(r.exit == 1 && r.json["status"] == "failed" && r.json["summary"].toObject() == QJsonObject({{"lines", 3}, {"selected", 5}, {"ok", 4}, {"failed", 1}}),
                 qPrintable(r.said()));
        const QString ok = QString("|01/00/00|%1||9600|ok!").arg(sampleSum);
        const QList<QPair<const sim::Line *, QStringList>> lines = {{a.get(), {"0" + ok, "1" + ok}},
                                                                    {b.get(), {"0" + ok + " #SN7", "1|||marked||failed/erase-unconfirmed!: not found|No Answer"}},
                                                                    {c.get(), {"2" + ok}}};
        const QJsonArray reported = r.json["lines"].toArray();
        QCOMPARE(reported.size(), lines.size());
        for (qsizetype i = 0; i < lines.size(); ++i) {
            const QString port = lines[i].first->slavePath();
            const QJsonObject line = reported[i].toObject(), report = line["report"].toObject();
            QVERIFY2(line["line"] == port && report["port"] == port && line["exit"] == (i == 1 ? 1 : 0), qPrintable(r.said()));
            QCOMPARE(rowsOf(report), lines[i].second);
            for (const QJsonValue &row : report["controllers"].toArray())
                QCOMPARE(row["line"].toString(), port);
            // Each line keeps its own log, and its speeds next to the others' in Vantorel.ini.
            QVERIFY2(readAll(home.filePath(lineLogName(port) + ".txt")).contains("75AA55"), qPrintable(lineLogName(port)));
            QVERIFY(readAll(home.filePath("Vantorel.ini")).contains("Device=" + port.toUtf8() + "\n"));
            QVERIFY2(readAll(records).count("," + port.toUtf8() + ",") == lines[i].second.size(), readAll(records).constData());
        }
        // One record per line in the results database, all under the station run's ID.
        const QString id = r.json["station_run"].toString();
        const CliRun history = run({"--dir", home.path(), "--station-run", id, "--format", "json", "history"}, home.path());
        QMultiMap<QString, int> kept;
        for (const QJsonValue &row : history.json["records"].toArray())
            kept.insert(row["port"].toString(), row["controller"].toInt());
        QVERIFY2(history.exit == 0 && !id.isEmpty(), qPrintable(history.said()));
        QCOMPARE(kept, (QMultiMap<QString, int>{{a->slavePath(), 0}, {a->slavePath(), 1}, {b->slavePath(), 0}, {b->slavePath(), 1}, {c->slavePath(), 2}}));
    }

    // One Ctrl-C on the terminal cancels every line as the progress window's Cancel does, each naming the controller
    // it erased; a line whose port is lost ends alone while the others run to their end.
    void stationCancelsEveryLineAndLosesOneAlone()
    {
        QTemporaryDir home;
        const QString image = home.filePath("big.hex");
        QVERIFY(writeFile(image, imageOf(60)));
        // Without fast answers each batch waits out the settle time: 60 batches take six seconds, ample for a signal.
        auto stationOf = [&](const QList<const sim::Line *> &lines, const QStringList &more = {}) {
            QStringList args = QStringList{"--dir", home.path(), "--protocol", "3", "--format", "json", "--speed", "9600", "--timeout", "2000",
                                           "--hold-ms", "0", "--settle-ms", "100", "--controllers", "0,1", "--file", image, "download-serial"} + more;
            for (const sim::Line *line : lines)
                args << "--line" << line->slavePath();
            return args;
        };
        const std::unique_ptr<sim::Line> a = lineOf({"0", "1"}), b = lineOf({"0", "1"});
        bool signalled = false;
        CliRun r = run(stationOf({a.get(), b.get()}), home.path(), [&](QProcess &p) {
            auto batches = [](const sim::LineSnapshot &s) { return s.controller(0)->framesHeard >= 4; };
            signalled = a->waitUntil(batches, Patience) && b->waitUntil(batches, Patience) && ::kill(-pid_t(p.processId()), SIGINT) == 0;
        });
        QVERIFY2(signalled && r.exit == 4 && r.json["status"] == "cancelled" && r.err.contains("Cancel"), qPrintable(r.said()));
        for (const QJsonValue &line : r.json["lines"].toArray())
            QCOMPARE(rowsOf(line["report"].toObject()), QStringList({"0||||9600|failed/erased-not-programmed!", "1|||||failed/cancelled"}));

        // The second line's adapter is pulled out in its first controller's download (no signal to wait for here).
        const std::unique_ptr<sim::Line> c = lineOf({"0", "1"}), d = lineOf({R"(0, "faults": {"unplugAfterFrames": 4})", "1"});
        r = run(stationOf({c.get(), d.get()}, {"--fast"}), home.path());
        const QJsonArray lines = r.json["lines"].toArray();
        QVERIFY2(r.exit == 3 && r.json["status"] == "error" && lines[0]["exit"] == 0 && lines[1]["exit"] == 3, qPrintable(r.said()));
        const QString sum = lines[0]["report"]["file_checksum"].toString();
        QCOMPARE(rowsOf(lines[0]["report"].toObject()), QStringList({"0|01/00/00|" + sum + "||9600|ok!", "1|01/00/00|" + sum + "||9600|ok!"}));
    }

    // What would leave a station half done is refused before any line starts: a station option given wrong, or a line
    // whose worker refuses its run (here a unit on a controller that line does not list).
    void stationRefusedBeforeAnyLineStarts()
    {
        const std::unique_ptr<sim::Line> a = lineOf({"0"}), b = lineOf({"0"});
        const QString pa = a->slavePath(), pb = b->slavePath();
        const QList<QPair<QStringList, QString>> rows = {
            {{"--line", pa, "--port", pb}, "leave out --port"},
            {{"--line", pa, "--line", pa + ":0"}, pa + " is given twice"},
            {{"--line", pa + ":zero"}, "after the colon give the line's controllers, e.g. " + pa + ":0-7"},
            {{"--line", pa, "--line", pb, "--unit", "0=SN1"}, "name the controller's line, e.g. --unit " + pa + ":0=SN1"},
            {{"--line", pa, "--unit", pb + ":0=SN1"}, pb + " is no --line of this run"},
            {{"--line", pa, "--save"}, "--save keeps one line's settings"},
            {{"--line", pa, "--line", pb + ":0", "--unit", pb + ":5=SN1"}, "called off"},
        };
        for (const auto &[given, says] : rows) {
            QTemporaryDir home;
            const CliRun r = run(QStringList{"--dir", home.path(), "--protocol", "3", "--speed", "9600", "--timeout", "2000", "--controllers",
                                             "0", "--format", "json", "flash-info"} + given, home.path());
            QVERIFY2(r.exit == 2 && r.json["status"] == "error" && r.err.contains(says), qPrintable(r.said()));
        }
        QVERIFY(a->snapshot().controller(0)->framesHeard == 0 && b->snapshot().controller(0)->framesHeard == 0);
    }

    void resultsFileKeepsWholeRowsOfTwoStations()
    {
        const QByteArrayList description = {R"(1, "bootVersion": "02/00/01", "bootChecksum": "A1B2")", "2"};
        const std::unique_ptr<sim::Line> lineA = lineOf(description), lineB = lineOf(description);
        QTemporaryDir homeA, homeB, shared;
        const QString records = shared.filePath("records.csv");
        auto args = [&](const QString &home, const sim::Line &line) {
            return base(home, line.slavePath(), "csv") + QStringList{"--controllers", "1,2", "--results", records, "boot-info"};
        };
        // Holding the file's lock, the test sees both stations wait for it (Linux's /proc/locks) with their rows.
        const int held = ::open(QFile::encodeName(records).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
        struct stat st {};
        QVERIFY(held >= 0 && ::flock(held, LOCK_EX) == 0 && ::fstat(held, &st) == 0);
        bool bothWaited = false;
        CliRun b;
        const CliRun a = run(args(homeA.path(), *lineA), homeA.path(), [&](QProcess &) {
            b = run(args(homeB.path(), *lineB), homeB.path(), [&](QProcess &) {
                for (QDeadlineTimer bound(Patience);
                     !(bothWaited = QString(readAll("/proc/locks")).count(QRegularExpression(QString("-> FLOCK .*:%1 ").arg(st.st_ino))) == 2)
                     && !bound.hasExpired();)
                    QTest::qWait(10);
                bothWaited = bothWaited && readAll(records).isEmpty();
                ::close(held);
            });
        });
        QVERIFY2(bothWaited && a.exit == 0 && b.exit == 0, qPrintable(a.said() + b.said()));

        // Standard output has the header, then the rows; the file one header, then each station's rows together.
        const QByteArray header = "time,operation,port,file,file_checksum,controller,speed,version,checksum,result,outcome,unit\n";
        const QByteArray together = readAll(records);
        QVERIFY2(a.out.startsWith(header) && b.out.startsWith(header) && a.out.count('\n') == 3 && !a.out.contains('\r')
                     && (together == a.out + b.out.mid(header.size()) || together == b.out + a.out.mid(header.size())),
                 together.constData());
        const QList<QByteArray> cells = a.out.split('\n').value(1).split(',');
        QVERIFY2(cells.size() == 12 && isoTime.match(QString(cells[0])).hasMatch(), a.out.constData());
        QCOMPARE(cells.mid(1), QByteArrayList({"boot-info", lineA->slavePath().toLatin1(), "", "", "1", "9600", "02/00/01", "A1B2", "ok", "ok", ""}));

        // A row cut short by a crash elsewhere keeps its own line; the next rows are whole.
        QVERIFY(writeFile(records, together + "2026-01-01T00:00:00Z,boot-info,/dev/pts/99"));
        const CliRun again = run(args(homeA.path(), *lineA), homeA.path());
        QVERIFY2(again.exit == 0, qPrintable(again.said()));
        QCOMPARE(readAll(records), together + "2026-01-01T00:00:00Z,boot-info,/dev/pts/99\n" + again.out.mid(header.size()));

        // A file begun before the unit column gets rows of its eleven columns.
        QVERIFY(writeFile(records, header.left(header.indexOf(",unit")) + "\n"));
        const CliRun older = run(args(homeA.path(), *lineA), homeA.path());
        QVERIFY2(older.exit == 0 && readAll(records).count(',') == 3 * 10, readAll(records).constData());
    }

    void progressLineOnATerminal()
    {
        // Controller 2 is only found at 4800, after six silent tries at 9600.
        const std::unique_ptr<sim::Line> sim = lineOf({"1", R"(2, "speed": 4800)"});
        QTemporaryDir home;
        QVERIFY(writeFile(home.filePath("image.hex"), imageOf(8)));
        PseudoTerminal terminal;
        const winsize size{40, 200, 0, 0};
        const int fd = ::open(QFile::encodeName(terminal.slavePath()).constData(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        QVERIFY(fd >= 0 && ::ioctl(terminal.masterFd(), TIOCSWINSZ, &size) == 0);
        QByteArray shown;
        qputenv("COLUMNS", "40"); // the terminal's own width wins
        const CliRun r = run(base(home.path(), sim->slavePath())
                              + QStringList{"--timeout", "400", "--controllers", "1,2", "--file", home.filePath("image.hex"),
                                            "download-serial"},
                          home.path(), [&](QProcess &p) { // drained while it runs: a full terminal would stop it
                              for (QDeadlineTimer bound(Patience); !p.waitForFinished(10) && !bound.hasExpired();)
                                  shown += terminal.readBytes(0);
                          }, fd);
        ::close(fd);
        qunsetenv("COLUMNS");
        shown += terminal.readBytes(0);
        QVERIFY2(r.exit == 0, qPrintable(r.said()));

        // One line per controller, rewritten in place; the last state of each says how it ended.
        QList<QStringList> lines;
        for (const QByteArray &line : shown.split('\n')) {
            if (const QStringList states = QString(line).remove("\x1b[K").split('\r', Qt::SkipEmptyParts); !states.isEmpty())
                lines << states;
        }
        QVERIFY2(lines.size() == 2, shown.constData());
        for (int k = 0; k < 2; ++k)
            QVERIFY2(QRegularExpression(QString("^download-serial  controller %1 \\(%1 of 2\\)  \\d+:\\d\\d  Controller %1 : "
                                                "Programming OK \\(Speed : %2 Bds\\) \\.\\.\\.$").arg(k + 1).arg(k ? 4800 : 9600))
                         .match(lines[k].last()).hasMatch(),
                     qPrintable(lines[k].last()));
        // No failure while the search goes on; past a second into the run the batches come with an estimate.
        const QString second = lines[1].join('\n');
        QVERIFY2(second.contains(QRegularExpression("Controller 2 : no answer at 9600 Bds, trying the next speed$",
                                                    QRegularExpression::MultilineOption))
                     && second.contains(QRegularExpression("  batch 4 of 9  44%  \\d+:\\d\\d, about \\d+:\\d\\d left  "))
                     && !shown.contains("No Answer"),
                 qPrintable(second));
    }

    // The terminal line within the width: its time left is the progress window's, the less important parts give
    // way first, and the window's text is cut only when it alone is too wide.
    void progressLineKeepsWithinTheWidth()
    {
        struct : Clock { double seconds() const override { return 30; } } clock;
        ProgressShown shown;
        shown.shown = true;
        shown.text = "Controller 2 : Programming Batch 5    ...";
        shown.batchesSent = 4;
        shown.batchesTotal = 9;
        shown.secondsLeft = 125.4;
        shown.controller = 2;
        const QString left = "2:05 left", text = shown.text.trimmed();
        const QList<QPair<int, QString>> rows = {{200, "download-serial  controller 2 (2 of 2)  batch 4 of 9  44%  0:00, about " + left + "  " + text},
                                                 {80, "ctrl 2 (2/2)  44%  " + left + "  " + text}, {61, "ctrl 2 (2/2)  44%  " + text},
                                                 {42, text}, {30, text.left(26) + "..."}};
        for (const auto &[columns, line] : rows) {
            qputenv("COLUMNS", QByteArray::number(columns)); // no terminal to ask: a file
            std::FILE *out = std::tmpfile();
            ProgressView view([&shown] { return shown; }, clock, out, true);
            view.begin("download-serial", {1, 2});
            view.update();
            QByteArray drawn(256, 0);
            std::rewind(out);
            drawn.resize(qsizetype(std::fread(drawn.data(), 1, drawn.size(), out)));
            std::fclose(out);
            QCOMPARE(QString(drawn), "\r" + line + "\x1b[K");
        }
        qunsetenv("COLUMNS");
    }

    // Every example --help gives runs as shown in an empty folder holding only fw.hex, its port being the simulated
    // line's, given as a bare name under /dev.
    void helpExamplesRunAsShown()
    {
        QByteArrayList everyone; // each holding fw.hex already
        for (int i = 0; i < 32; ++i)
            everyone << QByteArray::number(i) + R"(, "flash": "sample.hex")";
        const std::unique_ptr<sim::Line> sim = lineOf(everyone);
        const QString device = sim->slavePath().mid(QString("/dev/").size());
        QStringList examples = QString(run({"--help"}, files.path()).out).section("Examples:\n", 1).remove("\\\n").split('\n', Qt::SkipEmptyParts);
        QCOMPARE(examples.size(), 5);
        // One after the other in one fresh folder, as a station would: history reads what the others recorded.
        QTemporaryDir fresh;
        QVERIFY(QFile::copy(sample, fresh.filePath("fw.hex")));
        for (QString example : examples) {
            QProcess sh;
            sh.setWorkingDirectory(fresh.path());
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.insert("VANTOREL_HOME", fresh.path()); // not the build folder
            env.insert("PATH", QFileInfo(VANTOREL_CLI).path() + ":" + env.value("PATH"));
            sh.setProcessEnvironment(env);
            sh.start("/bin/sh", {"-c", example.replace("/dev/ttyUSB0", device).replace("\"COM 3\"", device)});
            const bool ended = sh.waitForFinished(Patience);
            const QString out = sh.readAllStandardOutput(), log = readAll(fresh.filePath("line3.log"));
            const QByteArray csv = readAll(fresh.filePath("line3.csv"));
            QVERIFY2(ended && sh.exitCode() == 0 && !out.contains("exit") && (csv.isEmpty() || csv.count(",ok,ok,") == csv.count('\n') - 1)
                         && (log.isEmpty() || (log.contains(" port=" + sim->slavePath() + " ") && log.endsWith(" end: status=ok cancelled=no c5=ok\n"))),
                     qPrintable(example + "\n" + out + sh.readAllStandardError() + log));
        }
    }

    // A station saves its settings; the window, set up the same, puts the same bytes on the line; the next run of
    // the command line takes its settings from the folder.
    void windowAndCommandLinePutTheSameBytesOnTheLine()
    {
        // Controller 2's flash differs from the file; controller 3 is only found at 4800, after six silent tries.
        const QByteArrayList description = {R"(1, "flash": "sample.hex")", R"(2, "version": "01/00/09")", R"(3, "speed": 4800)"};
        const std::unique_ptr<sim::Line> cliLine = lineOf(description), windowLine = lineOf(description);
        QTemporaryDir cliHome, windowHome;
        const QString cfg = cliHome.filePath("Flash.cfg");
        const CliRun r = run(QStringList{"--dir", cliHome.path(), "--port", cliLine->slavePath(), "--speed", "9600", "--timeout", "1000",
                                      "--delay", "33", "--protocol", "3", "--controllers", "1-3", "--file", sample, "--format",
                                      "json", "--save", "--known-speeds", "flash-info"} + Quick,
                          cliHome.path());
        // Mismatches make it fail; each speed is the one its answer came at.
        QVERIFY2(r.exit == 1 && r.json.value("status") == "failed", qPrintable(r.said()));
        QCOMPARE(rowsOf(r.json), QStringList({QString("1|01/00/00|%1||9600|ok").arg(sampleSum), "2|01/00/09|1E02|marked|9600|mismatch",
                                              "3|01/00/00|1E02|marked|4800|mismatch"}));
        // Saved as the run left them, with the speed last found; fast answers and the speed each controller answered at
        // go to Vantorel.ini, not into Flash.cfg's 40 lines.
        const QByteArray saved = flashCfg(cliLine->slavePath(), "4800", "1000", {1, 2, 3}, "33");
        const QByteArray ini = readAll(cliHome.filePath("Vantorel.ini"));
        QVERIFY2(readAll(cfg) == saved && ini.contains("FastAnswers=true") && ini.contains("KnownSpeedsFirst=true")
                     && ini.contains("1\\Device=" + cliLine->slavePath().toUtf8() + "\n") && ini.contains("1\\C3=4800"),
                 (readAll(cfg) + ini).constData());
        QVERIFY(writeFile(windowHome.filePath("Flash.cfg"), flashCfg(windowLine->slavePath(), "9600", "1000", {1, 2, 3}, "33")));
        {
            BenchPort port;
            RecordingDesk desk;
            SilenceSkippingClock clock(*windowLine, port); // the window's silent tries cost no time
            Session session(port, desk, clock);
            session.startUp(windowHome.path());
            session.context().timings.failureHold = 0.0;
            session.main().FastAnswers.setValue(1);
            MainWindow window(session);
            window.show();
            session.dropFile(sample);
            auto *comInfo = window.findChild<QPushButton *>("ComInfo");
            QVERIFY(comInfo && comInfo->isEnabled());
            QTest::mouseClick(comInfo, Qt::LeftButton);
            const InfoState &info = session.context().info; // the words the command line reports are the window's
            for (const QJsonValue &row : r.json.value("shown").toArray())
                QCOMPARE(QJsonArray({info.verView(row["controller"].toInt()).text, info.ckSumView(row["controller"].toInt()).text}), row["display"].toArray());
            session.main().Check1.setValue(0);
            session.shutDown();
        }
        QCOMPARE(sentWithSpeed(*windowLine), sentWithSpeed(*cliLine));
        const QByteArray cliLog = readAll(cliHome.filePath("Log.txt"));
        QVERIFY(cliLog.contains("Message : $73") && readAll(windowHome.filePath("Log.txt")) == cliLog);

        // Nothing but the folder and a controller: port, speed and time-out come from Flash.cfg, which stays as it
        // was without --save. The text report has its columns under their headings.
        const CliRun next = run({"--dir", cliHome.path(), "--controllers", "3", "boot-info"}, cliHome.path());
        QVERIFY2(next.exit == 0 && readAll(cfg) == saved, qPrintable(next.said()));
        QCOMPARE(QString(next.out), QString("boot-info  file checksum -  speed 4800  protocol 3  prot4+ no\n"
                                            "ctrl  version        checksum  marked  result\n"
                                            "   3  01/00/00       0000      no      ok\n"
                                            "selected: 3\nstatus: ok  (1 of 1 ok)\n"));
    }
};

VANTOREL_TEST_MAIN(TestCli, QApplication)
#include "test_cli.moc"
