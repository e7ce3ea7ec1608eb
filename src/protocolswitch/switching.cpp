#include "protocolswitch/switching.h"

#include "state/context.h"
#include "state/resultsummary.h"
#include "link/exchange.h"
#include "link/frames.h"
#include "run/operation.h"
#include "run/runcheck.h"
#include "run/speedsearch.h"
#include "run/status.h"
#include "link/textcodec.h"
#include "platform/desk.h"
#include "platform/serialport.h"

namespace vantorel {

bool SendP4(Context &ctx, int i)
{
    const QByteArray frame = switchToP4Command(i);
    ctx.log.write(QStringLiteral("Message : p4 => QRV3"));
    ctx.log.write(StrToHex(frame));
    const bool accepted = SendReceive(ctx, i, frame, true).ok();
    if (accepted)
        ctx.desk.message(QString::fromLatin1(kDefaultTitle), QStringLiteral("send p4 OK!!!"));
    return accepted;
}

bool Send55(Context &ctx, int i)
{
    const QByteArray frame = returnToP3Frame(i, checkKindFor(ctx.link.prot4Plus));
    ctx.log.write(QStringLiteral("Message : Cmd 55 to return to QRV3"));
    ctx.log.write(StrToHex(frame));
    int resends = 2;
    const Exchange e = sendAcknowledged(ctx, i, frame, resends);
    if (!e.ok()) {
        ShowCtrlStatus(ctx, i, e.result);
    } else if (e.acknowledged()) {
        ctx.log.write(QStringLiteral("Answer : Ok"));
        ResetCtrlStatus(ctx, i);
        ctx.info.Ver(i).text.clear();
        ctx.info.CkSum(i).text.clear();
        ctx.info.changed();
        ShowProgress(ctx, controllerLine(i, QStringLiteral("Sending p4 OK")), false);
    } else {
        ctx.log.write(QStringLiteral("Answer : Failure Sending p4 "));
        ShowCtrlStatus(ctx, i, 4);
    }
    ctx.message.close();
    return e.acknowledged();
}

namespace {
// The shape both switch commands share: each ticked controller, searching the
// speed, with the step in the progress window and a closing line saying which
// controllers took the switch.
struct Switch {
    QString title;   // of a fault's box
    QString name;    // the button
    QString doing;   // the step, after "Controller n : "
    QString outcome; // of a controller that took it
    bool (*send)(Context &, int);
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
        ctx.switchAccepted.fill(false);
        ticked = m.selectedControllers();
        ctx.message.startRun(ticked);
        for (m.ControllerIndex = 0; m.ControllerIndex < MainState::kControllers; ++m.ControllerIndex) {
            const int i = m.ControllerIndex;
            ctx.message.atController(i);
            SpeedSearch search;
            search.attempt = [&] {
                ShowProgress(ctx, controllerLine(i, how.doing), false);
                return how.send(ctx, i) ? Attempt::Succeeded : Attempt::NextSpeed;
            };
            search.beforeNextSpeed = [&] { ResetCtrlStatus(ctx, i); };
            const SearchResult result = searchSpeeds(ctx, i, search);
            ctx.switchAccepted[i] = result == SearchResult::Found;
            if (result != SearchResult::Skipped)
                tried << i;
            if (result == SearchResult::Found)
                switched.insert(i, QString());
        }
        ctx.message.close();
    });
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
                    QStringLiteral("switched to protocol 4"), SendP4});
}

void Cmd4to3Click(Context &ctx)
{
    switchAll(ctx, {QString::fromLatin1(kDefaultTitle), QStringLiteral("4 -> 3"), QStringLiteral("Returning to protocol 3 "),
                    QStringLiteral("returned to protocol 3"), Send55});
}

} // namespace vantorel
