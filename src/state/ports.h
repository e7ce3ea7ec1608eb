#pragma once

#include "platform/portinfo.h"

namespace vantorel {

class Context;

// The Com Port list as it is now: the 99 COM items with their devices, then
// the present devices no COM item reaches.
QList<PortItem> comPortList(const Context &ctx);

// What the text in Com Port opens now; an item with an empty device when the
// text names no port.
PortItem comPortInHand(const Context &ctx);

// A present device that no COM item reaches, chosen from the list: it gets a
// free COM number in Ports.ini and Com Port shows that number, so Flash.cfg
// keeps its "COM n" line. When Ports.ini cannot take it, the user is told and
// Com Port holds the device path, which opens as well.
void chooseDevice(Context &ctx, const QString &device);

} // namespace vantorel
