#pragma once

#include <QString>

namespace vantorel {

// The device behind a port as the user names it: "COM 3" (also "COM3"), "3",
// or a device path (starting with '/') used as it stands. On Windows
// "COM n" is COMn; elsewhere Ports.ini in appDir may map the number
// ("3=/dev/ttyUSB0"), else it is /dev/ttyS<n-1>.
// Throws Fault(PortOpen) for a text that names no port.
QString resolvePortName(const QString &comPortText, const QString &appDir);

} // namespace vantorel
