#include "run/status.h"

#include "state/run.h"
#include "link/exchange.h"
#include "link/frames.h"
#include "run/waits.h"
#include "platform/desk.h"

#include <optional>

namespace vantorel {

QString controllerLine(int n, const QString &what)
{
    return QStringLiteral("Controller ") + QString::number(n) + QStringLiteral(" : ") + what;
}

void ShowProgress(Run &run, const QString &message, bool shortForm)
{
    run.view.message(Picture::Working, shortForm ? message + QStringLiteral(" ...")
                                                 : message + QStringLiteral(" (Speed : ") + QString::number(run.speed())
                                                       + QStringLiteral(" Bds) ..."));
}

void ShowFailure(Run &run, const QString &message)
{
    run.view.message(Picture::Stop,
                     message + QStringLiteral("   (Speed : ") + QString::number(run.speed()) + QStringLiteral(" Bds) "));
    waitHandlingEvents(run, failureHoldSeconds(run));
}

namespace {
BoxPaint paint(unsigned colour, bool bold)
{
    // A mismatch mark (white on red) must not outlive a later verdict.
    return BoxPaint{std::nullopt, colour, kDefaultBackground, bold};
}
} // namespace

namespace {
void mark(Run &run, int n, Failure code, const FailureMark &t)
{
    const bool failed = code != Failure::None;
    RowPaint row{paint(failed ? kRed : kBlack, failed), paint(failed ? kRed : kBlack, failed)};
    row.ver.text = t.ver;
    row.ckSum.text = t.ckSum;
    run.view.paintRow(n, row);
    if (failed)
        run.outcomes[n].fail(code);
}
} // namespace

Failure failureOf(int code)
{
    switch (code) {
    case ComOk: return Failure::None;
    case ComNoAnswer: return Failure::NoAnswer;
    case ComCheckFailed: return Failure::CommunicationError;
    case ComRefused: return Failure::CommunicationFailure;
    default: return Failure::None;
    }
}

void ShowCtrlStatus(Run &run, int n, Failure code)
{
    const std::optional<FailureMark> t = failureMark(code);
    if (!t)
        return;
    if (code != Failure::None)
        ShowFailure(run, controllerLine(n, t->message));
    mark(run, n, code, *t);
}

void MarkCtrlStatus(Run &run, int n, Failure code)
{
    if (const std::optional<FailureMark> t = failureMark(code))
        mark(run, n, code, *t);
}

void ResetCtrlStatus(Run &run, int n) { run.view.paintRow(n, RowPaint{paint(kBlack, false), paint(kBlack, false)}); }

void ClearCtrlStatus(Run &run, int n)
{
    RowPaint row{paint(kBlack, false), paint(kBlack, false)};
    row.ver.text = row.ckSum.text = QString();
    run.view.paintRow(n, row);
}

void ShowVersion(Run &run, int n, const VersionAnswer &answer, bool mismatch)
{
    RowPaint row;
    row.ver.text = answer.version;
    row.ckSum.text = answer.checksum;
    if (mismatch) {
        run.desk.beep();
        row.ckSum.background = static_cast<int>(kRed);
        row.ckSum.foreground = kWhite;
        row.ckSum.bold = true;
    }
    run.outcomes[n].answered(answer.version, answer.checksum, mismatch);
    run.view.paintRow(n, row);
}

} // namespace vantorel
