#include "link/exchange.h"

#include "state/context.h"
#include "link/checkcode.h"
#include "link/textcodec.h"
#include "platform/clock.h"
#include "platform/desk.h"
#include "platform/fault.h"
#include "platform/serialport.h"

#include <QThread>

#include <algorithm>
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

AnswerJudgement judgeAnswer(const QByteArray &received, const QByteArray &frame, AnswerFlags flags)
{
    AnswerJudgement j;
    if (received.isEmpty() || received == frame)
        return j;
    j.answer = received.startsWith(frame) ? received.mid(frame.size()) : received;
    if (j.answer.size() < 3) {
        j.verdict = flags.accept682F && j.answer == QByteArray("\x68\x2F", 2) ? AnswerVerdict::Accepted682F
                                                                             : AnswerVerdict::CheckFailed;
        return j;
    }
    const QByteArray body = j.answer.chopped(3);
    const QByteArray got = j.answer.mid(j.answer.size() - 3, 2);
    // A Prot 4+ controller answers with the byte sum, its boot program with the CRC.
    const bool matches = got == CalcCRC(body) || (flags.prot4Plus && got == CalcSum(body));
    j.verdict = matches ? AnswerVerdict::Accepted : AnswerVerdict::CheckFailed;
    return j;
}

bool answerComplete(const QByteArray &received, const QByteArray &frame, AnswerFlags flags)
{
    const AnswerJudgement j = judgeAnswer(received, frame, flags);
    if (j.verdict == AnswerVerdict::Accepted682F)
        return true;
    const QByteArray &a = j.answer;
    return j.verdict == AnswerVerdict::Accepted && a.size() >= 6 && a.size() == quint8(a[2]) + 6
        && a.back() == '\x04';
}

StraySplit splitStray(const QByteArray &bytes, const QByteArray &frame, int ctrl, AnswerFlags flags)
{
    StraySplit split{{}, bytes};
    if (frame.size() < 2 || quint8(frame[1]) != ctrl)
        return split;
    QByteArray &rest = split.rest;
    // A whole answer, sound by its own check code, that names another
    // controller; anything else is judged as it is (a damaged answer of ours
    // stays a failed check).
    while (rest.size() >= 7 && quint8(rest[1]) != ctrl) {
        const QByteArray whole = rest.left(quint8(rest[2]) + 6);
        if (!answerComplete(whole, QByteArray(), flags))
            break;
        split.stray += whole;
        rest.remove(0, whole.size());
    }
    return split;
}

namespace {

// How long the first-byte wait sleeps on the port between looks for Cancel.
constexpr int kLookMs = 2;
// How long the settle wait sleeps on the port at most before it reads the clock again.
constexpr int kSettleLookMs = 10;

// The settle wait after the first byte, handling no events. Bytes are taken in
// as they come; with fast answers the wait ends as soon as they form a
// complete answer, else after the settle delay.
QByteArray settle(Context &ctx, const QByteArray &frame, const AnswerFlags &flags, bool fast)
{
    const double t1 = ctx.clock.seconds();
    QByteArray received = ctx.port.readAllWaiting();
    double lastLook = t1;
    for (;;) {
        if (fast && answerComplete(received, frame, flags))
            return received;
        const double now = ctx.clock.seconds();
        const double left = ctx.timings.settleDelay - (now - t1);
        if (left < 0)
            break;
        // Bytes trickle in one by one on a fast line: look at most once a
        // millisecond, so a wait costs next to no processor time.
        if (now - lastLook < 0.001)
            QThread::usleep(static_cast<unsigned long>((0.001 - (now - lastLook)) * 1e6));
        // Sleeps in slices: the time is the clock's, not the port's.
        ctx.port.waitForInput(std::clamp(static_cast<int>(std::ceil(left * 1000)), 1, kSettleLookMs));
        lastLook = ctx.clock.seconds();
        received += ctx.port.readAllWaiting();
    }
    return received + ctx.port.readAllWaiting();
}

void logStray(Context &ctx, const QByteArray &bytes, const QString &why)
{
    ctx.log.write(QStringLiteral("Stray bytes : ") + StrToHex(bytes) + QStringLiteral(" (") + why + QLatin1Char(')'));
}

// Whatever waits before an exchange starts is no answer to it: a late
// answer to an earlier frame, or noise.
void dropLeftovers(Context &ctx)
{
    const QByteArray left = ctx.port.readAllWaiting();
    if (!left.isEmpty())
        logStray(ctx, left, QStringLiteral("waiting before the frame was sent"));
}

bool addressesOne(const Context &ctx, int ctrl) { return ctrl >= 0 && ctrl < int(ctx.outcomes.size()); }

// Its record's working time runs from the first frame to it to the end of the last exchange.
void noteExchange(Context &ctx, int ctrl)
{
    if (addressesOne(ctx, ctrl))
        ctx.outcomes[ctrl].exchanged(ctx.clock.seconds());
}

void noteSpeed(Context &ctx, int ctrl)
{
    if (!addressesOne(ctx, ctrl))
        return;
    try {
        ctx.outcomes[ctrl].speed = parseLineSettings(ctx.port.settings()).baud;
    } catch (const Fault &) {
        // Settings the port took are readable; nothing to note if not.
    }
}

} // namespace

Exchange SendReceive(Context &ctx, int ctrl, const QByteArray &frame, bool accept682F)
{
    Exchange exchange;
    const double timeOut = ctx.link.timeOut;
    const bool fast = ctx.link.fastAnswers;
    const AnswerFlags flags{ctx.link.prot4Plus, accept682F};
    int tries = 1;
    int result = ComOk;

    // Only before the first try: what waits before a repeat is most likely
    // the late answer to the try before, which names this controller.
    dropLeftovers(ctx);
    noteExchange(ctx, ctrl);
    for (;;) {
        ctx.port.write(frame);
        QByteArray received;
        bool strayMet = false;
        double t0 = ctx.clock.seconds();
        for (;;) {
            // Wait for the first byte, seeing Cancel meanwhile.
            for (;;) {
                ctx.desk.processEvents();
                if (ctx.StopRequested) {
                    noteExchange(ctx, ctrl);
                    return exchange;
                }
                const double waited = ctx.clock.seconds() - t0;
                if (ctx.port.bytesWaiting() > 0 || waited > timeOut)
                    break;
                // Not past the time-out by more than a moment: a silent try costs just that.
                ctx.port.waitForInput(std::clamp(static_cast<int>(std::ceil((timeOut - waited) * 1000)), 1, kLookMs));
            }
            // Fast answers: silence has nothing to let settle. After a stray
            // answer the settle wait is over already.
            if ((fast || strayMet) && ctx.port.bytesWaiting() == 0) {
                received.clear(); // an echo that came alone before is no answer either
                break;
            }
            ctx.desk.processEvents();
            received = settle(ctx, frame, flags, fast);
            // Our own frame read back alone: the answer may still come.
            if (received == frame && ctx.clock.seconds() - t0 < timeOut) {
                t0 = ctx.clock.seconds();
                continue;
            }
            const StraySplit split =
                splitStray(received.startsWith(frame) ? received.mid(frame.size()) : received, frame, ctrl, flags);
            if (split.stray.isEmpty())
                break;
            logStray(ctx, split.stray, QStringLiteral("not controller ") + QString::number(ctrl) + QStringLiteral("'s answer"));
            received = split.rest;
            strayMet = true;
            // Its own answer may still come within the time-out.
            if (!received.isEmpty() || ctx.clock.seconds() - t0 >= timeOut)
                break;
        }

        const AnswerJudgement judged = judgeAnswer(received, frame, flags);
        if (judged.verdict != AnswerVerdict::NoAnswer)
            ctx.log.write(QStringLiteral("Recu en String : ") + StrToHex(judged.answer));
        if (judged.verdict == AnswerVerdict::Accepted || judged.verdict == AnswerVerdict::Accepted682F) {
            if (judged.verdict == AnswerVerdict::Accepted)
                exchange.answer = StrToHex(judged.answer);
            noteSpeed(ctx, ctrl);
            result = ComOk;
            break;
        }
        if (tries >= 3) {
            result = judged.verdict == AnswerVerdict::CheckFailed ? ComCheckFailed : ComNoAnswer;
            break;
        }
        ++tries;
    }
    noteExchange(ctx, ctrl);
    ctx.log.write(ComResultText(result));
    exchange.result = result;
    return exchange;
}

Exchange sendAcknowledged(Context &ctx, int ctrl, const QByteArray &frame, int &resends)
{
    for (;;) {
        Exchange e = SendReceive(ctx, ctrl, frame);
        if (!e.ok() || e.acknowledged() || resends <= 0)
            return e;
        --resends;
    }
}

} // namespace vantorel
