#include "protocolswitch/switching.h"

#include "state/run.h"
#include "state/resultsummary.h"
#include "link/exchange.h"
#include "run/line.h"
#include "link/frames.h"
#include "run/operation.h"
#include "run/runcheck.h"
#include "run/speedsearch.h"
#include "run/status.h"
#include "link/textcodec.h"
#include "platform/desk.h"
#include "platform/serialport.h"

namespace vantorel {

namespace {
// Each switch command as what failed, None when it was taken, for the
// controller's outcome. 'confirm': the switch to protocol 4 says so in a
// box of its own (one controller switched alone, or a download's check); a run of
// several says it once, in its closing line, instead of stopping at each.
Failure p4(Run &run, int i, bool confirm)
{
    const QByteArray frame = switchToP4Command(i);
    run.log.write(QStringLiteral("Message : p4 => QRV3"));
    run.log.write(StrToHex(frame));
    const int result = SendReceive(run, i, frame, true).result;
    if (result == ComOk && confirm)
        run.desk.message(QString::fromLatin1(kDefaultTitle), QStringLiteral("send p4 OK!!!"));
    return failureOf(result);
}

Failure to3(Run &run, int i, bool)
{
    const QByteArray frame = returnToP3Frame(i, checkKindFor(run.link.prot4Plus));
    run.log.write(QStringLiteral("Message : Cmd 55 to return to QRV3"));
    run.log.write(StrToHex(frame));
    int resends = kFrameResends;
    const Exchange e = sendAcknowledged(run, i, frame, resends);
    Failure result = failureOf(e.result);
    if (!e.ok()) {
        ShowCtrlStatus(run, i, failureOf(e.result));
    } else if (e.acknowledged()) {
        run.log.write(QStringLiteral("Answer : Ok"));
        ClearCtrlStatus(run, i);
        ShowProgress(run, controllerLine(i, QStringLiteral("Sending p4 OK")), false);
    } else {
        run.log.write(QStringLiteral("Answer : Failure Sending p4 "));
        result = Failure::ErasingFailure;
        ShowCtrlStatus(run, i, result);
    }
    run.view.closeProgress();
    return result;
}
} // namespace

bool SendP4(Run &run, int i) { return p4(run, i, true) == Failure::None; }

namespace {
// The shape both switch commands share: each ticked controller, searching the
// speed, with the step in the progress window and a closing line saying which
// controllers took the switch.
struct Switch {
    QString title;   // of a fault's box
    QString name;    // the button
    QString doing;   // the step, after "Controller n : "
    QString outcome; // of a controller that took it
    Failure (*send)(Run &, int, bool confirm); // confirm: the only controller of the run
};

void switchAll(Run &run, const Switch &how)
{
    QList<int> ticked, tried;
    QMap<int, QString> switched;
    runOperation(run, how.title, QString(), [&] {
        checkAndOpen(run);
        for (int i = 0; i < kControllers; ++i)
            ResetCtrlStatus(run, i);
        run.stopRequested = false;
        ticked = run.form.ticked;
        run.view.startRun(ticked);
        for (run.setController(0); run.controller() < kControllers; run.setController(run.controller() + 1)) {
            const int i = run.controller();
            run.view.atController(i);
            SpeedSearch search;
            Failure failed = Failure::None;
            search.attempt = [&] {
                ShowProgress(run, controllerLine(i, how.doing), false);
                failed = how.send(run, i, ticked.size() == 1);
                return failed == Failure::None ? Attempt::Succeeded : Attempt::NextSpeed;
            };
            search.beforeNextSpeed = [&] { ResetCtrlStatus(run, i); };
            const SearchResult result = searchSpeeds(run, i, search);
            recordSearch(run, i, result, failed);
            if (result != SearchResult::Skipped)
                tried << i;
            if (result == SearchResult::Found)
                switched.insert(i, QString());
        }
        run.view.closeProgress();
    });
    if (run.stopRequested)
        markCancelled(run.outcomes, ticked);
    if (run.end.refused)
        return; // its box said why; nothing was sent
    QList<int> notReached;
    for (const int i : ticked) {
        if (!tried.contains(i))
            notReached << i;
    }
    const QString fault = run.end.faultNumber ? QStringLiteral("Error # ") + QString::number(*run.end.faultNumber) : QString();
    run.desk.message(QString::fromLatin1(kDefaultTitle),
                     passSummary(how.name, how.outcome, tried, switched, notReached, true, run.stopRequested, fault));
}
} // namespace

void Cmd3to4Click(Run &run)
{
    switchAll(run, {QStringLiteral("Cmd3to4_Click "), QStringLiteral("3 -> 4"), QStringLiteral("Switching to protocol 4 "),
                    QStringLiteral("switched to protocol 4"), p4});
}

void Cmd4to3Click(Run &run)
{
    switchAll(run, {QString::fromLatin1(kDefaultTitle), QStringLiteral("4 -> 3"), QStringLiteral("Returning to protocol 3 "),
                    QStringLiteral("returned to protocol 3"), to3});
}

} // namespace vantorel
