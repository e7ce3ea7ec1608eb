// vantorel-cli: the tool's operations without a window, for scripts and
// production lines. It drives the same state and operations as the window.
#include "cli/commands.h"
#include "cli/history.h"
#include "cli/json.h"
#include "cli/options.h"
#include "cli/progress.h"
#include "cli/records.h"
#include "cli/report.h"
#include "cli/station.h"
#include "image/hexfile.h"
#include "state/imagedescription.h"
#include "platform/clock.h"
#include "platform/desk.h"
#include "platform/fault.h"
#include "platform/portinfo.h"
#include "platform/qtserialport.h"
#include "session/session.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include <QUrl>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

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

// Box texts separate lines with CR (and CR LF): one line on standard error.
QString oneLine(QString text)
{
    text.replace(QStringLiteral("\r\n"), QStringLiteral(" | "));
    text.replace(QLatin1Char('\r'), QStringLiteral(" | "));
    text.replace(QLatin1Char('\n'), QStringLiteral(" | "));
    return text;
}

// A password in --results-db can be read by every user of this computer (ps, /proc/PID/cmdline) while the
// program runs: told at once with the ways that keep it private, and blanked from the arguments the
// system shows from now on.
void hidePassword(const Options &o, int argc, char *argv[])
{
    const QString target = o.value(o.resultsDb).trimmed();
    if (!o.isSet(o.resultsDb) || !target.contains(QLatin1String("://")) || QUrl(target).password().isEmpty())
        return;
    errorLine(QStringLiteral("vantorel-cli: warning: --results-db holds a password, which other users of this computer "
                             "can read from the command line (ps, /proc). Give it instead in the PGPASSWORD "
                             "environment variable, in a password file (~/.pgpass, or the one PGPASSFILE names), or "
                             "in Vantorel.ini's [Results] Database (kept readable by its owner only)."));
#ifdef Q_OS_UNIX
    for (int i = 1; i < argc; ++i) {
        char *scheme = std::strstr(argv[i], "://");
        if (!scheme)
            continue;
        char *authority = scheme + 3;
        char *const end = authority + std::strcspn(authority, "/?#");
        char *at = nullptr;
        for (char *p = authority; p < end; ++p)
            at = *p == '@' ? p : at;
        char *const colon = at ? static_cast<char *>(std::memchr(authority, ':', size_t(at - authority))) : nullptr;
        if (colon)
            std::memset(colon + 1, '*', size_t(at - colon - 1));
    }
#else
    Q_UNUSED(argc);
    Q_UNUSED(argv);
#endif
}

bool jsonAsked(const Options &o) { return o.value(o.format) == QLatin1String("json"); }

// The same list the window's Com Port box shows.
int listPorts(const Options &o)
{
    if (!jsonAsked(o) && o.value(o.format) != QLatin1String("text")) {
        errorLine(QStringLiteral("vantorel-cli: --format takes text or json"));
        return ExitUsage;
    }
    QList<PortItem> present;
    QString text;
    for (const PortItem &item : portItems(SystemPortInfo(), o.appDir())) {
        if (!item.present)
            continue;
        present << item;
        const QString com = item.number > 0 ? item.text : QString();
        text += QStringLiteral("%1  %2  %3").arg(com.isEmpty() ? QStringLiteral("-") : com, -6).arg(item.device, -20)
                    .arg(item.description).trimmed() + QLatin1Char('\n');
    }
    if (jsonAsked(o))
        printJson(portsJson(present));
    else
        std::printf("%s", qPrintable(text.isEmpty() ? QStringLiteral("No serial device is present.\n") : text));
    return ExitOk;
}

// A command that reads the HEX file only: nothing goes on the line, nothing is recorded.
int printChecksum(const Options &o, const Command &command)
{
    refuseFileOnly(o, command);
    ImageDescription d;
    QString sum;
    try {
        sum = readHexChecksum(o.value(o.file), d);
    } catch (const Fault &f) {
        throw cannotRead(o.value(o.file), f);
    }
    const QString shown = shownChecksum(sum);
    if (jsonAsked(o)) {
        printJson(checksumJson(command.text(), sum, shown, d, imageToolTip(d)));
    } else {
        std::printf("checksum %s\nshown    %s\nimage    %s\n", qPrintable(sum), qPrintable(shown),
                    qPrintable(imageToolTip(d)));
    }
    return ExitOk;
}

// What the station keeps of a run besides its report. Opened before start-up:
// a file that cannot be written must not cost a run whose record would be lost.
struct RunFiles {
    RecordsFile records;
    TimedLogCopy logCopy;
    bool unitColumn = true; // false: the records file was begun before there was one
};

void openRunFiles(const Options &o, const RunSettings &settings, RunFiles &files)
{
    QString problem;
    if (o.isSet(o.results) && !files.records.open(o.value(o.results), problem))
        throw Usage{problem};
    // A file begun without the unit column keeps its columns: a reader that
    // checks rows against the header must not meet longer ones.
    files.unitColumn = files.records.firstLine() != csvHeader(false).trimmed();
    if (!files.unitColumn && !settings.units.isEmpty())
        throw Usage{QStringLiteral("--unit: the results file ") + o.value(o.results)
                    + QStringLiteral(" was begun without a unit column; give a new --results file to record units")};
    if (o.isSet(o.logCopy) && !files.logCopy.open(o.value(o.logCopy), problem))
        throw Usage{problem};
}

// Message boxes, the progress window and the log, as the command line shows and keeps them.
void watch(RecordingDesk &desk, Session &session, ProgressView &progress, TimedLogCopy &logCopy)
{
    desk.onMessage = [&progress](const RecordingDesk::Box &box) {
        progress.note(QStringLiteral("[") + box.title + QStringLiteral("] ") + oneLine(box.text));
    };
    // Ctrl-C is the progress window's Cancel.
    desk.onProcessEvents = [&session, &progress] {
        if (interrupted && !session.cancelRequested()) {
            progress.note(QStringLiteral("Cancel"));
            session.cancel();
        }
        progress.update();
    };
    session.watchProgress([&progress] { progress.update(); });
    session.log().onLine = [&logCopy](const QString &line) { logCopy.write(line); };
}

// A write after the run that fails loses what the station keeps of it (its record, its
// settings): a run that was ok or failed becomes an error, though the report still holds every
// controller's result. A cancel or an earlier error stays the verdict; the loss is told beside it.
void notKept(RunReport &report, const QString &what)
{
    if (report.verdict.exit == ExitOk || report.verdict.exit == ExitFailed) {
        report.verdict = Verdict{QStringLiteral("error"), ExitFault};
        report.errorNumber = static_cast<int>(FaultCode::FileAccess);
        report.errorText = what;
    } else {
        report.errorText += (report.errorText.isEmpty() ? QString() : QStringLiteral("\n")) + what;
    }
}

// The record, the log copy and the settings, kept before the report is
// printed, so that the report tells whether they were.
void keepRun(const Options &o, RunReport &report, Session &session, const RecordingDesk &desk, RunFiles &files,
             ProgressView &progress)
{
    QString problem;
    const KeptRun &kept = session.lastKept();
    if (!session.lastRun().refused) {
        QString problem = kept.stored ? kept.replayProblem : kept.problem;
        if (!kept.lostProblem.isEmpty())
            problem += QStringLiteral("; and ") + kept.lostProblem;
        report.store = storeJson(kept, problem);
    }
    if (!kept.note().isEmpty())
        progress.note(QStringLiteral("vantorel-cli: ") + kept.note());
    if (!session.lastRun().refused && !kept.stored)
        notKept(report, kept.note());
    // A run refused before anything was sent did nothing to any controller: no record of it.
    if (o.isSet(o.results) && !session.lastRun().refused
        && !files.records.append(csvHeader(files.unitColumn), report.csvRows(files.unitColumn), problem)) {
        progress.note(QStringLiteral("vantorel-cli: ") + problem);
        notKept(report, problem + QStringLiteral(": this run's rows are only in this report; make the file writable "
                                                 "(or free disk space) before the next run"));
    }
    if (!session.shutDown()) {
        // The box's lines after its "Error #" one: what failed and why.
        QString box = desk.boxes.isEmpty() ? QString() : desk.boxes.last().text;
        box = box.mid(box.indexOf(QLatin1Char('\r')) + 1).replace(QLatin1Char('\r'), QLatin1Char('\n'));
        notKept(report, box + QStringLiteral("\nMake sure Flash.cfg and Vantorel.ini can be written there (the folder's rights, disk "
                                             "space); the next run with --save saves the settings."));
    }
    // Last, with the verdict as it is reported.
    files.logCopy.writeOwn(logEndLine(report, session.cancelRequested()));
    if (files.logCopy.failed())
        progress.note(QStringLiteral("vantorel-cli: writing the log copy ") + files.logCopy.path()
                      + QStringLiteral(" failed; it stops where the failure happened"));
}

void printReport(const Options &o, const RunReport &report)
{
    const QString format = o.value(o.format);
    if (format == QLatin1String("json"))
        printJson(reportJson(report));
    else if (format == QLatin1String("csv"))
        std::printf("%s%s", csvHeader().constData(), report.csvRows().constData());
    else
        std::printf("%s", qPrintable(report.toText()));
    std::fflush(stdout);
}

// A command that runs an operation on the line, started up as the window starts.
int runOnLine(const Options &o, const Command &command)
{
    const RunSettings settings = refuseBeforeStartUp(o, command);
    RunFiles files;
    openRunFiles(o, settings, files);
    refuseWithoutPort(o, settings);

    QtSerialPort serial;
    RecordingDesk desk;
    MonotonicClock clock;
    Session session(serial, desk, clock);
    ProgressView progress([&session] { return session.progressShown(); }, clock, stderr, stderrIsTerminal());
    watch(desk, session, progress, files.logCopy);
    // A station's lines run at once: each keeps its own log.
    const bool worker = o.isSet(o.stationWorker);
    session.startUp(settings.appDir, worker ? lineLogName(o.value(o.port)) : QStringLiteral("Log"));
    applyOptions(o, settings, session);
    if (o.isSet(o.resultsDb)) {
        const QString db = o.value(o.resultsDb);
        session.setResultsDatabase(db.contains(QLatin1String("://")) ? db : QFileInfo(db).absoluteFilePath());
    }
    session.replayAfterEachRun = true;
    session.units = settings.units;
    session.stationRun = settings.stationRun;
    // The database itself is waited for only after the run, within its bound: nothing on the line waits for it.
    if (const QString unusable = session.results().targetProblem(); !unusable.isEmpty())
        progress.note(QStringLiteral("vantorel-cli: ") + unusable + QStringLiteral("; the run goes on and its records "
                                                                                   "wait in ")
                      + QDir::toNativeSeparators(session.results().pendingPath()));

    std::signal(SIGINT, onInterrupt);
    std::signal(SIGTERM, onInterrupt);
    const QList<int> listed = command.wholeLine ? everyController() : session.form().ticked;
    if (command.download && session.form().fileChecksum.isEmpty())
        throw noHexFile();
    if (worker)
        awaitStationStart();
    const QDateTime started = zonedNow();
    files.logCopy.writeOwn(logStartLine(session.form(), session.timings(), command.text(), listed, settings.units));
    progress.begin(command.text(), listed);
    session.run(*command.operation);
    progress.end();

    RunReport report = makeReport(session.lastRecord(), session.form(), session.lastRun(), session.cancelRequested(),
                                  session.shownRows(), started, settings.units);
    report.warnings = settings.warnings;
    keepRun(o, report, session, desk, files, progress);
    printReport(o, report);
    return report.verdict.exit;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Vantorel"));
    QCoreApplication::setApplicationVersion(QStringLiteral(VANTOREL_VERSION));

    Options o;
    QString error;
    if (!o.parse(app.arguments(), error)) {
        errorLine(error);
        return ExitUsage;
    }
    if (o.helpAsked()) {
        std::fputs(o.helpText().constData(), stdout);
        return ExitOk;
    }
    if (o.versionAsked())
        o.showVersion();
    if (o.isSet(o.listPorts))
        return listPorts(o);
    hidePassword(o, argc, argv);
    try {
        const Command &command = chosenCommand(o);
        // Before history: a --line given there would otherwise be dropped without a word.
        if (o.isSet(o.line))
            return runStation(o, command);
        if (command.history)
            return printHistory(o);
        return command.operation ? runOnLine(o, command) : printChecksum(o, command);
    } catch (const Usage &u) {
        errorLine(QStringLiteral("vantorel-cli: ") + u.reason);
        if (jsonAsked(o))
            printJson(refusedJson(o.positionalArguments().value(0), u.reason, u.fault));
        return ExitUsage;
    }
}
