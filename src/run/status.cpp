#include "run/status.h"

#include "state/context.h"
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

void ShowProgress(Context &ctx, const QString &message, bool shortForm)
{
    MessageState &m = ctx.message;
    m.showOnly(m.Inquiet);
    if (shortForm)
        m.Label1.setText(message + QStringLiteral(" ..."));
    else
        m.Label1.setText(message + QStringLiteral(" (Speed : ") + ctx.main.Vitesse.text() + QStringLiteral(" Bds) ..."));
    m.show();
}

void ShowFailure(Context &ctx, const QString &message)
{
    MessageState &m = ctx.message;
    m.showOnly(m.Stop);
    m.Label1.setText(message + QStringLiteral("   (Speed : ") + ctx.main.Vitesse.text() + QStringLiteral(" Bds) "));
    m.show();
    waitHandlingEvents(ctx, failureHoldSeconds(ctx));
}

namespace {
void paint(ResultBox &box, unsigned colour, bool bold)
{
    box.foreground = colour;
    box.bold = bold;
    // A mismatch mark (white on red) must not outlive a later verdict.
    box.background = kDefaultBackground;
}
} // namespace

namespace {
struct StatusText {
    QString message, ver, ckSum;
};

// What a mark shows; empty for None, null for a failure that has no mark.
std::optional<StatusText> statusText(Failure mark)
{
    switch (mark) {
    case Failure::None: return StatusText{};
    case Failure::NoAnswer: return StatusText{QStringLiteral("No Answer"), QStringLiteral("No"), QStringLiteral("Answer")};
    case Failure::CommunicationError:
        return StatusText{QStringLiteral("Communication Error"), QStringLiteral("Communication"), QStringLiteral("ERROR")};
    case Failure::CommunicationFailure:
        return StatusText{QStringLiteral("Communication Failure"), QStringLiteral("communication"), QStringLiteral("Failure")};
    case Failure::ErasingFailure:
        return StatusText{QStringLiteral("Erasing Failure"), QStringLiteral("Erasing"), QStringLiteral("Failure")};
    default: return std::nullopt;
    }
}

void mark(Context &ctx, int n, Failure code, const StatusText &t)
{
    const bool failed = code != Failure::None;
    paint(ctx.info.Ver(n), failed ? kRed : kBlack, failed);
    paint(ctx.info.CkSum(n), failed ? kRed : kBlack, failed);
    ctx.info.Ver(n).text = t.ver;
    ctx.info.CkSum(n).text = t.ckSum;
    ctx.info.changed();
    if (failed)
        ctx.outcomes[n].fail(code);
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

void ShowCtrlStatus(Context &ctx, int n, Failure code)
{
    const std::optional<StatusText> t = statusText(code);
    if (!t)
        return;
    if (code != Failure::None)
        ShowFailure(ctx, controllerLine(n, t->message));
    mark(ctx, n, code, *t);
}

void MarkCtrlStatus(Context &ctx, int n, Failure code)
{
    if (const std::optional<StatusText> t = statusText(code))
        mark(ctx, n, code, *t);
}

void ResetCtrlStatus(Context &ctx, int n)
{
    paint(ctx.info.Ver(n), kBlack, false);
    paint(ctx.info.CkSum(n), kBlack, false);
    ctx.info.changed();
}

void ShowVersion(Context &ctx, int n, const VersionAnswer &answer, bool mismatch)
{
    ResultBox &ver = ctx.info.Ver(n);
    ResultBox &ckSum = ctx.info.CkSum(n);
    ver.text = answer.version;
    ckSum.text = answer.checksum;
    if (mismatch) {
        ctx.desk.beep();
        ckSum.background = static_cast<int>(kRed);
        ckSum.foreground = kWhite;
        ckSum.bold = true;
    }
    ctx.outcomes[n].answered(answer.version, answer.checksum, mismatch);
    ctx.info.changed();
}

} // namespace vantorel
