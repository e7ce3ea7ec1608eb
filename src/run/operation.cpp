#include "run/operation.h"

#include "state/context.h"
#include "run/status.h"
#include "platform/desk.h"
#include "platform/fault.h"
#include "platform/portinfo.h"
#include "platform/portnames.h"
#include "platform/serialport.h"

#include <optional>

namespace vantorel {

void prepareResultOperation(Context &ctx, const QString &title)
{
    for (int i = 0; i < MainState::kControllers; ++i)
        ResetCtrlStatus(ctx, i);
    ctx.StopRequested = false;
    ctx.info.prepare(title, ctx.main.FileCheksum.text());
}

void openPort(Context &ctx)
{
    const QString text = ctx.main.ComPort.text();
    try {
        ctx.port.selectPort(resolvePortName(text, ctx.main.AppDir));
        ctx.port.open();
    } catch (const Fault &fault) {
        if (fault.code() != FaultCode::PortOpen)
            throw;
        // Which device the item meant and which ones exist: the user's next step.
        QString help = portOrigin(text, ctx.main.AppDir);
        if (!help.isEmpty())
            help.prepend(QLatin1Char('\r'));
        help += QLatin1Char('\r') + presentDevicesText(ctx.portInfo->devices());
        throw Fault(FaultCode::PortOpen, fault.description() + help);
    }
}

bool runOperation(Context &ctx, const QString &title, const QString &suffix, const std::function<void()> &body)
{
    ctx.lastFaultNumber.reset();
    ctx.lastFaultText.clear();
    ctx.lastRefused = false;
    ctx.stoppedAt.reset();
    ctx.outcomes = {};
    std::optional<Fault> fault;
    try {
        body();
    } catch (const Fault &f) {
        fault = f;
    } catch (const std::exception &e) {
        // A fault of our own making must not take the program down with the port open.
        fault = Fault(FaultCode::Internal, faultDescription(FaultCode::Internal) + QStringLiteral(" (")
                                               + QString::fromLocal8Bit(e.what())
                                               + QStringLiteral("): the operation was stopped; please report it with Log.txt"));
    }
    // Every operation leaves the port closed, however it ends.
    ctx.port.close();
    ctx.message.endRun();
    if (!fault)
        return true;
    ctx.lastFaultNumber = fault->number();
    ctx.lastFaultText = faultBoxText(*fault);
    ctx.message.close();
    ctx.desk.message(title, faultBoxText(*fault) + suffix);
    return false;
}

void carryOn(Context &ctx, const QString &title, const std::function<void()> &step)
{
    try {
        step();
    } catch (const Fault &fault) {
        if (isPortFault(fault.code()))
            throw;
        ctx.desk.message(title, faultBoxText(fault));
    }
}

} // namespace vantorel
