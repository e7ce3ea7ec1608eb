#pragma once

#include <QByteArray>
#include <QString>

namespace vantorel {

class Context;

// Result codes of an exchange.
enum ComResult : int {
    ComOk = 0,
    ComNoAnswer = 1,     // silence or echo three times, or a stop request
    ComCheckFailed = 2,  // short or wrong check code three times
    ComRefused = 3,      // set by callers after three refusals
};

// Sends a finished frame, waits for the answer, strips the echo, checks the
// check code and tries up to three times. On ComOk 'answer' holds the answer
// as hex text (empty for an accepted 68 2F). Throws Fault when the time-out
// text is not a number or the line is lost.
int SendReceive(Context &ctx, int ctrl, const QByteArray &frame, QString &answer, bool accept682F);

QString ComResultText(int code);

// The answer code of an answer: its fourth byte as two hex digits.
inline QString answerCode(const QString &answerHex) { return answerHex.mid(6, 2); }

// The Time Out text as seconds. Throws Fault(InvalidArgument) when not a number.
double timeOutSeconds(const QString &text1);

} // namespace vantorel
