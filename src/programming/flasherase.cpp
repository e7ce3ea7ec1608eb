#include "programming/flasherase.h"

#include "state/context.h"
#include "link/exchange.h"
#include "link/frames.h"
#include "link/protocolchar.h"
#include "run/status.h"
#include "link/textcodec.h"

namespace vantorel {

EraseResult FlashErase(Context &ctx, int ctrl, bool crcOnly)
{
    MainState &m = ctx.main;
    ProtocolCharacter character(m);
    EraseResult result = EraseResult::NotErased;
    bool again = true;
    while (again) {
        again = false;
        int refusals = 1;
        m.CmdFrame = eraseFrame(character.inUse(), ctrl, checkKindFor(m.Protocol4Plus.ticked() && !crcOnly));
        ctx.log.write(QStringLiteral("Message : $74"));
        ctx.log.write(StrToHex(m.CmdFrame));
        for (;;) {
            const int r = SendReceive(ctx, ctrl, m.CmdFrame, m.AnswerHex, false);
            if (r != ComOk) {
                ShowCtrlStatus(ctx, ctrl, r);
                again = character.fallBackToAt();
                break;
            }
            if (answerCode(m.AnswerHex) == QLatin1String("61")) {
                ctx.log.write(QStringLiteral("Answer : 61"));
                result = EraseResult::Erased;
                ResetCtrlStatus(ctx, ctrl);
                ctx.info.Ver(m.ControllerIndex).text.clear();
                ctx.info.CkSum(m.ControllerIndex).text.clear();
                ctx.info.changed();
                ctx.outcomes[ctrl].justErased();
                ShowProgress(ctx, QStringLiteral("Controller ") + QString::number(ctrl) + QStringLiteral(" : Erasing OK"),
                             false);
                break;
            }
            if (refusals < 3) {
                ++refusals;
                continue;
            }
            ctx.log.write(QStringLiteral("Answer : Failure 3*E1"));
            ShowCtrlStatus(ctx, ctrl, 4);
            result = EraseResult::Refused;
            break;
        }
    }
    ctx.message.close();
    return result;
}

} // namespace vantorel
