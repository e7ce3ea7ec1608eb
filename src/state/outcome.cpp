#include "state/outcome.h"

#include <cmath>

namespace vantorel {

QString outcomeName(Outcome outcome)
{
    switch (outcome) {
    case Outcome::Ok: return QStringLiteral("ok");
    case Outcome::Mismatch: return QStringLiteral("mismatch");
    case Outcome::Failed: return QStringLiteral("failed");
    case Outcome::ErasedNotProgrammed: return QStringLiteral("erased-not-programmed");
    case Outcome::Cancelled: return QStringLiteral("cancelled");
    case Outcome::NotReached: break;
    }
    return QStringLiteral("not reached");
}

void ControllerOutcome::fail(const QString &what)
{
    failure = what;
    outcome = erased && !programmed ? Outcome::ErasedNotProgrammed : Outcome::Failed;
}

void ControllerOutcome::answered(const QString &ver, const QString &ckSum, bool mismatch)
{
    version = ver;
    checksum = ckSum;
    failure.clear();
    outcome = mismatch ? Outcome::Mismatch : Outcome::Ok;
}

void ControllerOutcome::succeeded()
{
    failure.clear();
    outcome = Outcome::Ok;
}

void ControllerOutcome::cutShort()
{
    failure.clear();
    outcome = Outcome::Cancelled;
}

void ControllerOutcome::justErased()
{
    ControllerOutcome fresh;
    fresh.outcome = Outcome::ErasedNotProgrammed;
    fresh.speed = speed;
    fresh.erased = true;
    fresh.firstFrameAt = firstFrameAt;
    fresh.lastExchangeEnd = lastExchangeEnd;
    *this = fresh;
}

void ControllerOutcome::exchanged(double now)
{
    if (!firstFrameAt)
        firstFrameAt = now;
    lastExchangeEnd = now;
}

std::optional<qint64> ControllerOutcome::durationMs() const
{
    if (!firstFrameAt || !lastExchangeEnd)
        return std::nullopt;
    return qint64(std::llround((*lastExchangeEnd - *firstFrameAt) * 1000.0));
}

void markCancelled(Outcomes &outcomes, const QList<int> &ticked)
{
    for (const int i : ticked) {
        if (outcomes[i].outcome == Outcome::NotReached)
            outcomes[i].outcome = Outcome::Cancelled;
    }
}

QList<int> erasedNotProgrammed(const Outcomes &outcomes)
{
    QList<int> left;
    for (int i = 0; i < int(outcomes.size()); ++i) {
        if (outcomes[i].erased && !outcomes[i].programmed)
            left << i;
    }
    return left;
}

} // namespace vantorel
