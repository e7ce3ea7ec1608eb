#include "platform/portnames.h"

#include "platform/fault.h"

#include <QDir>
#include <QFile>
#include <QStringList>

namespace vantorel {

namespace {

constexpr int MaxPortNumber = 99;

// 1..99 from "3", "COM 3" or "COM3"; 0 when the text is none of these.
int portNumber(QString text)
{
    text = text.trimmed();
    if (text.startsWith(QLatin1String("COM"), Qt::CaseInsensitive))
        text = text.mid(3).trimmed();
    if (text.isEmpty() || text.size() > 2)
        return 0;
    for (const QChar c : text) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return 0;
    }
    const int n = text.toInt();
    return n >= 1 && n <= MaxPortNumber ? n : 0;
}

// The device Ports.ini gives for a number, or an empty text. Keys outside
// the optional [Ports] section belong to something else and are skipped.
QString mappedDevice(const QString &appDir, int number)
{
    QFile file(QDir(appDir).filePath(QStringLiteral("Ports.ini")));
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    const QStringList lines = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'));
    bool inPorts = true;
    for (const QString &raw : lines) {
        const QString line = raw.trimmed(); // also drops the CR of CR LF
        if (line.isEmpty() || line.startsWith(QLatin1Char(';')) || line.startsWith(QLatin1Char('#')))
            continue;
        if (line.startsWith(QLatin1Char('[')) && line.endsWith(QLatin1Char(']'))) {
            inPorts = line.mid(1, line.size() - 2).trimmed().compare(QLatin1String("Ports"), Qt::CaseInsensitive) == 0;
            continue;
        }
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        if (!inPorts || eq < 0 || portNumber(line.left(eq)) != number)
            continue;
        QString device = line.mid(eq + 1).trimmed();
        if (device.size() >= 2 && device.startsWith(QLatin1Char('"')) && device.endsWith(QLatin1Char('"')))
            device = device.mid(1, device.size() - 2).trimmed();
        if (device.isEmpty())
            continue;
        // "ttyUSB0" is what people write when they mean /dev/ttyUSB0.
        if (!device.startsWith(QLatin1Char('/')))
            device.prepend(QLatin1String("/dev/"));
        return device;
    }
    return QString();
}

} // namespace

QString resolvePortName(const QString &comPortText, const QString &appDir)
{
    const QString text = comPortText.trimmed();
    if (text.startsWith(QLatin1Char('/')))
        return text;

    const int number = portNumber(text);
    if (number == 0)
        throw Fault(FaultCode::PortOpen,
                    QStringLiteral("No serial port \"%1\": choose COM 1 to COM 99 or give a device path.")
                        .arg(comPortText));
#ifdef Q_OS_WIN
    Q_UNUSED(appDir);
    return QStringLiteral("COM%1").arg(number);
#else
    const QString mapped = mappedDevice(appDir, number);
    return mapped.isEmpty() ? QStringLiteral("/dev/ttyS%1").arg(number - 1) : mapped;
#endif
}

} // namespace vantorel
