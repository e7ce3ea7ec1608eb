#pragma once

#include <QList>
#include <QString>

namespace vantorel {

class Context;
class InfoState;

// What one controller's result row says after a query or download.
enum class RowOutcome {
    Ok,         // an answer, unmarked
    Differs,    // an answer whose checksum is marked as differing from the file's
    Failed,     // a failure mark ("No" / "Answer", "Programmation" / "ERROR" ...)
    NotReached, // empty: the run ended before it
};
RowOutcome rowOutcome(const InfoState &info, int controller);

// The line the result window ends with: the operation, how many of the
// ticked controllers came out well, and which did not and why, e.g.
// "Download (Serial): 3 of 4 controllers programmed and verified; No Answer: 9."
// 'download' words the good ones as programmed and verified, else as answered.
QString resultSummary(const QString &operation, bool download, const QList<int> &ticked, const InfoState &info,
                      bool cancelled, const QString &fault);

// Puts that line into the result window at the end of an operation (when the
// window is still there).
void summarizeRun(Context &ctx, const QString &operation, bool download, const QList<int> &ticked);

} // namespace vantorel
