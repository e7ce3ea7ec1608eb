#include "state/run.h"
#include "state/resultsummary.h"
#include "link/frames.h"
#include "link/exchange.h"
#include "run/line.h"
#include "run/operation.h"
#include "run/runcheck.h"
#include "run/speedsearch.h"
#include "run/status.h"
#include "platform/desk.h"
#include "platform/serialport.h"
#include "queries/queries.h"

namespace vantorel {

void AutoClick(Run &run)
{
    run.view.detecting(true, run.timings.detectionTimeOutMs);
    run.desk.processEvents();

    run.view.message(Picture::Searching, QStringLiteral("Auto Detection in Progress  ..."));
    run.stopRequested = false;
    QList<int> all;
    for (int i = 0; i < kControllers; ++i)
        all << i;
    run.view.startRun(all);

    QList<int> tried;
    QMap<int, QString> found; // with the speed each answered at
    runOperation(run, QStringLiteral("Flash Error"), QString(), [&] {
        checkAndOpen(run, RunNeeds{false, false, run.timings.detectionTimeOutMs});
        for (run.setController(0); run.controller() < kControllers; run.setController(run.controller() + 1)) {
            const int i = run.controller();
            run.view.atController(i);
            SpeedSearch search;
            search.onlyTicked = false;
            int failed = ComOk;
            search.attempt = [&] {
                // Detection always carries the CRC, whatever "Prot 4+" says.
                const QByteArray frame = flashCheckFrame(run.link.protocolChar, i, CheckKind::Crc);
                run.log.write(QStringLiteral("Message : AutoDetection $73"));
                failed = SendReceive(run, i, frame).result;
                return failed == ComOk ? Attempt::Succeeded : Attempt::NextSpeed;
            };
            const SearchResult result = searchSpeeds(run, i, search);
            // Silence at every speed is an empty address; a garbled answer is worth naming.
            recordSearch(run, i, result, failed == ComNoAnswer ? Failure::NotFound : failureOf(failed));
            switch (result) {
            case SearchResult::Found:
                run.view.detected(i, true);
                found.insert(i, QStringLiteral("at ") + QString::number(run.speed()) + QStringLiteral(" Bds"));
                tried << i;
                break;
            case SearchResult::NotFound:
                run.view.detected(i, false);
                tried << i;
                break;
            case SearchResult::Skipped: break;
            }
        }
    });
    if (run.stopRequested)
        markCancelled(run.outcomes, all);
    // Also after a fault: the detection must never leave its settings behind.
    run.view.closeProgress();
    run.view.detecting(false, run.timings.detectionTimeOutMs);
    if (run.end.refused)
        return; // its box said why; nothing was sent
    QList<int> notReached;
    for (const int i : all) {
        if (!tried.contains(i))
            notReached << i;
    }
    const QString fault = run.end.faultNumber ? QStringLiteral("Error # ") + QString::number(*run.end.faultNumber) : QString();
    run.desk.message(QString::fromLatin1(kDefaultTitle),
                     passSummary(QStringLiteral("Auto"), QStringLiteral("answered"), tried, found, notReached, false,
                                 run.stopRequested, fault));
}

} // namespace vantorel
