#include "programming/flashcheck.h"

#include "state/run.h"
#include "link/exchange.h"
#include "run/line.h"
#include "link/frames.h"
#include "link/protocolchar.h"
#include "link/textcodec.h"
#include "run/askagain.h"
#include "run/status.h"

namespace vantorel {

bool FlashCheck(Run &run, int ctrl)
{
    ProtocolCharacter character(run.link);
    bool result = false;
    int asked = 0;
    for (;;) {
        const QByteArray frame = flashCheckFrame(character.inUse(), ctrl, checkKindFor(run.link.prot4Plus));
        ShowProgress(run, controllerLine(ctrl, QStringLiteral("Checking Flash ")), false);
        run.log.write(QStringLiteral("Message : $73  - Checking Flash"));
        run.log.write(StrToHex(frame));
        const Exchange e = SendReceive(run, ctrl, frame);
        ShowCtrlStatus(run, ctrl, failureOf(e.result));
        if (!e.ok()) {
            if (!character.fallBackToAt(run.stopRequested))
                break;
            continue;
        }
        // Only the full 13-byte answer carries version and checksum: ask again.
        const std::optional<VersionAnswer> answer = decodeVersionAnswer(e.answer);
        if (!answer) {
            if (askAgain(run, ctrl, asked))
                continue;
            break;
        }
        const QString fileSum = run.form.fileChecksum;
        ShowVersion(run, ctrl, *answer, !fileSum.isEmpty() && !isFileChecksum(answer->checksum, fileSum));
        result = true;
        break;
    }
    run.view.closeProgress();
    return result;
}

} // namespace vantorel
