#include "state/context.h"
#include "state/resultsummary.h"
#include "link/frames.h"
#include "link/exchange.h"
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
        m.ProtocolChar = protocolCharFromText(m.Protocol.text());
        for (m.ControllerIndex = 0; m.ControllerIndex < MainState::kControllers; ++m.ControllerIndex) {
            const int i = m.ControllerIndex;
            ctx.message.atController(i);
            ProtocolCharacter character(m);
            SpeedSearch search;
            int asked = 0;
            search.atNewSpeed = [&] {
                character.renew();
                asked = 0;
            };
            search.attempt = [&] {
                m.CmdFrame = bootInfoFrame(character.inUse(), i, checkKindFor(m.Protocol4Plus.ticked()));
                ShowProgress(ctx, QStringLiteral("Controller ") + QString::number(i) + QStringLiteral(" : Checking Boot "),
                             false);
                ctx.log.write(QStringLiteral("Message Checking BOOT"));
                ctx.log.write(StrToHex(m.CmdFrame));
                const int r = SendReceive(ctx, i, m.CmdFrame, m.AnswerHex, false);
                ShowCtrlStatus(ctx, i, r);
                if (r != ComOk)
                    return character.fallBackToAt() ? Attempt::SameSpeedAgain : Attempt::NextSpeed;
                // Only the full 13-byte answer carries version and checksum: ask again.
                if (m.AnswerHex.size() != kVersionAnswerDigits)
                    return askAgain(ctx, i, asked) ? Attempt::SameSpeedAgain : Attempt::NextSpeed;
                ctx.info.Ver(i).text = answerVersion(m.AnswerHex);
                ctx.info.CkSum(i).text = answerChecksum(m.AnswerHex);
                ctx.info.changed();
                ctx.outcomes[i].answered(ctx.info.ver(i).text, ctx.info.ckSum(i).text, false);
                return Attempt::Succeeded;
            };
            search.beforeNextSpeed = [&] { ResetCtrlStatus(ctx, i); };
            searchSpeeds(ctx, i, search);
        }
        ctx.message.close();
    });
    summarizeRun(ctx, QStringLiteral("Boot Info"), false, ticked);
}

} // namespace vantorel
