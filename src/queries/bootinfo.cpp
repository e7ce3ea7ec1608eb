#include "state/context.h"
#include "state/resultsummary.h"
#include "link/frames.h"
#include "link/exchange.h"
#include "run/line.h"
#include "run/askagain.h"
#include "run/operation.h"
#include "run/runcheck.h"
#include "link/protocolchar.h"
#include "run/speedsearch.h"
#include "run/status.h"
#include "link/textcodec.h"
#include "platform/serialport.h"
#include "queries/queries.h"

namespace vantorel {

void ComBootClick(Context &ctx)
{
    MainState &m = ctx.main;
    const QList<int> ticked = m.selectedControllers();
    ctx.message.startRun(ticked);
    runOperation(ctx, QStringLiteral("Flash Error"), QStringLiteral("\r\n comBoot_Click"), [&] {
        checkAndOpen(ctx);
        prepareResultOperation(ctx, QStringLiteral("Boot Info"));
        for (m.ControllerIndex = 0; m.ControllerIndex < MainState::kControllers; ++m.ControllerIndex) {
            const int i = m.ControllerIndex;
            ctx.message.atController(i);
            ProtocolCharacter character(ctx.link);
            SpeedSearch search;
            int asked = 0;
            search.atNewSpeed = [&] {
                character.renew();
                asked = 0;
            };
            search.attempt = [&] {
                const QByteArray frame = bootInfoFrame(character.inUse(), i, checkKindFor(ctx.link.prot4Plus));
                ShowProgress(ctx, controllerLine(i, QStringLiteral("Checking Boot ")), false);
                ctx.log.write(QStringLiteral("Message Checking BOOT"));
                ctx.log.write(StrToHex(frame));
                const Exchange e = SendReceive(ctx, i, frame);
                ShowCtrlStatus(ctx, i, failureOf(e.result));
                if (!e.ok())
                    return character.fallBackToAt(ctx.StopRequested) ? Attempt::SameSpeedAgain : Attempt::NextSpeed;
                // Only the full 13-byte answer carries version and checksum: ask again.
                const std::optional<VersionAnswer> answer = decodeVersionAnswer(e.answer);
                if (!answer)
                    return askAgain(ctx, i, asked) ? Attempt::SameSpeedAgain : Attempt::NextSpeed;
                ShowVersion(ctx, i, *answer, false);
                return Attempt::Succeeded;
            };
            search.beforeNextSpeed = [&] { ResetCtrlStatus(ctx, i); };
            recordCutShort(ctx, i, searchSpeeds(ctx, i, search));
        }
        ctx.message.close();
    });
    summarizeRun(ctx, QStringLiteral("Boot Info"), false, ticked);
}

} // namespace vantorel
