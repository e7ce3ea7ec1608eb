#pragma once

#include "state/context.h"

#include <functional>

namespace vantorel {

// One run of the tool: the context with every reaction wired, whichever
// front-end (window, command line, test) drives it.
class Session {
public:
    Session(SerialPort &port, Desk &desk, const Clock &clock);

    Context &context() { return ctx_; }
    MainState &main() { return ctx_.main; }

    // Start-up in the program folder (findAppDir() when empty).
    void startUp(const QString &appDir = QString());
    // Closing steps; false when the configuration could not be saved.
    bool shutDown();

    // The operation buttons. While one operation runs, a press of another is
    // ignored (false): the events a running operation lets through must not
    // start a second one on the same port and controller counter.
    enum class Operation { FlashInfo, BootInfo, Auto, DownloadSerial, DownloadParallel, To4, To3 };
    bool run(Operation operation);
    bool busy() const { return busy_; }

    // Buttons of the main window that belong to no operation. Choosing or
    // dropping a file is ignored while an operation runs.
    void browse();
    // A file dropped on the window.
    void dropFile(const QString &path);
    // All and None; ignored while an operation runs, like every edit.
    void selectAll();
    void selectNone();

    // Told when an operation starts (true) and ends (false), so a window can
    // lock its input meanwhile.
    std::function<void(bool)> onBusyChanged;

private:
    Context ctx_;
    bool busy_ = false;
};

} // namespace vantorel
