#include "run/waits.h"

#include "state/run.h"
#include "platform/clock.h"
#include "platform/desk.h"

#include <QThread>

namespace vantorel {

// Two milliseconds between looks: answers are judged after a settle wait of
// hundreds of milliseconds anyway, and looking much more often (0.5 ms) was
// measured to delay the kernel's delivery of bytes on pseudo-terminals by
// seconds when several lines ran at once.
void pause() { QThread::usleep(2000); }

void waitHandlingEvents(Run &run, double seconds)
{
    const double start = run.clock.seconds();
    do {
        run.desk.processEvents();
        pause();
    } while (run.clock.seconds() - start <= seconds);
}

} // namespace vantorel
