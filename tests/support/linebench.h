#pragma once

#include "platform/clock.h"
#include "platform/desk.h"
#include "platform/qtserialport.h"
#include "session/session.h"
#include "sim/line.h"

#include <QStringList>
#include <QTemporaryDir>

#include <array>
#include <functional>
#include <memory>

namespace vantorel {

// The tool in-process (real serial layer, recording desk) on a simulated line.
// Settle and failure-hold times are short: no test through it is about them.
// Time-outs are generous (1 s): a silent try costs that, an answer never waits for it.
struct LineBench {
    explicit LineBench(const sim::LineConfig &config, const sim::LineOptions &options = {});
    ~LineBench();

    QTemporaryDir home;
    std::unique_ptr<sim::Line> line;
    QtSerialPort port;
    RecordingDesk desk;
    MonotonicClock clock;
    std::unique_ptr<Session> session;
    Context &ctx();
    MainState &m();

    // Ticks exactly these controllers.
    void select(const QList<int> &controllers);
    // The lines of Log.txt so far.
    QStringList log() const;
    // Every frame the tool put on the line, in order (as the line told them apart).
    QList<QByteArray> framesSent() const;
    // Bytes the tool wrote, joined.
    QByteArray bytesSent() const;
    // Writes a HEX file into the bench folder and selects it.
    QString useImage(const QByteArray &hexText, const QString &name = QStringLiteral("image.hex"));
};

// What must come out the same with and without fast answers: the bytes the
// tool sent with their speeds, the log, the result table and the boxes shown.
struct ModeRun {
    QList<QPair<int, QByteArray>> sent;
    QStringList log;
    QStringList table;
    QStringList boxes;
};

// Runs the operation twice on a fresh paced line, written mode first, then
// with fast answers; `setup` prepares each bench. Settle 0.15 s, enough for
// the slowest answer here; time-out 300 ms.
std::array<ModeRun, 2> runInBothModes(const sim::LineConfig &config, const sim::LineOptions &options,
                                      Session::Operation op, const std::function<void(LineBench &)> &setup);

// A controller as most tests want it: at its speed, protocol character 0x04
// (the Protocol box at 3), CRC.
sim::ControllerConfig controller(int number, int speed = 9600, std::uint8_t protocolChar = 0x04);

sim::LineConfig lineOf(std::initializer_list<sim::ControllerConfig> controllers);

// The bytes the tool sent, grouped by the line speed at which they went.
QList<QPair<int, QByteArray>> sentWithSpeed(const sim::Line &line);
inline QList<QPair<int, QByteArray>> sentWithSpeed(const LineBench &b) { return sentWithSpeed(*b.line); }

} // namespace vantorel
