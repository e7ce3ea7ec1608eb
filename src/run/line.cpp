#include "run/line.h"

#include "state/run.h"
#include "platform/desk.h"

namespace vantorel {

LineHandle lineOf(Run &run)
{
    return LineHandle{run.port,
                      run.clock,
                      [&run](const QString &line) { run.log.write(line); },
                      [&run] { run.desk.processEvents(); },
                      run.stopRequested,
                      run.link,
                      run.timings.settleDelay,
                      run.outcomes};
}

Exchange SendReceive(Run &run, int ctrl, const QByteArray &frame, bool accept682F)
{
    LineHandle wire = lineOf(run);
    return SendReceive(wire, ctrl, frame, accept682F);
}

Exchange sendAcknowledged(Run &run, int ctrl, const QByteArray &frame, int &resends)
{
    LineHandle wire = lineOf(run);
    return sendAcknowledged(wire, ctrl, frame, resends);
}

} // namespace vantorel
