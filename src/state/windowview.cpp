#include "state/windowview.h"

#include "state/context.h"
#include "state/resultsummary.h"

namespace vantorel {

bool WindowView::ticked(int controller) const { return ctx_.main.C[controller].ticked(); }

void WindowView::speedInHand(int speed, const QList<int> &tried)
{
    MainState &m = ctx_.main;
    m.Vitesse.setText(QString::number(speed));
    // One flag for each speed of the Speed list, in its order.
    Control *const flags[] = {&m.V4800, &m.V9600, &m.V19200, &m.V38400};
    for (int k = 0; k < int(std::size(flags)); ++k)
        flags[k]->setValue(tried.contains(speedList().value(k).toInt()) ? 1 : 0);
}

void WindowView::controllerInHand(int controller) { ctx_.main.ControllerIndex = controller; }

void WindowView::protocolTakenOn(const QString &protocol) { ctx_.main.Protocol.setText(protocol); }

void WindowView::prot4PlusTakenOn(bool on) { ctx_.main.Protocol4Plus.setValue(on ? 1 : 0); }

void WindowView::detecting(bool on, int timeOutMs)
{
    MainState &m = ctx_.main;
    if (on) {
        timeOutBefore_ = m.Text1.text();
        speedBefore_ = m.Vitesse.text();
        m.Auto.setEnabled(false);
        m.Text1.setText(QString::number(timeOutMs));
    } else {
        m.Auto.setEnabled(true);
        m.Text1.setText(timeOutBefore_);
        m.Vitesse.setText(speedBefore_);
    }
}

void WindowView::detected(int controller, bool answered) { ctx_.main.C[controller].setValue(answered ? 1 : 0); }

void WindowView::prepareResults(const QString &title, const QString &fileChecksum) { ctx_.info.prepare(title, fileChecksum); }

namespace {
void apply(ResultBox &box, const BoxPaint &paint)
{
    if (paint.text)
        box.text = *paint.text;
    if (paint.foreground)
        box.foreground = *paint.foreground;
    if (paint.background)
        box.background = *paint.background;
    if (paint.bold)
        box.bold = *paint.bold;
}
} // namespace

void WindowView::paintRow(int controller, const RowPaint &paint)
{
    apply(ctx_.info.Ver(controller), paint.ver);
    apply(ctx_.info.CkSum(controller), paint.ckSum);
    ctx_.info.changed();
}

void WindowView::summarize(const QString &operation, bool download, const QList<int> &ticked)
{
    summarizeRun(ctx_, operation, download, ticked);
}

void WindowView::message(Picture picture, const QString &text)
{
    MessageState &m = ctx_.message;
    m.showOnly(picture == Picture::Working ? m.Inquiet : picture == Picture::Stop ? m.Stop : m.Jumelle);
    m.Label1.setText(text);
    m.show();
}

void WindowView::startRun(const QList<int> &controllers, int batches, bool broadcast)
{
    ctx_.message.startRun(controllers, batches, broadcast);
}

void WindowView::planLine(const LinePlan &plan) { ctx_.message.planLine(plan); }
void WindowView::searching(const SearchOutlook &outlook) { ctx_.message.searching(outlook); }
void WindowView::atController(int controller) { ctx_.message.atController(controller); }
void WindowView::leaveOut(int controller) { ctx_.message.leaveOut(controller); }
void WindowView::batchesSent(int sent, int total) { ctx_.message.setProgress(sent, total); }
void WindowView::closeProgress() { ctx_.message.close(); }
void WindowView::endRun() { ctx_.message.endRun(); }

SettingsForm settingsForm(const Context &ctx)
{
    SettingsForm f = formOf(ctx.main);
    f.chosenFileHash = ctx.chosenFileHash;
    f.imageBatches = ctx.imageBatches;
    return f;
}

std::unique_ptr<Run> runFromWindow(Context &ctx, RunView &view)
{
    ctx.stoppedAt.reset();
    auto run = std::make_unique<Run>(ctx.port, ctx.desk, ctx.clock, view, ctx.log, settingsForm(ctx), ctx.timings,
                                     Run::Kept{ctx.link, ctx.outcomes, ctx.StopRequested, ctx.lastRun, ctx.user});
    run->portInfo = ctx.portInfo;
    return run;
}

} // namespace vantorel
