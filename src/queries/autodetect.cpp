#include "state/context.h"
#include "link/frames.h"
#include "link/exchange.h"
#include "run/operation.h"
#include "run/runcheck.h"
#include "run/speedsearch.h"
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

    runOperation(ctx, QStringLiteral("Flash Error"), QString(), [&] {
        checkAndOpen(ctx);
        for (m.ControllerIndex = 0; m.ControllerIndex < MainState::kControllers; ++m.ControllerIndex) {
            const int i = m.ControllerIndex;
            msg.atController(i);
            SpeedSearch search;
            search.onlyTicked = false;
            search.attempt = [&] {
                // Detection always carries the CRC, whatever "Prot 4+" says.
                const QByteArray frame = flashCheckFrame(ctx.link.protocolChar, i, CheckKind::Crc);
                ctx.log.write(QStringLiteral("Message : AutoDetection $73"));
                return SendReceive(ctx, i, frame).ok() ? Attempt::Succeeded : Attempt::NextSpeed;
            };
            switch (searchSpeeds(ctx, i, search)) {
            case SearchResult::Found: m.C[i].setValue(1); break;
            case SearchResult::NotFound: m.C[i].setValue(0); break;
            case SearchResult::Skipped: break;
            }
        }
    });
    // Also after a fault: the detection must never leave its settings behind.
    msg.close();
    m.Auto.setEnabled(true);
    m.Text1.setText(text1);
    m.Vitesse.setText(vitesse);
}

} // namespace vantorel
