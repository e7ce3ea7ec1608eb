#include "state/context.h"
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

void AutoClick(Context &ctx)
{
    MainState &m = ctx.main;
    const QString text1 = m.Text1.text();
    const QString vitesse = m.Vitesse.text();
    m.Auto.setEnabled(false);
    m.Text1.setText(QString::number(ctx.timings.detectionTimeOutMs));
    ctx.desk.processEvents();

    MessageState &msg = ctx.message;
    msg.showOnly(msg.Jumelle);
    msg.Label1.setText(QStringLiteral("Auto Detection in Progress  ..."));
    msg.show();
    ctx.StopRequested = false;
    QList<int> all;
    for (int i = 0; i < MainState::kControllers; ++i)
        all << i;
    msg.startRun(all);

    QList<int> tried;
    QMap<int, QString> found; // with the speed each answered at
    runOperation(ctx, QStringLiteral("Flash Error"), QString(), [&] {
        checkAndOpen(ctx);
        for (m.ControllerIndex = 0; m.ControllerIndex < MainState::kControllers; ++m.ControllerIndex) {
            const int i = m.ControllerIndex;
            msg.atController(i);
            SpeedSearch search;
            search.onlyTicked = false;
            int failed = ComOk;
            search.attempt = [&] {
                // Detection always carries the CRC, whatever "Prot 4+" says.
                const QByteArray frame = flashCheckFrame(ctx.link.protocolChar, i, CheckKind::Crc);
                ctx.log.write(QStringLiteral("Message : AutoDetection $73"));
                failed = SendReceive(ctx, i, frame).result;
                return failed == ComOk ? Attempt::Succeeded : Attempt::NextSpeed;
            };
            const SearchResult result = searchSpeeds(ctx, i, search);
            // Silence at every speed is an empty address; a garbled answer is worth naming.
            recordSearch(ctx, i, result, failed == ComNoAnswer ? Failure::NotFound : failureOf(failed));
            switch (result) {
            case SearchResult::Found:
                m.C[i].setValue(1);
                found.insert(i, QStringLiteral("at ") + m.Vitesse.text() + QStringLiteral(" Bds"));
                tried << i;
                break;
            case SearchResult::NotFound:
                m.C[i].setValue(0);
                tried << i;
                break;
            case SearchResult::Skipped: break;
            }
        }
    });
    if (ctx.StopRequested)
        markCancelled(ctx.outcomes, all);
    // Also after a fault: the detection must never leave its settings behind.
    msg.close();
    m.Auto.setEnabled(true);
    m.Text1.setText(text1);
    m.Vitesse.setText(vitesse);
    if (ctx.lastRefused)
        return; // its box said why; nothing was sent
    QList<int> notReached;
    for (const int i : all) {
        if (!tried.contains(i))
            notReached << i;
    }
    const QString fault = ctx.lastFaultNumber ? QStringLiteral("Error # ") + QString::number(*ctx.lastFaultNumber) : QString();
    ctx.desk.message(QString::fromLatin1(kDefaultTitle),
                     passSummary(QStringLiteral("Auto"), QStringLiteral("answered"), tried, found, notReached, false,
                                 ctx.StopRequested, fault));
}

} // namespace vantorel
