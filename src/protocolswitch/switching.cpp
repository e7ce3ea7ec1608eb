#include "protocolswitch/switching.h"

#include "state/context.h"
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
// The shape both switch commands share: each ticked controller, searching the speed.
void switchAll(Context &ctx, const QString &title, bool (*send)(Context &, int))
{
    MainState &m = ctx.main;
    runOperation(ctx, title, QString(), [&] {
        checkAndOpen(ctx);
        for (int i = 0; i < MainState::kControllers; ++i)
            ResetCtrlStatus(ctx, i);
        ctx.StopRequested = false;
        ctx.switchAccepted.fill(false);
        ctx.message.startRun(m.selectedControllers());
        for (m.ControllerIndex = 0; m.ControllerIndex < MainState::kControllers; ++m.ControllerIndex) {
            const int i = m.ControllerIndex;
            ctx.message.atController(i);
            SpeedSearch search;
            search.attempt = [&] { return send(ctx, i) ? Attempt::Succeeded : Attempt::NextSpeed; };
            search.beforeNextSpeed = [&] { ResetCtrlStatus(ctx, i); };
            ctx.switchAccepted[i] = searchSpeeds(ctx, i, search) == SearchResult::Found;
        }
        ctx.message.close();
    });
}
} // namespace

void Cmd3to4Click(Context &ctx) { switchAll(ctx, QStringLiteral("Cmd3to4_Click "), SendP4); }

void Cmd4to3Click(Context &ctx) { switchAll(ctx, QString::fromLatin1(kDefaultTitle), Send55); }

} // namespace vantorel
