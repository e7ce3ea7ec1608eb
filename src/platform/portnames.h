#pragma once

#include <QMap>
#include <QString>

namespace vantorel {

// The device behind a port as the user names it: "COM 3" (also "COM3"), "3",
// or a device path (starting with '/') used as it stands. On Windows
// "COM n" is COMn; elsewhere Ports.ini in appDir may map the number
// ("3=/dev/ttyUSB0"), else it is /dev/ttyS<n-1>.
// Throws Fault(PortOpen) for a text that names no port.
QString resolvePortName(const QString &comPortText, const QString &appDir);

// Why a Com Port text names no port and what to choose instead ("the Com Port
// box is empty: choose ..."); empty for a text that names one.
QString portTextProblem(const QString &comPortText);

// 1..99 from "3", "COM 3" or "COM3"; 0 when the text is none of these.
int portNumber(QString text);
// The numbers Ports.ini in appDir maps, with their devices.
QMap<int, QString> portMappings(const QString &appDir);
// What an unmapped number opens: /dev/ttyS<n-1> (COMn on Windows).
QString defaultPortDevice(int number);
// What number n opens, given the mappings of Ports.ini (which Windows ignores).
QString portDevice(int number, const QMap<int, QString> &mappings);
// Adds "number=device" to Ports.ini (created if missing), keeping what it
// holds. Throws Fault(FileAccess) when it cannot be written.
void addPortMapping(const QString &appDir, int number, const QString &device);

} // namespace vantorel
