#pragma once

#include <QElapsedTimer>

namespace vantorel {

// Seconds that never jump backwards (no wall-clock, no midnight wrap).
class Clock {
public:
    virtual ~Clock() = default;
    virtual double seconds() const = 0;
};

class MonotonicClock : public Clock {
public:
    MonotonicClock() { timer_.start(); }
    double seconds() const override { return timer_.nsecsElapsed() / 1e9; }

private:
    QElapsedTimer timer_;
};

} // namespace vantorel
