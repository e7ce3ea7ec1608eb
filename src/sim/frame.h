#pragma once

#include <QByteArray>

#include <chrono>

namespace vantorel::sim {

using Clock = std::chrono::steady_clock;

// How the tool had set the line while bytes crossed it. A controller only
// makes sense of bytes sent at its own speed with 8 data bits, no parity and
// 2 stop bits; anything else reaches it as noise.
struct LineSignal {
    int baud = 0; // 0: the bytes crossed at differing settings
    int stopBits = 0;
    bool eightNoParity = true;

    bool operator==(const LineSignal &) const = default;
};

enum class FrameShape {
    Binary, // protocol character, address, count N, N bytes, check code, 0x04
    Return, // protocol character, address, 0x37, check code, 0x04: no count byte
    Text,   // "@", the controller number in decimal, "p400:4/"
};

// One frame as the line told it apart from the byte stream.
struct Frame {
    FrameShape shape = FrameShape::Binary;
    QByteArray bytes;
    LineSignal signal;
    Clock::time_point end; // when its last byte was on the line
};

} // namespace vantorel::sim
