#pragma once

#include "state/outcome.h"

#include <QList>
#include <QString>

#include <functional>

namespace vantorel {

class Run;

// The speeds a search tries from 'start' on while none answers, in order:
// 'start', then each of 4800, 9600, 19200 and 38400 not yet tried; speeds in
// 'tried' are left out.
QList<int> searchOrder(int start, QList<int> tried = {});
// The speeds the search in hand still has to try, the one in hand first.
QList<int> speedsLeft(const Run &run);
// Where controller ctrl's search would start now: with "Known speeds first"
// at the speed it last answered at on this port, else at the speed in hand.
int searchStart(const Run &run, int ctrl, bool fromKnownSpeed = true);
// The speed controller ctrl last answered at on this port; 0 when none is known.
int knownSpeedOf(const Run &run, int ctrl);
// How many speeds of 'order' are expected not to answer before the
// controller does: those before its known speed (0: none); without one, each
// speed is as likely as the others, half of the rest.
double expectedSilentSpeeds(const QList<int> &order, int known);

// The same for each of 'controllers', searched one after the other from
// 'start' (0: any speed as likely): each search starts where the one before
// found its controller, or at 'afterEach' (0: none) where the run puts the
// speed there.
QList<double> expectedSearches(const Run &run, const QList<int> &controllers, int start, int afterEach = 0);

enum class Attempt {
    Succeeded,
    NextSpeed,      // failed here: try the next untried speed
    SameSpeedAgain, // go round again at this speed (after the "@" switch)
};

enum class SearchResult { Skipped, Found, NotFound };

struct SpeedSearch {
    // Only ticked controllers take part (all but the automatic detection).
    bool onlyTicked = true;
    // Whether StopRequested skips the attempts (all but the serial download's checks).
    bool stopSkips = true;
    // Whether "Known speeds first" may start it at the controller's known
    // speed (not where an image has just fixed the speed in hand).
    bool fromKnownSpeed = true;
    // At the start of each new speed (before the port is set).
    std::function<void()> atNewSpeed;
    std::function<Attempt()> attempt;
    // Before moving on to the next speed.
    std::function<void()> beforeNextSpeed;
};

// For one controller: attempts at the speed in hand, then at each untried
// one of 4800, 9600, 19200 and 38400, until an attempt succeeds. The port is
// set to each speed with ",N,8,2" and the speed counted as tried. Then a controller not taking part, or any once
// StopRequested is set, is skipped without a frame. With "Known speeds first"
// a controller taking part starts at the speed it last answered at on this
// port, when one is known. The speed it is found at is remembered.
SearchResult searchSpeeds(Run &run, int ctrl, const SpeedSearch &search);

// For an operation whose search is its verdict (the switches, the detection):
// what it came to, into controller ctrl's outcome. Found is ok; not found is
// 'failure'; then as recordCutShort, so Cancel in its wait leaves no verdict.
void recordSearch(Run &run, int ctrl, SearchResult result, Failure failure);
// A search Cancel cut short (skipped after a try, or not found with Cancel in
// the last speed's wait): its controller was not heard out, so the marks of its
// tries are no verdict. A search that ended stays as its tries left it.
void recordCutShort(Run &run, int ctrl, SearchResult result);

} // namespace vantorel
