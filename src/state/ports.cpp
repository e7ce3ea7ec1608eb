#include "state/ports.h"

#include "state/context.h"
#include "platform/desk.h"
#include "platform/fault.h"

#include <QFileInfo>

namespace vantorel {

QList<PortItem> comPortList(const Context &ctx) { return portItems(*ctx.portInfo, ctx.main.AppDir); }

PortItem comPortInHand(const Context &ctx)
{
    try {
        PortItem item = describePort(ctx.main.ComPort.text(), ctx.portInfo->devices(), ctx.main.AppDir);
        // Pseudo-terminals and some adapters are not in the system's list but open all the same.
        item.present = item.present || QFileInfo::exists(item.device);
        return item;
    } catch (const Fault &) {
        return PortItem{ctx.main.ComPort.text(), 0, QString(), QString(), false};
    }
}

void chooseDevice(Context &ctx, const QString &device)
{
    try {
        const int number = mapDevice(device, ctx.portInfo->devices(), ctx.main.AppDir);
        ctx.main.ComPort.setText(QStringLiteral("COM ") + QString::number(number));
    } catch (const Fault &fault) {
        ctx.main.ComPort.setText(device);
        ctx.desk.message(QString::fromLatin1(kDefaultTitle), faultBoxText(fault));
    }
}

} // namespace vantorel
