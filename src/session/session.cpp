#include "session/session.h"

#include "state/config.h"
#include "platform/desk.h"
#include "image/downloadimage.h"
#include "programming/downloads.h"
#include "protocolswitch/switching.h"
#include "queries/queries.h"

#include <QDir>

namespace vantorel {

Session::Session(SerialPort &port, Desk &desk, const Clock &clock)
    : desk_(desk), ctx_(makeContext(port, desk, clock, readChosenFile))
{
    // A window stays drawn while a database server keeps it waiting.
    keeper_.whileWaiting = [this] { desk_.processEvents(); };
}

MainState &Session::main() { return mainOf(*ctx_); }
SettingsForm Session::form() const { return formOf(*ctx_); }
void Session::edit(const FormEdits &edits) { editForm(*ctx_, edits); }
Timings &Session::timings() { return timingsOf(*ctx_); }
Log &Session::log() { return logOf(*ctx_); }
const RunEnd &Session::lastRun() const { return lastRunOf(*ctx_); }
bool Session::cancelRequested() const { return vantorel::cancelRequested(*ctx_); }
void Session::cancel() { cancelRun(*ctx_); }
ProgressShown Session::progressShown() const { return vantorel::progressShown(*ctx_); }
QMap<int, ShownRow> Session::shownRows() const { return vantorel::shownRows(*ctx_); }
void Session::watchProgress(const std::function<void()> &changed) { vantorel::watchProgress(*ctx_, changed); }


void Session::startUp(const QString &appDir, const QString &logName)
{
    startUpWindows(*ctx_, appDir.isEmpty() ? findAppDir() : appDir, logName);
    const UserSettings &user = userSettings(*ctx_);
    keeper_.configure(programFolder(*ctx_), user.resultsDatabase, user.resultsDatabase,
                      user.problem.isEmpty() ? QString() : QStringLiteral("Vantorel.ini, which names it, was not read"));
}

void Session::setResultsDatabase(const QString &target)
{
    keeper_.configure(programFolder(*ctx_), target, userSettings(*ctx_).resultsDatabase);
}

bool Session::shutDown() { return shutDownWindows(*ctx_); }

bool Session::run(Operation operation)
{
    if (busy_)
        return false;
    busy_ = true;
    if (onBusyChanged)
        onBusyChanged(true);
    struct Release {
        Session &session;
        ~Release()
        {
            session.busy_ = false;
            if (session.onBusyChanged)
                session.onBusyChanged(false);
        }
    } release{*this};
    const QDateTime started = QDateTime::currentDateTimeUtc();
    const WindowRun window = runFromWindows(*ctx_);
    Run *const run = window.run.get();
    QList<int> listed = run->form.ticked;
    if (worksOnWholeLine(operation)) {
        listed.clear();
        for (int i = 0; i < kControllers; ++i)
            listed << i;
    }
    const QJsonObject settings = runSettings(run->form);
    switch (operation) {
    case Operation::FlashInfo: ComInfoClick(*run); break;
    case Operation::BootInfo: ComBootClick(*run); break;
    case Operation::Auto: AutoClick(*run); break;
    case Operation::DownloadSerial: ComLoad00Click(*run); break;
    case Operation::DownloadParallel: ComLoadClick(*run); break;
    case Operation::To4: Cmd3to4Click(*run); break;
    case Operation::To3: Cmd4to3Click(*run); break;
    }
    lastRecord_ = recordRun(*run, operation, listed, started, settings);
    for (ControllerRecord &c : lastRecord_.controllers)
        c.unit = units.value(c.number);
    lastRecord_.stationRun = stationRun;
    // A run refused before anything was sent did nothing to any controller: no record of it.
    if (lastRunOf(*ctx_).refused)
        return true;
    setResultsNote(*ctx_, QStringLiteral("Writing this run's records to %1 ...").arg(keeper_.shownTarget()));
    lastKept_ = keeper_.keep(lastRecord_, replayAfterEachRun);
    setResultsNote(*ctx_, lastKept_.note());
    if (onKept)
        onKept(lastKept_);
    if (lastKept_.stored && !replayAfterEachRun && !replayDeclined_)
        offerReplay();
    return true;
}

void Session::offerReplay()
{
    QMap<QString, int> byTarget = keeper_.waiting();
    const int waiting = byTarget.take(keeper_.targetIdentity());
    const QString file = QDir::toNativeSeparators(keeper_.pendingPath());
    // Runs meant for another database are never offered for this one; the window says they wait.
    const QString elsewhere = byTarget.isEmpty() ? QString()
                                                 : QStringLiteral("Waiting in %1 for another database: %2.")
                                                       .arg(file, waitingText(byTarget));
    if (waiting == 0) {
        if (!elsewhere.isEmpty() && resultsNote(*ctx_).isEmpty())
            setResultsNote(*ctx_, elsewhere);
        return;
    }
    if (!desk_.ask(QString::fromLatin1(kDefaultTitle),
                       QStringLiteral("%1 earlier run(s) wait in %2: the results database could not take them then.\r"
                                      "Write them to %3 now?").arg(waiting).arg(file, keeper_.shownTarget()))) {
        replayDeclined_ = true;
        return;
    }
    KeptRun replay;
    replay.pendingPath = keeper_.pendingPath();
    replay.target = keeper_.shownTarget();
    replay.stored = true;
    if (!keeper_.replayPending(replay.replayed, replay.waitingElsewhere, replay.replayProblem) && replay.replayProblem.isEmpty())
        replay.replayProblem = QStringLiteral("the fallback file could not be rewritten");
    setResultsNote(*ctx_, replay.note());
}

// The image must not change under a running download: its batches, its full
// checksum and the verdict would come from different files.
void Session::browse()
{
    if (!busy_)
        Command1Click(*ctx_);
}

// Live during a run, as the boxes themselves: a controller cleared before its
// turn is skipped.
void Session::selectAll() { tickAll(*ctx_, true); }

void Session::selectNone() { tickAll(*ctx_, false); }

void Session::dropFile(const QString &path)
{
    if (!busy_)
        chooseFile(*ctx_, path);
}

} // namespace vantorel
