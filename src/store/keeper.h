#pragma once

#include "store/pending.h"
#include "store/resultsstore.h"

#include <QMap>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

namespace vantorel {

// What became of one run's record.
struct KeptRun {
    bool stored = false;  // in the results database
    bool pending = false; // not stored: waiting in the fallback file instead
    QString problem;      // why it was not stored
    QString lostProblem;  // neither stored nor waiting: why the fallback file did not take it
    int replayed = 0;     // runs that had waited, written along with it
    QString replayProblem; // why some meant for this database still wait
    QMap<QString, int> waitingElsewhere; // runs left waiting for another database, by database
    QString target;       // the database, as it may be shown
    QString pendingPath;
    // Where the records are: "database", "pending-file" or "lost" (empty: no record was made).
    QString kept() const;
    // One line for a person: empty when the run was stored and nothing waits.
    QString note() const;
};

// The results database of one station and its fallback file.
class ResultsKeeper {
public:
    // The database work of one run (its record, then the runs that waited)
    // waits this long at most in all, whatever holds it up.
    static constexpr int kBoundMs = 10000;

    // 'target': a URL or a SQLite file (relative to 'appDir'); empty: Results.db in 'appDir'.
    // 'stationDefault': the program folder's own database (Vantorel.ini's, likewise), which
    // fallback lines kept before lines named their database were meant for.
    // 'unknown': why the target could not be learnt; the runs then wait in the fallback file.
    void configure(const QString &appDir, const QString &target, const QString &stationDefault,
                   const QString &unknown = QString());
    // Why the target given cannot be used at all (known without waiting); empty when it can be tried.
    QString targetProblem() const { return targetProblem_; }
    // Writes the run, or else keeps it in the fallback file. 'replay': then
    // writes the runs that waited there for this database too.
    KeptRun keep(const RunRecord &record, bool replay);
    int pendingCount() const { return pending_ ? pending_->count() : 0; }
    // The waiting runs, by the database each is meant for (empty name: damaged lines).
    QMap<QString, int> waiting() const { return pending_ ? pending_->waiting() : QMap<QString, int>(); }
    QString pendingPath() const { return pending_ ? pending_->path() : QString(); }
    // Writes the runs waiting for this database; false with 'error' set when some still wait.
    bool replayPending(int &replayed, QMap<QString, int> &elsewhere, QString &error);
    QString shownTarget() const { return store_ ? store_->target().shown() : QString(); }
    // The database runs are kept in, for a reader of its own (a store object serves one thread);
    // none while targetProblem() says why.
    std::optional<StoreTarget> target() const
    {
        return store_ ? std::optional<StoreTarget>(store_->target()) : std::nullopt;
    }
    // The database runs are kept for, as the fallback file names it.
    QString targetIdentity() const { return store_ ? store_->target().identity() : QString(); }
    // Called again and again while the database is waited for, e.g. so that a window stays drawn.
    std::function<void()> whileWaiting;

private:
    // Runs 'work' on a thread of its own, calling 'whileWaiting' meanwhile.
    bool offThread(const std::function<bool()> &work);

    std::unique_ptr<ResultsStore> store_;
    std::optional<PendingRecords> pending_;
    QString targetProblem_; // the target given could not be read
};

// "2 run(s) for postgresql://... , 1 for ...": the waiting runs of 'byTarget', named.
QString waitingText(const QMap<QString, int> &byTarget);

} // namespace vantorel
