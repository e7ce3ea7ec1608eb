#pragma once

#include "state/outcome.h"

#include <QList>
#include <QString>

namespace vantorel {

class Context;

// The line the result window ends with: the operation, how many of the
// ticked controllers came out well, and which did not and why, e.g.
// "Download (Serial): 3 of 4 controllers programmed and verified; No Answer: 9."
// 'download' words the good ones as programmed and verified, else as answered.
QString resultSummary(const QString &operation, bool download, const QList<int> &ticked, const Outcomes &outcomes,
                      bool cancelled, const QString &fault);

// Puts that line into the result window at the end of an operation (when the
// window is still there).
void summarizeRun(Context &ctx, const QString &operation, bool download, const QList<int> &ticked);

} // namespace vantorel
