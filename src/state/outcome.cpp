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
struct FailureName {
    Failure failure;
    const char *code;
    const char *words;
    const char *message; // of the marks an exchange or a switch back puts on a row; null for the others
};
// Words as the result window shows them (a marked row's two boxes split them at
// the first blank); codes as records keep them, never renamed.
constexpr FailureName kFailureNames[] = {
    {Failure::NoAnswer, "no-answer", "No Answer", "No Answer"},
    {Failure::CommunicationError, "communication-error", "Communication ERROR", "Communication Error"},
    {Failure::CommunicationFailure, "communication-failure", "communication Failure", "Communication Failure"},
    {Failure::ErasingFailure, "erasing-failure", "Erasing Failure", "Erasing Failure"},
    {Failure::NotFound, "not-found", "not found", nullptr},
    {Failure::RefusedErase, "refused-erase", "refused erase", nullptr},
    {Failure::NotVerified, "not-verified", "programmed, not verified", nullptr},
    {Failure::ProgrammingError, "programming-error", "Programmation ERROR", nullptr},
};

const FailureName *nameOf(Failure failure)
{
    for (const FailureName &n : kFailureNames) {
        if (n.failure == failure)
            return &n;
    }
    return nullptr;
}
} // namespace

QString failureCode(Failure failure)
{
    const FailureName *n = nameOf(failure);
    return n ? QLatin1String(n->code) : QString();
}

QString failureWords(Failure failure)
{
    const FailureName *n = nameOf(failure);
    return n ? QLatin1String(n->words) : QString();
}

std::optional<FailureMark> failureMark(Failure failure)
{
    if (failure == Failure::None)
        return FailureMark{};
    const FailureName *n = nameOf(failure);
    if (!n || !n->message)
        return std::nullopt;
    const auto [ver, ckSum] = failureBoxes(failure);
    return FailureMark{QLatin1String(n->message), ver, ckSum};
}

std::pair<QString, QString> failureBoxes(Failure failure)
{
    const QString words = failureWords(failure);
    return {words.section(QLatin1Char(' '), 0, 0), words.section(QLatin1Char(' '), 1)};
}

std::optional<Failure> failureFromStored(const QString &text)
{
    if (text.isEmpty())
        return Failure::None;
    for (const FailureName &n : kFailureNames) {
        if (text == QLatin1String(n.code) || text == QLatin1String(n.words))
            return n.failure;
    }
    return std::nullopt;
}

QString failureWordsOf(const QString &stored)
{
    const std::optional<Failure> f = failureFromStored(stored);
    return f ? failureWords(*f) : stored;
}

QList<std::pair<QString, QString>> failureNames()
{
    QList<std::pair<QString, QString>> names;
    for (const FailureName &n : kFailureNames)
        names.append({QLatin1String(n.code), QLatin1String(n.words)});
    return names;
}

namespace {
// What a controller that may hold no firmware is left as.
Outcome leftWithoutImage(const ControllerOutcome &o)
{
    return o.eraseConfirmed ? Outcome::ErasedNotProgrammed : Outcome::EraseUnconfirmed;
}
} // namespace

void ControllerOutcome::fail(Failure what)
{
    failure = what;
    outcome = mayHoldNoFirmware() ? leftWithoutImage(*this) : Outcome::Failed;
}

void ControllerOutcome::answered(const QString &ver, const QString &ckSum, bool mismatch)
{
    version = ver;
    checksum = ckSum;
    failure = Failure::None;
    outcome = mismatch ? Outcome::Mismatch : Outcome::Ok;
}

void ControllerOutcome::succeeded()
{
    failure = Failure::None;
    outcome = Outcome::Ok;
}

void ControllerOutcome::cutShort()
{
    failure = Failure::None;
    outcome = mayHoldNoFirmware() ? leftWithoutImage(*this) : Outcome::Cancelled;
}

void ControllerOutcome::eraseSent()
{
    if (erased)
        return;
    erased = true;
    if (!programmed)
        outcome = Outcome::EraseUnconfirmed;
}

void ControllerOutcome::justErased()
{
    // What it answered before the erase is gone with its firmware.
    version.clear();
    checksum.clear();
    failure = Failure::None;
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
