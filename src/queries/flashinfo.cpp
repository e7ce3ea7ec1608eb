#include "state/context.h"
#include "state/resultsummary.h"
#include "run/operation.h"
#include "run/runcheck.h"
#include "run/speedsearch.h"
#include "run/status.h"
#include "platform/serialport.h"
#include "programming/flashcheck.h"
#include "queries/queries.h"

namespace vantorel {

void ComInfoClick(Context &ctx)
{
    MainState &m = ctx.main;
    const QList<int> ticked = m.selectedControllers();
    ctx.message.startRun(ticked);
    runOperation(ctx, QStringLiteral("Flash Error"), QString(), [&] {
        checkAndOpen(ctx);
        prepareResultOperation(ctx, QStringLiteral("Flash Info"));
        for (m.ControllerIndex = 0; m.ControllerIndex < MainState::kControllers; ++m.ControllerIndex) {
            const int i = m.ControllerIndex;
            ctx.message.atController(i);
            SpeedSearch search;
            search.attempt = [&] { return FlashCheck(ctx, i) ? Attempt::Succeeded : Attempt::NextSpeed; };
            search.beforeNextSpeed = [&] { ResetCtrlStatus(ctx, i); };
            recordCutShort(ctx, i, searchSpeeds(ctx, i, search));
        }
        ctx.message.close();
    });
    summarizeRun(ctx, QStringLiteral("Flash Info"), false, ticked);
}

} // namespace vantorel
