#include "cli/station.h"

#include "cli/commands.h"
#include "cli/json.h"
#include "cli/options.h"
#include "cli/progress.h"
#include "cli/records.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QRegularExpression>
#include <QTimer>
#include <QUuid>

#include <csignal>
#include <cstdio>
#include <memory>
#include <vector>

#ifdef Q_OS_UNIX
#include <signal.h>
#include <unistd.h>
#endif

namespace vantorel {

namespace {

volatile std::sig_atomic_t stationInterrupts = 0;
// Every Ctrl-C goes on to every line's worker: the first cancels each run as
// the progress window's Cancel does, a second ends the workers at once.
extern "C" void onStationInterrupt(int) { stationInterrupts = stationInterrupts + 1; }

QString controllerList(const QList<int> &controllers)
{
    QStringList numbers;
    for (const int n : controllers)
        numbers << QString::number(n);
    return numbers.join(QLatin1Char(','));
}

// One line per serial line, each rewritten in place on a terminal; elsewhere
// each worker's lines as they come, after the line's port.
class StationProgress {
public:
    StationProgress(const QList<StationLine> &lines, std::FILE *out, bool terminal)
        : out_(out), terminal_(terminal)
    {
        for (const StationLine &l : lines)
            ports_ << l.port;
        latest_.resize(ports_.size());
        pending_.resize(ports_.size());
        clock_.start();
    }

    // Bytes a worker wrote on its standard error; the "ready" word is the station's, not the user's.
    void take(int line, const QByteArray &bytes, bool &ready)
    {
        pending_[line] += bytes;
        qsizetype end;
        while ((end = pending_[line].indexOf('\n')) >= 0) {
            QString text = QString::fromLocal8Bit(pending_[line].left(end)).trimmed();
            pending_[line].remove(0, end + 1);
            if (text == QLatin1String(kReady)) {
                ready = true;
                continue;
            }
            static const QRegularExpression elapsed(QStringLiteral("^\\[\\s*[0-9.]+ s\\] "));
            text.remove(elapsed);
            // A message box, a Cancel or the program's own word stays in sight; a progress text gives way to the next.
            if (text.startsWith(QLatin1Char('[')) || text.startsWith(QLatin1String("vantorel-cli:")) || text == QLatin1String("Cancel"))
                note(ports_[line] + QStringLiteral("  ") + text);
            else if (!text.isEmpty())
                show(line, text);
        }
    }

    void note(const QString &text)
    {
        if (terminal_ && drawn_ > 0)
            std::fprintf(out_, "\x1b[%dA\r\x1b[K%s\n", drawn_, qPrintable(text));
        else
            std::fprintf(out_, "%s\n", qPrintable(text));
        drawn_ = 0;
        redraw();
    }

    static constexpr const char *kReady = "vantorel-cli: ready";

private:
    void show(int line, const QString &text)
    {
        const QString stamp = clockText(clock_.elapsed() / 1000.0);
        if (!terminal_) {
            std::fprintf(out_, "%s  %s  %s\n", qPrintable(ports_[line]), qPrintable(stamp), qPrintable(text));
            std::fflush(out_);
            return;
        }
        latest_[line] = stamp + QStringLiteral("  ") + text;
        redraw();
    }

    void redraw()
    {
        if (!terminal_)
            return;
        const int width = qMax(4, terminalColumns(out_) - 1); // the last column would wrap the line
        if (drawn_ > 0)
            std::fprintf(out_, "\x1b[%dA", drawn_);
        for (int i = 0; i < ports_.size(); ++i) {
            QString row = ports_[i] + QStringLiteral("  ") + latest_[i];
            if (row.size() > width)
                row = row.left(width - 3) + QStringLiteral("...");
            std::fprintf(out_, "\r\x1b[K%s\n", qPrintable(row));
        }
        drawn_ = int(ports_.size());
        std::fflush(out_);
    }

    std::FILE *out_;
    bool terminal_;
    QStringList ports_;
    QStringList latest_;
    QList<QByteArray> pending_;
    QElapsedTimer clock_;
    int drawn_ = 0;
};

// One worker per line, started together; each runs only once every line is
// ready, so a line refused before its start does not leave the others half done.
class Workers {
public:
    Workers(const Options &o, const Command &command, const QList<StationLine> &lines, const QString &stationRun,
            StationProgress &progress)
        : lines_(lines), progress_(progress)
    {
        for (const StationLine &line : lines) {
            auto p = std::make_unique<QProcess>();
            p->setProgram(QCoreApplication::applicationFilePath());
            p->setArguments(workerArguments(o, command, line, stationRun));
#ifdef Q_OS_UNIX
            // Out of the terminal's process group: a Ctrl-C reaches the station alone, which passes it on
            // once; the workers would otherwise take it twice, and a second Ctrl-C ends a worker at once.
            p->setChildProcessModifier([] { ::setpgid(0, 0); });
#endif
            procs_.push_back(std::move(p));
        }
        ready_.resize(lines.size());
    }

    QList<LineResult> run()
    {
        QEventLoop loop;
        int running = int(procs_.size());
        for (int i = 0; i < int(procs_.size()); ++i) {
            QProcess &p = *procs_[size_t(i)];
            QObject::connect(&p, &QProcess::readyReadStandardError, &loop, [this, i, &p] {
                bool ready = false;
                progress_.take(i, p.readAllStandardError(), ready);
                if (ready) {
                    ready_[i] = true;
                    startWhenAllReady();
                }
            });
            auto ended = [this, &running, &loop] {
                callOff(); // a worker that ends before the start was refused: nobody starts
                if (--running == 0)
                    loop.quit();
            };
            QObject::connect(&p, &QProcess::finished, &loop, ended);
            // A worker that never started sends no finished signal.
            QObject::connect(&p, &QProcess::errorOccurred, &loop, [ended](QProcess::ProcessError e) {
                if (e == QProcess::FailedToStart)
                    ended();
            });
            p.start();
        }
        QTimer interrupts;
        QObject::connect(&interrupts, &QTimer::timeout, &loop, [this] { passOnInterrupts(); });
        interrupts.start(50);
        if (running > 0)
            loop.exec();
        QList<LineResult> results;
        for (int i = 0; i < int(procs_.size()); ++i)
            results << result(i);
        return results;
    }

private:
    void startWhenAllReady()
    {
        if (started_ || calledOff_ || ready_.contains(false))
            return;
        started_ = true;
        for (auto &p : procs_)
            p->write("go\n");
    }

    void callOff()
    {
        if (started_ || calledOff_)
            return;
        calledOff_ = true;
        for (auto &p : procs_)
            p->closeWriteChannel();
    }

    void passOnInterrupts()
    {
        const int seen = stationInterrupts;
        if (seen == passedOn_)
            return;
        passedOn_ = seen;
        if (!started_) {
            progress_.note(QStringLiteral("Cancel: no line has started"));
            callOff();
            return;
        }
        progress_.note(QStringLiteral("Cancel"));
        for (auto &p : procs_) {
            if (p->state() == QProcess::NotRunning)
                continue;
#ifdef Q_OS_UNIX
            ::kill(pid_t(p->processId()), SIGINT);
#else
            p->kill();
#endif
        }
    }

    LineResult result(int i)
    {
        QProcess &p = *procs_[size_t(i)];
        LineResult r;
        r.port = lines_[i].port;
        const bool ranToItsEnd = p.error() != QProcess::FailedToStart && p.exitStatus() == QProcess::NormalExit;
        r.exit = ranToItsEnd ? p.exitCode() : ExitFault;
        const QList<QByteArray> out = p.readAllStandardOutput().trimmed().split('\n');
        r.document = QJsonDocument::fromJson(out.last()).object();
        r.report = reportFromJson(r.document, r.exit);
        if (r.report)
            r.report->line = r.port;
        if (r.document.isEmpty()) {
            r.problem = ranToItsEnd ? QStringLiteral("its worker ended (exit %1) without a report").arg(p.exitCode())
                                    : QStringLiteral("its worker ended (%1) before its report").arg(p.errorString());
        }
        return r;
    }

    QList<StationLine> lines_;
    StationProgress &progress_;
    std::vector<std::unique_ptr<QProcess>> procs_;
    QList<bool> ready_;
    bool started_ = false;
    bool calledOff_ = false;
    int passedOn_ = 0;
};

} // namespace

QList<StationLine> stationLines(const Options &o)
{
    if (o.isSet(o.port))
        throw Usage{QStringLiteral("--line names each line's port: leave out --port")};
    if (o.isSet(o.save))
        throw Usage{QStringLiteral("--save keeps one line's settings in Flash.cfg: save them in a run on one line "
                                   "(--port P --save)")};
    if (o.isSet(o.logCopy))
        throw Usage{QStringLiteral("--log copies one line's traffic: each line of a station keeps its own log, "
                                   "Log-PORT.txt in the program folder")};
    QList<StationLine> lines;
    for (const QString &given : o.values(o.line)) {
        StationLine line;
        QString port = given;
        if (const qsizetype colon = given.lastIndexOf(QLatin1Char(':')); colon >= 0) {
            QList<int> controllers;
            if (!parseControllers(given.mid(colon + 1), controllers))
                throw Usage{QStringLiteral("--line ") + given + QStringLiteral(": after the colon give the line's "
                                                                               "controllers, e.g. ")
                            + given.left(colon) + QStringLiteral(":0-7")};
            line.controllers = controllers;
            port = given.left(colon);
        }
        line.port = portFromOption(port.trimmed());
        for (const StationLine &other : lines) {
            if (other.port == line.port)
                throw Usage{QStringLiteral("--line ") + line.port + QStringLiteral(" is given twice: give each line once")};
        }
        lines << line;
    }
    for (const QString &given : o.values(o.unit)) {
        const qsizetype equals = given.indexOf(QLatin1Char('='));
        const qsizetype colon = equals < 0 ? -1 : given.left(equals).lastIndexOf(QLatin1Char(':'));
        StationLine *line = lines.size() == 1 && colon < 0 ? &lines.first() : nullptr;
        if (colon >= 0) {
            const QString port = portFromOption(given.left(colon).trimmed());
            for (StationLine &l : lines)
                line = l.port == port ? &l : line;
            if (!line)
                throw Usage{QStringLiteral("--unit ") + given + QStringLiteral(": ") + port
                            + QStringLiteral(" is no --line of this run")};
        }
        if (!line)
            throw Usage{QStringLiteral("--unit ") + given + QStringLiteral(": name the controller's line, e.g. --unit ")
                        + lines.first().port + QLatin1Char(':') + given};
        // The worker checks N=ID as a run on one line does.
        line->units << given.mid(colon + 1);
    }
    return lines;
}

QStringList workerArguments(const Options &o, const Command &command, const StationLine &line, const QString &stationRun)
{
    const QList<const QCommandLineOption *> station = {&o.line,    &o.unit,   &o.port,          &o.format,
                                                       &o.results, &o.logCopy, &o.stationWorker, &o.stationRun};
    QStringList args{command.text()};
    for (const QCommandLineOption *option : o.all()) {
        if (station.contains(option) || !o.isSet(*option) || (option == &o.controllers && line.controllers))
            continue;
        const QString name = QStringLiteral("--") + option->names().first();
        if (option->valueName().isEmpty())
            args << name;
        else
            for (const QString &value : o.values(*option))
                args << name << value;
    }
    args << QStringLiteral("--port") << line.port << QStringLiteral("--format") << QStringLiteral("json")
         << QStringLiteral("--station-worker") << QStringLiteral("--station-run") << stationRun;
    if (line.controllers)
        args << QStringLiteral("--controllers") << controllerList(*line.controllers);
    for (const QString &unit : line.units)
        args << QStringLiteral("--unit") << unit;
    return args;
}

Verdict worstOf(const QList<LineResult> &lines)
{
    QList<int> exits;
    for (const LineResult &l : lines)
        exits << l.exit;
    return worstOf(exits);
}

QString stationText(const QList<LineResult> &lines, const Verdict &verdict)
{
    QString out;
    int ok = 0, selected = 0;
    QString summary;
    for (const LineResult &l : lines) {
        out += QStringLiteral("line ") + l.port + QLatin1Char('\n');
        const QString status = l.report ? l.report->verdict.status : statusOf(l.exit);
        if (l.report) {
            out += l.report->toText();
            ok += l.report->okCount();
            selected += int(l.report->controllers.size());
            summary += QStringLiteral("  %1  %2  (%3 of %4 ok)\n")
                           .arg(l.port)
                           .arg(status, -9)
                           .arg(l.report->okCount())
                           .arg(l.report->controllers.size());
        } else {
            const QString why = l.problem.isEmpty() ? l.document.value(QStringLiteral("error")).toString() : l.problem;
            out += QStringLiteral("status: %1\nerror: %2\n").arg(status, why);
            summary += QStringLiteral("  %1  %2  (%3)\n").arg(l.port).arg(status, -9).arg(why);
        }
        out += QLatin1Char('\n');
    }
    out += QStringLiteral("station: %1 lines  status: %2  (%3 of %4 ok)\n")
               .arg(lines.size())
               .arg(verdict.status)
               .arg(ok)
               .arg(selected);
    return out + summary;
}


QString lineLogName(const QString &port)
{
    QString name = port.trimmed();
    if (name.startsWith(QLatin1String("/dev/")))
        name = name.mid(5);
    name.remove(QLatin1Char(' '));
    static const QRegularExpression unsafe(QStringLiteral("[^A-Za-z0-9._-]+"));
    name.replace(unsafe, QStringLiteral("-"));
    while (name.startsWith(QLatin1Char('-')))
        name.remove(0, 1);
    return QStringLiteral("Log-") + name;
}

int runStation(const Options &o, const Command &command)
{
    if (!command.operation)
        throw Usage{command.text() + QStringLiteral(" works on no line: leave out --line")};
    const QList<StationLine> lines = stationLines(o);
    RecordsFile records;
    QString problem;
    if (o.isSet(o.results) && !records.open(o.value(o.results), problem))
        throw Usage{problem};
    const bool unitColumn = records.firstLine() != csvHeader(false).trimmed();
    QString stationRun = stationRunOf(o); // one given by hand groups this run with others
    if (stationRun.isEmpty())
        stationRun = QUuid::createUuid().toString(QUuid::WithoutBraces);

    const QDateTime started = zonedNow();
    StationProgress progress(lines, stderr, stderrIsTerminal());
    std::signal(SIGINT, onStationInterrupt);
    std::signal(SIGTERM, onStationInterrupt);
    Workers workers(o, command, lines, stationRun, progress);
    QList<LineResult> results = workers.run();

    Verdict verdict = worstOf(results);
    QByteArray rows, kept; // as printed; as the --results file's columns take them
    for (LineResult &l : results) {
        if (!l.report)
            continue;
        l.report->started = started;
        rows += l.report->csvRows();
        kept += l.report->csvRows(unitColumn);
    }
    QString notKept;
    if (o.isSet(o.results) && !kept.isEmpty() && !records.append(csvHeader(unitColumn), kept, problem)) {
        notKept = problem + QStringLiteral(": this run's rows are only in this report; make the file writable (or "
                                           "free disk space) before the next run");
        progress.note(QStringLiteral("vantorel-cli: ") + notKept);
        if (verdict.exit == ExitOk || verdict.exit == ExitFailed)
            verdict = Verdict{QStringLiteral("error"), ExitFault};
    }
    const QString format = o.value(o.format);
    if (format == QLatin1String("json"))
        printJson(stationJson(command.text(), stationRun, verdict, notKept, results));
    else if (format == QLatin1String("csv"))
        std::printf("%s%s", csvHeader().constData(), rows.constData());
    else
        std::printf("%s%s", qPrintable(stationText(results, verdict)),
                    qPrintable(notKept.isEmpty() ? QString() : QStringLiteral("error: ") + notKept + QLatin1Char('\n')));
    std::fflush(stdout);
    return verdict.exit;
}

void awaitStationStart()
{
    std::fprintf(stderr, "%s\n", StationProgress::kReady);
    std::fflush(stderr);
    char word[16] = {};
    if (!std::fgets(word, sizeof word, stdin) || QByteArray(word).trimmed() != "go")
        throw Usage{QStringLiteral("the station run was called off before this line started (another line was "
                                   "refused, or Cancel): nothing was sent on it")};
}

} // namespace vantorel
