#pragma once

#include "platform/portinfo.h"

#include <QStringList>

namespace vantorel {

// Present devices as "/dev/ttyUSB0|FT232R USB UART", one a text.
class FakePorts : public PortInfoSource {
public:
    explicit FakePorts(const QStringList &devices)
    {
        for (const QString &d : devices)
            list.append({d.section(QLatin1Char('|'), 0, 0), d.section(QLatin1Char('|'), 1), QString()});
    }
    QList<PortDevice> devices() const override { return list; }
    QList<PortDevice> list;
};

} // namespace vantorel
