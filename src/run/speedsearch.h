#pragma once

#include <QString>

#include <functional>

namespace vantorel {

class Context;
class MainState;

// The speed flags V4800..V38400: the speeds tried for the controller in hand.
void clearSpeedFlags(MainState &m);
// Ticks the flag of the speed in Vitesse (another text ticks none).
void tickSpeedFlag(MainState &m);
// Sets Vitesse to the first untried speed of 4800, 9600, 19200, 38400;
// false when all four were tried.
bool moveToUntriedSpeed(MainState &m);

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

// For one controller: attempts at the Vitesse speed, then at each untried
// speed, until an attempt succeeds. The port is set to each speed with
// ",N,8,2" and its flag ticked. Then a controller not taking part, or any once
// StopRequested is set, is skipped without a frame. With "Known speeds first"
// a controller taking part starts at the speed it last answered at on this
// port, when one is known. The speed it is found at is remembered.
SearchResult searchSpeeds(Context &ctx, int ctrl, const SpeedSearch &search);

// For an operation whose search is its verdict (the switches, the detection):
// what it came to, into controller ctrl's outcome. Found is ok; not found is
// 'failure', unless Cancel cut it short; skipped leaves it as it was.
void recordSearch(Context &ctx, int ctrl, SearchResult result, const QString &failure);
// A search Cancel cut short: its controller was not heard out, so the marks
// of its tries are no verdict. A search that ended stays as its tries left it.
void recordCutShort(Context &ctx, int ctrl, SearchResult result);

} // namespace vantorel
