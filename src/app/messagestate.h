#pragma once

#include "app/control.h"

#include <functional>

namespace vantorel {

// The progress window: created on first touch, closed by Cancel or by the
// operation; a later touch creates it anew, empty.
class MessageState {
public:
    MessageState();

    Control Label1;
    Control Command1{QStringLiteral("Cancel")};
    Control Inquiet; // running message
    Control Stop;    // failure message
    Control Jumelle; // automatic detection
    // The batches of the running download, for the progress bar (0 = no bar).
    int batchesTotal = 0;
    int batchesSent = 0;
    QString controllerInHand;

    bool exists() const { return exists_; }
    bool shown() const { return shown_; }

    // Creates the window if it does not exist (hidden, empty).
    void touch();
    void show();
    void close();
    // Command1 ("Cancel") pressed: asks the running operation to stop, then closes.
    void cancel();

    // Shows one picture and hides the two others.
    void showOnly(Control &picture);
    void setProgress(int sent, int total);

    std::function<void()> onCancel;
    // Views: window created/shown/closed, or progress changed.
    int onUpdate(Control::Listener l);
    void removeView(int key);

private:
    void updated();
    bool exists_ = false;
    bool shown_ = false;
    std::vector<std::pair<int, Control::Listener>> views_;
    int nextKey_ = 1;
};

} // namespace vantorel
