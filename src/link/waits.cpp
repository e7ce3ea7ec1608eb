#include "link/waits.h"

#include "app/context.h"
#include "platform/clock.h"
#include "platform/desk.h"

#include <QThread>

namespace vantorel {

void pause() { QThread::usleep(500); }

void waitHandlingEvents(Context &ctx, double seconds)
{
    const double start = ctx.clock.seconds();
    do {
        ctx.desk.processEvents();
        pause();
    } while (ctx.clock.seconds() - start <= seconds);
}

void waitWithoutEvents(Context &ctx, double seconds)
{
    const double start = ctx.clock.seconds();
    while (ctx.clock.seconds() - start <= seconds)
        pause();
}

} // namespace vantorel
