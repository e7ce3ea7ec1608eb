#include "platform/portnames.h"

#include "platform/fault.h"
#include "platform/wholefile.h"

#include <QDir>
#include <QSaveFile>
#include <QStringList>

namespace vantorel {

namespace {

constexpr int MaxPortNumber = 99;

QString portsIniPath(const QString &appDir) { return QDir(appDir).filePath(QStringLiteral("Ports.ini")); }

bool isSectionLine(const QString &line) { return line.startsWith(QLatin1Char('[')) && line.endsWith(QLatin1Char(']')); }

bool isPortsSection(const QString &line)
{
    return line.mid(1, line.size() - 2).trimmed().compare(QLatin1String("Ports"), Qt::CaseInsensitive) == 0;
}

// Ports.ini's bytes; empty when there is none. Throws Fault(FileAccess) for
// one that is there but cannot be read.
QByteArray portsIniText(const QString &appDir)
{
    try {
        return readWholeFile(portsIniPath(appDir), kSettingsFileLimit, QStringLiteral("Ports.ini"),
                             QStringLiteral("make it a plain text file of lines such as 3=/dev/ttyUSB0, or remove it"));
    } catch (const Fault &fault) {
        if (fault.code() == FaultCode::FileNotFound)
            return QByteArray();
        throw;
    }
}

// Keys outside the optional [Ports] section belong to something else and are
// skipped. The first mapping of a number counts.
QMap<int, QString> mappingsIn(const QByteArray &text)
{
    QMap<int, QString> map;
    const QStringList lines = QString::fromUtf8(text).split(QLatin1Char('\n'));
    bool inPorts = true;
    for (const QString &raw : lines) {
        const QString line = raw.trimmed(); // also drops the CR of CR LF
        if (line.isEmpty() || line.startsWith(QLatin1Char(';')) || line.startsWith(QLatin1Char('#')))
            continue;
        if (isSectionLine(line)) {
            inPorts = isPortsSection(line);
            continue;
        }
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        const int number = eq < 0 ? 0 : portNumber(line.left(eq));
        if (!inPorts || number == 0 || map.contains(number))
            continue;
        QString device = line.mid(eq + 1).trimmed();
        if (device.size() >= 2 && device.startsWith(QLatin1Char('"')) && device.endsWith(QLatin1Char('"')))
            device = device.mid(1, device.size() - 2).trimmed();
        if (device.isEmpty())
            continue;
        // "ttyUSB0" is what people write when they mean /dev/ttyUSB0.
        if (!device.startsWith(QLatin1Char('/')))
            device.prepend(QLatin1String("/dev/"));
        map.insert(number, device);
    }
    return map;
}

} // namespace

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

// A Ports.ini that cannot be read maps nothing here; opening a port through
// it tells why.
QMap<int, QString> portMappings(const QString &appDir)
{
    try {
        return mappingsIn(portsIniText(appDir));
    } catch (const Fault &) {
        return {};
    }
}

QString defaultPortDevice(int number)
{
#ifdef Q_OS_WIN
    return QStringLiteral("COM%1").arg(number);
#else
    return QStringLiteral("/dev/ttyS%1").arg(number - 1);
#endif
}

QString portDevice(int number, const QMap<int, QString> &mappings)
{
#ifdef Q_OS_WIN
    Q_UNUSED(mappings);
    return defaultPortDevice(number);
#else
    return mappings.value(number, defaultPortDevice(number));
#endif
}

void addPortMapping(const QString &appDir, int number, const QString &device)
{
    const QString path = portsIniPath(appDir);
    QByteArray text = portsIniText(appDir);
    const QByteArray eol = text.contains("\r\n") ? QByteArray("\r\n") : QByteArray("\n");
    const QByteArray entry = QByteArray::number(number) + '=' + device.toUtf8() + eol;
    // Into the [Ports] section, or before the first section (where keys are ours).
    QList<QByteArray> lines = text.split('\n');
    qsizetype at = -1;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QString line = QString::fromUtf8(lines[i]).trimmed();
        if (isSectionLine(line)) {
            at = isPortsSection(line) ? i + 1 : i;
            break;
        }
    }
    if (at < 0) {
        if (!text.isEmpty() && !text.endsWith('\n'))
            text += eol;
        text += entry;
    } else {
        qsizetype offset = 0;
        for (qsizetype i = 0; i < at; ++i)
            offset += lines[i].size() + 1;
        text.insert(offset, entry);
    }
    QSaveFile out(path);
    if (!out.open(QIODevice::WriteOnly) || out.write(text) != text.size() || !out.commit())
        throw Fault(FaultCode::FileAccess, faultDescription(FaultCode::FileAccess) + QStringLiteral(" (") + path
                                               + QStringLiteral(": ") + out.errorString()
                                               + QStringLiteral("; the port was not added to the list)"));
}

QString portTextProblem(const QString &comPortText)
{
    const QString text = comPortText.trimmed();
    if (text.startsWith(QLatin1Char('/')) || portNumber(text) != 0)
        return QString();
#ifdef Q_OS_WIN
    const QString choose = QStringLiteral("choose COM 1 to COM 99 in the Com Port list");
#else
    const QString choose =
        QStringLiteral("choose COM 1 to COM 99 in the Com Port list or type a device path such as /dev/ttyUSB0");
#endif
    return (text.isEmpty() ? QStringLiteral("the Com Port box is empty")
                           : QStringLiteral("the Com Port box holds \"%1\", which names no port").arg(comPortText))
        + QStringLiteral(": ") + choose;
}

QString resolvePortName(const QString &comPortText, const QString &appDir)
{
    const QString text = comPortText.trimmed();
    if (text.startsWith(QLatin1Char('/')))
        return text;

    const QString problem = portTextProblem(comPortText);
    if (!problem.isEmpty())
        throw Fault(FaultCode::PortOpen, problem.front().toUpper() + problem.mid(1) + QStringLiteral(", then start again."));
    const int number = portNumber(text);
#ifdef Q_OS_WIN
    Q_UNUSED(appDir);
    return portDevice(number, {});
#else
    return portDevice(number, mappingsIn(portsIniText(appDir)));
#endif
}

} // namespace vantorel
