#include "cli/progress.h"

#include "state/context.h"
#include "platform/clock.h"

#ifdef Q_OS_UNIX
#include <sys/ioctl.h>
#include <unistd.h>
#endif

namespace vantorel {

namespace {

QString duration(double seconds)
{
    const qint64 s = qint64(seconds);
    if (s >= 3600)
        return QStringLiteral("%1:%2:%3").arg(s / 3600).arg(s / 60 % 60, 2, 10, QLatin1Char('0')).arg(s % 60, 2, 10, QLatin1Char('0'));
    return QStringLiteral("%1:%2").arg(s / 60).arg(s % 60, 2, 10, QLatin1Char('0'));
}

int columns(std::FILE *out)
{
#ifdef Q_OS_UNIX
    winsize w{};
    if (::ioctl(::fileno(out), TIOCGWINSZ, &w) == 0 && w.ws_col > 0)
        return w.ws_col;
#else
    Q_UNUSED(out);
#endif
    return 80;
}

} // namespace

ProgressView::ProgressView(const Context &ctx, const Clock &clock, std::FILE *out, bool terminal)
    : ctx_(ctx), clock_(clock), out_(out), terminal_(terminal), start_(clock.seconds())
{
}

void ProgressView::begin(const QString &operation, const QList<int> &listed)
{
    operation_ = operation;
    listed_ = listed;
    passStart_ = clock_.seconds();
}

QString ProgressView::elapsedPrefix() const
{
    return QStringLiteral("[%1 s] ").arg(clock_.seconds() - start_, 7, 'f', 1);
}

void ProgressView::update()
{
    const MessageState &m = ctx_.message;
    if (!terminal_) {
        const QString text = m.Label1.text();
        if (!text.isEmpty() && text != lastText_) {
            std::fprintf(out_, "%s%s\n", qPrintable(elapsedPrefix()), qPrintable(text));
            std::fflush(out_);
        }
        lastText_ = text;
        return;
    }
    // Outside the walk over the controllers (ControllerIndex past the last)
    // the operation works on all of them at once: the broadcast.
    const int i = ctx_.main.ControllerIndex;
    const int key = i >= 0 && i < MainState::kControllers ? i : -1;
    // A failure message is the controller's that was in hand when it appeared;
    // it can stay up while the walk moves on to the next one.
    if (!m.Stop.visible())
        failureOf_ = kNone;
    else if (failureOf_ == kNone)
        failureOf_ = key;
    if (!m.shown() || m.Label1.text().isEmpty())
        return;
    if (key >= 0 && !listed_.contains(key))
        return;
    if (key != lineKey_) {
        finishLine();
        const int position = key >= 0 ? int(listed_.indexOf(key)) + 1 : 0;
        if (key < 0 || lineKey_ < 0 || position < lastPosition_)
            passStart_ = clock_.seconds();
        lastPosition_ = position;
        lineKey_ = key;
    }
    draw(terminalLine(key, true), terminalLine(key, false));
}

QString ProgressView::statusText(int key) const
{
    const MainState &main = ctx_.main;
    const MessageState &m = ctx_.message;
    // A failed attempt during a speed search (not during the batches, where no
    // other speed is tried) is no verdict while a speed is left to try. A
    // controller that answered in this run was found: a failure shown for it
    // then (its programming) is its verdict.
    const bool speedLeft = !main.V4800.ticked() || !main.V9600.ticked() || !main.V19200.ticked() || !main.V38400.ticked();
    const bool searching = key >= 0 && failureOf_ == key && !ctx_.outcomes[key].speed; // none answered yet
    if (m.Stop.visible() && searching && m.batchesTotal == 0 && speedLeft)
        return QStringLiteral("Controller ") + QString::number(key) + QStringLiteral(" : no answer at ")
               + main.Vitesse.text() + QStringLiteral(" Bds, trying the next speed");
    return m.Label1.text().trimmed();
}

QString ProgressView::terminalLine(int key, bool withEstimate) const
{
    const MessageState &m = ctx_.message;
    QStringList parts{operation_};
    const double now = clock_.seconds();
    double done = 0; // of this pass
    const double inner = m.batchesTotal > 0 ? double(qMin(m.batchesSent, m.batchesTotal)) / m.batchesTotal : 0.0;
    if (key >= 0) {
        const int position = int(listed_.indexOf(key)) + 1;
        parts << QStringLiteral("controller %1 (%2 of %3)").arg(key).arg(position).arg(listed_.size());
        done = (position - 1 + inner) / qMax(1, int(listed_.size()));
    } else {
        parts << QStringLiteral("all controllers");
        done = inner;
    }
    if (m.batchesTotal > 0) {
        const int sent = qMin(m.batchesSent, m.batchesTotal);
        parts << QStringLiteral("batch %1 of %2  %3%").arg(sent).arg(m.batchesTotal).arg(sent * 100 / m.batchesTotal);
    }
    QString time = duration(now - start_);
    const double passTime = now - passStart_;
    if (withEstimate && done > 0.01 && passTime >= 1.0)
        time += QStringLiteral(", about %1 left").arg(duration(passTime * (1 - done) / done));
    parts << time << statusText(key);
    return parts.join(QStringLiteral("  "));
}

void ProgressView::draw(const QString &line, const QString &finalLine)
{
    // Cut to the width: a line that wraps could not be rewritten in place.
    const int width = qMax(10, columns(out_) - 1);
    finalLine_ = finalLine.left(width);
    const QString shown = line.left(width);
    if (shown == drawn_)
        return;
    drawn_ = shown;
    std::fprintf(out_, "\r%s\x1b[K", qPrintable(shown));
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
