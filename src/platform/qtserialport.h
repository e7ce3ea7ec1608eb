#pragma once

#include "platform/serialport.h"

#include <QDeadlineTimer>
#include <QSerialPort>

#include <memory>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#endif

namespace vantorel {

// The tool's serial port on Qt. Works without a running event loop: operations
// busy-wait on bytesWaiting() and expect write() to have sent its bytes.
class QtSerialPort : public SerialPort {
public:
    QtSerialPort();
    ~QtSerialPort() override;
    QtSerialPort(const QtSerialPort &) = delete;
    QtSerialPort &operator=(const QtSerialPort &) = delete;

    // Takes effect at the next open().
    void selectPort(const QString &deviceName) override;
    QString portName() const override;
    void setSettings(const QString &settingsText) override;
    QString settings() const override;
    // Does nothing when already open.
    void open() override;
    void close() override;
    bool isOpen() const override;
    void write(const QByteArray &bytes) override;
    qint64 bytesUnsent() override;
    qint64 bytesWaiting() override;
    QByteArray readAllWaiting() override;
    void waitForInput(int timeoutMs) override;
    void discardInput() override;

private:
    QSerialPort &livePort();
    [[noreturn]] void throwLost();
    void lose(const QString &reason);
    // Closes and drops the Qt port; see closeUnlockingFirst.
    void release();
    void onError(QSerialPort::SerialPortError error);
    QString applySettings(const LineSettings &s);
    // Waits, bounded, until what was written has left the line: a speed
    // change or a close (which puts the old settings back) must not catch
    // bytes still going out.
    void drainOutput();

    // A fresh QSerialPort for every open: nothing Qt kept from a lost line
    // (queued output, error state) can leak into the next session.
    std::unique_ptr<QSerialPort> port_;
    QString name_;
    QString settingsText_;
    LineSettings settings_;
    bool lost_ = false;
    QString lostReason_;
    // When the last byte written will have left the line at its speed, by
    // the line's own time (a pseudo-terminal's queue says 0 at once).
    QDeadlineTimer lineFree_;
};

#ifdef Q_OS_UNIX
// What to do about a device the system refused to open with "Permission
// denied", judged from its stat and the caller's user and groups as the system
// judges them: join the group that owns it, or have its permissions widened.
// Empty when the permissions let the caller read and write it (something else,
// such as a lock, refused it).
QString permissionAdvice(const QString &device, const struct stat &st, uid_t uid, const QList<gid_t> &groups);
#endif

} // namespace vantorel
