#pragma once

#include "session/session.h"

#include <QList>
#include <QString>

#include <cstdio>
#include <functional>

namespace vantorel {

class Clock;

// The terminal's width as it is now; COLUMNS where no terminal tells; else 80.
int terminalColumns(std::FILE *out);
// Standard error is a terminal, where a line can be rewritten in place.
bool stderrIsTerminal();

// What the progress window shows, on standard error. On a terminal: one line
// per controller, rewritten in place as its run goes on (operation, which
// controller of how many, batches sent, percentage, elapsed and the window's
// time left, the window's text), kept within the terminal's width. Elsewhere
// (a file, a pipe): the window's texts as they change, one per line, each
// after the elapsed time.
class ProgressView {
public:
    using Source = std::function<ProgressShown()>;
    ProgressView(Source shown, const Clock &clock, std::FILE *out, bool terminal);

    void begin(const QString &operation, const QList<int> &listed);
    // The progress window changed, or the operation let events run.
    void update();
    // A line of its own (a message box, Cancel); the terminal line comes back under it.
    void note(const QString &text);
    // Leaves the last terminal line as it stands.
    void end();

    // The parts of a terminal line, the less important with shorter forms.
    struct Parts {
        QString operation, where, whereShort, batch, batchShort, time, timeShort, message;
        // The line within 'width' characters.
        QString fitted(int width) const;
    };

private:
    QString elapsedPrefix() const;
    Parts parts(const ProgressShown &p, bool withEstimate) const;
    QString statusText(const ProgressShown &p) const;
    void draw(const QString &line, const QString &finalLine);
    void finishLine();

    Source shown_;
    const Clock &clock_;
    std::FILE *out_;
    bool terminal_;
    double start_ = 0;
    QString operation_;
    QList<int> listed_;
    QString lastText_;   // plain lines: the last one written
    QString drawn_;      // terminal: the line as it stands
    QString finalLine_;  // the same without the time left, for when it is done
    static constexpr int kNone = -2;
    int lineKey_ = kNone; // the controller of the terminal line; -1: all at once
    int failureOf_ = kNone; // the controller of the failure message shown; -1: all at once
};

} // namespace vantorel
