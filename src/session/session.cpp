#include "session/session.h"

#include "state/config.h"
#include "platform/desk.h"
#include "image/fileselection.h"
#include "programming/downloads.h"
#include "protocolswitch/switching.h"
#include "queries/queries.h"

#include <QDir>

namespace vantorel {

Session::Session(SerialPort &port, Desk &desk, const Clock &clock) : ctx_(port, desk, clock)
{
    attachFileSelection(ctx_);
    // A window stays drawn while a database server keeps it waiting.
    keeper_.whileWaiting = [this] { ctx_.desk.processEvents(); };
}

void Session::startUp(const QString &appDir)
{
    vantorel::startUp(ctx_, appDir.isEmpty() ? findAppDir() : appDir);
    keeper_.configure(ctx_.main.AppDir, ctx_.user.resultsDatabase,
                      ctx_.user.problem.isEmpty() ? QString() : QStringLiteral("Vantorel.ini, which names it, was not read"));
}

void Session::setResultsDatabase(const QString &target) { keeper_.configure(ctx_.main.AppDir, target); }

bool Session::shutDown() { return vantorel::shutDown(ctx_); }

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
    QList<int> listed = ctx_.main.selectedControllers();
    if (worksOnWholeLine(operation)) {
        listed.clear();
        for (int i = 0; i < MainState::kControllers; ++i)
            listed << i;
    }
    const QJsonObject settings = runSettings(ctx_);
    switch (operation) {
    case Operation::FlashInfo: ComInfoClick(ctx_); break;
    case Operation::BootInfo: ComBootClick(ctx_); break;
    case Operation::Auto: AutoClick(ctx_); break;
    case Operation::DownloadSerial: ComLoad00Click(ctx_); break;
    case Operation::DownloadParallel: ComLoadClick(ctx_); break;
    case Operation::To4: Cmd3to4Click(ctx_); break;
    case Operation::To3: Cmd4to3Click(ctx_); break;
    }
    lastRecord_ = recordRun(ctx_, operation, listed, started, settings);
    // A run refused before anything was sent did nothing to any controller: no record of it.
    if (ctx_.lastRefused)
        return true;
    ctx_.main.ResultsNote.setText(QStringLiteral("Writing this run's records to %1 ...").arg(keeper_.shownTarget()));
    lastKept_ = keeper_.keep(lastRecord_, replayAfterEachRun);
    ctx_.main.ResultsNote.setText(lastKept_.note());
    if (onKept)
        onKept(lastKept_);
    if (lastKept_.stored && !replayAfterEachRun && !replayDeclined_)
        offerReplay();
    return true;
}

void Session::offerReplay()
{
    const int waiting = keeper_.pendingCount();
    if (waiting == 0)
        return;
    const QString file = QDir::toNativeSeparators(keeper_.pendingPath());
    if (!ctx_.desk.ask(QString::fromLatin1(kDefaultTitle),
                       QStringLiteral("%1 earlier run(s) wait in %2: the results database could not take them then.\r"
                                      "Write them to %3 now?").arg(waiting).arg(file, keeper_.shownTarget()))) {
        replayDeclined_ = true;
        return;
    }
    int replayed = 0;
    QString error;
    const bool all = keeper_.replayPending(replayed, error);
    QString note = QStringLiteral("%1 earlier run(s) that waited in %2 were written to %3.")
                       .arg(replayed).arg(file, keeper_.shownTarget());
    if (!all)
        note += QStringLiteral(" Runs still waiting: ") + error + QLatin1Char('.');
    ctx_.main.ResultsNote.setText(note);
}

// The image must not change under a running download: its batches, its full
// checksum and the verdict would come from different files.
void Session::browse()
{
    if (!busy_)
        Command1Click(ctx_);
}

// Live during a run, as the boxes themselves: a controller cleared before its
// turn is skipped.
void Session::selectAll() { ctx_.main.selectAll(); }

void Session::selectNone() { ctx_.main.selectNone(); }

void Session::dropFile(const QString &path)
{
    if (!busy_)
        chooseFile(ctx_, path);
}

} // namespace vantorel
