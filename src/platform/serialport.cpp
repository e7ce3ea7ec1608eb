#include "platform/serialport.h"

#include "platform/fault.h"

#include <QStringList>

namespace vantorel {

namespace {

[[noreturn]] void reject(const QString &text, const QString &why)
{
    throw Fault(FaultCode::PortSettings,
                QStringLiteral("Invalid serial port settings \"%1\": %2. Expected speed,parity,data bits,stop "
                               "bits such as \"9600,N,8,2\".")
                    .arg(text, why));
}

bool allDigits(const QString &field)
{
    if (field.isEmpty())
        return false;
    for (const QChar c : field) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
    }
    return true;
}

} // namespace

LineSettings parseLineSettings(const QString &text)
{
    const QStringList fields = text.split(QLatin1Char(','));
    if (fields.size() != 4)
        reject(text, QStringLiteral("four fields separated by commas are needed"));

    LineSettings s;

    const QString baud = fields[0].trimmed();
    bool ok = false;
    // toInt alone would take "+9600" and " 9600"; only plain digits are a speed.
    s.baud = allDigits(baud) ? baud.toInt(&ok) : 0;
    if (!ok || s.baud <= 0)
        reject(text, QStringLiteral("the speed must be a whole number of bits per second above 0"));

    const QString parity = fields[1].trimmed().toUpper();
    if (parity.size() != 1 || !QStringLiteral("NEOMS").contains(parity[0]))
        reject(text, QStringLiteral("the parity must be N, E, O, M or S"));
    s.parity = parity[0].toLatin1();

    const QString dataBits = fields[2].trimmed();
    if (dataBits.size() != 1 || dataBits[0] < QLatin1Char('5') || dataBits[0] > QLatin1Char('8'))
        reject(text, QStringLiteral("the data bits must be 5, 6, 7 or 8"));
    s.dataBits = dataBits[0].digitValue();

    const QString stopBits = fields[3].trimmed();
    if (stopBits == QLatin1String("1"))
        s.stopBits = 1;
    else if (stopBits == QLatin1String("2"))
        s.stopBits = 2;
    else if (stopBits == QLatin1String("1.5"))
        s.stopBits = LineSettings::OneAndHalfStop;
    else
        reject(text, QStringLiteral("the stop bits must be 1, 1.5 or 2"));

    return s;
}

double lineSeconds(qint64 characters, const LineSettings &s)
{
    const double stop = s.stopBits == LineSettings::OneAndHalfStop ? 1.5 : s.stopBits;
    const double bits = 1 + s.dataBits + (s.parity == 'N' ? 0 : 1) + stop;
    return characters * bits / qMax(1, s.baud);
}

} // namespace vantorel
