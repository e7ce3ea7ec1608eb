#include "programming/flashprog.h"

#include "state/run.h"
#include "image/downloadimage.h"
#include "image/hexfile.h"
#include "link/exchange.h"
#include "run/line.h"
#include "link/frames.h"
#include "run/status.h"
#include "link/textcodec.h"
#include "run/waits.h"
#include "platform/clock.h"
#include "platform/desk.h"
#include "platform/serialport.h"

namespace vantorel {

namespace {

// The full checksum to one controller, repeated on up to two refusals. Its
// "61" is the boot program's word that the image it holds is whole.
void sendFullChecksum(Run &run, const DownloadImage &image, int ctrl, const QString &messageLine,
                      const QString &thirdRefusalLine)
{
    ShowProgress(run, controllerLine(ctrl, QStringLiteral("Sending full CheckSum ")), true);
    const QByteArray frame = fullChecksumFrame(ctrl, checksumBytes(image.checksum));
    run.log.write(messageLine);
    run.log.write(StrToHex(frame));
    int resends = kFrameResends;
    const Exchange e = sendAcknowledged(run, ctrl, frame, resends);
    ShowCtrlStatus(run, ctrl, failureOf(e.result));
    if (e.acknowledged()) {
        run.log.write(QStringLiteral("Answer : 61"));
        ControllerOutcome &outcome = run.outcomes[ctrl];
        outcome.programmed = true;
        outcome.fail(Failure::NotVerified); // until its check says otherwise
    } else if (e.ok()) {
        run.log.write(thirdRefusalLine);
        ShowCtrlStatus(run, ctrl, failureOf(ComRefused));
    }
}

void showProgressBar(Run &run, const DownloadImage &image, int sent)
{
    if (!image.batches.isEmpty())
        run.view.batchesSent(sent, int(image.batches.size()));
}

// Shows the batch about to go and lets Cancel be seen; false on a stop request
// (the file is then closed and the progress window stays).
bool announceBatch(Run &run, const DownloadImage &image, const QString &text, int number)
{
    // The bar first: the line under the label then counts the batches already sent.
    showProgressBar(run, image, number - 1);
    ShowProgress(run, text, true);
    run.desk.processEvents();
    return !run.stopRequested;
}

// Nothing answers a broadcast batch: the controllers program it once the line
// has carried it, and are given the waiting delay for that. write() returns
// as soon as the system has the bytes, so the batch's line time ('carriedAt')
// is reckoned here; where the system can tell that bytes are still queued (a
// real port, the line busy with more than this batch) the wait follows it too.
// A pseudo-terminal tells nothing: the reckoning alone holds there. Cancel is
// seen throughout; false when it was pressed.
bool programmingPause(Run &run, const LineSettings &line, double carriedAt, double delay)
{
    for (;;) {
        run.desk.processEvents();
        if (run.stopRequested)
            return false;
        const double now = run.clock.seconds();
        if (const qint64 unsent = run.port.bytesUnsent(); unsent > 0)
            carriedAt = qMax(carriedAt, now + lineSeconds(unsent, line));
        else if (now - carriedAt > delay)
            return true;
        pause();
    }
}

} // namespace

void FlashProg(Run &run, const DownloadImage &image, const QList<int> &erased)
{
    run.log.write(QStringLiteral("Programming 5F without answer"));
    const int delay = run.link.waitingDelayMs;
    const LineSettings line = parseLineSettings(run.port.settings());
    int number = 0;
    for (const Batch &batch : image.batches) {
        ++number;
        if (!announceBatch(run, image, QStringLiteral(" Programming Batch ") + QString::number(number) + QStringLiteral("   "),
                           number))
            return;
        const QByteArray frame = programmingFrame(kBroadcast, batch.addressBytes, batch.data);
        run.log.write(StrToHex(frame));
        run.port.write(frame);
        // The line was free: it has carried the batch one line time after the write.
        if (!programmingPause(run, line, run.clock.seconds() + lineSeconds(frame.size(), line), delay / 1000.0))
            return;
    }
    showProgressBar(run, image, number);
    // The last batch's pause is over: the full checksums, which are answered,
    // find the line free and the controllers done programming.

    run.port.discardInput();
    for (const int k : erased) {
        if (run.view.ticked(k) && !run.stopRequested)
            sendFullChecksum(run, image, k, QStringLiteral("Message : $75 Sending full checksum"),
                             QStringLiteral("Answer : Failure 3*E1"));
    }
    run.view.closeProgress();
}

void FlashProg00(Run &run, const DownloadImage &image, int ctrl)
{
    const QString name = QString::number(ctrl);
    run.log.write(QStringLiteral("******** PROGRAMMATION DU CTRL ") + name + QStringLiteral(" **********"));
    int number = 0;
    int resends = kImageResends;
    for (const Batch &batch : image.batches) {
        ++number;
        if (!announceBatch(run, image, controllerLine(ctrl, QStringLiteral("Programming Batch ") + QString::number(number) + QStringLiteral("   ")),
                           number))
            return;
        // The last records gathered when the file ends still carry firmware:
        // they are sent.
        if (batch.endsEmpty())
            break;
        const QByteArray frame = programmingFrame(ctrl, batch.addressBytes, batch.data);
        run.log.write(QStringLiteral("Message : $75 - Programmation Batch ") + QString::number(number));
        run.log.write(StrToHex(frame));
        const Exchange e = sendAcknowledged(run, ctrl, frame, resends);
        if (!e.acknowledged()) {
            if (e.ok()) {
                run.log.write(QStringLiteral("Answer : Failure 3*E1"));
                ShowCtrlStatus(run, ctrl, failureOf(ComRefused));
            }
            run.view.closeProgress();
            return;
        }
        run.log.write(QStringLiteral("Answer : 61"));
    }
    showProgressBar(run, image, number);

    run.port.discardInput();
    sendFullChecksum(run, image, ctrl, QStringLiteral("Message : $75 - Sending full Checksum "),
                     ComResultText(ComCheckFailed));
    run.view.closeProgress();
}

} // namespace vantorel
