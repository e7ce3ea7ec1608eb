#include "platform/portinfo.h"

#include "platform/fault.h"
#include "platform/portnames.h"

#include <QFileInfo>
#include <QSerialPortInfo>

#include <algorithm>

namespace vantorel {

namespace {

constexpr int kItems = 99;

const PortDevice *find(const QList<PortDevice> &present, const QString &path)
{
    for (const PortDevice &d : present) {
        if (d.path == path)
            return &d;
    }
    return nullptr;
}

PortItem item(QString text, int number, const QString &device, const QList<PortDevice> &present)
{
    PortItem it;
    it.text = std::move(text);
    it.number = number;
    it.device = device;
    if (const PortDevice *d = find(present, device)) {
        it.present = true;
        it.description = d->description;
    }
    return it;
}

} // namespace

QList<PortDevice> SystemPortInfo::devices() const
{
    QList<PortDevice> list;
    for (const QSerialPortInfo &info : QSerialPortInfo::availablePorts()) {
#ifdef Q_OS_WIN
        const QString path = info.portName();
#else
        const QString path = info.systemLocation();
#endif
        list.append({path, info.description(), info.manufacturer()});
    }
    return list;
}

QString PortItem::deviceText() const
{
    return description.isEmpty() ? device : device + QStringLiteral(", ") + description;
}

QList<PortItem> portItems(const PortInfoSource &source, const QString &appDir)
{
    const QList<PortDevice> present = source.devices();
    const QMap<int, QString> mapped = portMappings(appDir);
    QList<PortItem> items;
    for (int n = 1; n <= kItems; ++n)
        items.append(item(QStringLiteral("COM ") + QString::number(n), n, portDevice(n, mapped), present));
    for (const PortDevice &d : present) {
        const bool reached = std::any_of(items.cbegin(), items.cend(),
                                         [&d](const PortItem &it) { return it.number > 0 && it.device == d.path; });
        if (!reached)
            items.append(item(d.path, 0, d.path, present));
    }
    return items;
}

PortItem describePort(const QString &comPortText, const QList<PortDevice> &present, const QString &appDir)
{
    const int number = portNumber(comPortText);
    const QString device = resolvePortName(comPortText, appDir);
    return item(comPortText.trimmed(), number, device, present);
}

int mapDevice(const QString &device, const QList<PortDevice> &present, const QString &appDir)
{
    const QMap<int, QString> mapped = portMappings(appDir);
    for (int n = 1; n <= kItems; ++n) {
        if (portDevice(n, mapped) == device)
            return n;
    }
    for (int n = 1; n <= kItems; ++n) {
        if (mapped.contains(n) || find(present, defaultPortDevice(n)))
            continue;
        addPortMapping(appDir, n, device);
        return n;
    }
    throw Fault(FaultCode::PortOpen, QStringLiteral("All of COM 1 to COM 99 are in use, so %1 cannot get a number. "
                                                    "Remove unused lines from Ports.ini, or type the device path into Com Port.")
                                         .arg(device));
}

QString portOrigin(const QString &comPortText, const QString &appDir)
{
    const int number = portNumber(comPortText);
    if (number == 0)
        return QString();
    const QString item = QStringLiteral("COM ") + QString::number(number);
#ifdef Q_OS_WIN
    Q_UNUSED(appDir);
    return item + QStringLiteral(" is ") + portDevice(number, {}) + QLatin1Char('.');
#else
    const QMap<int, QString> mapped = portMappings(appDir);
    if (mapped.contains(number))
        return item + QStringLiteral(" is ") + mapped.value(number) + QStringLiteral(", as Ports.ini maps it.");
    return item + QStringLiteral(" is ") + defaultPortDevice(number) + QStringLiteral(" (Ports.ini does not map ") + item
        + QStringLiteral(").");
#endif
}

QString presentDevicesText(const QList<PortDevice> &present)
{
    if (present.isEmpty())
        return QStringLiteral("The system lists no serial device now: plug in the adapter, then open the Com Port list again.");
    QStringList names;
    for (const PortDevice &d : present)
        names << (d.description.isEmpty() ? d.path : d.path + QStringLiteral(" (") + d.description + QLatin1Char(')'));
    return QStringLiteral("Serial devices present now: ") + names.join(QStringLiteral(", ")) + QLatin1Char('.');
}

} // namespace vantorel
