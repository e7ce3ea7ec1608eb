#include "programming/downloads.h"

#include "state/run.h"
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
DownloadImage prepare(Run &run, bool parallel)
{
    DownloadImage image;
    refuseOnFault(run, [&] {
        run.link = checkSettings(run.form, RunNeeds{parallel, true});
        image = takeDownloadImage(run.form.fileName, run.form.chosenFileHash);
        openPort(run);
    });
    prepareResultOperation(run, QStringLiteral("Flash Info"));
    return image;
}

// This run's frames at its speeds and waits, for the progress window's time
// left.
void planLine(Run &run, const DownloadImage &image, bool parallel)
{
    LinePlan plan;
    plan.line.baud = run.speed(); // the speed search's format, 8N2
    plan.bootLine = parseLineSettings(run.form.bootSettings);
    for (const Batch &batch : image.batches)
        if (parallel || !batch.endsEmpty())
            plan.batchBytes << int(programmingFrame(kAnyController, batch.addressBytes, batch.data).size());
    plan.eraseBytes = int(eraseFrame(run.link.protocolChar, kAnyController, CheckKind::Crc).size()) + kAckBytes;
    plan.checksumBytes = int(fullChecksumFrame(kAnyController, checksumBytes(image.checksum)).size()) + kAckBytes;
    plan.checkBytes = int(flashCheckFrame(run.link.protocolChar, kAnyController, CheckKind::Crc).size()) + kVersionBytes;
    // With fast answers an exchange ends with its answer's last byte; the
    // tool's own turn (writing, the waits' looks, the window) was measured at
    // about 7 ms an exchange on the paced line, 1 ms beside a settle wait.
    plan.answerWait = run.link.fastAnswers ? 0.007 : run.timings.settleDelay + 0.001;
    plan.broadcastDelay = run.link.waitingDelayMs / 1000.0;
    // A speed where no erase is answered: each protocol character's exchange
    // goes silent and its failure is held.
    const int eraseFrameBytes = int(eraseFrame(run.link.protocolChar, kAnyController, CheckKind::Crc).size());
    const int characters = ProtocolCharacter(run.link).charactersWhenSilent();
    plan.silentSpeed = characters * (silentExchangeSeconds(run.link, run.timings.settleDelay, eraseFrameBytes, plan.line) + failureHoldSeconds(run));
    // Silence is certain once a first try has had all a silent one gets, and
    // more than an answered erase takes (its settle wait included).
    plan.silenceSure = std::max(silentTrySeconds(run.link, run.timings.settleDelay, eraseFrameBytes, plan.line),
                                lineSeconds(plan.eraseBytes, plan.line) + plan.answerWait);
    // In a serial download each controller's check leaves the speed in hand
    // at the image's speed, when it fixes one. A broadcast's checks search
    // again, from where the last erase found its controller, unless the new
    // firmware runs at the image's speed.
    const QList<int> ticked = run.form.ticked;
    const int imageSpeed = image.description.HexBaudRate.toInt();
    plan.silentSpeeds = expectedSearches(run, ticked, run.speed(), parallel ? 0 : imageSpeed);
    if (parallel && imageSpeed == 0 && !ticked.isEmpty())
        plan.silentChecks = expectedSearches(run, ticked, knownSpeedOf(run, ticked.last()));
    run.view.planLine(plan);
}

// Whether an erase search that found nothing ends with a try in the boot
// program: not when its last frames went at the boot speed already, in the
// boot program's check code.
bool bootTryFollows(const Run &run, const QString &lastSpeedTried)
{
    const QString bootSpeed = run.form.bootSettings.section(QLatin1Char(','), 0, 0).trimmed();
    return run.link.prot4Plus || lastSpeedTried != bootSpeed;
}

// Where controller i's search stands, for the time left, at the start of
// each speed: its erase's, or a broadcast's check's (no boot try, nothing
// ends). The searches after it start where it is found, or where its last
// speed leaves the speed in hand; in a serial download at the image's speed.
void tellSearch(Run &run, int i, bool erasing, bool endsRun, int imageSpeed = 0)
{
    const QList<int> left = speedsLeft(run);
    const int known = knownSpeedOf(run, i);
    SearchOutlook o;
    o.controller = i;
    o.checking = !erasing;
    const QList<int> ticked = run.form.ticked;
    const int nextStart = left.contains(known) ? known : left.size() == 1 ? left[0] : 0;
    o.later = expectedSearches(run, ticked.mid(ticked.indexOf(i) + 1), nextStart, imageSpeed);
    o.silentHere = expectedSilentSpeeds(left, known);
    o.silentAfter = expectedSilentSpeeds(left.mid(1), known);
    o.last = left.size() <= 1;
    o.bootTry = erasing && !left.isEmpty() && bootTryFollows(run, QString::number(left.last()));
    o.endsRun = endsRun;
    run.view.searching(o);
}

EraseResult eraseAttempt(Run &run, int i, bool crcOnly = false)
{
    ShowProgress(run, controllerLine(i, QStringLiteral("Erasing ")), false);
    run.desk.processEvents();
    run.port.discardInput();
    return FlashErase(run, i, crcOnly);
}

// A controller erased by an earlier run that did not finish (its
// acknowledgement lost, or the run cancelled), or by one of this search's
// frames whose answer could not be read, waits in its boot program at the
// Boot.ini speed, which knows only the CRC: one more try there finds it.
EraseResult eraseInBootProgram(Run &run, int i, const QString &lastSpeedTried)
{
    const QString bootSpeed = run.form.bootSettings.section(QLatin1Char(','), 0, 0).trimmed();
    // Only the search's last frames, at that speed, were heard by a boot
    // program that every earlier frame might have started.
    if (run.stopRequested || !bootTryFollows(run, lastSpeedTried))
        return EraseResult::NotErased;
    const int speed = run.speed();
    run.setSpeed(bootSpeed.toInt()); // the speed its reports show
    ResetCtrlStatus(run, i);
    run.port.setSettings(run.form.bootSettings);
    const EraseResult erased = eraseAttempt(run, i, true);
    run.setSpeed(speed);
    return erased;
}

// The erase attempts of one controller at the speeds of the search. One that
// cannot be erased is marked with what happened: a controller that refused
// is not shown as one that never answered. 'endsRun': one not found ends the run.
SearchResult erase(Run &run, int i, bool endsRun, int imageSpeed, bool *refusedOut = nullptr)
{
    bool refused = false;
    QString lastSpeed;
    SpeedSearch search;
    search.atNewSpeed = [&run, i, endsRun, imageSpeed] { tellSearch(run, i, true, endsRun, imageSpeed); };
    search.attempt = [&run, &refused, &lastSpeed, i] {
        lastSpeed = QString::number(run.speed());
        const EraseResult r = eraseAttempt(run, i);
        refused = refused || r == EraseResult::Refused;
        return r == EraseResult::Erased ? Attempt::Succeeded : Attempt::NextSpeed;
    };
    search.beforeNextSpeed = [&run, i] { ResetCtrlStatus(run, i); };
    const SearchResult result = searchSpeeds(run, i, search);
    ControllerOutcome &outcome = run.outcomes[i];
    if (run.stopRequested && result != SearchResult::Found) {
        // Cancel cut its search short: no verdict of its tries, but one that
        // was sent an erase stays marked as maybe erased.
        if (outcome.firstFrameAt)
            outcome.cutShort();
        return result;
    }
    if (result != SearchResult::NotFound)
        return result;
    const EraseResult last = eraseInBootProgram(run, i, lastSpeed);
    if (last == EraseResult::Erased)
        return SearchResult::Found;
    if (refused || last == EraseResult::Refused) {
        if (refusedOut)
            *refusedOut = true;
        MarkCtrlStatus(run, i, Failure::ErasingFailure);
        outcome.fail(Failure::RefusedErase);
    } else if (run.stopRequested) {
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
void takeOnImageSettings(Run &run, const ImageDescription &image)
{
    carryOn(run, kFlashError, [&] {
        run.view.prot4PlusTakenOn(image.HexProt4Plus);
        run.link.prot4Plus = image.HexProt4Plus;
    });
    // The Protocol box's text as the image sets it (kept as it was when the image has none readable).
    QString protocol = run.form.protocol;
    carryOn(run, kFlashError, [&] {
        protocol = QString::number(HexToVal(image.HexProtocolByte) - 1);
        run.view.protocolTakenOn(protocol);
    });
    carryOn(run, kFlashError, [&] {
        if (!image.HexBaudRate.isEmpty())
            run.setSpeed(image.HexBaudRate.toInt());
    });
    carryOn(run, kFlashError, [&] { run.link.protocolChar = run.link.runChar = protocolCharFromText(protocol); });
}

// The check attempts of one controller; a failing check at every speed leaves
// it without a verdict. The new firmware runs at the speed its image fixes,
// whatever the old one answered at.
bool check(Run &run, int i, bool parallel, const ImageDescription &image)
{
    SpeedSearch search;
    search.onlyTicked = parallel;
    search.stopSkips = parallel;
    search.fromKnownSpeed = image.HexBaudRate.isEmpty();
    search.attempt = [&run, i] {
        if (run.form.sendP4First)
            SendP4(run, i);
        return FlashCheck(run, i) ? Attempt::Succeeded : Attempt::NextSpeed;
    };
    if (!parallel)
        search.beforeNextSpeed = [&run, i] { ResetCtrlStatus(run, i); };
    else
        search.atNewSpeed = [&run, i] { tellSearch(run, i, false, false); };
    return searchSpeeds(run, i, search) == SearchResult::Found;
}

// A controller is programmed when it accepted the image and answers with the
// file's checksum; whatever a check answers after a refused image, the
// controller holds no firmware it vouched for.
void verdict(Run &run, int i)
{
    ControllerOutcome &outcome = run.outcomes[i];
    // What it answered, not what its box shows; without a file checksum nothing can be called programmed.
    if (!outcome.programmed || !isFileChecksum(outcome.checksum, run.form.fileChecksum)) {
        const auto [verText, ckSumText] = failureBoxes(Failure::ProgrammingError);
        RowPaint row;
        row.ver = BoxPaint{verText, kRed, std::nullopt, true};
        row.ckSum = BoxPaint{ckSumText, kWhite, std::nullopt, true};
        run.view.paintRow(i, row);
        outcome.fail(Failure::ProgrammingError);
        ShowFailure(run, controllerLine(i, QStringLiteral("Programming failure")));
    } else {
        outcome.outcome = Outcome::Ok;
        outcome.failure = Failure::None;
        ShowProgress(run, controllerLine(i, QStringLiteral("Programming OK")), false);
    }
}

// Input left from programming must not be read as the start of an answer.
bool discardAndStopped(Run &run)
{
    run.port.discardInput();
    return run.stopRequested;
}

} // namespace

void ComLoad00Click(Run &run)
{
    const QList<int> ticked = run.form.ticked;
    run.view.startRun(ticked, run.form.imageBatches, false);
    runOperation(run, kFlashError, QString(), [&] {
        const DownloadImage image = prepare(run, false);
        planLine(run, image, false);
        for (run.setController(0); run.controller() < kControllers; run.setController(run.controller() + 1)) {
            const int i = run.controller();
            if (!run.view.ticked(i))
                continue;
            run.view.atController(i);
            const SearchResult erased = erase(run, i, true, image.description.HexBaudRate.toInt());
            if (erased == SearchResult::Skipped)
                continue;
            if (erased == SearchResult::NotFound)
                return; // erase exhausted: later controllers are not touched
            ResetCtrlStatus(run, i);
            if (discardAndStopped(run))
                return;
            run.port.setSettings(run.form.bootSettings);
            FlashProg00(run, image, i);
            if (discardAndStopped(run))
                return;
            takeOnImageSettings(run, image.description);
            if (check(run, i, false, image.description))
                verdict(run, i);
        }
        run.view.closeProgress();
    });
    run.view.summarize(QStringLiteral("Download (Serial)"), true, ticked);
}

void ComLoadClick(Run &run)
{
    const QList<int> ticked = run.form.ticked;
    run.view.startRun(ticked, run.form.imageBatches, true);
    runOperation(run, kFlashError, QString(), [&] {
        const DownloadImage image = prepare(run, true);
        planLine(run, image, true);
        // Every controller an erase frame went out to, answered or not: each
        // may hold no firmware, so each takes the image and is checked.
        QList<int> erased;
        for (run.setController(0); run.controller() < kControllers; run.setController(run.controller() + 1)) {
            const int i = run.controller();
            run.view.atController(i);
            bool refused = false;
            // With nobody erased yet, one not found ends the run (unless it was heard).
            const SearchResult result = erase(run, i, erased.isEmpty(), 0, &refused);
            if (result == SearchResult::Found)
                ResetCtrlStatus(run, i);
            const ControllerOutcome &o = run.outcomes[i];
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
                run.view.leaveOut(i);
        }
        if (discardAndStopped(run))
            return;
        run.port.setSettings(run.form.bootSettings);
        FlashProg(run, image, erased);
        if (discardAndStopped(run))
            return;
        takeOnImageSettings(run, image.description);
        for (run.setController(0); run.controller() < kControllers; run.setController(run.controller() + 1)) {
            const int i = run.controller();
            // Not erased: it keeps the mark of why, and its old firmware.
            if (run.view.ticked(i) && !erased.contains(i))
                continue;
            run.view.atController(i);
            if (check(run, i, true, image.description))
                verdict(run, i);
        }
        run.view.closeProgress();
    });
    run.view.summarize(QStringLiteral("Download (Parallel)"), true, ticked);
}

} // namespace vantorel
