#pragma once

#include <QString>

#include <functional>

namespace vantorel {

class Run;

// The start the queries and downloads share: the 32 result rows back to
// normal letters, the stop request cleared, the result window prepared under
// 'title' and shown.
void prepareResultOperation(Run &run, const QString &title);

// Selects the port named in ComPort (through Ports.ini) and opens it.
void openPort(Run &run);

// The one boundary of an operation: a Fault raised anywhere under it ends the
// operation with one modal box titled 'title' ("Error # " + number, CR,
// description, then 'suffix'). The port is closed on every way out, so an
// error never blocks the operations that follow; the fault is kept in run.end.
void runOperation(Run &run, const QString &title, const QString &suffix, const std::function<void()> &body);

// One step of an operation that carries on after a fault: the box is shown
// under 'title' and the step is over. A lost or unusable port is not carried
// on from: every later step would fail the same way, so it still ends the
// operation (rethrown to its boundary).
void carryOn(Run &run, const QString &title, const std::function<void()> &step);

} // namespace vantorel
