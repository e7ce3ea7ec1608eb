#include "state/run.h"
#include "state/resultsummary.h"
#include "run/operation.h"
#include "run/runcheck.h"
#include "run/speedsearch.h"
#include "run/status.h"
#include "platform/serialport.h"
#include "programming/flashcheck.h"
#include "queries/queries.h"

namespace vantorel {

void ComInfoClick(Run &run)
{
    const QList<int> ticked = run.form.ticked;
    run.view.startRun(ticked);
    runOperation(run, QStringLiteral("Flash Error"), QString(), [&] {
        checkAndOpen(run);
        prepareResultOperation(run, QStringLiteral("Flash Info"));
        for (run.setController(0); run.controller() < kControllers; run.setController(run.controller() + 1)) {
            const int i = run.controller();
            run.view.atController(i);
            SpeedSearch search;
            search.attempt = [&] { return FlashCheck(run, i) ? Attempt::Succeeded : Attempt::NextSpeed; };
            search.beforeNextSpeed = [&] { ResetCtrlStatus(run, i); };
            recordCutShort(run, i, searchSpeeds(run, i, search));
        }
        // Each flash check closed the progress window after its try.
    });
    run.view.summarize(QStringLiteral("Flash Info"), false, ticked);
}

} // namespace vantorel
