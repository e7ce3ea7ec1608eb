#pragma once

#include "app/context.h"

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

    // Buttons of the main window that belong to no operation.
    void browse();
    // A file dropped on the window.
    void dropFile(const QString &path);

private:
    Context ctx_;
};

} // namespace vantorel
