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
        // After the broadcast the controllers are taken in hand again, for their checks.
        if (run_.broadcast && sent >= run_.batches)
            run_.position = 0;
    }
    updated();
}

void MessageState::startRun(const QList<int> &controllers, int batches, bool broadcast)
{
    run_ = Run{true, controllers, 0, qMax(0, batches), broadcast, 0, clock ? clock->seconds() : 0.0};
    updated();
}

void MessageState::atController(int number)
{
    const qsizetype at = run_.controllers.indexOf(number);
    if (!run_.active || at < 0)
        return;
    if (!run_.broadcast && run_.position != at + 1)
        run_.sent = 0;
    run_.position = static_cast<int>(at) + 1;
    updated();
}

void MessageState::endRun()
{
    run_ = Run{};
    updated();
}

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

namespace {
QString duration(double seconds)
{
    const qint64 s = qRound64(qMax(0.0, seconds));
    if (s >= 3600)
        return QStringLiteral("%1:%2:%3").arg(s / 3600).arg(s / 60 % 60, 2, 10, QLatin1Char('0')).arg(s % 60, 2, 10, QLatin1Char('0'));
    return QStringLiteral("%1:%2").arg(s / 60).arg(s % 60, 2, 10, QLatin1Char('0'));
}
} // namespace

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
        parts << QStringLiteral("Controller %1 of %2").arg(run_.position).arg(n);
    if (run_.batches > 0 && run_.sent > 0)
        parts << QStringLiteral("%1 of %2 batches sent").arg(qMin(run_.sent, run_.batches)).arg(run_.batches);
    parts << QStringLiteral("%1 %").arg(percent());
    const double elapsed = clock ? clock->seconds() - run_.startedAt : 0.0;
    parts << duration(elapsed) + QStringLiteral(" elapsed");
    const auto [done, total] = work();
    if (done > 0)
        parts << QStringLiteral("about ") + duration(elapsed * (total - done) / done) + QStringLiteral(" left");
    else
        parts << QStringLiteral("time left not known yet");
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
