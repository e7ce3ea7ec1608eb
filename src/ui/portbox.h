#pragma once

#include <QComboBox>

class QLabel;

namespace vantorel {

class Context;

// The Com Port box: its items stay "COM 1" .. "COM 99" (what Flash.cfg keeps);
// the list shows beside each the device it opens when that device is present,
// and after them the present devices no item reaches. The list is read anew
// each time it opens.
class PortBox : public QComboBox {
    Q_OBJECT
public:
    explicit PortBox(Context &ctx, QWidget *parent = nullptr);

    // Shows the device of the text in hand: "/dev/ttyUSB0, FT232R USB UART".
    QLabel *deviceLabel() const { return device_; }

    // Reads the present devices again and redraws the list.
    void refresh();
    void showPopup() override;

private:
    void showDevice();
    Context &ctx_;
    QLabel *device_;
    int comItems_ = 0;
};

} // namespace vantorel
