#include "programming/flashcheck.h"

#include "state/context.h"
#include "run/askagain.h"
#include "link/frames.h"
#include "link/exchange.h"
#include "link/protocolchar.h"
#include "run/status.h"
#include "link/textcodec.h"
#include "platform/desk.h"

namespace vantorel {

bool FlashCheck(Context &ctx, int ctrl)
{
    MainState &m = ctx.main;
    ProtocolCharacter character(m);
    bool result = false;
    int asked = 0;
    for (;;) {
        m.CmdFrame = flashCheckFrame(character.inUse(), ctrl, checkKindFor(m.Protocol4Plus.ticked()));
        ShowProgress(ctx, QStringLiteral("Controller ") + QString::number(ctrl) + QStringLiteral(" : Checking Flash "), false);
        ctx.log.write(QStringLiteral("Message : $73  - Checking Flash"));
        ctx.log.write(StrToHex(m.CmdFrame));
        const int r = SendReceive(ctx, ctrl, m.CmdFrame, m.AnswerHex, false);
        ShowCtrlStatus(ctx, ctrl, r);
        if (r != ComOk) {
            if (!character.fallBackToAt())
                break;
            continue;
        }
        // Only the full 13-byte answer carries version and checksum: ask again.
        if (m.AnswerHex.size() != kVersionAnswerDigits) {
            if (askAgain(ctx, ctrl, asked))
                continue;
            break;
        }
        ResultBox &ver = ctx.info.Ver(ctrl);
        ResultBox &ckSum = ctx.info.CkSum(ctrl);
        ver.text = answerVersion(m.AnswerHex);
        ckSum.text = answerChecksum(m.AnswerHex);
        // The file's figure is shown without leading zeros, the controller's
        // always has four digits: "ABC" and "0ABC" are the same checksum.
        const QString fileSum = ctx.info.FileCheksum();
        const bool mismatch = !fileSum.isEmpty() && fileSum.rightJustified(4, QLatin1Char('0')) != ckSum.text;
        if (mismatch) {
            ctx.desk.beep();
            ckSum.background = static_cast<int>(kRed);
            ckSum.foreground = kWhite;
            ckSum.bold = true;
        }
        ctx.outcomes[ctrl].answered(ver.text, ckSum.text, mismatch);
        ctx.info.changed();
        result = true;
        break;
    }
    ctx.message.close();
    return result;
}

} // namespace vantorel
