#include "app/outcome.h"

namespace vantorel {

QString outcomeName(Outcome outcome)
{
    switch (outcome) {
    case Outcome::Ok: return QStringLiteral("ok");
    case Outcome::Mismatch: return QStringLiteral("mismatch");
    case Outcome::Failed: return QStringLiteral("failed");
    case Outcome::ErasedNotProgrammed: return QStringLiteral("erased-not-programmed");
    case Outcome::NotReached: break;
    }
    return QStringLiteral("not reached");
}

void ControllerOutcome::fail(const QString &what)
{
    failure = what;
    outcome = erased && !programmed ? Outcome::ErasedNotProgrammed : Outcome::Failed;
}

} // namespace vantorel
