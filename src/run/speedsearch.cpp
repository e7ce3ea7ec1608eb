#include "run/speedsearch.h"

#include "state/context.h"
#include "run/runcheck.h"
#include "platform/serialport.h"

namespace vantorel {

namespace {
struct SpeedFlag {
    int speed;
    const char *text;
    Control MainState::*flag;
};
// In the order a search takes the speeds not yet tried.
const SpeedFlag kSpeeds[] = {{4800, "4800", &MainState::V4800},
                             {9600, "9600", &MainState::V9600},
                             {19200, "19200", &MainState::V19200},
                             {38400, "38400", &MainState::V38400}};

// The speed a search takes after those of 'tried'; 0 when it has tried all.
int nextUntriedSpeed(const QList<int> &tried)
{
    for (const auto &s : kSpeeds) {
        if (!tried.contains(s.speed))
            return s.speed;
    }
    return 0;
}
} // namespace

void clearSpeedFlags(MainState &m)
{
    for (const auto &s : kSpeeds)
        (m.*s.flag).setValue(0);
}

void tickSpeedFlag(MainState &m)
{
    for (const auto &s : kSpeeds) {
        if (m.Vitesse.text() == QLatin1String(s.text))
            (m.*s.flag).setValue(1);
    }
}

bool moveToUntriedSpeed(MainState &m)
{
    QList<int> tried;
    for (const auto &s : kSpeeds) {
        if ((m.*s.flag).ticked())
            tried << s.speed;
    }
    const int next = nextUntriedSpeed(tried);
    if (next == 0)
        return false;
    m.Vitesse.setText(QString::number(next));
    return true;
}

QList<int> searchOrder(int start, QList<int> tried)
{
    QList<int> order;
    if (!tried.contains(start))
        order << start;
    tried << start;
    while (const int next = nextUntriedSpeed(tried)) {
        order << next;
        tried << next;
    }
    return order;
}

QList<int> speedsLeft(const MainState &m)
{
    const int inHand = m.Vitesse.text().toInt();
    QList<int> tried;
    for (const auto &s : kSpeeds) {
        if ((m.*s.flag).ticked() && s.speed != inHand)
            tried << s.speed;
    }
    return searchOrder(inHand, tried);
}

int knownSpeedOf(const Context &ctx, int ctrl)
{
    // One no run may start at (an edited Vantorel.ini) is passed over.
    const int known = ctx.user.knownSpeed(ctx.port.portName(), ctrl);
    return known > 0 && speedAllowed(QString::number(known)) ? known : 0;
}

namespace {
// The known speed a search starts at; 0 where it starts at the speed in hand.
int knownStart(const Context &ctx, int ctrl, bool fromKnownSpeed)
{
    return ctx.link.knownSpeedsFirst && fromKnownSpeed ? knownSpeedOf(ctx, ctrl) : 0;
}
} // namespace

int searchStart(const Context &ctx, int ctrl, bool fromKnownSpeed)
{
    const int known = knownStart(ctx, ctrl, fromKnownSpeed);
    return known > 0 ? known : ctx.main.Vitesse.text().toInt();
}

QList<double> expectedSearches(const Context &ctx, const QList<int> &controllers, int start, int afterEach)
{
    QList<double> expected;
    int inHand = start; // 0: not known
    for (const int ctrl : controllers) {
        const int known = knownSpeedOf(ctx, ctrl);
        const int knownFirst = knownStart(ctx, ctrl, true);
        QList<int> starts{knownFirst > 0 ? knownFirst : inHand};
        // Found where nothing said: the next one starts at any speed as likely.
        if (starts[0] == 0) {
            starts.clear();
            for (const auto &s : kSpeeds)
                starts << s.speed;
        }
        double sum = 0;
        for (const int from : starts)
            sum += expectedSilentSpeeds(searchOrder(from), known);
        expected << sum / starts.size();
        inHand = afterEach > 0 ? afterEach : known;
    }
    return expected;
}

double expectedSilentSpeeds(const QList<int> &order, int known)
{
    const qsizetype at = known > 0 ? order.indexOf(known) : -1;
    if (at >= 0)
        return double(at);
    // Nothing says where it is: each speed still to try is as likely.
    return order.isEmpty() ? 0.0 : (order.size() - 1) / 2.0;
}

SearchResult searchSpeeds(Context &ctx, int ctrl, const SpeedSearch &search)
{
    MainState &m = ctx.main;
    const auto skipped = [&] {
        return (search.onlyTicked && !m.C[ctrl].ticked()) || (search.stopSkips && ctx.StopRequested);
    };
    clearSpeedFlags(m);
    // A controller left out does not move the speed in hand.
    if (const int start = searchStart(ctx, ctrl, search.fromKnownSpeed); !skipped() && start != m.Vitesse.text().toInt())
        m.Vitesse.setText(QString::number(start));
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

void recordSearch(Context &ctx, int ctrl, SearchResult result, Failure failure)
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
