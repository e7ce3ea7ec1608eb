#pragma once

#include "state/run.h"
#include "state/windowsession.h"
#include "store/keeper.h"

#include <functional>
#include <memory>
#include <optional>

namespace vantorel {

// One run of the tool: the context with every reaction wired, whichever
// front-end (window, command line, test) drives it.
class Session {
public:
    Session(SerialPort &port, Desk &desk, const Clock &clock);

    // The windows' states: the window's views and tests work on them.
    Context &context() { return *ctx_; }
    MainState &main();

    // What a front end without windows needs of them, as values.
    SettingsForm form() const;
    void edit(const FormEdits &edits);
    Timings &timings();
    Log &log();
    const RunEnd &lastRun() const;
    bool cancelRequested() const;
    // The progress window's Cancel.
    void cancel();
    ProgressShown progressShown() const;
    // The result window's rows (none when it was not opened).
    QMap<int, ShownRow> shownRows() const;
    // Told each time the progress window changes.
    void watchProgress(const std::function<void()> &changed);

    // Start-up in the program folder (findAppDir() when empty).
    // 'logName': the log's name without ".txt" (a station's lines each keep their own).
    void startUp(const QString &appDir = QString(), const QString &logName = QStringLiteral("Log"));
    // Closing steps; false when the configuration could not be saved.
    bool shutDown();

    // The operation buttons. While one operation runs, a press of another is
    // ignored (false): the events a running operation lets through must not
    // start a second one on the same port and controller counter.
    using Operation = vantorel::Operation;
    // After a run that was not refused, its record goes to the results
    // database (lastKept() says whether it got there).
    bool run(Operation operation);
    bool busy() const { return busy_; }

    // Buttons of the main window that belong to no operation. Choosing or
    // dropping a file is ignored while an operation runs.
    void browse();
    // A file dropped on the window.
    void dropFile(const QString &path);
    // All and None; ignored while an operation runs, like every edit.
    void selectAll();
    void selectNone();

    // Told when an operation starts (true) and ends (false), so a window can
    // lock its input meanwhile.
    std::function<void(bool)> onBusyChanged;

    // The results database: Vantorel.ini's (Results/Database) from start-up
    // on, or this one (a URL or SQLite file; empty: Results.db in the program folder).
    void setResultsDatabase(const QString &target);
    ResultsKeeper &results() { return keeper_; }
    // Each run that reaches the database also writes the runs that waited in
    // the fallback file (the command line; the window asks first).
    bool replayAfterEachRun = false;
    // The unit or serial number of each controller, kept in its record (the command line's --unit).
    QMap<int, QString> units;
    // The station run this run is one line of, kept in its record (the command line's --station-run); empty: none.
    QString stationRun;
    // The last run as recorded, and what became of its record.
    const RunRecord &lastRecord() const { return lastRecord_; }
    const KeptRun &lastKept() const { return lastKept_; }
    // Told after each run's record was kept (or not).
    std::function<void(const KeptRun &)> onKept;
    // Runs waiting in the fallback file: asks (the desk) whether to write
    // them to the database now, and does. The window calls it at its start;
    // after a run that reached the database it is asked again until declined.
    void offerReplay();

private:
    Desk &desk_;
    ContextHandle ctx_;
    bool busy_ = false;
    ResultsKeeper keeper_;
    RunRecord lastRecord_;
    KeptRun lastKept_;
    bool replayDeclined_ = false;
};

} // namespace vantorel
