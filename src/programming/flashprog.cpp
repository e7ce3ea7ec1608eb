#include "programming/flashprog.h"

#include "app/context.h"
#include "image/batchreader.h"
#include "image/fileselection.h"
#include "image/hexfile.h"
#include "link/exchange.h"
#include "link/frames.h"
#include "link/operation.h"
#include "link/status.h"
#include "link/textcodec.h"
#include "link/waits.h"
#include "platform/clock.h"
#include "platform/desk.h"
#include "platform/fault.h"
#include "platform/serialport.h"

#include <cmath>
#include <limits>

namespace vantorel {

namespace {

// The delay text as a 16-bit whole number of milliseconds.
int delayMs(const QString &text2)
{
    bool ok = false;
    const double v = text2.trimmed().toDouble(&ok);
    if (!ok || !std::isfinite(v))
        throw Fault(FaultCode::InvalidArgument,
                    faultDescription(FaultCode::InvalidArgument) + QStringLiteral(" (the Parallel Waiting Delay box holds \"")
                        + text2 + QStringLiteral("\": type a delay in milliseconds, for example 10)"));
    const double r = std::round(v);
    if (r < std::numeric_limits<qint16>::min() || r > std::numeric_limits<qint16>::max())
        throw Fault(FaultCode::Overflow, faultDescription(FaultCode::Overflow)
                                             + QStringLiteral(" (the Parallel Waiting Delay must be below 32768 ms)"));
    return static_cast<int>(r);
}

QByteArray fullChecksumFor(Context &ctx, int ctrl)
{
    return fullChecksumFrame(ctrl, checksumBytes(ReadHexFile(ctx)));
}

// The full checksum to one controller, repeated on up to two refusals.
void sendFullChecksum(Context &ctx, int ctrl, const QString &messageLine, const QString &thirdRefusalLine)
{
    MainState &m = ctx.main;
    int refusals = 1;
    ShowProgress(ctx, QStringLiteral("Controller ") + QString::number(ctrl) + QStringLiteral(" : Sending full CheckSum "),
                 true);
    m.CmdFrame = fullChecksumFor(ctx, ctrl);
    ctx.log.write(messageLine);
    ctx.log.write(StrToHex(m.CmdFrame));
    for (;;) {
        const int r = SendReceive(ctx, ctrl, m.CmdFrame, m.AnswerHex, false);
        ShowCtrlStatus(ctx, ctrl, r);
        if (r != ComOk)
            return;
        if (answerCode(m.AnswerHex) == QLatin1String("61")) {
            ctx.log.write(QStringLiteral("Answer : 61"));
            return;
        }
        if (refusals < 3) {
            ++refusals;
            continue;
        }
        ctx.log.write(thirdRefusalLine);
        ShowCtrlStatus(ctx, ctrl, ComRefused);
        return;
    }
}

void showProgressBar(Context &ctx, int sent)
{
    if (ctx.imageBatches > 0)
        ctx.message.setProgress(sent, ctx.imageBatches);
}

// Runs the batch phase of a programming procedure; true when the full
// checksum is to follow. A fault in it (a bad HEX line) ends the procedure
// after its box. A lost port ends the whole operation.
bool batchPhase(Context &ctx, const std::function<bool()> &phase)
{
    try {
        return phase();
    } catch (const Fault &fault) {
        if (endsOperation(fault))
            throw;
        ctx.desk.message(QStringLiteral("Flash Error"), faultBoxText(fault));
        return false;
    }
}

// Shows the batch about to go and lets Cancel be seen; false on a stop request
// (the file is then closed and the progress window stays).
bool announceBatch(Context &ctx, const QString &text, int number)
{
    ShowProgress(ctx, text, true);
    showProgressBar(ctx, number - 1);
    ctx.desk.processEvents();
    return !ctx.StopRequested;
}

} // namespace

void FlashProg(Context &ctx)
{
    MainState &m = ctx.main;
    ctx.log.write(QStringLiteral("Programming 5F without answer"));
    const bool complete = batchPhase(ctx, [&] {
        BatchReader reader(m.FileName.text());
        int number = 0;
        while (!reader.atEnd()) {
            ++number;
            if (!announceBatch(ctx, QStringLiteral(" Programming Batch ") + QString::number(number) + QStringLiteral("   "),
                               number))
                return false;
            const Batch batch = reader.next();
            m.CmdFrame = programmingFrame(kBroadcast, batch.addressBytes, batch.data);
            ctx.log.write(StrToHex(m.CmdFrame));
            ctx.port.write(m.CmdFrame);
            // Nothing answers a broadcast: the delay alone paces the batches.
            const double start = ctx.clock.seconds();
            while (ctx.clock.seconds() - start <= delayMs(m.Text2.text()) / 1000.0)
                pause();
        }
        showProgressBar(ctx, number);
        return true;
    });
    if (!complete)
        return;

    ctx.port.discardInput();
    for (int k = 0; k < MainState::kControllers; ++k) {
        if (m.C[k].ticked() && !ctx.StopRequested)
            sendFullChecksum(ctx, k, QStringLiteral("Message : $75 Sending full checksum"),
                             QStringLiteral("Answer : Failure 3*E1"));
    }
    ctx.message.close();
}

void FlashProg00(Context &ctx, int ctrl)
{
    MainState &m = ctx.main;
    const QString name = QString::number(ctrl);
    ctx.log.write(QStringLiteral("******** PROGRAMMATION DU CTRL ") + name + QStringLiteral(" **********"));
    const bool complete = batchPhase(ctx, [&] {
        BatchReader reader(m.FileName.text());
        int number = 0;
        int refusals = 0; // one budget for the whole image
        while (!reader.atEnd()) {
            ++number;
            if (!announceBatch(ctx,
                               QStringLiteral("Controller ") + name + QStringLiteral(" : Programming Batch ")
                                   + QString::number(number) + QStringLiteral("   "),
                               number))
                return false;
            const Batch batch = reader.next();
            // The last records gathered when the file ends still carry firmware:
            // they are sent. An end record alone carries nothing and is not.
            if (batch.fileEndedWhileGathering && batch.data.isEmpty())
                break;
            m.CmdFrame = programmingFrame(ctrl, batch.addressBytes, batch.data);
            ctx.log.write(QStringLiteral("Message : $75 - Programmation Batch ") + QString::number(number));
            ctx.log.write(StrToHex(m.CmdFrame));
            for (;;) {
                const int r = SendReceive(ctx, ctrl, m.CmdFrame, m.AnswerHex, false);
                if (r != ComOk) {
                    ctx.message.close();
                    return false;
                }
                if (answerCode(m.AnswerHex) == QLatin1String("61")) {
                    ctx.log.write(QStringLiteral("Answer : 61"));
                    break;
                }
                if (refusals < 3) {
                    ++refusals;
                    continue;
                }
                ctx.log.write(QStringLiteral("Answer : Failure 3*E1"));
                ShowCtrlStatus(ctx, ctrl, ComRefused);
                ctx.message.close();
                return false;
            }
        }
        showProgressBar(ctx, number);
        return true;
    });
    if (!complete)
        return;

    ctx.port.discardInput();
    sendFullChecksum(ctx, ctrl, QStringLiteral("Message : $75 - Sending full Checksum "), ComResultText(ComCheckFailed));
    ctx.message.close();
}

} // namespace vantorel
