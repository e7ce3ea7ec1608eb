#include "run/speedsearch.h"

#include "state/run.h"
#include "run/runcheck.h"
#include "platform/serialport.h"

namespace vantorel {

namespace {
// The Speed list, in the order a search takes the speeds not yet tried.
QList<int> searchSpeedList()
{
    QList<int> speeds;
    for (const QString &s : speedList())
        speeds << s.toInt();
    return speeds;
}

// The speed a search takes after those of 'tried'; 0 when it has tried all.
int nextUntriedSpeed(const QList<int> &tried)
{
    for (const int s : searchSpeedList()) {
        if (!tried.contains(s))
            return s;
    }
    return 0;
}
} // namespace

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

QList<int> speedsLeft(const Run &run)
{
    QList<int> tried = run.triedSpeeds();
    tried.removeAll(run.speed());
    return searchOrder(run.speed(), tried);
}

int knownSpeedOf(const Run &run, int ctrl)
{
    // One no run may start at (an edited Vantorel.ini) is passed over.
    const int known = run.user.knownSpeed(run.port.portName(), ctrl);
    return known > 0 && speedAllowed(QString::number(known)) ? known : 0;
}

namespace {
// The known speed a search starts at; 0 where it starts at the speed in hand.
int knownStart(const Run &run, int ctrl, bool fromKnownSpeed)
{
    return run.link.knownSpeedsFirst && fromKnownSpeed ? knownSpeedOf(run, ctrl) : 0;
}
} // namespace

int searchStart(const Run &run, int ctrl, bool fromKnownSpeed)
{
    const int known = knownStart(run, ctrl, fromKnownSpeed);
    return known > 0 ? known : run.speed();
}

QList<double> expectedSearches(const Run &run, const QList<int> &controllers, int start, int afterEach)
{
    QList<double> expected;
    int inHand = start; // 0: not known
    for (const int ctrl : controllers) {
        const int known = knownSpeedOf(run, ctrl);
        const int knownFirst = knownStart(run, ctrl, true);
        QList<int> starts{knownFirst > 0 ? knownFirst : inHand};
        // Found where nothing said: the next one starts at any speed as likely.
        if (starts[0] == 0)
            starts = searchSpeedList();
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

SearchResult searchSpeeds(Run &run, int ctrl, const SpeedSearch &search)
{
    const auto skipped = [&] {
        return (search.onlyTicked && !run.view.ticked(ctrl)) || (search.stopSkips && run.stopRequested);
    };
    run.setTriedSpeeds({});
    // A controller left out does not move the speed in hand.
    if (const int start = searchStart(run, ctrl, search.fromKnownSpeed); !skipped() && start != run.speed())
        run.setSpeed(start);
    for (;;) {
        if (search.atNewSpeed)
            search.atNewSpeed();
        Attempt outcome = Attempt::SameSpeedAgain;
        const int timelyBefore = run.outcomes[ctrl].timelyAnswers;
        while (outcome == Attempt::SameSpeedAgain) {
            run.port.setSettings(QString::number(run.speed()) + QStringLiteral(",N,8,2"));
            if (!run.triedSpeeds().contains(run.speed()))
                run.setTriedSpeeds(run.triedSpeeds() + QList<int>{run.speed()});
            if (skipped())
                return SearchResult::Skipped;
            outcome = search.attempt();
        }
        if (outcome == Attempt::Succeeded) {
            // Learnt only from an answer that came in its frame's own wait.
            const ControllerOutcome &o = run.outcomes[ctrl];
            if (o.timelyAnswers > timelyBefore && o.speed == run.speed())
                run.user.rememberSpeed(run.port.portName(), ctrl, *o.speed);
            return SearchResult::Found;
        }
        const int next = nextUntriedSpeed(run.triedSpeeds());
        if (next == 0)
            return SearchResult::NotFound;
        run.setSpeed(next);
        if (search.beforeNextSpeed)
            search.beforeNextSpeed();
    }
}

void recordSearch(Run &run, int ctrl, SearchResult result, Failure failure)
{
    ControllerOutcome &o = run.outcomes[ctrl];
    if (result == SearchResult::Found)
        o.succeeded();
    else if (result == SearchResult::NotFound)
        o.fail(failure);
    recordCutShort(run, ctrl, result);
}

void recordCutShort(Run &run, int ctrl, SearchResult result)
{
    // Skipped after a try, or not found with Cancel in the last speed's wait:
    // the speeds were not all heard out.
    ControllerOutcome &o = run.outcomes[ctrl];
    if (result != SearchResult::Found && run.stopRequested && o.outcome == Outcome::Failed)
        o.cutShort();
}

} // namespace vantorel
