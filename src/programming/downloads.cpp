#include "programming/downloads.h"

#include "app/context.h"
#include "app/resultsummary.h"
#include "link/operation.h"
#include "link/speedsearch.h"
#include "link/status.h"
#include "link/textcodec.h"
#include "platform/desk.h"
#include "platform/serialport.h"
#include "programming/flasherase.h"
#include "programming/flashcheck.h"
#include "programming/flashprog.h"
#include "protocol/switching.h"

namespace vantorel {

namespace {

const QString kFlashError = QStringLiteral("Flash Error");

void prepare(Context &ctx)
{
    MainState &m = ctx.main;
    prepareResultOperation(ctx, QStringLiteral("Flash Info"));
    m.ProtocolChar = protocolCharFromText(m.Protocol.text());
    openPort(ctx);
}

// The erase attempts of one controller at the speeds of the search.
SearchResult erase(Context &ctx, int i)
{
    SpeedSearch search;
    search.attempt = [&ctx, i] {
        ShowProgress(ctx, QStringLiteral("Controller ") + QString::number(i) + QStringLiteral(" : Erasing "), false);
        ctx.desk.processEvents();
        ctx.port.discardInput();
        return FlashErase(ctx, i) ? Attempt::Succeeded : Attempt::NextSpeed;
    };
    search.beforeNextSpeed = [&ctx, i] { ResetCtrlStatus(ctx, i); };
    return searchSpeeds(ctx, i, search);
}

// The new firmware's speed, protocol character and check code, taken on
// through the controls so their reactions run as for an edit. Each setting is
// a step of its own: an image without a configuration record still gets the
// ones it can.
void takeOnImageSettings(Context &ctx)
{
    MainState &m = ctx.main;
    carryOn(ctx, kFlashError, [&] { m.Protocol4Plus.setValue(ctx.image.HexProt4Plus ? 1 : 0); });
    carryOn(ctx, kFlashError,
            [&] { m.Protocol.setText(QString::number(HexToVal(ctx.image.HexProtocolByte) - 1)); });
    carryOn(ctx, kFlashError, [&] {
        if (!ctx.image.HexBaudRate.isEmpty())
            m.Vitesse.setText(ctx.image.HexBaudRate);
    });
    carryOn(ctx, kFlashError, [&] { m.ProtocolChar = protocolCharFromText(m.Protocol.text()); });
}

// The check attempts of one controller; a failing check at every speed leaves
// it without a verdict.
bool check(Context &ctx, int i, bool parallel)
{
    SpeedSearch search;
    search.onlyTicked = parallel;
    search.stopSkips = parallel;
    search.attempt = [&ctx, i] {
        if (ctx.main.QRV3.ticked())
            SendP4(ctx, i);
        return FlashCheck(ctx, i) ? Attempt::Succeeded : Attempt::NextSpeed;
    };
    if (!parallel)
        search.beforeNextSpeed = [&ctx, i] { ResetCtrlStatus(ctx, i); };
    return searchSpeeds(ctx, i, search) == SearchResult::Found;
}

void verdict(Context &ctx, int i)
{
    ResultBox &ver = ctx.info.Ver(i);
    ResultBox &ckSum = ctx.info.CkSum(i);
    // The same comparison as the check's mark: leading zeros do not make a difference.
    if (ckSum.text != ctx.info.FileCheksum().rightJustified(4, QLatin1Char('0'))) {
        ver.foreground = kRed;
        ver.bold = true;
        ckSum.foreground = kWhite;
        ckSum.bold = true;
        ver.text = QStringLiteral("Programmation");
        ckSum.text = QStringLiteral("ERROR");
        ctx.info.changed();
        ShowFailure(ctx, QStringLiteral("Controller ") + QString::number(i) + QStringLiteral(" : Programming failure"));
    } else {
        ShowProgress(ctx, QStringLiteral("Controller ") + QString::number(i) + QStringLiteral(" : Programming OK"), false);
    }
}

// Input left from programming must not be read as the start of an answer.
bool discardAndStopped(Context &ctx)
{
    ctx.port.discardInput();
    return ctx.StopRequested;
}

} // namespace

void ComLoad00Click(Context &ctx)
{
    MainState &m = ctx.main;
    const QList<int> ticked = m.selectedControllers();
    ctx.message.startRun(ticked, ctx.imageBatches);
    runOperation(ctx, kFlashError, QString(), [&] {
        prepare(ctx);
        for (m.ControllerIndex = 0; m.ControllerIndex < MainState::kControllers; ++m.ControllerIndex) {
            const int i = m.ControllerIndex;
            if (!m.C[i].ticked())
                continue;
            ctx.message.atController(i);
            const SearchResult erased = erase(ctx, i);
            if (erased == SearchResult::Skipped)
                continue;
            if (erased == SearchResult::NotFound)
                return; // erase exhausted: later controllers are not touched
            ResetCtrlStatus(ctx, i);
            if (discardAndStopped(ctx))
                return;
            ctx.port.setSettings(m.BootSettings);
            FlashProg00(ctx, i);
            if (discardAndStopped(ctx))
                return;
            takeOnImageSettings(ctx);
            if (check(ctx, i, false))
                verdict(ctx, i);
        }
        ctx.message.close();
    });
    summarizeRun(ctx, QStringLiteral("Download (Serial)"), true, ticked);
}

void ComLoadClick(Context &ctx)
{
    MainState &m = ctx.main;
    const QList<int> ticked = m.selectedControllers();
    ctx.message.startRun(ticked, ctx.imageBatches, true);
    runOperation(ctx, kFlashError, QString(), [&] {
        prepare(ctx);
        for (m.ControllerIndex = 0; m.ControllerIndex < MainState::kControllers; ++m.ControllerIndex) {
            const int i = m.ControllerIndex;
            ctx.message.atController(i);
            const SearchResult erased = erase(ctx, i);
            if (erased == SearchResult::NotFound)
                return;
            if (erased == SearchResult::Found)
                ResetCtrlStatus(ctx, i);
        }
        if (discardAndStopped(ctx))
            return;
        ctx.port.setSettings(m.BootSettings);
        FlashProg(ctx);
        if (discardAndStopped(ctx))
            return;
        takeOnImageSettings(ctx);
        for (m.ControllerIndex = 0; m.ControllerIndex < MainState::kControllers; ++m.ControllerIndex) {
            const int i = m.ControllerIndex;
            ctx.message.atController(i);
            if (check(ctx, i, true))
                verdict(ctx, i);
        }
        ctx.message.close();
    });
    summarizeRun(ctx, QStringLiteral("Download (Parallel)"), true, ticked);
}

} // namespace vantorel
