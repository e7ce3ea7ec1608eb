#pragma once

#include <QList>
#include <QString>

namespace vantorel {

// A serial device the system reports as present now.
struct PortDevice {
    QString path;        // what the port opens: /dev/ttyUSB0, or COM3 on Windows
    QString description; // e.g. "FT232R USB UART"; may be empty
    QString manufacturer;
};

// Where the list of present devices comes from; tests give their own.
class PortInfoSource {
public:
    virtual ~PortInfoSource() = default;
    virtual QList<PortDevice> devices() const = 0;
};

// The system's list, read anew at every call.
class SystemPortInfo : public PortInfoSource {
public:
    QList<PortDevice> devices() const override;
};

// One entry of the Com Port list.
struct PortItem {
    QString text;   // "COM 3", or the device path of a present device no COM number reaches
    int number = 0; // 1..99; 0 for such a device
    QString device; // what the item opens
    QString description;
    bool present = false; // the system lists the device now

    // "/dev/ttyUSB0, FT232R USB UART"
    QString deviceText() const;
};

// The 99 COM items, each with the device it opens (Ports.ini in appDir, else
// the default), then the present devices that none of them reaches.
QList<PortItem> portItems(const PortInfoSource &source, const QString &appDir);

// What a Com Port text (a COM item or a device path) opens, with what the
// system says about that device. Throws Fault(PortOpen) for a text that names no port.
PortItem describePort(const QString &comPortText, const QList<PortDevice> &present, const QString &appDir);

// A present device chosen from the list: maps it in Ports.ini under the first
// number that neither Ports.ini nor a present default device uses, and
// returns that number. An already mapped device keeps its number.
// Throws Fault(FileAccess) when Ports.ini cannot be written, Fault(PortOpen)
// when all 99 numbers are taken.
int mapDevice(const QString &device, const QList<PortDevice> &present, const QString &appDir);

// Where a COM item leads: "COM 3 is /dev/ttyUSB0, as Ports.ini maps it."; empty
// for a device path or a text that names no port.
QString portOrigin(const QString &comPortText, const QString &appDir);

// "Serial devices present now: /dev/ttyUSB0 (FT232R USB UART), /dev/ttyS0." or
// the sentence saying there is none.
QString presentDevicesText(const QList<PortDevice> &present);

} // namespace vantorel
