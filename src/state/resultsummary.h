#pragma once

#include "state/outcome.h"

#include <QList>
#include <QMap>
#include <QString>

#include <optional>

namespace vantorel {

class Context;

// The line the result window ends with: the operation, how many of the
// ticked controllers came out well, and which did not and why, e.g.
// "Download (Serial): 3 of 4 controllers programmed and verified; No Answer: 9."
// 'download' words the good ones as programmed and verified, else as answered.
QString resultSummary(const QString &operation, bool download, const QList<int> &ticked, const Outcomes &outcomes,
                      bool stopped, const QString &fault);

// The question asked before the window closes under a running operation,
// naming the controllers a stop would leave without firmware.
QString closingQuestion(const Outcomes &outcomes);
// The question a Cancel asks first while a stop would leave controllers
// without firmware; none while it would not.
std::optional<QString> cancelQuestion(const Outcomes &outcomes);

// Puts that line into the result window at the end of an operation (when the
// window is still there). After a Cancel the ticked controllers never reached
// are recorded as cancelled first.
void summarizeRun(Context &ctx, const QString &operation, bool download, const QList<int> &ticked);

// The line the protocol switches and the detection end with (they show no
// result table), e.g. "3 -> 4: 2 of 3 controllers switched to protocol 4: 1, 2;
// not switched to protocol 4: 5." Of the controllers 'tried', those in 'done'
// came out as 'outcome' says, each with its note (may be empty, e.g. "at 9600
// Bds"); the others are named when 'nameOthers'; 'notReached' were skipped.
QString passSummary(const QString &operation, const QString &outcome, const QList<int> &tried, const QMap<int, QString> &done,
                    const QList<int> &notReached, bool nameOthers, bool cancelled, const QString &fault);

} // namespace vantorel
