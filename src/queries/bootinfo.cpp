#include "state/run.h"
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

void ComBootClick(Run &run)
{
    const QList<int> ticked = run.form.ticked;
    run.view.startRun(ticked, 0, false);
    runOperation(run, QStringLiteral("Flash Error"), QStringLiteral("\r\n comBoot_Click"), [&] {
        checkAndOpen(run);
        prepareResultOperation(run, QStringLiteral("Boot Info"));
        for (run.setController(0); run.controller() < kControllers; run.setController(run.controller() + 1)) {
            const int i = run.controller();
            run.view.atController(i);
            ProtocolCharacter character(run.link);
            SpeedSearch search;
            int asked = 0;
            search.atNewSpeed = [&] {
                character.renew();
                asked = 0;
            };
            search.attempt = [&] {
                const QByteArray frame = bootInfoFrame(character.inUse(), i, checkKindFor(run.link.prot4Plus));
                ShowProgress(run, controllerLine(i, QStringLiteral("Checking Boot ")), false);
                run.log.write(QStringLiteral("Message Checking BOOT"));
                run.log.write(StrToHex(frame));
                const Exchange e = SendReceive(run, i, frame);
                ShowCtrlStatus(run, i, failureOf(e.result));
                if (!e.ok())
                    return character.fallBackToAt(run.stopRequested) ? Attempt::SameSpeedAgain : Attempt::NextSpeed;
                // Only the full 13-byte answer carries version and checksum: ask again.
                const std::optional<VersionAnswer> answer = decodeVersionAnswer(e.answer);
                if (!answer)
                    return askAgain(run, i, asked) ? Attempt::SameSpeedAgain : Attempt::NextSpeed;
                ShowVersion(run, i, *answer, false);
                return Attempt::Succeeded;
            };
            search.beforeNextSpeed = [&] { ResetCtrlStatus(run, i); };
            recordCutShort(run, i, searchSpeeds(run, i, search));
        }
        run.view.closeProgress();
    });
    run.view.summarize(QStringLiteral("Boot Info"), false, ticked);
}

} // namespace vantorel
