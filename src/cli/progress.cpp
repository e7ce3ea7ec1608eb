#include "cli/progress.h"

#include "platform/clock.h"

#ifdef Q_OS_UNIX
#include <sys/ioctl.h>
#include <unistd.h>
#endif

namespace vantorel {

bool stderrIsTerminal()
{
#ifdef Q_OS_UNIX
    return ::isatty(STDERR_FILENO) == 1;
#else
    return false;
#endif
}

int terminalColumns(std::FILE *out)
{
#ifdef Q_OS_UNIX
    winsize w{};
    if (::isatty(::fileno(out)) == 1 && ::ioctl(::fileno(out), TIOCGWINSZ, &w) == 0 && w.ws_col > 0)
        return w.ws_col;
#else
    Q_UNUSED(out);
#endif
    bool ok = false;
    const int given = qEnvironmentVariableIntValue("COLUMNS", &ok);
    return ok && given > 0 ? given : 80;
}

QString ProgressView::Parts::fitted(int width) const
{
    // From the whole line to the message alone: the less important parts are
    // shortened, then left out, before the message itself is cut.
    const QStringList tries[] = {
        {operation, where, batch, time, message},
        {operation, whereShort, batchShort, time, message},
        {whereShort, batchShort, timeShort, message},
        {whereShort, batchShort, message},
        {message},
    };
    for (QStringList parts : tries) {
        parts.removeAll(QString());
        const QString line = parts.join(QStringLiteral("  "));
        if (line.size() <= width)
            return line;
    }
    return width > 3 ? message.left(width - 3) + QStringLiteral("...") : message.left(width);
}

ProgressView::ProgressView(Source shown, const Clock &clock, std::FILE *out, bool terminal)
    : shown_(std::move(shown)), clock_(clock), out_(out), terminal_(terminal), start_(clock.seconds())
{
}

void ProgressView::begin(const QString &operation, const QList<int> &listed)
{
    operation_ = operation;
    listed_ = listed;
}

QString ProgressView::elapsedPrefix() const
{
    return QStringLiteral("[%1 s] ").arg(clock_.seconds() - start_, 7, 'f', 1);
}

void ProgressView::update()
{
    const ProgressShown p = shown_();
    if (!terminal_) {
        const QString &text = p.text;
        if (!text.isEmpty() && text != lastText_) {
            std::fprintf(out_, "%s%s\n", qPrintable(elapsedPrefix()), qPrintable(text));
            std::fflush(out_);
        }
        lastText_ = text;
        return;
    }
    // -1: the operation works on all of them at once (the broadcast).
    const int key = p.controller;
    // A failure message is the controller's that was in hand when it appeared;
    // it can stay up while the walk moves on to the next one.
    if (!p.failureShown)
        failureOf_ = kNone;
    else if (failureOf_ == kNone)
        failureOf_ = key;
    if (!p.shown || p.text.isEmpty())
        return;
    if (key >= 0 && !listed_.contains(key))
        return;
    if (key != lineKey_) {
        finishLine();
        lineKey_ = key;
    }
    const int width = qMax(1, terminalColumns(out_) - 1); // the last column would wrap the line
    draw(parts(p, true).fitted(width), parts(p, false).fitted(width));
}

QString ProgressView::statusText(const ProgressShown &p) const
{
    // A failed attempt during a speed search (not during the batches, where no
    // other speed is tried) is no verdict while a speed is left to try. A
    // controller that answered in this run was found: a failure shown for it
    // then (its programming) is its verdict.
    const bool searching = p.controller >= 0 && failureOf_ == p.controller && !p.controllerAnswered;
    if (p.failureShown && searching && p.batchesTotal == 0 && p.speedLeft)
        return QStringLiteral("Controller ") + QString::number(p.controller) + QStringLiteral(" : no answer at ") + p.speed
               + QStringLiteral(" Bds, trying the next speed");
    return p.text.trimmed();
}

ProgressView::Parts ProgressView::parts(const ProgressShown &shown, bool withEstimate) const
{
    const int key = shown.controller;
    Parts p;
    p.operation = operation_;
    if (key >= 0) {
        const qsizetype position = listed_.indexOf(key) + 1;
        p.where = QStringLiteral("controller %1 (%2 of %3)").arg(key).arg(position).arg(listed_.size());
        p.whereShort = QStringLiteral("ctrl %1 (%2/%3)").arg(key).arg(position).arg(listed_.size());
    } else {
        p.where = QStringLiteral("all controllers");
        p.whereShort = QStringLiteral("all");
    }
    if (shown.batchesTotal > 0) {
        const int sent = qMin(shown.batchesSent, shown.batchesTotal);
        p.batchShort = QStringLiteral("%1%").arg(sent * 100 / shown.batchesTotal);
        p.batch = QStringLiteral("batch %1 of %2  ").arg(sent).arg(shown.batchesTotal) + p.batchShort;
    }
    // The time left is the progress window's: the work left on the line, not the time spent.
    const double left = withEstimate ? shown.secondsLeft.value_or(-1) : -1; // -1: none
    const QString elapsed = clockText(clock_.seconds() - start_);
    p.time = left >= 0 ? elapsed + QStringLiteral(", about ") + clockText(left) + QStringLiteral(" left") : elapsed;
    p.timeShort = left >= 0 ? clockText(left) + QStringLiteral(" left") : elapsed;
    p.message = statusText(shown);
    return p;
}

// Within the width: a line that wraps could not be rewritten in place.
void ProgressView::draw(const QString &line, const QString &finalLine)
{
    finalLine_ = finalLine;
    if (line == drawn_)
        return;
    drawn_ = line;
    std::fprintf(out_, "\r%s\x1b[K", qPrintable(line));
    std::fflush(out_);
}

// A line left behind says what happened and how long it took, not what was still to come.
void ProgressView::finishLine()
{
    if (lineKey_ != kNone) {
        if (!finalLine_.isEmpty() && finalLine_ != drawn_)
            std::fprintf(out_, "\r%s\x1b[K", qPrintable(finalLine_));
        std::fputs("\n", out_);
        std::fflush(out_);
    }
    drawn_.clear();
    finalLine_.clear();
}

void ProgressView::note(const QString &text)
{
    if (!terminal_) {
        std::fprintf(out_, "%s%s\n", qPrintable(elapsedPrefix()), qPrintable(text));
        std::fflush(out_);
        return;
    }
    std::fprintf(out_, "\r\x1b[K%s\n", qPrintable(text));
    if (!drawn_.isEmpty())
        std::fprintf(out_, "%s", qPrintable(drawn_));
    std::fflush(out_);
}

void ProgressView::end()
{
    if (terminal_)
        finishLine();
    lineKey_ = kNone;
}

} // namespace vantorel
