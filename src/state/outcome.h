#pragma once

#include <QList>
#include <QString>

#include <array>
#include <optional>
#include <utility>

namespace vantorel {

// What a run came to for one controller.
enum class Outcome {
    NotReached,          // nothing was done to it: the run ended or was cancelled before it
    Ok,                  // answered; after a download: programmed and its checksum verified
    Mismatch,            // answered with a checksum other than the file's
    Failed,              // see ControllerOutcome::failure
    ErasedNotProgrammed, // its flash was erased and no image accepted: it holds no firmware
    Cancelled,           // ticked, but the run was cancelled before its turn (or cut its search short)
    // An erase frame went out to it and no acknowledgement was accepted (lost,
    // garbled, another's, late, refused): it may hold no firmware.
    EraseUnconfirmed,
};

// The name the command line and the records give an outcome.
QString outcomeName(Outcome outcome);

// What failed, as data: the result window's words, the JSON, the CSV and the
// database are views of it through one table (failureCode, failureWords).
enum class Failure {
    None,
    NoAnswer,             // silence at every speed and try
    CommunicationError,   // answers, but none sound
    CommunicationFailure, // answers, none with the right code
    ErasingFailure,       // a switch back refused
    NotFound,             // an address the search found silent (an erase's or the detection's)
    RefusedErase,         // it answered every erase with a refusal
    NotVerified,          // programmed; its check has not yet said so
    ProgrammingError,     // programmed or not, it does not answer with the file's checksum
};

// The stable name kept in records and the JSON ("no-answer"); empty for None.
QString failureCode(Failure failure);
// The result window's words ("No Answer"); empty for None.
QString failureWords(Failure failure);
// How a failure marks a controller's row: the progress message and the two
// boxes' texts. Empty for None (the mark cleared); nothing for a failure that
// has no mark of its own.
struct FailureMark {
    QString message, ver, ckSum;
};
std::optional<FailureMark> failureMark(Failure failure);
// A failure's words as a row's version and checksum boxes show them.
std::pair<QString, QString> failureBoxes(Failure failure);
// The failure a stored name stands for: a code, or the words records held
// before codes were kept. Nothing for a text no table row has.
std::optional<Failure> failureFromStored(const QString &text);
// The words of a stored name; a text no table row has, as it is.
QString failureWordsOf(const QString &stored);
// The names of every failure, for the database's upgrade: {code, words}.
QList<std::pair<QString, QString>> failureNames();

// One controller's result, written by the procedures at the moment they
// decide it. Front-ends read this; nothing judges the painted rows.
struct ControllerOutcome {
    Outcome outcome = Outcome::NotReached;
    QString version;          // as answered ("01/05/07"); empty when it did not answer
    QString checksum;         // as answered
    std::optional<int> speed; // of its last answer that came within its frame's wait
    int timelyAnswers = 0;    // answers that came within their frame's wait (see SendReceive)
    bool heardFrom = false;   // bytes came back to a frame sent to it (its own or not)
    Failure failure = Failure::None; // what failed
    // An erase frame of this run went out to it: from then on it may hold no
    // firmware, and is never reported as left as it was.
    bool erased = false;
    bool eraseConfirmed = false; // it acknowledged the erase
    bool sharesNumber = false;   // two controllers answered as its number
    bool programmed = false;  // this run's image was accepted (full checksum acknowledged)
    // When this run's first frame to it went out and its last exchange with it
    // ended, in seconds on the run's clock; unset until it is addressed.
    std::optional<double> firstFrameAt;
    std::optional<double> lastExchangeEnd;

    // How long the run worked on it, broadcasts between its own exchanges included.
    std::optional<qint64> durationMs() const;
    // An exchange addressed to it started or ended at `now`.
    void exchanged(double now);

    // A failure; an erased controller that never took the image stays marked as such.
    void fail(Failure what);
    // It answered with its version and checksum.
    void answered(const QString &ver, const QString &ckSum, bool mismatch);
    // It did what it was asked (took a switch, answered the detection): no version to show.
    void succeeded();
    // Cancel came before it was heard out: no verdict, not even its last try's mark.
    void cutShort();
    // An erase frame is about to go out to it.
    void eraseSent();
    // Its flash was just erased: it holds no firmware until an image is accepted.
    void justErased();
    // Erased (or maybe) and no image accepted: what it is left as, whatever failed.
    bool mayHoldNoFirmware() const { return erased && !programmed; }
};

// Controllers on one line, numbered 0 to 31.
inline constexpr int kControllers = 32;

using Outcomes = std::array<ControllerOutcome, kControllers>;

// A controller's answered checksum is the file's: the file's figure is shown
// without leading zeros, a controller's always has four digits ("ABC" is "0ABC").
inline bool isFileChecksum(const QString &answered, const QString &fileSum)
{
    return !fileSum.isEmpty() && answered == fileSum.rightJustified(4, QLatin1Char('0'));
}

// At the end of a cancelled run: the ticked controllers it never reached
// were left by the Cancel, not by the line.
void markCancelled(Outcomes &outcomes, const QList<int> &ticked);

// The controllers a stop now would leave without firmware: erased (or sent
// an erase) by this run and not (yet) programmed.
QList<int> erasedNotProgrammed(const Outcomes &outcomes);

} // namespace vantorel
