#include "run/speedsearch.h"

#include "state/context.h"
#include "run/runcheck.h"
#include "platform/serialport.h"

namespace vantorel {

namespace {
struct SpeedFlag {
    const char *speed;
    Control MainState::*flag;
};
const SpeedFlag kSpeeds[] = {{"4800", &MainState::V4800},
                             {"9600", &MainState::V9600},
                             {"19200", &MainState::V19200},
                             {"38400", &MainState::V38400}};
} // namespace

void clearSpeedFlags(MainState &m)
{
    for (const auto &s : kSpeeds)
        (m.*s.flag).setValue(0);
}

void tickSpeedFlag(MainState &m)
{
    for (const auto &s : kSpeeds) {
        if (m.Vitesse.text() == QLatin1String(s.speed))
            (m.*s.flag).setValue(1);
    }
}

bool moveToUntriedSpeed(MainState &m)
{
    for (const auto &s : kSpeeds) {
        if (!(m.*s.flag).ticked()) {
            m.Vitesse.setText(QLatin1String(s.speed));
            return true;
        }
    }
    return false;
}

namespace {
// Vitesse at the speed the controller last answered at on this port; a known
// speed no run may start at (an edited Vantorel.ini) is passed over.
void startAtKnownSpeed(Context &ctx, int ctrl)
{
    const int known = ctx.user.knownSpeed(ctx.port.portName(), ctrl);
    const QString speed = QString::number(known);
    if (known > 0 && speedAllowed(speed))
        ctx.main.Vitesse.setText(speed);
}
} // namespace

SearchResult searchSpeeds(Context &ctx, int ctrl, const SpeedSearch &search)
{
    MainState &m = ctx.main;
    const auto skipped = [&] {
        return (search.onlyTicked && !m.C[ctrl].ticked()) || (search.stopSkips && ctx.StopRequested);
    };
    clearSpeedFlags(m);
    // A controller left out does not move the speed in hand.
    if (ctx.link.knownSpeedsFirst && search.fromKnownSpeed && !skipped())
        startAtKnownSpeed(ctx, ctrl);
    for (;;) {
        if (search.atNewSpeed)
            search.atNewSpeed();
        Attempt outcome = Attempt::SameSpeedAgain;
        const int timelyBefore = ctx.outcomes[ctrl].timelyAnswers;
        while (outcome == Attempt::SameSpeedAgain) {
            ctx.port.setSettings(m.Vitesse.text() + QStringLiteral(",N,8,2"));
            tickSpeedFlag(m);
            if (skipped())
                return SearchResult::Skipped;
            outcome = search.attempt();
        }
        if (outcome == Attempt::Succeeded) {
            // Learnt only from an answer that came in its frame's own wait.
            const ControllerOutcome &o = ctx.outcomes[ctrl];
            if (o.timelyAnswers > timelyBefore && o.speed == m.Vitesse.text().toInt())
                ctx.user.rememberSpeed(ctx.port.portName(), ctrl, *o.speed);
            return SearchResult::Found;
        }
        if (!moveToUntriedSpeed(m))
            return SearchResult::NotFound;
        if (search.beforeNextSpeed)
            search.beforeNextSpeed();
    }
}

void recordSearch(Context &ctx, int ctrl, SearchResult result, const QString &failure)
{
    ControllerOutcome &o = ctx.outcomes[ctrl];
    if (result == SearchResult::Found) {
        o.succeeded();
    } else if (result == SearchResult::NotFound && ctx.StopRequested) {
        o.cutShort();
    } else if (result == SearchResult::NotFound) {
        o.fail(failure);
    }
}

void recordCutShort(Context &ctx, int ctrl, SearchResult result)
{
    // Skipped after a try: Cancel came before the speeds were all tried.
    ControllerOutcome &o = ctx.outcomes[ctrl];
    if (result == SearchResult::Skipped && ctx.StopRequested && o.outcome == Outcome::Failed)
        o.cutShort();
}

} // namespace vantorel
