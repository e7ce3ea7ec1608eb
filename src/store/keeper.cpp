#include "store/keeper.h"

#include <QDir>

#include <chrono>
#include <future>
#include <thread>

namespace vantorel {

QString KeptRun::note() const
{
    QString line;
    if (pending)
        line = QStringLiteral("Results database not reached: %1. This run's records wait in %2 and go to the database "
                              "when it is reached again.").arg(problem, QDir::toNativeSeparators(pendingPath));
    else if (!stored && !problem.isEmpty())
        line = QStringLiteral("This run's records were not kept: %1.").arg(problem);
    if (replayed > 0)
        line += (line.isEmpty() ? QString() : QStringLiteral(" "))
                + QStringLiteral("%1 earlier run(s) that waited in %2 were written to %3.")
                      .arg(replayed).arg(QDir::toNativeSeparators(pendingPath), target);
    if (!replayProblem.isEmpty())
        line += (line.isEmpty() ? QString() : QStringLiteral(" ")) + QStringLiteral("Runs still waiting: ") + replayProblem + QLatin1Char('.');
    return line;
}

void ResultsKeeper::configure(const QString &appDir, const QString &target, const QString &unknown)
{
    pending_.emplace(appDir);
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

bool ResultsKeeper::connect(QString &error)
{
    if (!store_) {
        error = targetProblem_;
        return false;
    }
    return offThread([&] { return store_->open(error); });
}

KeptRun ResultsKeeper::keep(const RunRecord &record, bool replay)
{
    KeptRun k;
    if (!pending_)
        return k; // never configured: a session without a program folder keeps nothing
    k.target = shownTarget();
    k.pendingPath = pendingPath();
    k.stored = store_ ? offThread([&] { return store_->write(record, k.problem); }) : false;
    if (!store_)
        k.problem = targetProblem_;
    if (!k.stored) {
        QString problem;
        k.pending = pending_ && pending_->append(record, problem);
        if (!k.pending)
            k.problem += QStringLiteral("; and ") + problem;
        return k;
    }
    k.problem.clear();
    if (replay && pendingCount() > 0)
        replayPending(k.replayed, k.replayProblem);
    return k;
}

bool ResultsKeeper::replayPending(int &replayed, QString &error)
{
    replayed = 0;
    if (!store_ || !pending_) {
        error = targetProblem_;
        return false;
    }
    return offThread([&] { return pending_->replay(*store_, replayed, error); });
}

} // namespace vantorel
