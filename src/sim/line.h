#pragma once

#include "sim/controller.h"
#include "sim/framesplitter.h"
#include "sim/lineconfig.h"
#include "sim/linerecord.h"
#include "sim/pty.h"

#include <QJsonObject>
#include <QString>

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

namespace vantorel::sim {

struct LineOptions {
    bool echo = false; // every byte the tool sends comes back first, as on a two-wire adapter
    bool pace = false; // bytes take their time on the line, both ways
    QString stateFile; // written at start, after every frame and when the line stops
    qsizetype recordLimit = 100'000; // traffic and frame records kept; the oldest go first
};

// A line of simulated controllers on a pseudo-terminal. The tool opens
// slavePath() like any serial device. The line runs on a thread of its own
// from construction to stop(), so a tool that busy-waits on the calling
// thread still gets its answers. Every accessor is safe from any thread.
class Line {
public:
    // Throws std::runtime_error when no pseudo-terminal can be had.
    explicit Line(const LineConfig &config, const LineOptions &options = {});
    ~Line();
    Line(const Line &) = delete;
    Line &operator=(const Line &) = delete;

    QString slavePath() const { return slavePath_; }

    LineSnapshot snapshot() const;
    std::vector<TrafficEntry> traffic() const;
    std::vector<FrameRecord> frames() const;
    // Empty when no controller has that number.
    QByteArray flash(int number) const;
    QJsonObject toJson() const;
    // Bytes taken from the tool so far, and whether everything taken in has
    // been dealt with and everything due has gone out. Cheap: no copies.
    std::pair<qint64, bool> activity() const;

    // Each waits until the condition holds or timeoutMs passed; false on time-out.
    bool waitUntil(const std::function<bool(const LineSnapshot &)> &condition, int timeoutMs) const;
    // At least `count` frames told apart and dealt with, answers written.
    bool waitForFrames(qint64 count, int timeoutMs) const;
    // At least `count` bytes taken from the tool and dealt with, answers written.
    bool waitForReceived(qint64 count, int timeoutMs) const;

    // Ends the line's thread and writes the final state file. The state stays
    // readable. Called by the destructor.
    void stop();

private:
    struct Incoming {
        std::uint8_t value;
        LineSignal signal;
        Clock::time_point at; // when it has fully crossed the line
    };
    struct Outgoing {
        std::uint8_t value;
        Clock::time_point due;
        int baud; // sent at this speed
    };

    void run();
    void writeStates();
    LineSignal currentSignal() const;
    Clock::duration byteTime(const LineSignal &signal) const;
    void readInput(Clock::time_point now, short events);
    void takeDueInput(Clock::time_point now);
    void handle(const Frame &frame);
    void queueAnswer(const Reaction &r, Clock::time_point from, const LineSignal &signal);
    void queueOutput(std::uint8_t value, Clock::time_point due, int baud);
    void sendDueOutput(Clock::time_point now);
    void unplug();
    void record(TrafficEntry entry);
    double sinceStart(Clock::time_point t) const;
    LineSnapshot snapshotLocked() const;

    const LineOptions options_;
    const Clock::time_point start_;
    PseudoTerminal pty_;
    const QString slavePath_;
    std::vector<Controller> controllers_;
    FrameSplitter splitter_;

    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::deque<Incoming> incoming_;
    std::deque<Outgoing> outgoing_;
    // Answers waiting for the tool's next byte, with the signal of the frame they answer.
    std::vector<std::pair<Reaction, LineSignal>> held_;
    Clock::time_point lastArrival_;
    Clock::time_point lastAnswerDue_;
    std::deque<TrafficEntry> traffic_;
    std::deque<FrameRecord> frames_;
    LineSignal lastSignal_;
    qint64 bytesIn_ = 0;
    qint64 bytesOut_ = 0;
    qint64 bytesLost_ = 0;
    qint64 frameCount_ = 0;
    qint64 recordsDropped_ = 0;
    qint64 stateGeneration_ = 0;
    bool unplugged_ = false;
    QString failure_;
    bool stopping_ = false;

    int wakeFd_ = -1;
    std::thread io_;
    std::thread stateWriter_;
};

} // namespace vantorel::sim
