#pragma once

#include <QByteArray>
#include <QString>

namespace vantorel {

// Line settings parsed from a text such as "9600,N,8,2".
struct LineSettings {
    int baud = 9600;
    char parity = 'N';
    int dataBits = 8;
    int stopBits = 2; // 1, 2 or OneAndHalfStop

    // Same value as QSerialPort::OneAndHalfStop, so no layer needs a table for it.
    static constexpr int OneAndHalfStop = 3;
};

// Throws Fault(PortSettings) with a message that quotes the text when it is malformed.
LineSettings parseLineSettings(const QString &text);

// Seconds the line takes to carry this many characters in this format: each
// a start bit, its data bits, a parity bit if any and its stop bits.
double lineSeconds(qint64 characters, const LineSettings &s);

// The one serial port of the tool. Failures are Faults: PortOpen, PortLost,
// PortSettings, PortWrite.
class SerialPort {
public:
    virtual ~SerialPort() = default;

    virtual void selectPort(const QString &deviceName) = 0;
    virtual QString portName() const = 0;
    // Applies at once when the port is open, else at the next open.
    virtual void setSettings(const QString &settingsText) = 0;
    virtual QString settings() const = 0;
    virtual void open() = 0;
    virtual void close() = 0;
    virtual bool isOpen() const = 0;
    // Hands the bytes to the system before returning; the line may carry
    // them for a while yet.
    virtual void write(const QByteArray &bytes) = 0;
    // Bytes the system has been handed but not yet put on the line, where it
    // can tell; a pseudo-terminal always says 0, as it does not pace.
    virtual qint64 bytesUnsent() = 0;
    // Bytes waiting now, without needing an event loop.
    virtual qint64 bytesWaiting() = 0;
    virtual QByteArray readAllWaiting() = 0;
    // Sleeps until bytes are waiting or timeoutMs have passed, whichever is
    // first; returns at once when bytes wait already.
    virtual void waitForInput(int timeoutMs) = 0;
    virtual void discardInput() = 0;
};

} // namespace vantorel
