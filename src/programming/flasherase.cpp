#include "programming/flasherase.h"

#include "state/run.h"
#include "link/exchange.h"
#include "run/line.h"
#include "link/frames.h"
#include "link/protocolchar.h"
#include "link/textcodec.h"
#include "run/status.h"

namespace vantorel {

EraseResult FlashErase(Run &run, int ctrl, bool crcOnly)
{
    ProtocolCharacter character(run.link);
    EraseResult result = EraseResult::NotErased;
    bool again = true;
    // Nothing goes out once Cancel was pressed: a controller it never reached stays untouched.
    while (again && !run.stopRequested) {
        again = false;
        const QByteArray frame = eraseFrame(character.inUse(), ctrl, checkKindFor(run.link.prot4Plus && !crcOnly));
        run.log.write(QStringLiteral("Message : $74"));
        run.log.write(StrToHex(frame));
        int resends = kFrameResends;
        // Whatever comes back, or does not, the controller may erase on
        // hearing it: from here on it is never taken for one left as it was.
        run.outcomes[ctrl].eraseSent();
        const Exchange e = sendAcknowledged(run, ctrl, frame, resends);
        if (!e.ok()) {
            ShowCtrlStatus(run, ctrl, failureOf(e.result));
            again = character.fallBackToAt(run.stopRequested);
        } else if (e.acknowledged()) {
            run.log.write(QStringLiteral("Answer : 61"));
            result = EraseResult::Erased;
            ClearCtrlStatus(run, ctrl);
            run.outcomes[ctrl].justErased();
            ShowProgress(run, controllerLine(ctrl, QStringLiteral("Erasing OK")), false);
        } else {
            run.log.write(QStringLiteral("Answer : Failure 3*E1"));
            ShowCtrlStatus(run, ctrl, Failure::ErasingFailure);
            result = EraseResult::Refused;
        }
    }
    run.view.closeProgress();
    return result;
}

} // namespace vantorel
