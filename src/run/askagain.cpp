#include "run/askagain.h"

#include "state/run.h"
#include "link/exchange.h"
#include "run/status.h"

namespace vantorel {

bool askAgain(Run &run, int ctrl, int &asked)
{
    if (++asked < kMaxAsksAtOneSpeed)
        return true;
    run.log.write(QStringLiteral("Answer : ") + QString::number(kMaxAsksAtOneSpeed)
                  + QStringLiteral(" answers without version and checksum, no more asking at this speed"));
    ShowCtrlStatus(run, ctrl, failureOf(ComCheckFailed));
    return false;
}

} // namespace vantorel
