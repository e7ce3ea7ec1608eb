#include "programming/flasherase.h"

#include "state/context.h"
#include "link/exchange.h"
#include "run/line.h"
#include "link/frames.h"
#include "link/protocolchar.h"
#include "link/textcodec.h"
#include "run/status.h"

namespace vantorel {

EraseResult FlashErase(Context &ctx, int ctrl, bool crcOnly)
{
    ProtocolCharacter character(ctx.link);
    EraseResult result = EraseResult::NotErased;
    bool again = true;
    // Nothing goes out once Cancel was pressed: a controller it never reached stays untouched.
    while (again && !ctx.StopRequested) {
        again = false;
        const QByteArray frame = eraseFrame(character.inUse(), ctrl, checkKindFor(ctx.link.prot4Plus && !crcOnly));
        ctx.log.write(QStringLiteral("Message : $74"));
        ctx.log.write(StrToHex(frame));
        int resends = kFrameResends;
        // Whatever comes back, or does not, the controller may erase on
        // hearing it: from here on it is never taken for one left as it was.
        ctx.outcomes[ctrl].eraseSent();
        const Exchange e = sendAcknowledged(ctx, ctrl, frame, resends);
        if (!e.ok()) {
            ShowCtrlStatus(ctx, ctrl, failureOf(e.result));
            again = character.fallBackToAt(ctx.StopRequested);
        } else if (e.acknowledged()) {
            ctx.log.write(QStringLiteral("Answer : 61"));
            result = EraseResult::Erased;
            ResetCtrlStatus(ctx, ctrl);
            ctx.info.Ver(ctrl).text.clear();
            ctx.info.CkSum(ctrl).text.clear();
            ctx.info.changed();
            ctx.outcomes[ctrl].justErased();
            ShowProgress(ctx, controllerLine(ctrl, QStringLiteral("Erasing OK")), false);
        } else {
            ctx.log.write(QStringLiteral("Answer : Failure 3*E1"));
            ShowCtrlStatus(ctx, ctrl, Failure::ErasingFailure);
            result = EraseResult::Refused;
        }
    }
    ctx.message.close();
    return result;
}

} // namespace vantorel
