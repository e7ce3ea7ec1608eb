#include "ui/portbox.h"

#include "state/context.h"
#include "state/ports.h"
#include "ui/binding.h"

#include <QLabel>
#include <QSignalBlocker>
#include <QStyledItemDelegate>

namespace vantorel {

namespace {

constexpr int kDeviceRole = Qt::UserRole;  // "/dev/ttyUSB0, FT232R USB UART" when present
constexpr int kUnmappedRole = Qt::UserRole + 1; // a present device no COM item reaches

// Draws "COM 3 — /dev/ttyUSB0, FT232R USB UART"; the item's text stays "COM 3".
class PortDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

protected:
    void initStyleOption(QStyleOptionViewItem *option, const QModelIndex &index) const override
    {
        QStyledItemDelegate::initStyleOption(option, index);
        const QString device = index.data(kDeviceRole).toString();
        if (index.data(kUnmappedRole).toBool()) {
            option->text = device + QStringLiteral("  (no COM number yet: choosing it adds one to Ports.ini)");
            option->font.setBold(true);
        } else if (!device.isEmpty()) {
            option->text += QStringLiteral(" \u2014 ") + device;
            option->font.setBold(true);
        }
    }
};

} // namespace

PortBox::PortBox(Context &ctx, QWidget *parent) : QComboBox(parent), ctx_(ctx)
{
    setObjectName(QStringLiteral("ComPort"));
    setEditable(true); // device paths as well as "COM n"
    setItemDelegate(new PortDelegate(this));
    bindComboBox(ctx.main.ComPort, this);
    comItems_ = count();

    device_ = new QLabel;
    device_->setObjectName(QStringLiteral("ComPortDevice"));
    device_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    const int key = ctx.main.ComPort.onUpdate([this] { showDevice(); });
    connect(this, &QObject::destroyed, this, [&ctx, key] { ctx.main.ComPort.removeView(key); });

    connect(this, &QComboBox::activated, this, [this](int index) {
        if (itemData(index, kUnmappedRole).toBool()) {
            chooseDevice(ctx_, itemText(index));
            refresh(); // the device now has its COM item
        }
    });
    refresh();
}

void PortBox::refresh()
{
    const QList<PortItem> items = comPortList(ctx_);
    const QSignalBlocker block(this); // the text in hand must not change
    while (count() > comItems_)
        removeItem(count() - 1);
    for (const PortItem &item : items) {
        const QString shown = item.present ? item.deviceText() : QString();
        if (item.number >= 1 && item.number <= comItems_) {
            setItemData(item.number - 1, shown, kDeviceRole);
            setItemData(item.number - 1, shown, Qt::ToolTipRole);
        } else if (item.number == 0) {
            addItem(item.text);
            setItemData(count() - 1, shown, kDeviceRole);
            setItemData(count() - 1, true, kUnmappedRole);
        }
    }
    if (currentText() != ctx_.main.ComPort.text())
        setCurrentText(ctx_.main.ComPort.text());
    showDevice();
}

void PortBox::showPopup()
{
    refresh();
    QComboBox::showPopup();
}

void PortBox::showDevice()
{
    const PortItem item = comPortInHand(ctx_);
    if (ctx_.main.ComPort.text().trimmed().isEmpty())
        device_->setText(QStringLiteral("no port chosen: pick one from the list"));
    else if (item.device.isEmpty())
        device_->setText(QStringLiteral("names no port"));
    else if (item.present)
        device_->setText(item.deviceText());
    else
        device_->setText(item.device + QStringLiteral(" (not present now)"));
}

} // namespace vantorel
