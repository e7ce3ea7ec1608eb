#include "run/askagain.h"

#include "state/run.h"
#include "link/exchange.h"
#include "link/protocolchar.h"
#include "link/textcodec.h"
#include "run/line.h"
#include "run/status.h"

namespace vantorel {

bool askAgain(Run &run, int ctrl, int &asked)
{
    if (++asked < kMaxAsksAtOneSpeed)
        return true;
    run.log.write(QStringLiteral("Answer : ") + QString::number(kMaxAsksAtOneSpeed)
                  + QStringLiteral(" answers without version and checksum, no more asking at this speed"));
    ShowCtrlStatus(run, ctrl, failureOf(ComCheckFailed));
    return false;
}

Asked askVersion(Run &run, int ctrl, const VersionQuery &query, ProtocolCharacter &character, int &asked,
                 std::optional<VersionAnswer> &answer)
{
    const QByteArray frame = query.frame(character.inUse(), ctrl, checkKindFor(run.link.prot4Plus));
    ShowProgress(run, controllerLine(ctrl, query.doing), false);
    run.log.write(query.message);
    run.log.write(StrToHex(frame));
    const Exchange e = SendReceive(run, ctrl, frame);
    ShowCtrlStatus(run, ctrl, failureOf(e.result));
    if (!e.ok())
        return character.fallBackToAt(run.stopRequested) ? Asked::Again : Asked::GiveUp;
    // Only the full 13-byte answer carries version and checksum: ask again.
    answer = decodeVersionAnswer(e.answer);
    if (!answer)
        return askAgain(run, ctrl, asked) ? Asked::Again : Asked::GiveUp;
    return Asked::Answered;
}

} // namespace vantorel
