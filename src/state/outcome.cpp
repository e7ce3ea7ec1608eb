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
    case Outcome::EraseUnconfirmed: return QStringLiteral("erase-unconfirmed");
    case Outcome::NotReached: break;
    }
    return QStringLiteral("not reached");
}

namespace {
// What a controller that may hold no firmware is left as.
Outcome leftWithoutImage(const ControllerOutcome &o)
{
    return o.eraseConfirmed ? Outcome::ErasedNotProgrammed : Outcome::EraseUnconfirmed;
}
} // namespace

void ControllerOutcome::fail(const QString &what)
{
    failure = what;
    outcome = mayHoldNoFirmware() ? leftWithoutImage(*this) : Outcome::Failed;
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
    outcome = mayHoldNoFirmware() ? leftWithoutImage(*this) : Outcome::Cancelled;
}

void ControllerOutcome::eraseSent()
{
    if (erased)
        return;
    erased = true;
    if (!programmed && outcome != Outcome::ErasedNotProgrammed)
        outcome = Outcome::EraseUnconfirmed;
}

void ControllerOutcome::justErased()
{
    // What it answered before the erase is gone with its firmware.
    version.clear();
    checksum.clear();
    failure.clear();
    programmed = false;
    erased = true;
    eraseConfirmed = true;
    outcome = Outcome::ErasedNotProgrammed;
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
        if (outcomes[i].mayHoldNoFirmware())
            left << i;
    }
    return left;
}

} // namespace vantorel
