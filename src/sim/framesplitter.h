#pragma once

#include "sim/frame.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <optional>

namespace vantorel::sim {

// Tells frames apart in the bytes the tool sends. Nothing marks where a frame
// starts, so at every position it tries each frame shape and takes the
// earliest frame that is complete and carries a right check code. Bytes before
// it are noise. A broken frame never holds up the ones behind it: they are
// found as soon as they are complete, whatever claims the bytes before them.
class FrameSplitter {
public:
    // Whether a frame starting with this protocol character and address could
    // be meant for anybody on the line. Keeps stray byte runs inside a long
    // frame's data from passing for a frame while the rest is still coming.
    using Addressed = std::function<bool(std::uint8_t first, std::uint8_t address)>;

    static constexpr int kLongestFrame = 255 + 6;
    // A receiver forgets a partial frame after this much silence.
    static constexpr std::chrono::milliseconds kForgetAfter{1000};

    explicit FrameSplitter(Addressed addressed);

    void push(std::uint8_t byte, const LineSignal &signal, Clock::time_point at);
    // The next complete frame, or nothing until more bytes come.
    std::optional<Frame> next();

    // Bytes that belonged to no frame.
    qint64 noiseBytes() const { return noise_; }
    qsizetype pending() const { return qsizetype(bytes_.size()); }

private:
    struct Byte {
        std::uint8_t value;
        LineSignal signal;
        Clock::time_point at;
    };

    // Length of a complete frame at position i, else 0.
    qsizetype textAt(qsizetype i) const;
    qsizetype returnAt(qsizetype i) const;
    qsizetype binaryAt(qsizetype i) const;
    bool checkCodeRight(qsizetype from, qsizetype bodyLength) const;
    void drop(qsizetype count);

    Addressed addressed_;
    std::deque<Byte> bytes_;
    qint64 noise_ = 0;
};

} // namespace vantorel::sim
