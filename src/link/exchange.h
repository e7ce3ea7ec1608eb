#pragma once

#include "state/linksettings.h"
#include "state/outcome.h"

#include <QByteArray>
#include <QString>

#include <functional>

namespace vantorel {

class Clock;
class SerialPort;
struct LineSettings;

// What an exchange works with, and nothing of the program around it: the line,
// the run's clock and settings, where its log lines go, the Cancel it obeys and
// the record its controllers' answers are noted in.
struct LineHandle {
    SerialPort &port;
    const Clock &clock;
    std::function<void(const QString &)> log;
    std::function<void()> pumpEvents; // lets the program's events run during a wait
    const bool &stopRequested;
    const LinkSettings &settings;
    double settleDelay; // seconds after an answer's first byte (the written timing)
    Outcomes &outcomes;
};

// Tries of one exchange before it fails.
constexpr int kTries = 3;
// Refusals a frame may meet and be sent again: each erase, switch or full
// checksum on its own, and the batches of one image sharing one budget.
constexpr int kFrameResends = 2;
constexpr int kImageResends = 3;

// Result codes of an exchange.
enum ComResult : int {
    ComOk = 0,
    ComNoAnswer = 1,     // silence or echo three times, or a stop request
    ComCheckFailed = 2,  // short or wrong check code three times
    ComRefused = 3,      // set by callers after three refusals
};

// The answer code of an answer: its fourth byte as two hex digits.
inline QString answerCode(const QString &answerHex) { return answerHex.mid(6, 2); }

// What one exchange came to: a result code and, on ComOk, the answer as hex
// text (empty for an accepted 68 2F).
struct Exchange {
    int result = ComNoAnswer;
    QString answer;

    bool ok() const { return result == ComOk; }
    // Answer code 61: the controller did what it was told.
    bool acknowledged() const { return ok() && answerCode(answer) == QLatin1String("61"); }
};

// Sends a finished frame, waits for the answer, strips the echo, checks the
// check code and tries up to three times, with the run's link settings. An
// answer that names another controller than ctrl is logged as stray and not
// taken; so are bytes left waiting before the exchange's first send. Throws
// Fault when the line is lost.
Exchange SendReceive(LineHandle &wire, int ctrl, const QByteArray &frame, bool accept682F = false);

// What SendReceive spends on a frame of frameBytes that nothing answers, at
// the run's time-out and waits: on one try, and on all of them.
double silentTrySeconds(const LinkSettings &settings, double settleDelay, int frameBytes, const LineSettings &line);
double silentExchangeSeconds(const LinkSettings &settings, double settleDelay, int frameBytes, const LineSettings &line);

// A command the controller acknowledges with answer code 61 and refuses with
// any other: sent again after a refusal while 'resends' lasts (a budget the
// caller may share across several commands). Ends at the first exchange that
// fails, the first acknowledgement, or the refusal the budget cannot cover.
Exchange sendAcknowledged(LineHandle &wire, int ctrl, const QByteArray &frame, int &resends);


// What the received bytes of one try say, judged without the line: the
// answer check of SendReceive and the completion rule of fast answers.
struct AnswerFlags {
    bool prot4Plus = false;  // Prot 4+: a byte sum is as good as a CRC
    bool accept682F = false; // 68 2F alone is an answer (the switch to protocol 4)
};

enum class AnswerVerdict {
    NoAnswer,    // nothing, or nothing but the echo of the frame
    CheckFailed, // shorter than three bytes, or a check code that does not match
    Accepted,
    Accepted682F,
};

struct AnswerJudgement {
    AnswerVerdict verdict = AnswerVerdict::NoAnswer;
    QByteArray answer; // the received bytes without the echo (empty for NoAnswer)
};

AnswerJudgement judgeAnswer(const QByteArray &received, const QByteArray &frame, AnswerFlags flags);

// Whether the bytes received so far are a whole answer that judgeAnswer
// accepts, so that nothing more needs to be waited for: its count byte (the
// third) plus six bytes, ending in 0x04; or exactly 68 2F where accepted.
bool answerComplete(const QByteArray &received, const QByteArray &frame, AnswerFlags flags);

// Received bytes (the echo already removed) split into the whole, sound
// answers of other controllers at their front and what is left. Only a frame
// that names ctrl in its second byte is answered in kind: broadcasts and
// protocol-3 texts have every byte they receive judged as before.
struct StraySplit {
    QByteArray stray;
    QByteArray rest;
};
StraySplit splitStray(const QByteArray &bytes, const QByteArray &frame, int ctrl, AnswerFlags flags);

// Whether two whole, sound answers naming ctrl stand back to back at the
// front of an answer (the echo removed): two controllers answering as one
// number. Never for frames that name no single controller (a protocol-3 text).
bool answeredTwice(const QByteArray &answer, const QByteArray &frame, int ctrl, AnswerFlags flags);

QString ComResultText(int code);


} // namespace vantorel
