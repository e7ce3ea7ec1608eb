#include "programming/flasherase.h"

#include "state/context.h"
#include "link/exchange.h"
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
    while (again) {
        again = false;
        const QByteArray frame = eraseFrame(character.inUse(), ctrl, checkKindFor(ctx.link.prot4Plus && !crcOnly));
        ctx.log.write(QStringLiteral("Message : $74"));
        ctx.log.write(StrToHex(frame));
        int resends = 2;
        const Exchange e = sendAcknowledged(ctx, ctrl, frame, resends);
        if (!e.ok()) {
            // Cancel cut the wait, not the frame: the controller may have
            // erased. Counted as erased, it is not taken for one left as it was.
            if (ctx.StopRequested)
                ctx.outcomes[ctrl].justErased();
            ShowCtrlStatus(ctx, ctrl, e.result);
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
            ShowCtrlStatus(ctx, ctrl, 4);
            result = EraseResult::Refused;
        }
    }
    ctx.message.close();
    return result;
}

} // namespace vantorel
