#pragma once

#include "cli/report.h"

#include <QJsonObject>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

#include <optional>

namespace vantorel {

class Options;
struct Command;

// One serial line of a station, as --line and --unit PORT:N=ID give it.
struct StationLine {
    QString port;                       // as the Com Port box takes it
    std::optional<QList<int>> controllers; // its own; none: --controllers (or Flash.cfg) for every line
    QStringList units; // "N=ID", as a worker's --unit takes them
};

// The lines of --line, each with its --unit IDs; refused (Usage) when a line or
// a unit cannot be told apart, or when an option keeps one line's state only.
QList<StationLine> stationLines(const Options &o);

// The arguments of the worker that runs 'line': the options given, less those
// of the station, with the line's own port, controllers and units.
QStringList workerArguments(const Options &o, const Command &command, const StationLine &line, const QString &stationRun);

// What a line's worker left: its report, or why there is none.
struct LineResult {
    QString port;
    int exit = 0;
    QJsonObject document;           // its JSON: a run's report or a refusal; empty when it printed none
    std::optional<RunReport> report; // the run's report, read back from the document
    QString problem;                // why the worker ended without a report
};

// The worst of the lines' ends: an error before a cancel before a failure.
Verdict worstOf(const QList<LineResult> &lines);
// A worker's run report read back from its JSON; none for a refusal.
// The station's report as text: each line's table (its rows naming the line), then a summary per line and in all.
QString stationText(const QList<LineResult> &lines, const Verdict &verdict);

// The log's file name (without ".txt") of a station's line: Log-ttyUSB0.
QString lineLogName(const QString &port);

// Runs the command on every line at once, one worker process each, and
// prints one report. Returns the exit status.
int runStation(const Options &o, const Command &command);

// In a worker: tells the station it is ready to send, and waits for its word.
// Throws Usage when the station calls the run off (another line was refused).
void awaitStationStart();

} // namespace vantorel
