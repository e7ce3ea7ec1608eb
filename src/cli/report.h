#pragma once

#include "store/runrecord.h"

#include <QByteArray>
#include <QDateTime>
#include <QJsonObject>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

#include <array>
#include <optional>

namespace vantorel {

struct RunEnd;
struct SettingsForm;
struct ShownRow;

// The exit statuses of vantorel-cli, as --help lists them.
enum ExitStatus { ExitOk = 0, ExitFailed = 1, ExitUsage = 2, ExitPort = 3, ExitCancelled = 4, ExitFault = 5 };

// How a run ended: the JSON "status" and the exit status go together.
struct Verdict {
    QString status = QStringLiteral("ok"); // "ok", "failed", "cancelled" or "error"
    int exit = ExitOk;
};

// The one place that turns what an operation left behind into a verdict.
// 'refused': the check before the run refused it (nothing went on the line);
// 'fault': the fault that refused or ended the run; 'allOk': every listed
// controller passed.
Verdict judgeRun(bool refused, std::optional<int> fault, bool cancelled, bool allOk);
// The JSON status that goes with an exit status.
QString statusOf(int exit);
// A station's verdict, its worst line's: an error before a cancel before a failure before ok.
Verdict worstOf(const QList<int> &exits);

// What one controller's row says after an operation: its record (with the
// --unit ID), and what the result window's two boxes showed of it.
struct ControllerReport {
    ControllerRecord record;
    QString shownVer;
    QString shownCksum;
    bool marked = false;

    int id() const { return record.number; }
    // "ok", "mismatch" or "failed".
    QString result() const { return resultOf(record.outcome); }
    // "failed: No Answer", as the CSV's outcome column and the text table say it.
    QString outcomeText() const;
};

struct RunReport {
    QDateTime started;
    QString operation;
    QString port;
    QString line; // the station's line it ran on; empty for a run on one line
    QString file;
    QString fileChecksum;
    QJsonObject settings; // as the run took them at its start
    QString speed;        // the boxes after the run (a download takes on its image's)
    QString protocol;
    bool prot4Plus = false;
    QList<int> selected;
    QList<ControllerReport> controllers;
    Verdict verdict;
    std::optional<int> errorNumber;
    QString errorText; // empty: no error
    QStringList warnings; // what did not stop the run but should be known (a file's wrong record checksums)
    QJsonObject store;    // what became of the run's record in the results database; empty: none was made
    int okCount() const;

    bool allOk() const;
    QString toText() const;
    // One CSV row per listed controller, each ended by the platform's line end.
    // Without 'unitColumn': the columns of a file begun before there was one.
    QByteArray csvRows(bool unitColumn = true) const;
};

// RFC 4180: a field with a comma, quote or line break is quoted, quotes doubled. One beginning
// with = + - @, a tab or a CR gets a leading apostrophe, so a spreadsheet shows it instead of
// running it as a formula.
QByteArray csvField(const QString &text);

// The header row of csvRows(), ended as its rows are. New columns only ever go
// after the last: stations' scripts read the columns by position.
QByteArray csvHeader(bool unitColumn = true);

// The run as the session recorded it, with what the result window showed and
// the --unit IDs, judged. 'after': the boxes as the run left them; 'end': how it ended.
RunReport makeReport(const RunRecord &record, const SettingsForm &after, const RunEnd &end, bool cancelled,
                     const QMap<int, ShownRow> &shown, const QDateTime &started, const QMap<int, QString> &units = {});

} // namespace vantorel
