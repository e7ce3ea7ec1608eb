#include "run/line.h"

#include "state/context.h"
#include "platform/desk.h"

namespace vantorel {

LineHandle lineOf(Context &ctx)
{
    return LineHandle{ctx.port,
                      ctx.clock,
                      [&ctx](const QString &line) { ctx.log.write(line); },
                      [&ctx] { ctx.desk.processEvents(); },
                      ctx.StopRequested,
                      ctx.link,
                      ctx.timings.settleDelay,
                      ctx.outcomes};
}

Exchange SendReceive(Context &ctx, int ctrl, const QByteArray &frame, bool accept682F)
{
    LineHandle wire = lineOf(ctx);
    return SendReceive(wire, ctrl, frame, accept682F);
}

Exchange sendAcknowledged(Context &ctx, int ctrl, const QByteArray &frame, int &resends)
{
    LineHandle wire = lineOf(ctx);
    return sendAcknowledged(wire, ctrl, frame, resends);
}

} // namespace vantorel
