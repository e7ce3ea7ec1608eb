#include "programming/downloads.h"

#include "state/context.h"
#include "state/resultsummary.h"
#include "image/downloadimage.h"
#include "image/hexfile.h"
#include "link/exchange.h"
#include "run/line.h"
#include "link/frames.h"
#include "link/protocolchar.h"
#include "run/operation.h"
#include "run/runcheck.h"
#include "run/speedsearch.h"
#include "run/status.h"
#include "link/textcodec.h"
#include "platform/desk.h"
#include "platform/serialport.h"
#include "programming/flasherase.h"
#include "programming/flashcheck.h"
#include "programming/flashprog.h"
#include "protocolswitch/switching.h"

#include <algorithm>

namespace vantorel {

namespace {

const QString kFlashError = QStringLiteral("Flash Error");

// Everything the run will read is checked, and the image taken, before the
// first erase: a run refused here has touched no controller.
DownloadImage prepare(Context &ctx, bool parallel)
{
    MainState &m = ctx.main;
    DownloadImage image;
    refuseOnFault(ctx, [&] {
        ctx.link = checkSettings(m, RunNeeds{parallel, true});
        image = takeDownloadImage(m.FileName.text(), ctx.chosenFileHash);
        openPort(ctx);
    });
    prepareResultOperation(ctx, QStringLiteral("Flash Info"));
    return image;
}

// This run's frames at its speeds and waits, for the progress window's time
// left. Answers: 7 bytes for a 61, 13 for a version.
void planLine(Context &ctx, const DownloadImage &image, bool parallel)
{
    const MainState &m = ctx.main;
    LinePlan plan;
    plan.line.baud = m.Vitesse.text().toInt(); // the speed search's format, 8N2
    plan.bootLine = parseLineSettings(m.BootSettings);
    for (const Batch &batch : image.batches)
        plan.batchBytes << int(programmingFrame(parallel ? kBroadcast : 0, batch.addressBytes, batch.data).size());
    plan.eraseBytes = int(eraseFrame(ctx.link.protocolChar, 0, CheckKind::Crc).size()) + 7;
    plan.checksumBytes = int(fullChecksumFrame(0, checksumBytes(image.checksum)).size()) + 7;
    plan.checkBytes = int(flashCheckFrame(ctx.link.protocolChar, 0, CheckKind::Crc).size()) + 13;
    // With fast answers an exchange ends with its answer's last byte; the
    // tool's own turn (writing, the waits' looks, the window) was measured at
    // about 7 ms an exchange on the paced line, 1 ms beside a settle wait.
    plan.answerWait = ctx.link.fastAnswers ? 0.007 : ctx.timings.settleDelay + 0.001;
    plan.broadcastDelay = ctx.link.waitingDelayMs / 1000.0;
    // A speed where no erase is answered: each protocol character's exchange
    // goes silent and its failure is held.
    const int eraseFrameBytes = int(eraseFrame(ctx.link.protocolChar, 0, CheckKind::Crc).size());
    const int characters = ProtocolCharacter(ctx.link).charactersWhenSilent();
    plan.silentSpeed = characters * (silentExchangeSeconds(ctx.link, ctx.timings.settleDelay, eraseFrameBytes, plan.line) + failureHoldSeconds(ctx));
    // Silence is certain once a first try has had all a silent one gets, and
    // more than an answered erase takes (its settle wait included).
    plan.silenceSure = std::max(silentTrySeconds(ctx.link, ctx.timings.settleDelay, eraseFrameBytes, plan.line),
                                lineSeconds(plan.eraseBytes, plan.line) + plan.answerWait);
    // In a serial download each controller's check leaves the speed in hand
    // at the image's speed, when it fixes one. A broadcast's checks search
    // again, from where the last erase found its controller, unless the new
    // firmware runs at the image's speed.
    const QList<int> ticked = m.selectedControllers();
    const int imageSpeed = image.description.HexBaudRate.toInt();
    plan.silentSpeeds = expectedSearches(ctx, ticked, m.Vitesse.text().toInt(), parallel ? 0 : imageSpeed);
    if (parallel && imageSpeed == 0 && !ticked.isEmpty())
        plan.silentChecks = expectedSearches(ctx, ticked, knownSpeedOf(ctx, ticked.last()));
    ctx.message.planLine(plan);
}

// Whether an erase search that found nothing ends with a try in the boot
// program: not when its last frames went at the boot speed already, in the
// boot program's check code.
bool bootTryFollows(const Context &ctx, const QString &lastSpeedTried)
{
    const QString bootSpeed = ctx.main.BootSettings.section(QLatin1Char(','), 0, 0).trimmed();
    return ctx.link.prot4Plus || lastSpeedTried != bootSpeed;
}

// Where controller i's search stands, for the time left, at the start of
// each speed: its erase's, or a broadcast's check's (no boot try, nothing
// ends). The searches after it start where it is found, or where its last
// speed leaves the speed in hand; in a serial download at the image's speed.
void tellSearch(Context &ctx, int i, bool erasing, bool endsRun, int imageSpeed = 0)
{
    const QList<int> left = speedsLeft(ctx.main);
    const int known = knownSpeedOf(ctx, i);
    SearchOutlook o;
    o.controller = i;
    o.checking = !erasing;
    const QList<int> ticked = ctx.main.selectedControllers();
    const int nextStart = left.contains(known) ? known : left.size() == 1 ? left[0] : 0;
    o.later = expectedSearches(ctx, ticked.mid(ticked.indexOf(i) + 1), nextStart, imageSpeed);
    o.silentHere = expectedSilentSpeeds(left, known);
    o.silentAfter = expectedSilentSpeeds(left.mid(1), known);
    o.last = left.size() <= 1;
    o.bootTry = erasing && !left.isEmpty() && bootTryFollows(ctx, QString::number(left.last()));
    o.endsRun = endsRun;
    ctx.message.searching(o);
}

EraseResult eraseAttempt(Context &ctx, int i, bool crcOnly = false)
{
    ShowProgress(ctx, controllerLine(i, QStringLiteral("Erasing ")), false);
    ctx.desk.processEvents();
    ctx.port.discardInput();
    return FlashErase(ctx, i, crcOnly);
}

// A controller erased by an earlier run that did not finish (its
// acknowledgement lost, or the run cancelled), or by one of this search's
// frames whose answer could not be read, waits in its boot program at the
// Boot.ini speed, which knows only the CRC: one more try there finds it.
EraseResult eraseInBootProgram(Context &ctx, int i, const QString &lastSpeedTried)
{
    MainState &m = ctx.main;
    const QString bootSpeed = m.BootSettings.section(QLatin1Char(','), 0, 0).trimmed();
    // Only the search's last frames, at that speed, were heard by a boot
    // program that every earlier frame might have started.
    if (ctx.StopRequested || !bootTryFollows(ctx, lastSpeedTried))
        return EraseResult::NotErased;
    const QString speed = m.Vitesse.text();
    m.Vitesse.setText(bootSpeed); // the speed its reports show
    ResetCtrlStatus(ctx, i);
    ctx.port.setSettings(m.BootSettings);
    const EraseResult erased = eraseAttempt(ctx, i, true);
    m.Vitesse.setText(speed);
    return erased;
}

// The erase attempts of one controller at the speeds of the search. One that
// cannot be erased is marked with what happened: a controller that refused
// is not shown as one that never answered. 'endsRun': one not found ends the run.
SearchResult erase(Context &ctx, int i, bool endsRun, int imageSpeed, bool *refusedOut = nullptr)
{
    bool refused = false;
    QString lastSpeed;
    SpeedSearch search;
    search.atNewSpeed = [&ctx, i, endsRun, imageSpeed] { tellSearch(ctx, i, true, endsRun, imageSpeed); };
    search.attempt = [&ctx, &refused, &lastSpeed, i] {
        lastSpeed = ctx.main.Vitesse.text();
        const EraseResult r = eraseAttempt(ctx, i);
        refused = refused || r == EraseResult::Refused;
        return r == EraseResult::Erased ? Attempt::Succeeded : Attempt::NextSpeed;
    };
    search.beforeNextSpeed = [&ctx, i] { ResetCtrlStatus(ctx, i); };
    const SearchResult result = searchSpeeds(ctx, i, search);
    ControllerOutcome &outcome = ctx.outcomes[i];
    if (ctx.StopRequested && result != SearchResult::Found) {
        // Cancel cut its search short: no verdict of its tries, but one that
        // was sent an erase stays marked as maybe erased.
        if (outcome.firstFrameAt)
            outcome.cutShort();
        return result;
    }
    if (result != SearchResult::NotFound)
        return result;
    const EraseResult last = eraseInBootProgram(ctx, i, lastSpeed);
    if (last == EraseResult::Erased)
        return SearchResult::Found;
    if (refused || last == EraseResult::Refused) {
        if (refusedOut)
            *refusedOut = true;
        MarkCtrlStatus(ctx, i, Failure::ErasingFailure);
        outcome.fail(Failure::RefusedErase);
    } else if (ctx.StopRequested) {
        outcome.cutShort();
    } else {
        outcome.fail(Failure::NotFound);
    }
    return result;
}

// The new firmware's speed, protocol character and check code, taken on
// through the controls so their reactions run as for an edit, and into the
// run's link settings. Each setting is a step of its own: an image without a
// configuration record still gets the ones it can.
void takeOnImageSettings(Context &ctx, const ImageDescription &image)
{
    MainState &m = ctx.main;
    carryOn(ctx, kFlashError, [&] {
        m.Protocol4Plus.setValue(image.HexProt4Plus ? 1 : 0);
        ctx.link.prot4Plus = image.HexProt4Plus;
    });
    carryOn(ctx, kFlashError, [&] { m.Protocol.setText(QString::number(HexToVal(image.HexProtocolByte) - 1)); });
    carryOn(ctx, kFlashError, [&] {
        if (!image.HexBaudRate.isEmpty())
            m.Vitesse.setText(image.HexBaudRate);
    });
    carryOn(ctx, kFlashError, [&] { ctx.link.protocolChar = ctx.link.runChar = protocolCharFromText(m.Protocol.text()); });
}

// The check attempts of one controller; a failing check at every speed leaves
// it without a verdict. The new firmware runs at the speed its image fixes,
// whatever the old one answered at.
bool check(Context &ctx, int i, bool parallel, const ImageDescription &image)
{
    SpeedSearch search;
    search.onlyTicked = parallel;
    search.stopSkips = parallel;
    search.fromKnownSpeed = image.HexBaudRate.isEmpty();
    search.attempt = [&ctx, i] {
        if (ctx.main.QRV3.ticked())
            SendP4(ctx, i);
        return FlashCheck(ctx, i) ? Attempt::Succeeded : Attempt::NextSpeed;
    };
    if (!parallel)
        search.beforeNextSpeed = [&ctx, i] { ResetCtrlStatus(ctx, i); };
    else
        search.atNewSpeed = [&ctx, i] { tellSearch(ctx, i, false, false); };
    return searchSpeeds(ctx, i, search) == SearchResult::Found;
}

// A controller is programmed when it accepted the image and answers with the
// file's checksum; whatever a check answers after a refused image, the
// controller holds no firmware it vouched for.
void verdict(Context &ctx, int i)
{
    ResultBox &ver = ctx.info.Ver(i);
    ResultBox &ckSum = ctx.info.CkSum(i);
    ControllerOutcome &outcome = ctx.outcomes[i];
    // What it answered, not what its box shows; without a file checksum nothing can be called programmed.
    if (!outcome.programmed || !isFileChecksum(outcome.checksum, ctx.info.FileCheksum())) {
        ver.foreground = kRed;
        ver.bold = true;
        ckSum.foreground = kWhite;
        ckSum.bold = true;
        ver.text = QStringLiteral("Programmation");
        ckSum.text = QStringLiteral("ERROR");
        ctx.info.changed();
        outcome.fail(Failure::ProgrammingError);
        ShowFailure(ctx, controllerLine(i, QStringLiteral("Programming failure")));
    } else {
        outcome.outcome = Outcome::Ok;
        outcome.failure = Failure::None;
        ShowProgress(ctx, controllerLine(i, QStringLiteral("Programming OK")), false);
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
        const DownloadImage image = prepare(ctx, false);
        planLine(ctx, image, false);
        for (m.ControllerIndex = 0; m.ControllerIndex < MainState::kControllers; ++m.ControllerIndex) {
            const int i = m.ControllerIndex;
            if (!m.C[i].ticked())
                continue;
            ctx.message.atController(i);
            const SearchResult erased = erase(ctx, i, true, image.description.HexBaudRate.toInt());
            if (erased == SearchResult::Skipped)
                continue;
            if (erased == SearchResult::NotFound)
                return; // erase exhausted: later controllers are not touched
            ResetCtrlStatus(ctx, i);
            if (discardAndStopped(ctx))
                return;
            ctx.port.setSettings(m.BootSettings);
            FlashProg00(ctx, image, i);
            if (discardAndStopped(ctx))
                return;
            takeOnImageSettings(ctx, image.description);
            if (check(ctx, i, false, image.description))
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
        const DownloadImage image = prepare(ctx, true);
        planLine(ctx, image, true);
        // Every controller an erase frame went out to, answered or not: each
        // may hold no firmware, so each takes the image and is checked.
        QList<int> erased;
        for (m.ControllerIndex = 0; m.ControllerIndex < MainState::kControllers; ++m.ControllerIndex) {
            const int i = m.ControllerIndex;
            ctx.message.atController(i);
            bool refused = false;
            // With nobody erased yet, one not found ends the run (unless it was heard).
            const SearchResult result = erase(ctx, i, erased.isEmpty(), 0, &refused);
            if (result == SearchResult::Found)
                ResetCtrlStatus(ctx, i);
            const ControllerOutcome &o = ctx.outcomes[i];
            // Bytes came back to its frames, but none it would own to: it
            // heard an erase, and may have done it.
            const bool mayHaveErased = o.heardFrom && !refused;
            // One that cannot be erased while nobody else may be ends the run
            // (a dead line costs one search, not one per controller).
            if (result == SearchResult::NotFound && !mayHaveErased && erased.isEmpty())
                return;
            // One that refused said so itself: it keeps its firmware, and its mark.
            if (o.erased && !refused)
                erased << i;
            else
                ctx.message.leaveOut(i);
        }
        if (discardAndStopped(ctx))
            return;
        ctx.port.setSettings(m.BootSettings);
        FlashProg(ctx, image, erased);
        if (discardAndStopped(ctx))
            return;
        takeOnImageSettings(ctx, image.description);
        for (m.ControllerIndex = 0; m.ControllerIndex < MainState::kControllers; ++m.ControllerIndex) {
            const int i = m.ControllerIndex;
            // Not erased: it keeps the mark of why, and its old firmware.
            if (m.C[i].ticked() && !erased.contains(i))
                continue;
            ctx.message.atController(i);
            if (check(ctx, i, true, image.description))
                verdict(ctx, i);
        }
        ctx.message.close();
    });
    summarizeRun(ctx, QStringLiteral("Download (Parallel)"), true, ticked);
}

} // namespace vantorel
