#include "link/status.h"

#include "app/context.h"
#include "link/waits.h"

namespace vantorel {

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

void ShowCtrlStatus(Context &ctx, int n, int code)
{
    QString message;
    QString ver;
    QString ckSum;
    switch (code) {
    case 0: break;
    case 1: message = QStringLiteral(" : No Answer"); ver = QStringLiteral("No"); ckSum = QStringLiteral("Answer"); break;
    case 2: message = QStringLiteral(" : Communication Error"); ver = QStringLiteral("Communication"); ckSum = QStringLiteral("ERROR"); break;
    case 3: message = QStringLiteral(" : Communication Failure"); ver = QStringLiteral("communication"); ckSum = QStringLiteral("Failure"); break;
    case 4: message = QStringLiteral(" : Erasing Failure"); ver = QStringLiteral("Erasing"); ckSum = QStringLiteral("Failure"); break;
    default: return;
    }
    if (code != 0)
        ShowFailure(ctx, QStringLiteral("Controller ") + QString::number(n) + message);
    const bool failed = code != 0;
    paint(ctx.info.Ver(n), failed ? kRed : kBlack, failed);
    paint(ctx.info.CkSum(n), failed ? kRed : kBlack, failed);
    ctx.info.Ver(n).text = ver;
    ctx.info.CkSum(n).text = ckSum;
    ctx.info.changed();
}

void ResetCtrlStatus(Context &ctx, int n)
{
    paint(ctx.info.Ver(n), kBlack, false);
    paint(ctx.info.CkSum(n), kBlack, false);
    ctx.info.changed();
}

} // namespace vantorel
