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
#include <optional>

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

int answersNaming(const QByteArray &answer, const QByteArray &frame, int ctrl, AnswerFlags flags)
{
    if (frame.size() < 2 || quint8(frame[1]) != ctrl)
        return 0;
    int count = 0;
    QByteArray rest = answer;
    while (rest.size() >= 6 && quint8(rest[1]) == ctrl) {
        const QByteArray whole = rest.left(quint8(rest[2]) + 6);
        if (!answerComplete(whole, QByteArray(), flags))
            break;
        ++count;
        rest.remove(0, whole.size());
    }
    return count;
}

namespace {


// How long the first-byte wait sleeps on the port between looks for Cancel.
constexpr int kLookMs = 2;
// How long the settle wait sleeps on the port at most before it reads the clock again.
constexpr int kSettleLookMs = 10;

// How long fast answers keep looking after an answer is whole: bytes that
// follow at once are a second controller on the same number (or noise), and
// the try is then judged as the written timing would judge it.
double guardSeconds(double byteSeconds) { return 0.002 + 3 * byteSeconds; }

// The settle wait after the first byte, handling no events. Bytes are taken in
// as they come; with fast answers the wait ends shortly after they form a
// complete answer that nothing follows, else after the settle delay.
QByteArray settle(Context &ctx, const QByteArray &frame, const AnswerFlags &flags, bool fast, double byteSeconds)
{
    const double t1 = ctx.clock.seconds();
    QByteArray received = ctx.port.readAllWaiting();
    double lastLook = t1;
    std::optional<double> wholeAt; // when the bytes first formed a whole answer
    qsizetype wholeSize = 0;
    for (;;) {
        const double now = ctx.clock.seconds();
        if (fast && !wholeAt && answerComplete(received, frame, flags)) {
            wholeAt = now;
            wholeSize = received.size();
        }
        if (wholeAt && received.size() > wholeSize) {
            fast = false; // more came: the whole settle, as written
            wholeAt.reset();
        }
        if (wholeAt && now - *wholeAt >= guardSeconds(byteSeconds))
            return received;
        const double left = ctx.timings.settleDelay - (now - t1);
        if (left < 0)
            break;
        // Bytes trickle in one by one on a fast line: look at most once a
        // millisecond, so a wait costs next to no processor time.
        if (now - lastLook < 0.001)
            QThread::usleep(static_cast<unsigned long>((0.001 - (now - lastLook)) * 1e6));
        // Sleeps in slices: the time is the clock's, not the port's. A whole
        // answer's look past it ends on time, not a slice later.
        const double until = wholeAt ? std::min(left, guardSeconds(byteSeconds) - (now - *wholeAt)) : left;
        ctx.port.waitForInput(std::clamp(static_cast<int>(std::ceil(until * 1000)), 1, kSettleLookMs));
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
// answer to an earlier frame, or noise. True when it held a whole answer
// naming ctrl: its answers are late, so what comes next may be one too.
bool dropLeftovers(Context &ctx, int ctrl)
{
    const QByteArray left = ctx.port.readAllWaiting();
    if (left.isEmpty())
        return false;
    logStray(ctx, left, QStringLiteral("waiting before the frame was sent"));
    for (qsizetype at = 0; at + 6 <= left.size(); ++at) {
        const QByteArray whole = left.mid(at, quint8(left[at + 2]) + 6);
        if (quint8(left[at + 1]) == ctrl && answerComplete(whole, QByteArray(), AnswerFlags{true, false}))
            return true;
    }
    return false;
}

bool addressesOne(const Context &ctx, int ctrl) { return ctrl >= 0 && ctrl < int(ctx.outcomes.size()); }

// Its record's working time runs from the first frame to it to the end of the last exchange.
void noteExchange(Context &ctx, int ctrl)
{
    if (addressesOne(ctx, ctrl))
        ctx.outcomes[ctrl].exchanged(ctx.clock.seconds());
}

// The speed of a frame is learnt only from an answer that came within the
// waits of frames sent at that speed: not where late answers of this
// controller were found waiting, as one of those may answer a frame sent at
// another speed.
void noteSpeed(Context &ctx, int ctrl, const LineSettings &line)
{
    if (!addressesOne(ctx, ctrl))
        return;
    ctx.outcomes[ctrl].speed = line.baud;
    ++ctx.outcomes[ctrl].timelyAnswers;
}

void noteHeard(Context &ctx, int ctrl)
{
    if (addressesOne(ctx, ctrl))
        ctx.outcomes[ctrl].heardFrom = true;
}

// The port's settings as the line carries them; the tool's default if they
// cannot be read (they were accepted when set).
LineSettings lineNow(Context &ctx)
{
    try {
        return parseLineSettings(ctx.port.settings());
    } catch (const Fault &) {
        return LineSettings{};
    }
}

void noteSharedNumber(Context &ctx, int ctrl)
{
    ctx.log.write(QStringLiteral("Warning : two controllers answer as ") + QString::number(ctrl));
    if (addressesOne(ctx, ctrl))
        ctx.outcomes[ctrl].sharesNumber = true;
}

} // namespace

Exchange SendReceive(Context &ctx, int ctrl, const QByteArray &frame, bool accept682F)
{
    Exchange exchange;
    const double timeOut = ctx.link.timeOut;
    const bool fast = ctx.link.fastAnswers;
    const AnswerFlags flags{ctx.link.prot4Plus, accept682F};
    const LineSettings line = lineNow(ctx);
    // The time-out is the controller's: it starts when the frame has left the
    // line, not when the write returned (an adapter queues it).
    const double frameSeconds = lineSeconds(frame.size(), line);
    int tries = 1;
    int result = ComOk;
    // Once Cancel was pressed no frame goes out: it ends like a stop in the wait.
    if (ctx.StopRequested)
        return exchange;

    // Only before the first try: what waits before a repeat is most likely
    // the late answer to the try before, which names this controller.
    // Late bytes naming this controller were set aside: its answers are late.
    const bool lateForUs = dropLeftovers(ctx, ctrl);
    noteExchange(ctx, ctrl);
    for (;;) {
        ctx.port.write(frame);
        QByteArray received;
        bool strayMet = false;
        double t0 = ctx.clock.seconds() + frameSeconds;
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
            received = settle(ctx, frame, flags, fast, lineSeconds(1, line));
            // Our own frame read back alone: the answer may still come.
            if (received == frame && ctx.clock.seconds() - t0 < timeOut) {
                t0 = ctx.clock.seconds();
                continue;
            }
            const StraySplit split =
                splitStray(received.startsWith(frame) ? received.mid(frame.size()) : received, frame, ctrl, flags);
            if (split.stray.isEmpty())
                break;
            noteHeard(ctx, ctrl);
            logStray(ctx, split.stray, QStringLiteral("not controller ") + QString::number(ctrl) + QStringLiteral("'s answer"));
            received = split.rest;
            strayMet = true;
            // Its own answer may still come within the time-out.
            if (!received.isEmpty() || ctx.clock.seconds() - t0 >= timeOut)
                break;
        }

        const AnswerJudgement judged = judgeAnswer(received, frame, flags);
        if (judged.verdict != AnswerVerdict::NoAnswer) {
            noteHeard(ctx, ctrl);
            ctx.log.write(QStringLiteral("Recu en String : ") + StrToHex(judged.answer));
            if (answersNaming(judged.answer, frame, ctrl, flags) > 1)
                noteSharedNumber(ctx, ctrl);
        }
        if (judged.verdict == AnswerVerdict::Accepted || judged.verdict == AnswerVerdict::Accepted682F) {
            if (judged.verdict == AnswerVerdict::Accepted)
                exchange.answer = StrToHex(judged.answer);
            if (!lateForUs)
                noteSpeed(ctx, ctrl, line);
            result = ComOk;
            break;
        }
        if (tries >= kTries) {
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

double silentTrySeconds(const Context &ctx, int frameBytes, const LineSettings &line)
{
    // The frame on the line, the time-out, and with the written timing the
    // settle wait, which silence gets too.
    const double settle = ctx.link.fastAnswers ? 0.0 : ctx.timings.settleDelay;
    return lineSeconds(frameBytes, line) + ctx.link.timeOut + settle;
}

double silentExchangeSeconds(const Context &ctx, int frameBytes, const LineSettings &line)
{
    return kTries * silentTrySeconds(ctx, frameBytes, line);
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
