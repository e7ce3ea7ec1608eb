#include "state/messagestate.h"

#include "platform/clock.h"

#include <QStringList>

namespace vantorel {

MessageState::MessageState()
{
    Inquiet.setVisible(false);
    Stop.setVisible(false);
    Jumelle.setVisible(false);
}

void MessageState::touch()
{
    if (exists_)
        return;
    exists_ = true;
    shown_ = false;
    Label1.setText(QString());
    Inquiet.setVisible(false);
    Stop.setVisible(false);
    Jumelle.setVisible(false);
    batchesTotal = 0;
    batchesSent = 0;
    updated();
}

void MessageState::show()
{
    touch();
    if (shown_)
        return;
    shown_ = true;
    updated();
}

void MessageState::close()
{
    if (!exists_)
        return;
    exists_ = false;
    shown_ = false;
    updated();
}

void MessageState::cancel()
{
    stopping_ = true;
    if (onCancel)
        onCancel();
    close();
}

void MessageState::showOnly(Control &picture)
{
    touch();
    Inquiet.setVisible(&picture == &Inquiet);
    Stop.setVisible(&picture == &Stop);
    Jumelle.setVisible(&picture == &Jumelle);
}

void MessageState::setProgress(int sent, int total)
{
    touch();
    batchesSent = sent;
    batchesTotal = total;
    if (run_.active) {
        run_.sent = sent;
        run_.stepAt = now();
        run_.programming = true;
        // After the broadcast the controllers are taken in hand again, for their checks.
        if (run_.broadcast && sent >= run_.batches)
            run_.position = 0;
    }
    updated();
}

void MessageState::startRun(const QList<int> &controllers, int batches, bool broadcast)
{
    run_ = Run{};
    run_.active = true;
    run_.controllers = controllers;
    run_.batches = qMax(0, batches);
    run_.broadcast = broadcast;
    run_.startedAt = run_.stepAt = now();
    stopping_ = false;
    place.reset();
    updated();
}

void MessageState::atController(int number)
{
    const qsizetype at = run_.controllers.indexOf(number);
    if (!run_.active || at < 0)
        return;
    if (!run_.broadcast && run_.position != at + 1) {
        run_.sent = 0;
        run_.programming = false;
    }
    run_.position = static_cast<int>(at) + 1;
    run_.stepAt = now();
    updated();
}

void MessageState::endRun()
{
    run_ = Run{};
    stopping_ = false;
    updated();
}

void MessageState::planLine(const LinePlan &plan)
{
    if (!run_.active)
        return;
    run_.plan = plan;
    updated();
}

void MessageState::searching(const SearchOutlook &outlook)
{
    if (!run_.active)
        return;
    run_.search = outlook;
    run_.speedAt = now();
    updated();
}

void MessageState::leaveOut(int number)
{
    const qsizetype at = run_.controllers.indexOf(number);
    if (run_.active && at >= 0)
        run_.leftOut.insert(at);
}

double MessageState::searchCost(qsizetype k, bool checks) const
{
    const LinePlan &p = *run_.plan;
    const SearchOutlook &o = run_.search;
    const qsizetype after = k - run_.position; // places after the one in hand
    const bool current = run_.position > 0 && o.controller == run_.controllers[run_.position - 1] && run_.speedAt >= run_.stepAt;
    if (current && o.checking == checks && after >= 0 && after < o.later.size())
        return o.later[after] * p.silentSpeed;
    const QList<double> &silent = checks ? p.silentChecks : p.silentSpeeds;
    return (k < silent.size() ? silent[k] : 0.0) * p.silentSpeed;
}

double MessageState::searchLeft(double found, bool checks, bool &runEnds) const
{
    const LinePlan &p = *run_.plan;
    const double t = now();
    const int at = run_.position;
    const SearchOutlook &o = run_.search;
    runEnds = false;
    // Before its search has told where it stands: the whole expected search.
    if (o.controller != run_.controllers[at - 1] || run_.speedAt < run_.stepAt)
        return qMax(0.0, searchCost(at - 1, checks) + found - (t - run_.stepAt));
    const double spent = t - run_.speedAt;
    if (spent < p.silenceSure)
        return qMax(0.0, o.silentHere * p.silentSpeed + found - spent);
    // No answer in its first try: this speed is spent in full,
    // and after the last one the boot program's try as well.
    if (!o.last)
        return qMax(0.0, p.silentSpeed - spent) + o.silentAfter * p.silentSpeed + found;
    runEnds = o.endsRun;
    return qMax(0.0, (o.bootTry ? 2 : 1) * p.silentSpeed - spent);
}

std::optional<double> MessageState::secondsLeft() const
{
    if (!run_.active || !run_.plan)
        return std::nullopt;
    const LinePlan &p = *run_.plan;
    const double erase = lineSeconds(p.eraseBytes, p.line) + p.answerWait;
    const double checksum = lineSeconds(p.checksumBytes, p.bootLine) + p.answerWait;
    const double check = lineSeconds(p.checkBytes, p.line) + p.answerWait;
    // Batches from 'first' (0-based) to the last: answered one by one, or
    // broadcast, each then carried by the line before its delay starts.
    auto batches = [&](qsizetype first) {
        double sum = 0;
        for (qsizetype k = first; k < p.batchBytes.size(); ++k)
            sum += run_.broadcast ? lineSeconds(p.batchBytes[k], p.bootLine) + p.broadcastDelay
                                  : lineSeconds(p.batchBytes[k] + p.batchAnswerBytes, p.bootLine) + p.answerWait;
        return sum;
    };
    const double t = now();
    const int n = static_cast<int>(run_.controllers.size());
    const int at = run_.position;
    const int sent = qMin(run_.sent, static_cast<int>(p.batchBytes.size()));
    // The step in hand costs what it costs less the time it has had; the steps after it in full.
    auto stepLeft = [&](double cost) { return qMax(0.0, cost - (t - run_.stepAt)); };
    // The erase searches from place 'first' (0-based) to the last.
    auto searches = [&](qsizetype first) {
        double sum = 0;
        for (qsizetype k = first; k < n; ++k)
            sum += searchCost(k, false);
        return sum;
    };
    bool runEnds = false;
    if (!run_.broadcast) {
        const double whole = erase + batches(0) + checksum + check;
        if (at == 0)
            return n * whole + searches(0);
        const double after = (n - at) * whole + searches(at);
        if (!run_.programming) {
            const double left = searchLeft(erase, false, runEnds);
            return runEnds ? left : left + batches(0) + checksum + check + after;
        }
        if (sent < p.batchBytes.size())
            return stepLeft(batches(sent) - batches(sent + 1)) + batches(sent + 1) + checksum + check + after;
        return stepLeft(checksum + check) + after;
    }
    // After the broadcast each controller still in the run is checked, each
    // check searching from where the one before found its controller.
    const int kept = n - static_cast<int>(run_.leftOut.size());
    auto checks = [&](qsizetype first) {
        double sum = 0;
        for (qsizetype k = first; k < n; ++k)
            sum += run_.leftOut.contains(k) ? 0.0 : check + searchCost(k, true);
        return sum;
    };
    if (!run_.programming) {
        const double inHand = at == 0 ? 0.0 : searchLeft(erase, false, runEnds);
        if (runEnds)
            return inHand;
        return inHand + (n - at) * erase + searches(at) + batches(0) + kept * checksum + checks(0);
    }
    if (sent < p.batchBytes.size())
        return stepLeft(batches(sent) - batches(sent + 1)) + batches(sent + 1) + kept * checksum + checks(0);
    if (at == 0) // the full checksums
        return stepLeft(kept * checksum) + checks(0);
    return searchLeft(check, true, runEnds) + checks(at);
}

double MessageState::now() const { return clock ? clock->seconds() : 0.0; }

std::pair<int, int> MessageState::work() const
{
    const int n = static_cast<int>(run_.controllers.size());
    const int before = qMax(0, run_.position - 1); // controllers finished in this pass
    const int sent = qMin(run_.sent, run_.batches);
    if (run_.batches == 0)
        return {before, n};
    if (!run_.broadcast)
        return {before * run_.batches + sent, n * run_.batches};
    // Erase each, one broadcast, check each: one unit per controller and per batch.
    if (sent == 0)
        return {before, 2 * n + run_.batches};
    if (sent < run_.batches)
        return {n + sent, 2 * n + run_.batches};
    return {n + run_.batches + before, 2 * n + run_.batches};
}

int MessageState::percent() const
{
    const auto [done, total] = work();
    return total > 0 ? static_cast<int>(100LL * done / total) : 0;
}

QString MessageState::runLine() const
{
    if (!run_.active)
        return QString();
    const QString dot = QStringLiteral(" \u00B7 ");
    const int n = static_cast<int>(run_.controllers.size());
    QStringList parts;
    if (run_.broadcast && run_.sent > 0 && run_.sent < run_.batches)
        parts << QStringLiteral("All %1 controllers at once").arg(n);
    else if (run_.position > 0)
        // The address first, as in the step above it; the place in the run after it, so
        // neither is read as the other.
        parts << QStringLiteral("Controller %1 (%2 of %3)").arg(run_.controllers[run_.position - 1]).arg(run_.position).arg(n);
    if (run_.batches > 0 && run_.sent > 0)
        parts << QStringLiteral("%1 of %2 batches sent").arg(qMin(run_.sent, run_.batches)).arg(run_.batches);
    parts << QStringLiteral("%1 %").arg(percent());
    parts << clockText(now() - run_.startedAt) + QStringLiteral(" elapsed");
    if (const std::optional<double> left = secondsLeft())
        parts << QStringLiteral("about ") + clockText(*left) + QStringLiteral(" left");
    return parts.join(dot);
}

int MessageState::onUpdate(Control::Listener l)
{
    views_.emplace_back(nextKey_, std::move(l));
    return nextKey_++;
}

void MessageState::removeView(int key)
{
    std::erase_if(views_, [key](const auto &v) { return v.first == key; });
}

void MessageState::updated()
{
    const auto views = views_;
    for (const auto &v : views)
        v.second();
}

} // namespace vantorel
