#pragma once

#include "store/pending.h"
#include "store/resultsstore.h"

#include <QString>

#include <functional>
#include <memory>
#include <optional>

namespace vantorel {

// What became of one run's record.
struct KeptRun {
    bool stored = false;  // in the results database
    bool pending = false; // not stored: waiting in the fallback file instead
    QString problem;      // why it was not stored (and, without 'pending', why it is in neither)
    int replayed = 0;     // runs that had waited, written along with it
    QString replayProblem; // why some still wait
    QString target;       // the database, as it may be shown
    QString pendingPath;
    // One line for a person: empty when the run was stored and nothing waits.
    QString note() const;
};

// The results database of one station and its fallback file.
class ResultsKeeper {
public:
    // 'target': a URL or a SQLite file (relative to 'appDir'); empty: Results.db in 'appDir'.
    // 'unknown': why the target could not be learnt; the runs then wait in the fallback file.
    void configure(const QString &appDir, const QString &target, const QString &unknown = QString());
    // Connects now, so that a database lost during the run is that run's failure to tell.
    bool connect(QString &error);
    // Writes the run, or else keeps it in the fallback file. 'replay': then
    // writes the runs that waited there too.
    KeptRun keep(const RunRecord &record, bool replay);
    int pendingCount() const { return pending_ ? pending_->count() : 0; }
    QString pendingPath() const { return pending_ ? pending_->path() : QString(); }
    // Writes the waiting runs; false with 'error' set when some still wait.
    bool replayPending(int &replayed, QString &error);
    QString shownTarget() const { return store_ ? store_->target().shown() : QString(); }
    // Called again and again while the database is waited for, e.g. so that a window stays drawn.
    std::function<void()> whileWaiting;

private:
    // Runs 'work' on a thread of its own, calling 'whileWaiting' meanwhile.
    bool offThread(const std::function<bool()> &work);

    std::unique_ptr<ResultsStore> store_;
    std::optional<PendingRecords> pending_;
    QString targetProblem_; // the target given could not be read
};

} // namespace vantorel
