#pragma once

#include "platform/clock.h"
#include "platform/desk.h"
#include "platform/qtserialport.h"
#include "session/session.h"
#include "state/context.h"
#include "state/windowview.h"
#include "sim/line.h"

#include <QStringList>
#include <QTemporaryDir>

#include <array>
#include <functional>
#include <memory>

namespace vantorel {

// The bench's port counts what the tool wrote, so the clock can tell when
// the line has taken it all. Before a speed change or a close it waits until
// the line has taken what was written: a pseudo-terminal reports nothing
// queued, and the simulator reads the speed when it takes the bytes, so a
// close (which puts the old settings back) could otherwise catch a frame a
// real UART would carry at the speed it was written at.
class BenchPort : public QtSerialPort {
public:
    void write(const QByteArray &bytes) override
    {
        QtSerialPort::write(bytes);
        written += bytes.size();
    }
    void setSettings(const QString &settingsText) override
    {
        if (settingsText != settings())
            drainToLine();
        QtSerialPort::setSettings(settingsText);
    }
    void close() override
    {
        drainToLine();
        QtSerialPort::close();
    }
    qint64 written = 0;
    const sim::Line *line = nullptr;

private:
    void drainToLine() const
    {
        // Taken in is enough: its speed is read then, whatever is still to be answered.
        if (line && isOpen() && line->activity().first < written)
            line->waitUntil([this](const sim::LineSnapshot &s) { return s.bytesIn >= written; }, 5000);
    }
};

// A clock that lets known silence pass at once: when the line has taken all the
// tool wrote, has nothing in flight and the tool nothing unread, for longer than
// a pseudo-terminal needs to hand bytes over, no answer can come and time leaps
// ahead. Time-outs stay generous for answered tries. Timing tests turn it off.
class SilenceSkippingClock : public Clock {
public:
    SilenceSkippingClock(const sim::Line &line, BenchPort &port) : line_(line), port_(port) {}
    double seconds() const override;
    bool skipSilence = true;

private:
    const sim::Line &line_;
    BenchPort &port_;
    MonotonicClock real_;
    mutable double skipped_ = 0;
    mutable double idleSince_ = -1;
};

// The tool in-process (real serial layer, recording desk) on a simulated line.
// No test through it is about timing: failures are not held, and time-outs
// and the settle wait are generous, since the clock skips silence.
struct LineBench {
    explicit LineBench(const sim::LineConfig &config, const sim::LineOptions &options = {});
    ~LineBench();

    QTemporaryDir home;
    std::unique_ptr<sim::Line> line;
    BenchPort port;
    RecordingDesk desk;
    SilenceSkippingClock clock;
    std::unique_ptr<Session> session;
    // Every text the progress window showed, in order, and the whole-run line under each.
    QStringList labels, runLines;
    std::unique_ptr<WindowView> view;
    std::unique_ptr<Run> run_;
    Context &ctx();
    MainState &m();
    // A run started now from the window's boxes, for the tests that drive one
    // step of an operation (each call starts a new one).
    Run &run();

    // Ticks exactly these controllers.
    void select(const QList<int> &controllers);
    // The lines of Log.txt so far.
    QStringList log() const;
    // Waits until the line has taken everything the tool wrote.
    void settle() const;
    // Every frame the tool put on the line, in order (as the line told them apart).
    QList<QByteArray> framesSent() const;
    // Bytes the tool wrote, joined.
    QByteArray bytesSent() const;
    // Writes a HEX file into the bench folder and selects it.
    QString useImage(const QByteArray &hexText, const QString &name = QStringLiteral("image.hex"));
};

// What must not change with fast answers: bytes sent with their speeds, log, result table, boxes.
struct ModeRun {
    QList<QPair<int, QByteArray>> sent;
    QStringList log;
    QStringList table;
    QStringList boxes;
    bool allWell = false; // the result window's summary says every ticked controller is ok
};

// Runs the operation twice on a fresh paced line, written mode first, then
// with fast answers; `setup` prepares each bench.
std::array<ModeRun, 2> runInBothModes(const sim::LineConfig &config, const sim::LineOptions &options,
                                      Session::Operation op, const std::function<void(LineBench &)> &setup);

// A controller as most tests want it: at its speed, protocol character 0x04
// (the Protocol box at 3), CRC.
sim::ControllerConfig controller(int number, int speed = 9600, std::uint8_t protocolChar = 0x04);

sim::LineConfig lineOf(std::initializer_list<sim::ControllerConfig> controllers);
// The benches' line: controllers 0 to count-1, all at 'speed', their boot programs too.
sim::LineConfig lineAtOneSpeed(int count, int speed);
// Programs at 'speed' (Boot.ini and the boot settings) with the tool's own timings, in real time.
void programAtSpeed(LineBench &b, int speed);
// A line described as the simulator's JSON: each controller as "n" or "n, more fields",
// at protocol character 0x04; flash files named there are found in 'folder'.
std::unique_ptr<sim::Line> jsonLineOf(const QByteArrayList &controllers, const QString &folder);

// The bytes the tool sent, grouped by the line speed at which they went.
QList<QPair<int, QByteArray>> sentWithSpeed(const sim::Line &line);
inline QList<QPair<int, QByteArray>> sentWithSpeed(const LineBench &b)
{
    b.settle();
    return sentWithSpeed(*b.line);
}

} // namespace vantorel
