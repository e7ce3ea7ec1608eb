#include "run/askagain.h"

#include "state/context.h"
#include "link/exchange.h"
#include "run/status.h"

namespace vantorel {

bool askAgain(Context &ctx, int ctrl, int &asked)
{
    if (++asked < kMaxAsksAtOneSpeed)
        return true;
    ctx.log.write(QStringLiteral("Answer : ") + QString::number(kMaxAsksAtOneSpeed)
                  + QStringLiteral(" answers without version and checksum, no more asking at this speed"));
    ShowCtrlStatus(ctx, ctrl, failureOf(ComCheckFailed));
    return false;
}

} // namespace vantorel
