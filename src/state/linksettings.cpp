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

} // namespace vantorel
