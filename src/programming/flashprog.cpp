#include "programming/flashprog.h"

#include "state/context.h"
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
void sendFullChecksum(Context &ctx, const DownloadImage &image, int ctrl, const QString &messageLine,
                      const QString &thirdRefusalLine)
{
    ShowProgress(ctx, controllerLine(ctrl, QStringLiteral("Sending full CheckSum ")), true);
    const QByteArray frame = fullChecksumFrame(ctrl, checksumBytes(image.checksum));
    ctx.log.write(messageLine);
    ctx.log.write(StrToHex(frame));
    int resends = kFrameResends;
    const Exchange e = sendAcknowledged(ctx, ctrl, frame, resends);
    ShowCtrlStatus(ctx, ctrl, failureOf(e.result));
    if (e.acknowledged()) {
        ctx.log.write(QStringLiteral("Answer : 61"));
        ControllerOutcome &outcome = ctx.outcomes[ctrl];
        outcome.programmed = true;
        outcome.fail(Failure::NotVerified); // until its check says otherwise
    } else if (e.ok()) {
        ctx.log.write(thirdRefusalLine);
        ShowCtrlStatus(ctx, ctrl, failureOf(ComRefused));
    }
}

void showProgressBar(Context &ctx, const DownloadImage &image, int sent)
{
    if (!image.batches.isEmpty())
        ctx.message.setProgress(sent, int(image.batches.size()));
}

// Shows the batch about to go and lets Cancel be seen; false on a stop request
// (the file is then closed and the progress window stays).
bool announceBatch(Context &ctx, const DownloadImage &image, const QString &text, int number)
{
    // The bar first: the line under the label then counts the batches already sent.
    showProgressBar(ctx, image, number - 1);
    ShowProgress(ctx, text, true);
    ctx.desk.processEvents();
    return !ctx.StopRequested;
}

// Nothing answers a broadcast batch: the controllers program it once the line
// has carried it, and are given the waiting delay for that. write() returns
// as soon as the system has the bytes, so the batch's line time ('carriedAt')
// is reckoned here; where the system can tell that bytes are still queued (a
// real port, the line busy with more than this batch) the wait follows it too.
// A pseudo-terminal tells nothing: the reckoning alone holds there. Cancel is
// seen throughout; false when it was pressed.
bool programmingPause(Context &ctx, const LineSettings &line, double carriedAt, double delay)
{
    for (;;) {
        ctx.desk.processEvents();
        if (ctx.StopRequested)
            return false;
        const double now = ctx.clock.seconds();
        if (const qint64 unsent = ctx.port.bytesUnsent(); unsent > 0)
            carriedAt = qMax(carriedAt, now + lineSeconds(unsent, line));
        else if (now - carriedAt > delay)
            return true;
        pause();
    }
}

} // namespace

void FlashProg(Context &ctx, const DownloadImage &image, const QList<int> &erased)
{
    ctx.log.write(QStringLiteral("Programming 5F without answer"));
    const int delay = ctx.link.waitingDelayMs;
    const LineSettings line = parseLineSettings(ctx.port.settings());
    int number = 0;
    for (const Batch &batch : image.batches) {
        ++number;
        if (!announceBatch(ctx, image, QStringLiteral(" Programming Batch ") + QString::number(number) + QStringLiteral("   "),
                           number))
            return;
        const QByteArray frame = programmingFrame(kBroadcast, batch.addressBytes, batch.data);
        ctx.log.write(StrToHex(frame));
        ctx.port.write(frame);
        // The line was free: it has carried the batch one line time after the write.
        if (!programmingPause(ctx, line, ctx.clock.seconds() + lineSeconds(frame.size(), line), delay / 1000.0))
            return;
    }
    showProgressBar(ctx, image, number);
    // The last batch's pause is over: the full checksums, which are answered,
    // find the line free and the controllers done programming.

    ctx.port.discardInput();
    for (const int k : erased) {
        if (ctx.main.C[k].ticked() && !ctx.StopRequested)
            sendFullChecksum(ctx, image, k, QStringLiteral("Message : $75 Sending full checksum"),
                             QStringLiteral("Answer : Failure 3*E1"));
    }
    ctx.message.close();
}

void FlashProg00(Context &ctx, const DownloadImage &image, int ctrl)
{
    const QString name = QString::number(ctrl);
    ctx.log.write(QStringLiteral("******** PROGRAMMATION DU CTRL ") + name + QStringLiteral(" **********"));
    int number = 0;
    int resends = kImageResends;
    for (const Batch &batch : image.batches) {
        ++number;
        if (!announceBatch(ctx, image, controllerLine(ctrl, QStringLiteral("Programming Batch ") + QString::number(number) + QStringLiteral("   ")),
                           number))
            return;
        // The last records gathered when the file ends still carry firmware:
        // they are sent. An end record alone carries nothing and is not.
        if (batch.fileEndedWhileGathering && batch.data.isEmpty())
            break;
        const QByteArray frame = programmingFrame(ctrl, batch.addressBytes, batch.data);
        ctx.log.write(QStringLiteral("Message : $75 - Programmation Batch ") + QString::number(number));
        ctx.log.write(StrToHex(frame));
        const Exchange e = sendAcknowledged(ctx, ctrl, frame, resends);
        if (!e.acknowledged()) {
            if (e.ok()) {
                ctx.log.write(QStringLiteral("Answer : Failure 3*E1"));
                ShowCtrlStatus(ctx, ctrl, failureOf(ComRefused));
            }
            ctx.message.close();
            return;
        }
        ctx.log.write(QStringLiteral("Answer : 61"));
    }
    showProgressBar(ctx, image, number);

    ctx.port.discardInput();
    sendFullChecksum(ctx, image, ctrl, QStringLiteral("Message : $75 - Sending full Checksum "),
                     ComResultText(ComCheckFailed));
    ctx.message.close();
}

} // namespace vantorel
