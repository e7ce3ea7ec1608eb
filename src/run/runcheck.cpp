#include "run/runcheck.h"

#include "state/context.h"
#include "run/operation.h"
#include "platform/fault.h"
#include "platform/serialport.h"

#include <cmath>

namespace vantorel {

namespace {

[[noreturn]] void refuse(const QString &what)
{
    throw Fault(FaultCode::InvalidArgument, faultDescription(FaultCode::InvalidArgument) + QStringLiteral(" (") + what
                                                + QLatin1Char(')'));
}

} // namespace

void checkSpeed(const QString &vitesse)
{
    static const QStringList speeds = {QStringLiteral("4800"),  QStringLiteral("9600"),  QStringLiteral("19200"),
                                       QStringLiteral("38400"), QStringLiteral("57600"), QStringLiteral("115200")};
    if (!speeds.contains(vitesse))
        refuse(QStringLiteral("the Speed box holds \"") + vitesse + QStringLiteral("\": choose one of ")
               + speeds.join(QStringLiteral(", ")));
}

int waitingDelayMs(const QString &text2)
{
    bool ok = false;
    const double v = text2.trimmed().toDouble(&ok);
    const double r = std::round(v);
    if (!ok || !std::isfinite(v) || r < 0 || r > 32767)
        refuse(QStringLiteral("the Parallel Waiting Delay box holds \"") + text2
               + QStringLiteral("\": type the wait after each broadcast batch in milliseconds, 0 to 32767, for example 10"));
    return static_cast<int>(r);
}

double checkTimeOut(const QString &text1)
{
    const double seconds = timeOutSeconds(text1);
    if (seconds < 0)
        refuse(QStringLiteral("the Time Out box holds \"") + text1
               + QStringLiteral("\": type the answer time-out in milliseconds, 0 or more, for example 1000"));
    return seconds;
}

LinkSettings checkSettings(const MainState &m, const RunNeeds &needs)
{
    LinkSettings link;
    link.timeOut = checkTimeOut(m.Text1.text());
    if (needs.waitingDelay)
        link.waitingDelayMs = waitingDelayMs(m.Text2.text());
    checkSpeed(m.Vitesse.text());
    link.protocolChar = protocolCharFromText(m.Protocol.text());
    link.runChar = link.protocolChar;
    link.sameProtocol = m.SameProtocol;
    link.fastAnswers = m.FastAnswers.ticked();
    link.prot4Plus = m.Protocol4Plus.ticked();
    if (needs.bootSpeed) {
        if (!m.BootIniProblem.isEmpty())
            throw Fault(FaultCode::FileAccess, m.BootIniProblem);
        try {
            parseLineSettings(m.BootSettings);
        } catch (const Fault &) {
            // The settings are Boot.ini's first line and ",N,8,2": whatever is
            // wrong is in that line, be it the speed or a framing of its own.
            QString line = m.BootSettings;
            if (line.endsWith(QLatin1String(",N,8,2")))
                line.chop(6);
            refuse(QStringLiteral("Boot.ini in ") + m.AppDir + QStringLiteral(" holds \"") + line
                   + QStringLiteral("\": its first line must hold only the boot line speed, for example 9600 (the line "
                                    "always runs with no parity, 8 data bits and 2 stop bits); correct it, or remove "
                                    "the file for 9600"));
        }
    }
    return link;
}

void refuseOnFault(Context &ctx, const std::function<void()> &checks)
{
    try {
        checks();
    } catch (const Fault &) {
        ctx.lastRefused = true;
        throw;
    }
}

void checkAndOpen(Context &ctx, const RunNeeds &needs)
{
    refuseOnFault(ctx, [&] {
        ctx.link = checkSettings(ctx.main, needs);
        openPort(ctx);
    });
}

} // namespace vantorel
