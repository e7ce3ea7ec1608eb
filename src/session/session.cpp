#include "session/session.h"

#include "state/context.h"

#include "state/config.h"
#include "platform/desk.h"
#include "state/fileselection.h"
#include "state/windowview.h"
#include "image/downloadimage.h"
#include "programming/downloads.h"
#include "protocolswitch/switching.h"
#include "queries/queries.h"

#include <QDir>

namespace vantorel {

Session::Session(SerialPort &port, Desk &desk, const Clock &clock) : ctx_(std::make_unique<Context>(port, desk, clock))
{
    attachFileSelection(*ctx_, readChosenFile);
    // A window stays drawn while a database server keeps it waiting.
    keeper_.whileWaiting = [this] { ctx_->desk.processEvents(); };
}

Session::~Session() = default;

MainState &Session::main() { return ctx_->main; }
SettingsForm Session::form() const { return settingsForm(*ctx_); }
Timings &Session::timings() { return ctx_->timings; }
Log &Session::log() { return ctx_->log; }
const RunEnd &Session::lastRun() const { return ctx_->lastRun; }
bool Session::cancelRequested() const { return ctx_->StopRequested; }
void Session::cancel() { ctx_->message.cancel(); }

void Session::edit(const FormEdits &e)
{
    MainState &m = ctx_->main;
    m.Check1.setValue(e.saveSettings ? 1 : 0);
    const std::pair<const std::optional<QString> &, Control &> boxes[] = {
        {e.comPort, m.ComPort}, {e.speed, m.Vitesse}, {e.timeOut, m.Text1}, {e.waitingDelay, m.Text2}, {e.protocol, m.Protocol}};
    for (const auto &[text, box] : boxes) {
        if (text)
            box.setText(*text);
    }
    const std::pair<const std::optional<bool> &, Control &> ticks[] = {{e.sendP4First, m.QRV3},
                                                                       {e.prot4Plus, m.Protocol4Plus},
                                                                       {e.sameProtocol, m.ChkProto},
                                                                       {e.fastAnswers, m.FastAnswers},
                                                                       {e.knownSpeedsFirst, m.KnownSpeedsFirst}};
    for (const auto &[on, box] : ticks) {
        if (on)
            box.setValue(*on ? 1 : 0);
    }
    // Same protocol is offered only after a download; a setting given shows it.
    if (e.sameProtocol)
        m.ChkProto.setVisible(true);
    if (e.ticked) {
        for (int i = 0; i < kControllers; ++i)
            m.C[i].setValue(e.ticked->contains(i) ? 1 : 0);
    }
    if (e.settleDelay)
        ctx_->timings.settleDelay = *e.settleDelay;
    if (e.failureHold)
        ctx_->timings.failureHold = *e.failureHold;
}

ProgressShown Session::progressShown() const
{
    const MessageState &m = ctx_->message;
    const MainState &main = ctx_->main;
    ProgressShown p;
    p.shown = m.shown();
    p.text = m.Label1.text();
    p.failureShown = m.Stop.visible();
    p.batchesSent = m.batchesSent;
    p.batchesTotal = m.batchesTotal;
    p.secondsLeft = m.secondsLeft();
    // Outside the walk over the controllers (past the last) the operation works on all at once.
    const int i = main.ControllerIndex;
    p.controller = i >= 0 && i < kControllers ? i : -1;
    p.controllerAnswered = p.controller >= 0 && ctx_->outcomes[p.controller].speed.has_value();
    p.speed = main.Vitesse.text();
    p.speedLeft = !main.V4800.ticked() || !main.V9600.ticked() || !main.V19200.ticked() || !main.V38400.ticked();
    return p;
}

QMap<int, ShownRow> Session::shownRows() const
{
    QMap<int, ShownRow> rows;
    const InfoState &info = ctx_->info;
    if (!info.exists())
        return rows;
    for (int n = 0; n < kControllers; ++n) {
        const ResultBox &ver = info.verView(n);
        const ResultBox &ck = info.ckSumView(n);
        rows.insert(n, ShownRow{ver.text, ck.text, ver.marked() || ck.marked()});
    }
    return rows;
}

void Session::watchProgress(const std::function<void()> &changed)
{
    ctx_->message.Label1.onChange(changed);
    ctx_->message.onUpdate(changed);
}

void Session::startUp(const QString &appDir, const QString &logName)
{
    vantorel::startUp(*ctx_, appDir.isEmpty() ? findAppDir() : appDir, logName);
    keeper_.configure(ctx_->main.AppDir, ctx_->user.resultsDatabase, ctx_->user.resultsDatabase,
                      ctx_->user.problem.isEmpty() ? QString() : QStringLiteral("Vantorel.ini, which names it, was not read"));
}

void Session::setResultsDatabase(const QString &target)
{
    keeper_.configure(ctx_->main.AppDir, target, ctx_->user.resultsDatabase);
}

bool Session::shutDown() { return vantorel::shutDown(*ctx_); }

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
    QList<int> listed = ctx_->main.selectedControllers();
    if (worksOnWholeLine(operation)) {
        listed.clear();
        for (int i = 0; i < kControllers; ++i)
            listed << i;
    }
    WindowView view(*ctx_);
    const std::unique_ptr<Run> run = runFromWindow(*ctx_, view);
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
    if (ctx_->lastRun.refused)
        return true;
    ctx_->main.ResultsNote.setText(QStringLiteral("Writing this run's records to %1 ...").arg(keeper_.shownTarget()));
    lastKept_ = keeper_.keep(lastRecord_, replayAfterEachRun);
    ctx_->main.ResultsNote.setText(lastKept_.note());
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
        if (!elsewhere.isEmpty() && ctx_->main.ResultsNote.text().isEmpty())
            ctx_->main.ResultsNote.setText(elsewhere);
        return;
    }
    if (!ctx_->desk.ask(QString::fromLatin1(kDefaultTitle),
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
    ctx_->main.ResultsNote.setText(replay.note());
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
void Session::selectAll() { ctx_->main.selectAll(); }

void Session::selectNone() { ctx_->main.selectNone(); }

void Session::dropFile(const QString &path)
{
    if (!busy_)
        chooseFile(*ctx_, path);
}

} // namespace vantorel
