#pragma once

#include <QByteArray>
#include <QString>

namespace vantorel {

// The far end of a serial line: the master side of a pseudo-terminal whose
// slave path the tool opens like any serial device.
class PseudoTerminal {
public:
    struct Settings {
        int baud = 0;      // exact, also for non-standard rates
        int stopBits = 0;  // 1 or 2
        int dataBits = 0;  // 5..8
        char parity = 'N'; // N, E, O, M or S
    };

    // Throws std::runtime_error when the system has no pseudo-terminal to give.
    PseudoTerminal();
    ~PseudoTerminal();
    PseudoTerminal(const PseudoTerminal &) = delete;
    PseudoTerminal &operator=(const PseudoTerminal &) = delete;

    QString slavePath() const { return slavePath_; }
    // Non-blocking; never tcsetattr it, that would rewrite the tool's settings.
    // -1 once closed.
    int masterFd() const { return master_; }

    // Pulls the plug: the tool's open port sees its line vanish. The path
    // stays known, but nothing can be sent or read any more.
    void close();
    bool isOpen() const { return master_ >= 0; }

    // What the slave side was last set to. Nobody tells the master of a
    // change, so read it again whenever it matters. The kernel keeps a pty
    // at 8 data bits without parity whatever the tool asks. All zero once closed.
    Settings readSettings() const;

    // Bytes the slave side holds that nobody has read yet (the tool's port
    // may also hold some in its own buffer).
    qint64 slaveQueued() const;

    // False when the bytes could not all be written within timeoutMs.
    bool writeBytes(const QByteArray &bytes, int timeoutMs = 10000);
    // Waits up to timeoutMs for a first byte, then takes whatever else is already there.
    QByteArray readBytes(int timeoutMs);
    // Reads until count bytes arrived or timeoutMs passed; may return fewer.
    QByteArray readAtLeast(qsizetype count, int timeoutMs);

private:
    int master_ = -1;
    // Held open, never read: without it the master sees a hang-up each time
    // the tool closes the port, and reads fail until it reopens.
    int slaveHold_ = -1;
    QString slavePath_;
};

} // namespace vantorel
