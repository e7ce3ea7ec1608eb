#include "store/keeper.h"

#include <QDir>
#include <QStringList>

#include <chrono>
#include <future>
#include <thread>

namespace vantorel {

namespace {
// What the fallback file names a run's database by when the setting given could not be read.
const QString kUnreadableTarget = QStringLiteral("(a results database setting that could not be read)");
} // namespace

QString waitingText(const QMap<QString, int> &byTarget)
{
    QStringList parts;
    for (auto it = byTarget.cbegin(); it != byTarget.cend(); ++it)
        parts << (it.key().isEmpty() ? QStringLiteral("%1 damaged line(s)").arg(it.value())
                                     : QStringLiteral("%1 run(s) for %2").arg(it.value()).arg(it.key()));
    return parts.join(QStringLiteral(", "));
}

QString KeptRun::kept() const
{
    if (stored)
        return QStringLiteral("database");
    if (pending)
        return QStringLiteral("pending-file");
    return problem.isEmpty() && lostProblem.isEmpty() ? QString() : QStringLiteral("lost");
}

QString KeptRun::note() const
{
    QStringList lines;
    const QString file = QDir::toNativeSeparators(pendingPath);
    if (pending)
        lines << QStringLiteral("Results database not reached: %1. This run's records wait in %2 and go to the database "
                                "when it is reached again.").arg(problem, file);
    else if (!stored && !lostProblem.isEmpty())
        lines << QStringLiteral("Results database not reached: %1. This run's records are lost: %2.").arg(problem, lostProblem);
    else if (!stored && !problem.isEmpty())
        lines << QStringLiteral("This run's records were not kept: %1.").arg(problem);
    if (replayed > 0)
        lines << QStringLiteral("%1 earlier run(s) that waited in %2 were written to %3.").arg(replayed).arg(file, target);
    if (!replayProblem.isEmpty())
        lines << QStringLiteral("Runs still waiting: ") + replayProblem + QLatin1Char('.');
    if (!waitingElsewhere.isEmpty())
        lines << QStringLiteral("Left waiting in %1 for the database each was meant for: %2.").arg(file, waitingText(waitingElsewhere));
    return lines.join(QLatin1Char(' '));
}

void ResultsKeeper::configure(const QString &appDir, const QString &target, const QString &stationDefault,
                              const QString &unknown)
{
    StoreTarget own;
    QString unused;
    const bool ownRead = StoreTarget::parse(stationDefault.isEmpty() ? QStringLiteral("Results.db") : stationDefault,
                                            appDir, own, unused);
    pending_.emplace(appDir, ownRead ? own.identity() : kUnreadableTarget);
    store_.reset();
    targetProblem_.clear();
    // Not Results.db in its stead: the runs would be kept where nobody looks for them.
    if (!unknown.isEmpty()) {
        targetProblem_ = QStringLiteral("the results database is not known (%1)").arg(unknown);
        return;
    }
    StoreTarget t;
    if (StoreTarget::parse(target.isEmpty() ? QStringLiteral("Results.db") : target, appDir, t, targetProblem_))
        store_ = std::make_unique<ResultsStore>(t);
}

bool ResultsKeeper::offThread(const std::function<bool()> &work)
{
    // A server that cannot be reached keeps the connection attempt waiting up
    // to its time-out. Qt's SQL connections belong to the thread that made
    // them, so each piece of work makes its own there and closes it.
    std::packaged_task<bool()> task([&] {
        const bool done = work();
        store_->close();
        return done;
    });
    std::future<bool> done = task.get_future();
    std::thread worker(std::move(task));
    bool pumping = static_cast<bool>(whileWaiting);
    while (done.wait_for(std::chrono::milliseconds(10)) != std::future_status::ready) {
        if (!pumping)
            continue;
        try {
            whileWaiting();
        } catch (...) {
            // The window's own fault, told by its run already: the records
            // still go where they belong, and the worker is always joined.
            pumping = false;
        }
    }
    worker.join();
    return done.get();
}

KeptRun ResultsKeeper::keep(const RunRecord &record, bool replay)
{
    KeptRun k;
    if (!pending_)
        return k; // never configured: a session without a program folder keeps nothing
    k.target = shownTarget();
    k.pendingPath = pendingPath();
    if (store_) {
        store_->setDeadline(QDeadlineTimer(kBoundMs));
        k.stored = offThread([&] { return store_->write(record, k.problem); });
    } else {
        k.problem = targetProblem_;
    }
    if (!k.stored) {
        QString problem;
        k.pending = pending_->append(record, store_ ? targetIdentity() : kUnreadableTarget, problem);
        if (!k.pending)
            k.lostProblem = problem;
    } else if (k.problem.clear(); replay && pendingCount() > 0) {
        offThread([&] { return pending_->replay(*store_, k.replayed, k.waitingElsewhere, k.replayProblem); });
    }
    if (store_)
        store_->setDeadline(QDeadlineTimer(QDeadlineTimer::Forever));
    return k;
}

bool ResultsKeeper::replayPending(int &replayed, QMap<QString, int> &elsewhere, QString &error)
{
    replayed = 0;
    elsewhere.clear();
    if (!store_ || !pending_) {
        error = targetProblem_;
        return false;
    }
    store_->setDeadline(QDeadlineTimer(kBoundMs));
    const bool all = offThread([&] { return pending_->replay(*store_, replayed, elsewhere, error); });
    store_->setDeadline(QDeadlineTimer(QDeadlineTimer::Forever));
    return all;
}

} // namespace vantorel
