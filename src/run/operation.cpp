#include "run/operation.h"

#include "state/run.h"
#include "run/status.h"
#include "platform/desk.h"
#include "platform/fault.h"
#include "platform/portinfo.h"
#include "platform/portnames.h"
#include "platform/serialport.h"

#include <optional>

namespace vantorel {

void prepareResultOperation(Run &run, const QString &title)
{
    for (int i = 0; i < kControllers; ++i)
        ResetCtrlStatus(run, i);
    run.stopRequested = false;
    run.view.prepareResults(title, run.form.fileChecksum);
}

void openPort(Run &run)
{
    const QString text = run.form.comPort;
    try {
        run.port.selectPort(resolvePortName(text, run.form.appDir));
        run.port.open();
    } catch (const Fault &fault) {
        if (fault.code() != FaultCode::PortOpen)
            throw;
        // Which device the item meant and which ones exist: the user's next step.
        QString help = portOrigin(text, run.form.appDir);
        if (!help.isEmpty())
            help.prepend(QLatin1Char('\r'));
        help += QLatin1Char('\r') + presentDevicesText(run.portInfo->devices());
        throw Fault(FaultCode::PortOpen, fault.description() + help);
    }
}

void runOperation(Run &run, const QString &title, const QString &suffix, const std::function<void()> &body)
{
    run.end.faultNumber.reset();
    run.end.faultText.clear();
    run.end.refused = false;
    run.outcomes = {};
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
    run.port.close();
    run.view.endRun();
    if (!fault)
        return;
    run.end.faultNumber = fault->number();
    run.end.faultText = faultBoxText(*fault);
    run.view.closeProgress();
    run.desk.message(title, faultBoxText(*fault) + suffix);
}

void carryOn(Run &run, const QString &title, const std::function<void()> &step)
{
    try {
        step();
    } catch (const Fault &fault) {
        if (isPortFault(fault.code()))
            throw;
        run.desk.message(title, faultBoxText(fault));
    }
}

} // namespace vantorel
