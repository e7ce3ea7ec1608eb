#include "protocolswitch/switching.h"

#include "state/context.h"
#include "state/resultsummary.h"
#include "link/exchange.h"
#include "run/line.h"
#include "link/frames.h"
#include "run/operation.h"
#include "run/runcheck.h"
#include "run/speedsearch.h"
#include "run/status.h"
#include "link/textcodec.h"
#include "platform/desk.h"
#include "platform/serialport.h"

namespace vantorel {

namespace {
// Each switch command as what failed, None when it was taken, for the
// controller's outcome. 'confirm': the switch to protocol 4 says so in a
// box of its own (one controller switched alone, or a download's check); a run of
// several says it once, in its closing line, instead of stopping at each.
Failure p4(Context &ctx, int i, bool confirm)
{
    const QByteArray frame = switchToP4Command(i);
    ctx.log.write(QStringLiteral("Message : p4 => QRV3"));
    ctx.log.write(StrToHex(frame));
    const int result = SendReceive(ctx, i, frame, true).result;
    if (result == ComOk && confirm)
        ctx.desk.message(QString::fromLatin1(kDefaultTitle), QStringLiteral("send p4 OK!!!"));
    return failureOf(result);
}

Failure to3(Context &ctx, int i, bool)
{
    const QByteArray frame = returnToP3Frame(i, checkKindFor(ctx.link.prot4Plus));
    ctx.log.write(QStringLiteral("Message : Cmd 55 to return to QRV3"));
    ctx.log.write(StrToHex(frame));
    int resends = kFrameResends;
    const Exchange e = sendAcknowledged(ctx, i, frame, resends);
    Failure result = failureOf(e.result);
    if (!e.ok()) {
        ShowCtrlStatus(ctx, i, failureOf(e.result));
    } else if (e.acknowledged()) {
        ctx.log.write(QStringLiteral("Answer : Ok"));
        ResetCtrlStatus(ctx, i);
        ctx.info.Ver(i).text.clear();
        ctx.info.CkSum(i).text.clear();
        ctx.info.changed();
        ShowProgress(ctx, controllerLine(i, QStringLiteral("Sending p4 OK")), false);
    } else {
        ctx.log.write(QStringLiteral("Answer : Failure Sending p4 "));
        result = Failure::ErasingFailure;
        ShowCtrlStatus(ctx, i, result);
    }
    ctx.message.close();
    return result;
}
} // namespace

bool SendP4(Context &ctx, int i) { return p4(ctx, i, true) == Failure::None; }

namespace {
// The shape both switch commands share: each ticked controller, searching the
// speed, with the step in the progress window and a closing line saying which
// controllers took the switch.
struct Switch {
    QString title;   // of a fault's box
    QString name;    // the button
    QString doing;   // the step, after "Controller n : "
    QString outcome; // of a controller that took it
    Failure (*send)(Context &, int, bool confirm); // confirm: the only controller of the run
};

void switchAll(Context &ctx, const Switch &how)
{
    MainState &m = ctx.main;
    QList<int> ticked, tried;
    QMap<int, QString> switched;
    runOperation(ctx, how.title, QString(), [&] {
        checkAndOpen(ctx);
        for (int i = 0; i < MainState::kControllers; ++i)
            ResetCtrlStatus(ctx, i);
        ctx.StopRequested = false;
        ticked = m.selectedControllers();
        ctx.message.startRun(ticked);
        for (m.ControllerIndex = 0; m.ControllerIndex < MainState::kControllers; ++m.ControllerIndex) {
            const int i = m.ControllerIndex;
            ctx.message.atController(i);
            SpeedSearch search;
            Failure failed = Failure::None;
            search.attempt = [&] {
                ShowProgress(ctx, controllerLine(i, how.doing), false);
                failed = how.send(ctx, i, ticked.size() == 1);
                return failed == Failure::None ? Attempt::Succeeded : Attempt::NextSpeed;
            };
            search.beforeNextSpeed = [&] { ResetCtrlStatus(ctx, i); };
            const SearchResult result = searchSpeeds(ctx, i, search);
            recordSearch(ctx, i, result, failed);
            // Cancel after a silent speed had marked it: not heard out, so no verdict.
            recordCutShort(ctx, i, result);
            if (result != SearchResult::Skipped)
                tried << i;
            if (result == SearchResult::Found)
                switched.insert(i, QString());
        }
        ctx.message.close();
    });
    if (ctx.StopRequested)
        markCancelled(ctx.outcomes, ticked);
    if (ctx.lastRefused)
        return; // its box said why; nothing was sent
    QList<int> notReached;
    for (const int i : ticked) {
        if (!tried.contains(i))
            notReached << i;
    }
    const QString fault = ctx.lastFaultNumber ? QStringLiteral("Error # ") + QString::number(*ctx.lastFaultNumber) : QString();
    ctx.desk.message(QString::fromLatin1(kDefaultTitle),
                     passSummary(how.name, how.outcome, tried, switched, notReached, true, ctx.StopRequested, fault));
}
} // namespace

void Cmd3to4Click(Context &ctx)
{
    switchAll(ctx, {QStringLiteral("Cmd3to4_Click "), QStringLiteral("3 -> 4"), QStringLiteral("Switching to protocol 4 "),
                    QStringLiteral("switched to protocol 4"), p4});
}

void Cmd4to3Click(Context &ctx)
{
    switchAll(ctx, {QString::fromLatin1(kDefaultTitle), QStringLiteral("4 -> 3"), QStringLiteral("Returning to protocol 3 "),
                    QStringLiteral("returned to protocol 3"), to3});
}

} // namespace vantorel
