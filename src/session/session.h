#pragma once

#include "state/context.h"
#include "store/keeper.h"

#include <functional>

namespace vantorel {

// One run of the tool: the context with every reaction wired, whichever
// front-end (window, command line, test) drives it.
class Session {
public:
    Session(SerialPort &port, Desk &desk, const Clock &clock);

    Context &context() { return ctx_; }
    MainState &main() { return ctx_.main; }

    // Start-up in the program folder (findAppDir() when empty).
    void startUp(const QString &appDir = QString());
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
    Context ctx_;
    bool busy_ = false;
    ResultsKeeper keeper_;
    RunRecord lastRecord_;
    KeptRun lastKept_;
    bool replayDeclined_ = false;
};

} // namespace vantorel
