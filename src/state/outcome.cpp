#include "state/outcome.h"

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

void ControllerOutcome::justErased()
{
    const std::optional<int> lastSpeed = speed;
    *this = ControllerOutcome();
    outcome = Outcome::ErasedNotProgrammed;
    speed = lastSpeed;
    erased = true;
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
