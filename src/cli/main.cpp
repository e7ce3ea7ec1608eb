// vantorel-cli: the tool's operations without a window, for scripts and
// production lines. It drives the same state and operations as the window.
#include "state/config.h"
#include "cli/progress.h"
#include "cli/records.h"
#include "cli/report.h"
#include "image/fileselection.h"
#include "image/downloadimage.h"
#include "image/hexfile.h"
#include "run/runcheck.h"
#include "link/exchange.h"
#include "platform/clock.h"
#include "platform/desk.h"
#include "platform/fault.h"
#include "platform/portinfo.h"
#include "platform/qtserialport.h"
#include "session/session.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <optional>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

using namespace vantorel;

namespace {

volatile std::sig_atomic_t interrupted = 0;
// The first Ctrl-C cancels as the progress window's Cancel does; a second one
// ends the program at once, for a user who will not wait for the cancel.
extern "C" void onInterrupt(int)
{
    if (interrupted)
        std::_Exit(130);
    interrupted = 1;
}

void err(const QString &line)
{
    std::fprintf(stderr, "%s\n", line.toLocal8Bit().constData());
    std::fflush(stderr);
}

// Box texts separate lines with CR (and CR LF): one line on standard error.
QString oneLine(QString text)
{
    text.replace(QStringLiteral("\r\n"), QStringLiteral(" | "));
    text.replace(QLatin1Char('\r'), QStringLiteral(" | "));
    text.replace(QLatin1Char('\n'), QStringLiteral(" | "));
    return text;
}

// "0,3,5-7", "all", "none" → the ticked controllers; false on a malformed list.
bool parseControllers(const QString &text, QList<int> &out)
{
    out.clear();
    const QString t = text.trimmed().toLower();
    if (t == QLatin1String("none"))
        return true;
    if (t == QLatin1String("all")) {
        for (int i = 0; i < 32; ++i)
            out << i;
        return true;
    }
    for (const QString &part : t.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        const QStringList ends = part.split(QLatin1Char('-'));
        bool ok1 = false;
        bool ok2 = true;
        const int from = ends.value(0).trimmed().toInt(&ok1);
        const int to = ends.size() == 2 ? ends[1].trimmed().toInt(&ok2) : from;
        if (!ok1 || !ok2 || ends.size() > 2 || from < 0 || to > 31 || from > to)
            return false;
        for (int i = from; i <= to; ++i) {
            if (!out.contains(i))
                out << i;
        }
    }
    std::sort(out.begin(), out.end());
    return !out.isEmpty();
}

// Refused before start-up, so the Log.txt of the last run is kept.
struct Usage {
    QString reason;
    std::optional<int> fault = std::nullopt; // the number of the fault that made the file unusable
};

const char *const kHelpEnd = R"(
Exit status, and "status" with --format json:
  0  ok         every selected controller ok (auto: the search ran to its end)
  1  failed     the operation ran and some controller did not pass
  2  error      bad usage or setting (--speed, --timeout, --delay, --controllers,
                Boot.ini ...), a HEX file that cannot be read or is not sound
                (a wrong record checksum only warns, unless --strict), a
                --results or --log file that cannot be opened; refused before
                anything is sent
  3  error      the port cannot be opened, or the line was lost during the run
  4  cancelled  Ctrl-C
  5  error      another fault stopped the operation during the run; or the run
                ended ok or failed, but then its --results file or (--save)
                Flash.cfg could not be written: the report still holds every
                controller's result, its error says what was lost

Examples:
  vantorel-cli --port /dev/ttyUSB0 --speed 9600 --protocol 3 --controllers 0-3 \
      --file fw.hex --results line3.csv --format json download-serial
  vantorel-cli --port "COM 3" --controllers all --file fw.hex flash-info || echo "exit $?"
)";

bool stderrIsTerminal()
{
#ifdef Q_OS_UNIX
    return ::isatty(STDERR_FILENO) == 1;
#else
    return false;
#endif
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Vantorel"));
    QCoreApplication::setApplicationVersion(QStringLiteral(VANTOREL_VERSION));

    QCommandLineParser p;
    p.setApplicationDescription(QStringLiteral(
        "Runs one operation of the tool without a window.\n"
        "COMMAND: flash-info | boot-info | auto | download-serial | download-parallel | to-p4 | to-p3 | checksum"));
    p.addHelpOption();
    p.addVersionOption();
    const QCommandLineOption dir(QStringLiteral("dir"), QStringLiteral("Program folder (Flash.cfg, Boot.ini, Ports.ini, Log.txt)."), QStringLiteral("DIR"));
    const QCommandLineOption port(QStringLiteral("port"), QStringLiteral("\"COM 3\", \"3\" or a device path."), QStringLiteral("P"));
    const QCommandLineOption speed(QStringLiteral("speed"), QStringLiteral("Line speed (the Speed box)."), QStringLiteral("N"));
    const QCommandLineOption timeout(QStringLiteral("timeout"), QStringLiteral("Answer time-out in ms (Time Out)."), QStringLiteral("MS"));
    const QCommandLineOption delay(QStringLiteral("delay"), QStringLiteral("Parallel waiting delay in ms."), QStringLiteral("MS"));
    const QCommandLineOption protocol(QStringLiteral("protocol"), QStringLiteral("The Protocol number."), QStringLiteral("N"));
    const QCommandLineOption file(QStringLiteral("file"), QStringLiteral("HEX file."), QStringLiteral("HEX"));
    const QCommandLineOption prot3(QStringLiteral("prot3"), QStringLiteral("Tick Prot 3: the controllers speak protocol 3."));
    const QCommandLineOption noProt3(QStringLiteral("no-prot3"), QStringLiteral("Clear Prot 3."));
    const QCommandLineOption p4(QStringLiteral("prot4plus"), QStringLiteral("Tick Prot 4+: frames carry the byte-sum check code."));
    const QCommandLineOption noP4(QStringLiteral("no-prot4plus"), QStringLiteral("Clear Prot 4+ (the CRC)."));
    const QCommandLineOption same(QStringLiteral("same-protocol"), QStringLiteral("Tick All Controllers same protocol."));
    const QCommandLineOption noSame(QStringLiteral("no-same-protocol"), QStringLiteral("Clear All Controllers same protocol."));
    const QCommandLineOption controllers(QStringLiteral("controllers"), QStringLiteral("e.g. 0,3,5-7 | all | none."), QStringLiteral("LIST"));
    const QCommandLineOption settle(QStringLiteral("settle-ms"), QStringLiteral("Settle wait after the first answer byte (default 500)."), QStringLiteral("N"));
    const QCommandLineOption hold(QStringLiteral("hold-ms"), QStringLiteral("How long a failure message is held (default 2000)."), QStringLiteral("N"));
    const QCommandLineOption fast(QStringLiteral("fast"), QStringLiteral("Tick Fast answers: end each wait as soon as the answer is complete; hold failures 0.2 s."));
    const QCommandLineOption noFast(QStringLiteral("no-fast"), QStringLiteral("Clear Fast answers (the full settle wait and failure hold)."));
    const QCommandLineOption strict(QStringLiteral("strict"),
                                    QStringLiteral("Refuse to download a HEX file whose record checksums are wrong "
                                                   "(without it such a file is downloaded with a warning)."));
    const QCommandLineOption save(QStringLiteral("save"), QStringLiteral("Write the settings back to Flash.cfg at the end."));
    const QCommandLineOption format(QStringLiteral("format"), QStringLiteral("text, json or csv (default text)."), QStringLiteral("F"), QStringLiteral("text"));
    const QCommandLineOption listPorts(QStringLiteral("list-ports"),
                                       QStringLiteral("List the COM items whose device is present, then the present "
                                                      "devices no COM item reaches, and end."));
    p.addOptions({dir, port, speed, timeout, delay, protocol, file, prot3, noProt3, p4, noP4, same, noSame, controllers,
                  settle, hold, fast, noFast, strict, save, format, listPorts});
    const QCommandLineOption results(QStringLiteral("results"), QStringLiteral("Append one CSV row per controller to FILE (with a header when it is new), whatever --format is."), QStringLiteral("FILE"));
    const QCommandLineOption logCopy(QStringLiteral("log"), QStringLiteral("Also append the traffic log to FILE, each line after an ISO 8601 time stamp."), QStringLiteral("FILE"));
    p.addOptions({results, logCopy});
    p.addPositionalArgument(QStringLiteral("COMMAND"), QStringLiteral("The operation to run."));
    if (!p.parse(app.arguments())) {
        QString error = p.errorText();
        if (error.endsWith(QLatin1Char('.')))
            error.chop(1);
        err(QStringLiteral("vantorel-cli: ") + error + QStringLiteral("; see --help"));
        return ExitUsage;
    }
    if (p.isSet(QStringLiteral("help"))) {
        std::printf("%s%s", qPrintable(p.helpText()), kHelpEnd);
        return ExitOk;
    }
    if (p.isSet(QStringLiteral("version")))
        p.showVersion();
    if (p.isSet(listPorts)) {
        if (p.value(format) != QLatin1String("text") && p.value(format) != QLatin1String("json")) {
            err(QStringLiteral("vantorel-cli: --format takes text or json"));
            return ExitUsage;
        }
        // The same list the window's Com Port box shows.
        const QString appDir = p.isSet(dir) ? p.value(dir) : findAppDir();
        QJsonArray rows;
        QString text;
        for (const PortItem &item : portItems(SystemPortInfo(), appDir)) {
            if (!item.present)
                continue;
            const QString com = item.number > 0 ? item.text : QString();
            rows.append(QJsonObject{{QStringLiteral("com"), com},
                                    {QStringLiteral("device"), item.device},
                                    {QStringLiteral("description"), item.description}});
            text += QStringLiteral("%1  %2  %3").arg(com.isEmpty() ? QStringLiteral("-") : com, -6).arg(item.device, -20)
                        .arg(item.description).trimmed() + QLatin1Char('\n');
        }
        if (p.value(format) == QLatin1String("json"))
            std::printf("%s\n", QJsonDocument(QJsonObject{{QStringLiteral("ports"), rows}}).toJson(QJsonDocument::Compact).constData());
        else
            std::printf("%s", qPrintable(text.isEmpty() ? QStringLiteral("No serial device is present.\n") : text));
        return ExitOk;
    }

    const QStringList commands = {QStringLiteral("flash-info"),      QStringLiteral("boot-info"),
                                  QStringLiteral("auto"),            QStringLiteral("download-serial"),
                                  QStringLiteral("download-parallel"), QStringLiteral("to-p4"),
                                  QStringLiteral("to-p3"),           QStringLiteral("checksum")};
    const QStringList args = p.positionalArguments();
    const QString fmt = p.value(format);
    const QString command = args.value(0);
    try {
        if (args.size() != 1 || !commands.contains(command))
            throw Usage{QStringLiteral("give one COMMAND: ") + commands.join(QStringLiteral(" | "))};
        if (fmt != QLatin1String("text") && fmt != QLatin1String("json") && fmt != QLatin1String("csv"))
            throw Usage{QStringLiteral("--format takes text, json or csv")};
        auto number = [&](const QCommandLineOption &o, const char *what) {
            bool ok = false;
            const int v = p.value(o).toInt(&ok);
            if (!ok || v < 0)
                throw Usage{QStringLiteral("--") + o.names().first() + QStringLiteral(" takes ") + QLatin1String(what)};
            return v;
        };
        auto readable = [&](ImageDescription &d) {
            try {
                return readHexChecksum(p.value(file), d);
            } catch (const Fault &f) {
                throw Usage{QStringLiteral("cannot read ") + p.value(file) + QStringLiteral(": ") + f.description(),
                            f.number()};
            }
        };

        if (command == QLatin1String("checksum")) {
            if (!p.isSet(file))
                throw Usage{QStringLiteral("checksum needs --file HEX")};
            if (fmt == QLatin1String("csv") || p.isSet(results))
                throw Usage{QStringLiteral("checksum prints text or json and keeps no record")};
            ImageDescription d;
            const QString sum = readable(d);
            const QString shown = sum.right(4);
            if (fmt == QLatin1String("json")) {
                const QJsonObject o{{QStringLiteral("program_version"), QStringLiteral(VANTOREL_VERSION)},
                                    {QStringLiteral("operation"), command}, {QStringLiteral("status"), QStringLiteral("ok")},
                                    {QStringLiteral("checksum"), sum},
                                    {QStringLiteral("file_checksum"), shown}, {QStringLiteral("ctrl_type"), d.HexCtrlType},
                                    {QStringLiteral("baud_text"), d.HexBaudText}, {QStringLiteral("baud_rate"), d.HexBaudRate},
                                    {QStringLiteral("protocol_byte"), d.HexProtocolByte}, {QStringLiteral("prot4plus"), d.HexProt4Plus},
                                    {QStringLiteral("description"), imageToolTip(d)}};
                std::printf("%s\n", QJsonDocument(o).toJson(QJsonDocument::Compact).constData());
            } else {
                std::printf("checksum %s\nshown    %s\nimage    %s\n", qPrintable(sum), qPrintable(shown),
                            qPrintable(imageToolTip(d)));
            }
            return ExitOk;
        }

        // Everything a mistyped option can get wrong is refused here, before
        // start-up empties Log.txt and long before a controller is erased.
        if (p.isSet(dir) && !QFileInfo(p.value(dir)).isDir())
            throw Usage{QStringLiteral("--dir ") + p.value(dir) + QStringLiteral(" is not a folder")};
        QList<int> tickedList;
        if (p.isSet(controllers) && !parseControllers(p.value(controllers), tickedList)
            && p.value(controllers).trimmed().toLower() != QLatin1String("none"))
            throw Usage{QStringLiteral("--controllers takes a list such as 0,3,5-7, or all, or none")};
        const int settleMs = p.isSet(settle) ? number(settle, "milliseconds") : -1;
        const int holdMs = p.isSet(hold) ? number(hold, "milliseconds") : -1;
        // The window's own rules and words, before start-up empties Log.txt.
        auto sameRule = [](const QString &option, const std::function<void()> &check) {
            try {
                check();
            } catch (const Fault &f) {
                throw Usage{option + QStringLiteral(": ") + f.description(), f.number()};
            }
        };
        if (p.isSet(timeout))
            sameRule(QStringLiteral("--timeout"), [&] { checkTimeOut(p.value(timeout)); });
        if (p.isSet(delay))
            sameRule(QStringLiteral("--delay"), [&] { waitingDelayMs(p.value(delay)); });
        // Flash.cfg keeps no file name: a download always needs --file.
        if (command.startsWith(QLatin1String("download")) && !p.isSet(file))
            throw Usage{QStringLiteral("a download needs a readable HEX file: give --file HEX")};
        QStringList warnings;
        if (p.isSet(file)) {
            ImageDescription unused;
            DownloadImage image;
            try {
                image = readDownloadImage(p.value(file), unused);
            } catch (const Fault &f) {
                throw Usage{QStringLiteral("cannot read ") + p.value(file) + QStringLiteral(": ") + f.description(),
                            f.number()};
            }
            const bool download = command.startsWith(QLatin1String("download"));
            if (download && !image.sound())
                throw Usage{faultDescription(FaultCode::ImageUnsound) + QStringLiteral(" (") + p.value(file)
                                + QStringLiteral("): ") + image.problem,
                            static_cast<int>(FaultCode::ImageUnsound)};
            if (!image.warning.isEmpty()) {
                if (download && p.isSet(strict))
                    throw Usage{faultDescription(FaultCode::ImageUnsound) + QStringLiteral(" (") + p.value(file)
                                    + QStringLiteral("): ") + image.warning
                                    + QStringLiteral(" Refused by --strict; correct the record checksums or produce the "
                                                     "file again"),
                                static_cast<int>(FaultCode::ImageUnsound)};
                warnings << p.value(file) + QStringLiteral(": ") + image.warning;
                err(QStringLiteral("vantorel-cli: warning: ") + warnings.last()
                    + QStringLiteral(" The file is used all the same: the controller's full checksum still proves what "
                                     "was programmed (--strict refuses such a file for a download)."));
            }
        }
        const QString appDir = p.isSet(dir) ? p.value(dir) : findAppDir();
        MainState saved;
        ReadConfig(saved, QDir(appDir).filePath(QStringLiteral("Flash.cfg")));
        // Refused here, before start-up empties the last run's Log.txt.
        if ((p.isSet(protocol) ? p.value(protocol) : saved.Protocol.text()).trimmed().isEmpty())
            throw Usage{QStringLiteral("no protocol: give --protocol N (or save one in Flash.cfg)")};
        const QString speedText = p.isSet(speed) ? p.value(speed).trimmed() : saved.Vitesse.text().trimmed();
        if (speedText.isEmpty())
            throw Usage{QStringLiteral("no speed: give --speed N (or save one in Flash.cfg)")};
        sameRule(QStringLiteral("--speed"), [&] { checkSpeed(speedText); });
        const bool needsControllers = command != QLatin1String("auto");
        if (needsControllers && (p.isSet(controllers) ? tickedList : saved.selectedControllers()).isEmpty())
            throw Usage{QStringLiteral("no controller selected for ") + command
                        + QStringLiteral(": give --controllers, e.g. 0,3,5-7 or all")};
        RecordsFile records;
        QString problem;
        if (p.isSet(results) && !records.open(p.value(results), problem))
            throw Usage{problem};
        TimedLogCopy timedLog;
        if (p.isSet(logCopy) && !timedLog.open(p.value(logCopy), problem))
            throw Usage{problem};

        QtSerialPort serial;
        RecordingDesk desk;
        MonotonicClock clock;
        Session session(serial, desk, clock);
        Context &ctx = session.context();
        MainState &m = session.main();
        ProgressView progress(ctx, clock, stderr, stderrIsTerminal());
        desk.onMessage = [&progress](const RecordingDesk::Box &box) {
            progress.note(QStringLiteral("[") + box.title + QStringLiteral("] ") + oneLine(box.text));
        };
        // Ctrl-C is the progress window's Cancel.
        desk.onProcessEvents = [&ctx, &progress] {
            if (interrupted && !ctx.StopRequested) {
                progress.note(QStringLiteral("Cancel"));
                ctx.message.cancel();
            }
            progress.update();
        };
        ctx.message.Label1.onChange([&progress] { progress.update(); });
        ctx.message.onUpdate([&progress] { progress.update(); });
        ctx.log.onLine = [&timedLog](const QString &line) { timedLog.write(line); };

        session.startUp(appDir);
        if (!p.isSet(save))
            m.Check1.setValue(0);
        if (p.isSet(port))
            m.ComPort.setText(p.value(port));
        if (p.isSet(speed))
            m.Vitesse.setText(p.value(speed));
        if (p.isSet(timeout))
            m.Text1.setText(p.value(timeout));
        if (p.isSet(delay))
            m.Text2.setText(p.value(delay));
        if (p.isSet(protocol))
            m.Protocol.setText(p.value(protocol));
        if (p.isSet(prot3) || p.isSet(noProt3))
            m.QRV3.setValue(p.isSet(prot3) ? 1 : 0);
        if (p.isSet(p4) || p.isSet(noP4))
            m.Protocol4Plus.setValue(p.isSet(p4) ? 1 : 0);
        if (p.isSet(same) || p.isSet(noSame)) {
            m.ChkProto.setValue(p.isSet(same) ? 1 : 0);
            m.ChkProto.setVisible(true);
        }
        if (p.isSet(fast) || p.isSet(noFast))
            m.FastAnswers.setValue(p.isSet(fast) ? 1 : 0);
        if (p.isSet(controllers)) {
            for (int i = 0; i < 32; ++i)
                m.C[i].setValue(tickedList.contains(i) ? 1 : 0);
        }
        if (settleMs >= 0)
            ctx.timings.settleDelay = settleMs / 1000.0;
        if (holdMs >= 0)
            ctx.timings.failureHold = holdMs / 1000.0;
        if (p.isSet(file)) {
            session.dropFile(QFileInfo(p.value(file)).absoluteFilePath());
            if (m.FileCheksum.text().isEmpty())
                throw Usage{QStringLiteral("the HEX file ") + p.value(file) + QStringLiteral(" cannot be read")};
        }
        if (m.Protocol.text().isEmpty())
            throw Usage{QStringLiteral("no protocol: give --protocol N (or save one in Flash.cfg)")};

        std::signal(SIGINT, onInterrupt);
        std::signal(SIGTERM, onInterrupt);

        const QList<int> listed = command == QLatin1String("auto") ? QList<int>{0,  1,  2,  3,  4,  5,  6,  7,  8,  9,  10,
                                                                                 11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 21,
                                                                                 22, 23, 24, 25, 26, 27, 28, 29, 30, 31}
                                                                   : m.selectedControllers();
        const QHash<QString, Session::Operation> operations = {
            {QStringLiteral("flash-info"), Session::Operation::FlashInfo},
            {QStringLiteral("boot-info"), Session::Operation::BootInfo},
            {QStringLiteral("auto"), Session::Operation::Auto},
            {QStringLiteral("download-serial"), Session::Operation::DownloadSerial},
            {QStringLiteral("download-parallel"), Session::Operation::DownloadParallel},
            {QStringLiteral("to-p4"), Session::Operation::To4},
            {QStringLiteral("to-p3"), Session::Operation::To3}};
        if (command.startsWith(QLatin1String("download")) && m.FileCheksum.text().isEmpty())
            throw Usage{QStringLiteral("a download needs a readable HEX file: give --file HEX")};
        const QDateTime started = zonedNow();
        progress.begin(command, listed);
        session.run(operations.value(command));
        progress.end();

        RunReport report = makeReport(ctx, command, listed, started);
        report.warnings = warnings;
        // A write after the run that fails loses what the station keeps of it (its record, its
        // settings): a run that was ok or failed becomes an error, though the report still holds every
        // controller's result. A cancel or an earlier error stays the verdict; the loss is told beside it.
        auto notKept = [&report](const QString &what) {
            if (report.verdict.exit == ExitOk || report.verdict.exit == ExitFailed) {
                report.verdict = Verdict{QStringLiteral("error"), ExitFault};
                report.errorNumber = static_cast<int>(FaultCode::FileAccess);
                report.errorText = what;
            } else {
                report.errorText += (report.errorText.isEmpty() ? QString() : QStringLiteral("\n")) + what;
            }
        };
        // A run refused before anything was sent did nothing to any controller: no record of it.
        if (p.isSet(results) && !ctx.lastRefused && !records.append(csvHeader(), report.csvRows(), problem)) {
            progress.note(QStringLiteral("vantorel-cli: ") + problem);
            notKept(problem + QStringLiteral(": this run's rows are only in this report; make the file writable "
                                             "(or free disk space) before the next run"));
        }
        if (timedLog.failed())
            progress.note(QStringLiteral("vantorel-cli: writing the log copy ") + timedLog.path()
                + QStringLiteral(" failed; it stops where the failure happened"));
        // Saved before the report is printed, so that the report tells whether it was.
        if (!session.shutDown()) {
            // The box's lines after its "Error #" one: what failed and why.
            QString box = desk.boxes.isEmpty() ? QString() : desk.boxes.last().text;
            box = box.mid(box.indexOf(QLatin1Char('\r')) + 1).replace(QLatin1Char('\r'), QLatin1Char('\n'));
            notKept(box + QStringLiteral("\nMake sure Flash.cfg can be written there (the folder's rights, disk "
                                         "space); the next run with --save saves the settings."));
        }
        if (fmt == QLatin1String("json"))
            std::printf("%s\n", QJsonDocument(report.toJson()).toJson(QJsonDocument::Compact).constData());
        else if (fmt == QLatin1String("csv"))
            std::printf("%s%s", csvHeader().constData(), report.csvRows().constData());
        else
            std::printf("%s", qPrintable(report.toText()));
        std::fflush(stdout);
        return report.verdict.exit;
    } catch (const Usage &u) {
        err(QStringLiteral("vantorel-cli: ") + u.reason);
        if (fmt == QLatin1String("json"))
            std::printf("%s\n", QJsonDocument(refusedJson(command, u.reason, u.fault)).toJson(QJsonDocument::Compact).constData());
        return ExitUsage;
    }
}
