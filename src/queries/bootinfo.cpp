#include "state/run.h"
#include "state/resultsummary.h"
#include "link/frames.h"
#include "run/askagain.h"
#include "run/operation.h"
#include "run/runcheck.h"
#include "link/protocolchar.h"
#include "run/speedsearch.h"
#include "run/status.h"
#include "platform/serialport.h"
#include "queries/queries.h"

namespace vantorel {

void ComBootClick(Run &run)
{
    const QList<int> ticked = run.form.ticked;
    run.view.startRun(ticked);
    const VersionQuery query{bootInfoFrame, QStringLiteral("Checking Boot "), QStringLiteral("Message Checking BOOT")};
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
                std::optional<VersionAnswer> answer;
                switch (askVersion(run, i, query, character, asked, answer)) {
                case Asked::Again: return Attempt::SameSpeedAgain;
                case Asked::GiveUp: return Attempt::NextSpeed;
                case Asked::Answered: break;
                }
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
