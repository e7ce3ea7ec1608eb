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
    // Queues and pushes the bytes onto the line before returning.
    virtual void write(const QByteArray &bytes) = 0;
    // Bytes waiting now, without needing an event loop.
    virtual qint64 bytesWaiting() = 0;
    virtual QByteArray readAllWaiting() = 0;
    // Sleeps until bytes are waiting or timeoutMs have passed, whichever is
    // first; returns at once when bytes wait already.
    virtual void waitForInput(int timeoutMs) = 0;
    virtual void discardInput() = 0;
};

} // namespace vantorel
