#include "link/operation.h"

#include "app/context.h"
#include "link/status.h"
#include "platform/desk.h"
#include "platform/fault.h"
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
    ctx.port.selectPort(resolvePortName(ctx.main.ComPort.text(), ctx.main.AppDir));
    ctx.port.open();
}

bool runOperation(Context &ctx, const QString &title, const QString &suffix, const std::function<void()> &body)
{
    ctx.lastFaultNumber.reset();
    ctx.lastFaultText.clear();
    ctx.lastRefused = false;
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
    ctx.port.close();
    if (!fault)
        return true;
    ctx.lastFaultNumber = fault->number();
    ctx.lastFaultText = faultBoxText(*fault);
    ctx.message.close();
    ctx.desk.message(title, faultBoxText(*fault) + suffix);
    return false;
}

bool endsOperation(const Fault &fault)
{
    return fault.code() == FaultCode::PortLost || fault.code() == FaultCode::PortOpen
        || fault.code() == FaultCode::PortWrite;
}

void carryOn(Context &ctx, const QString &title, const std::function<void()> &step)
{
    try {
        step();
    } catch (const Fault &fault) {
        if (endsOperation(fault))
            throw;
        ctx.desk.message(title, faultBoxText(fault));
    }
}

} // namespace vantorel
