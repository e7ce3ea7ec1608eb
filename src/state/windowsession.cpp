#include "state/windowsession.h"

#include "state/context.h"
#include "state/windowview.h"

namespace vantorel {

void ContextDeleter::operator()(Context *ctx) const { delete ctx; }

ContextHandle makeContext(SerialPort &port, Desk &desk, const Clock &clock, ChosenFileReader read)
{
    ContextHandle ctx(new Context(port, desk, clock));
    attachFileSelection(*ctx, std::move(read));
    return ctx;
}

void startUpWindows(Context &ctx, const QString &appDir, const QString &logName) { startUp(ctx, appDir, logName); }
bool shutDownWindows(Context &ctx) { return shutDown(ctx); }
QString programFolder(const Context &ctx) { return ctx.main.AppDir; }
const UserSettings &userSettings(const Context &ctx) { return ctx.user; }
MainState &mainOf(Context &ctx) { return ctx.main; }
SettingsForm formOf(const Context &ctx) { return settingsForm(ctx); }
Timings &timingsOf(Context &ctx) { return ctx.timings; }
Log &logOf(Context &ctx) { return ctx.log; }
const RunEnd &lastRunOf(const Context &ctx) { return ctx.lastRun; }
bool cancelRequested(const Context &ctx) { return ctx.StopRequested; }
void cancelRun(Context &ctx) { ctx.message.cancel(); }
QString resultsNote(const Context &ctx) { return ctx.main.ResultsNote.text(); }
void setResultsNote(Context &ctx, const QString &text) { ctx.main.ResultsNote.setText(text); }

void tickAll(Context &ctx, bool on)
{
    if (on)
        ctx.main.selectAll();
    else
        ctx.main.selectNone();
}

void editForm(Context &ctx, const FormEdits &e)
{
    MainState &m = ctx.main;
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
        ctx.timings.settleDelay = *e.settleDelay;
    if (e.failureHold)
        ctx.timings.failureHold = *e.failureHold;
}

ProgressShown progressShown(const Context &ctx)
{
    const MessageState &m = ctx.message;
    const MainState &main = ctx.main;
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
    p.controllerAnswered = p.controller >= 0 && ctx.outcomes[p.controller].speed.has_value();
    p.speed = main.Vitesse.text();
    p.speedLeft = !main.V4800.ticked() || !main.V9600.ticked() || !main.V19200.ticked() || !main.V38400.ticked();
    return p;
}

QMap<int, ShownRow> shownRows(const Context &ctx)
{
    QMap<int, ShownRow> rows;
    const InfoState &info = ctx.info;
    if (!info.exists())
        return rows;
    for (int n = 0; n < kControllers; ++n) {
        const ResultBox &ver = info.verView(n);
        const ResultBox &ck = info.ckSumView(n);
        rows.insert(n, ShownRow{ver.text, ck.text, ver.marked() || ck.marked()});
    }
    return rows;
}

void watchProgress(Context &ctx, const std::function<void()> &changed)
{
    ctx.message.Label1.onChange(changed);
    ctx.message.onUpdate(changed);
}

WindowRun runFromWindows(Context &ctx)
{
    WindowRun r;
    auto view = std::make_unique<WindowView>(ctx);
    r.run = runFromWindow(ctx, *view);
    r.view = std::move(view);
    return r;
}

} // namespace vantorel
