#include "link/exchange.h"

#include "app/context.h"
#include "link/checkcode.h"
#include "link/textcodec.h"
#include "link/waits.h"
#include "platform/clock.h"
#include "platform/desk.h"
#include "platform/fault.h"
#include "platform/serialport.h"

#include <cmath>

namespace vantorel {

QString ComResultText(int code)
{
    switch (code) {
    case ComOk: return QStringLiteral("Communication OK  - CRC checked");
    case ComNoAnswer: return QStringLiteral("No Answer");
    case ComCheckFailed: return QStringLiteral("Communication Error - CRC false 3 time");
    case ComRefused: return QStringLiteral("Communication Failure - 3 * E1");
    default: return QString();
    }
}

double timeOutSeconds(const QString &text1)
{
    bool ok = false;
    const double ms = text1.trimmed().toDouble(&ok);
    if (!ok || !std::isfinite(ms) || std::fabs(ms) > 2147483647.0)
        throw Fault(FaultCode::InvalidArgument,
                    faultDescription(FaultCode::InvalidArgument) + QStringLiteral(" (the Time Out box holds \"") + text1
                        + QStringLiteral("\": type the answer time-out in milliseconds, for example 1000)"));
    return std::round(ms) / 1000.0;
}

int SendReceive(Context &ctx, int /*ctrl*/, const QByteArray &frame, QString &answer, bool accept682F)
{
    answer.clear();
    const double timeOut = timeOutSeconds(ctx.main.Text1.text());
    int tries = 1;
    int result = ComOk;

    for (;;) {
        ctx.port.write(frame);
        QByteArray received;
        for (;;) {
            // Wait for the first byte, seeing Cancel meanwhile.
            const double t0 = ctx.clock.seconds();
            for (;;) {
                ctx.desk.processEvents();
                if (ctx.StopRequested)
                    return ComNoAnswer;
                if (ctx.port.bytesWaiting() > 0 || ctx.clock.seconds() - t0 > timeOut)
                    break;
                pause();
            }
            // The whole answer is taken to be in within the settle time.
            ctx.desk.processEvents();
            waitWithoutEvents(ctx, ctx.timings.settleDelay);
            received = ctx.port.readAllWaiting();
            // Our own frame read back alone: the answer may still come.
            if (received == frame && ctx.clock.seconds() - t0 < timeOut)
                continue;
            break;
        }

        bool failedNoAnswer = received.isEmpty() || received == frame;
        bool failedCheck = false;
        if (!failedNoAnswer) {
            if (received.startsWith(frame))
                received.remove(0, frame.size());
            const QString hex = StrToHex(received);
            ctx.log.write(QStringLiteral("Recu en String : ") + hex);
            if (hex.size() < 6) {
                if (hex == QLatin1String("682F") && accept682F) {
                    result = ComOk;
                    break;
                }
                failedCheck = true;
            } else {
                const QString got = hex.mid(hex.size() - 6, 4);
                const QString expected =
                    ctx.main.Protocol4Plus.ticked() ? got : StrToHex(CalcCRC(received.chopped(3)));
                if (expected == got) {
                    answer = hex;
                    result = ComOk;
                    break;
                }
                failedCheck = true;
            }
        }
        if (tries >= 3) {
            result = failedCheck ? ComCheckFailed : ComNoAnswer;
            break;
        }
        ++tries;
    }
    ctx.log.write(ComResultText(result));
    return result;
}

} // namespace vantorel
