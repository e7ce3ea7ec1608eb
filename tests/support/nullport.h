#pragma once

#include "platform/serialport.h"

#include <QThread>

namespace vantorel {

// A port for tests that must not touch a line: every use is recorded.
class NullSerialPort : public SerialPort {
public:
    void selectPort(const QString &deviceName) override { name = deviceName; }
    QString portName() const override { return name; }
    void setSettings(const QString &settingsText) override { settingsText_ = settingsText; }
    QString settings() const override { return settingsText_; }
    void open() override { ++opens; open_ = true; }
    void close() override { open_ = false; }
    bool isOpen() const override { return open_; }
    void write(const QByteArray &bytes) override { written += bytes; }
    qint64 bytesUnsent() override { return 0; }
    qint64 bytesWaiting() override { return 0; }
    QByteArray readAllWaiting() override { return QByteArray(); }
    void waitForInput(int timeoutMs) override { QThread::msleep(static_cast<unsigned long>(timeoutMs)); }
    void discardInput() override {}

    QString name;
    QByteArray written;
    int opens = 0;

private:
    QString settingsText_;
    bool open_ = false;
};

} // namespace vantorel
