#include "state/linksettings.h"

#include "platform/fault.h"

#include <cmath>

namespace vantorel {

double timeOutSeconds(const QString &text1)
{
    bool ok = false;
    const double ms = text1.trimmed().toDouble(&ok);
    if (!ok || !std::isfinite(ms) || std::fabs(ms) > 2147483647.0)
        throw Fault::because(FaultCode::InvalidArgument,
                             QStringLiteral("the Time Out box holds \"") + text1
                                 + QStringLiteral("\": type the answer time-out in milliseconds, for example 1000"));
    return std::round(ms) / 1000.0;
}

const QStringList &speedList()
{
    static const QStringList speeds = {QStringLiteral("4800"), QStringLiteral("9600"), QStringLiteral("19200"),
                                       QStringLiteral("38400")};
    return speeds;
}

QByteArray protocolCharFromText(const QString &protocolText)
{
    bool ok = false;
    const double v = protocolText.trimmed().toDouble(&ok);
    const double code = std::round(v + 1);
    if (!ok || !std::isfinite(v) || code < 0 || code > 255)
        throw Fault::because(FaultCode::InvalidArgument, QStringLiteral("the Protocol box holds \"") + protocolText
                                 + QStringLiteral("\": type a number from -1 to 254"));
    return QByteArray(1, static_cast<char>(static_cast<int>(code)));
}

} // namespace vantorel
