#include "link/exchange.h"

#include "link/checkcode.h"
#include "link/textcodec.h"
#include "platform/clock.h"
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

bool answeredTwice(const QByteArray &answer, const QByteArray &frame, int ctrl, AnswerFlags flags)
{
    if (frame.size() < 2 || quint8(frame[1]) != ctrl)
        return false;
    int count = 0;
    QByteArray rest = answer;
    while (rest.size() >= 6 && quint8(rest[1]) == ctrl) {
        const QByteArray whole = rest.left(quint8(rest[2]) + 6);
        if (!answerComplete(whole, QByteArray(), flags))
            return false;
        if (++count == 2)
            return true;
        rest = rest.sliced(whole.size());
    }
    return false;
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
QByteArray settle(LineHandle &wire, const QByteArray &frame, const AnswerFlags &flags, bool fast, double byteSeconds)
{
    const double t1 = wire.clock.seconds();
    QByteArray received = wire.port.readAllWaiting();
    double lastLook = t1;
    std::optional<double> wholeAt; // when the bytes first formed a whole answer
    qsizetype wholeSize = 0;
    for (;;) {
        const double now = wire.clock.seconds();
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
        const double left = wire.settleDelay - (now - t1);
        if (left < 0)
            break;
        // Bytes trickle in one by one on a fast line: look at most once a
        // millisecond, so a wait costs next to no processor time.
        if (now - lastLook < 0.001)
            QThread::usleep(static_cast<unsigned long>((0.001 - (now - lastLook)) * 1e6));
        // Sleeps in slices: the time is the clock's, not the port's. A whole
        // answer's look past it ends on time, not a slice later.
        const double until = wholeAt ? std::min(left, guardSeconds(byteSeconds) - (now - *wholeAt)) : left;
        wire.port.waitForInput(std::clamp(static_cast<int>(std::ceil(until * 1000)), 1, kSettleLookMs));
        lastLook = wire.clock.seconds();
        received += wire.port.readAllWaiting();
    }
    return received + wire.port.readAllWaiting();
}

void logStray(LineHandle &wire, const QByteArray &bytes, const QString &why)
{
    wire.log(QStringLiteral("Stray bytes : ") + StrToHex(bytes) + QStringLiteral(" (") + why + QLatin1Char(')'));
}

// Whatever waits before an exchange starts is no answer to it: a late
// answer to an earlier frame, or noise. True when it held a whole answer
// naming ctrl: its answers are late, so what comes next may be one too.
bool dropLeftovers(LineHandle &wire, int ctrl)
{
    const QByteArray left = wire.port.readAllWaiting();
    if (left.isEmpty())
        return false;
    logStray(wire, left, QStringLiteral("waiting before the frame was sent"));
    for (qsizetype at = 0; at + 6 <= left.size(); ++at) {
        const QByteArray whole = left.mid(at, quint8(left[at + 2]) + 6);
        if (quint8(left[at + 1]) == ctrl && answerComplete(whole, QByteArray(), AnswerFlags{true, false}))
            return true;
    }
    return false;
}

bool addressesOne(const LineHandle &wire, int ctrl) { return ctrl >= 0 && ctrl < int(wire.outcomes.size()); }

// Its record's working time runs from the first frame to it to the end of the last exchange.
void noteExchange(LineHandle &wire, int ctrl)
{
    if (addressesOne(wire, ctrl))
        wire.outcomes[ctrl].exchanged(wire.clock.seconds());
}

// The speed of a frame is learnt only from an answer that came within the
// waits of frames sent at that speed: not where late answers of this
// controller were found waiting, as one of those may answer a frame sent at
// another speed.
void noteSpeed(LineHandle &wire, int ctrl, const LineSettings &line)
{
    if (!addressesOne(wire, ctrl))
        return;
    wire.outcomes[ctrl].speed = line.baud;
    ++wire.outcomes[ctrl].timelyAnswers;
}

void noteHeard(LineHandle &wire, int ctrl)
{
    if (addressesOne(wire, ctrl))
        wire.outcomes[ctrl].heardFrom = true;
}

// The port's settings as the line carries them; the tool's default if they
// cannot be read (they were accepted when set).
LineSettings lineNow(LineHandle &wire)
{
    try {
        return parseLineSettings(wire.port.settings());
    } catch (const Fault &) {
        return LineSettings{};
    }
}

void noteSharedNumber(LineHandle &wire, int ctrl)
{
    wire.log(QStringLiteral("Warning : two controllers answer as ") + QString::number(ctrl));
    if (addressesOne(wire, ctrl))
        wire.outcomes[ctrl].sharesNumber = true;
}

} // namespace

Exchange SendReceive(LineHandle &wire, int ctrl, const QByteArray &frame, bool accept682F)
{
    Exchange exchange;
    const double timeOut = wire.settings.timeOut;
    const bool fast = wire.settings.fastAnswers;
    const AnswerFlags flags{wire.settings.prot4Plus, accept682F};
    const LineSettings line = lineNow(wire);
    // The time-out is the controller's: it starts when the frame has left the
    // line, not when the write returned (an adapter queues it).
    const double frameSeconds = lineSeconds(frame.size(), line);
    int tries = 1;
    int result = ComOk;
    // Once Cancel was pressed no frame goes out: it ends like a stop in the wait.
    if (wire.stopRequested)
        return exchange;

    // Only before the first try: what waits before a repeat is most likely
    // the late answer to the try before, which names this controller.
    // Late bytes naming this controller were set aside: its answers are late.
    const bool lateForUs = dropLeftovers(wire, ctrl);
    noteExchange(wire, ctrl);
    for (;;) {
        wire.port.write(frame);
        QByteArray received;
        bool strayMet = false;
        double t0 = wire.clock.seconds() + frameSeconds;
        for (;;) {
            // Wait for the first byte, seeing Cancel meanwhile.
            for (;;) {
                wire.pumpEvents();
                if (wire.stopRequested) {
                    noteExchange(wire, ctrl);
                    return exchange;
                }
                const double waited = wire.clock.seconds() - t0;
                if (wire.port.bytesWaiting() > 0 || waited > timeOut)
                    break;
                // Not past the time-out by more than a moment: a silent try costs just that.
                wire.port.waitForInput(std::clamp(static_cast<int>(std::ceil((timeOut - waited) * 1000)), 1, kLookMs));
            }
            // Fast answers: silence has nothing to let settle. After a stray
            // answer the settle wait is over already.
            if ((fast || strayMet) && wire.port.bytesWaiting() == 0) {
                received.clear(); // an echo that came alone before is no answer either
                break;
            }
            wire.pumpEvents();
            received = settle(wire, frame, flags, fast, lineSeconds(1, line));
            // Our own frame read back alone: the answer may still come.
            if (received == frame && wire.clock.seconds() - t0 < timeOut) {
                t0 = wire.clock.seconds();
                continue;
            }
            const StraySplit split =
                splitStray(received.startsWith(frame) ? received.mid(frame.size()) : received, frame, ctrl, flags);
            if (split.stray.isEmpty())
                break;
            noteHeard(wire, ctrl);
            logStray(wire, split.stray, QStringLiteral("not controller ") + QString::number(ctrl) + QStringLiteral("'s answer"));
            received = split.rest;
            strayMet = true;
            // Its own answer may still come within the time-out.
            if (!received.isEmpty() || wire.clock.seconds() - t0 >= timeOut)
                break;
        }

        const AnswerJudgement judged = judgeAnswer(received, frame, flags);
        if (judged.verdict != AnswerVerdict::NoAnswer) {
            noteHeard(wire, ctrl);
            wire.log(QStringLiteral("Recu en String : ") + StrToHex(judged.answer));
            if (answeredTwice(judged.answer, frame, ctrl, flags))
                noteSharedNumber(wire, ctrl);
        }
        if (judged.verdict == AnswerVerdict::Accepted || judged.verdict == AnswerVerdict::Accepted682F) {
            if (judged.verdict == AnswerVerdict::Accepted)
                exchange.answer = StrToHex(judged.answer);
            if (!lateForUs)
                noteSpeed(wire, ctrl, line);
            result = ComOk;
            break;
        }
        if (tries >= kTries) {
            result = judged.verdict == AnswerVerdict::CheckFailed ? ComCheckFailed : ComNoAnswer;
            break;
        }
        ++tries;
    }
    noteExchange(wire, ctrl);
    wire.log(ComResultText(result));
    exchange.result = result;
    return exchange;
}

double silentTrySeconds(const LinkSettings &settings, double settleDelay, int frameBytes, const LineSettings &line)
{
    // The frame on the line, the time-out, and with the written timing the
    // settle wait, which silence gets too.
    const double settle = settings.fastAnswers ? 0.0 : settleDelay;
    return lineSeconds(frameBytes, line) + settings.timeOut + settle;
}

double silentExchangeSeconds(const LinkSettings &settings, double settleDelay, int frameBytes, const LineSettings &line)
{
    return kTries * silentTrySeconds(settings, settleDelay, frameBytes, line);
}

Exchange sendAcknowledged(LineHandle &wire, int ctrl, const QByteArray &frame, int &resends)
{
    for (;;) {
        Exchange e = SendReceive(wire, ctrl, frame);
        if (!e.ok() || e.acknowledged() || resends <= 0)
            return e;
        --resends;
    }
}

} // namespace vantorel
