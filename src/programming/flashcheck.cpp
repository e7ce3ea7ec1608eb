#include "programming/flashcheck.h"

#include "state/context.h"
#include "link/exchange.h"
#include "run/line.h"
#include "link/frames.h"
#include "link/protocolchar.h"
#include "link/textcodec.h"
#include "run/askagain.h"
#include "run/status.h"

namespace vantorel {

bool FlashCheck(Context &ctx, int ctrl)
{
    ProtocolCharacter character(ctx.link);
    bool result = false;
    int asked = 0;
    for (;;) {
        const QByteArray frame = flashCheckFrame(character.inUse(), ctrl, checkKindFor(ctx.link.prot4Plus));
        ShowProgress(ctx, controllerLine(ctrl, QStringLiteral("Checking Flash ")), false);
        ctx.log.write(QStringLiteral("Message : $73  - Checking Flash"));
        ctx.log.write(StrToHex(frame));
        const Exchange e = SendReceive(ctx, ctrl, frame);
        ShowCtrlStatus(ctx, ctrl, failureOf(e.result));
        if (!e.ok()) {
            if (!character.fallBackToAt(ctx.StopRequested))
                break;
            continue;
        }
        // Only the full 13-byte answer carries version and checksum: ask again.
        const std::optional<VersionAnswer> answer = decodeVersionAnswer(e.answer);
        if (!answer) {
            if (askAgain(ctx, ctrl, asked))
                continue;
            break;
        }
        const QString fileSum = ctx.info.FileCheksum();
        ShowVersion(ctx, ctrl, *answer, !fileSum.isEmpty() && !isFileChecksum(answer->checksum, fileSum));
        result = true;
        break;
    }
    ctx.message.close();
    return result;
}

} // namespace vantorel
