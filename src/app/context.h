#pragma once

#include "app/imagedescription.h"
#include "app/log.h"
#include "app/mainstate.h"
#include "app/messagestate.h"

namespace vantorel {

class Clock;
class Desk;
class SerialPort;

// Waits that the behaviour fixes. Tests and the command line may shorten them.
struct Timings {
    double settleDelay = 0.5; // after the first answer byte, no events handled
    double failureHold = 2.0; // a failure message stays this long
};

// Everything one operation works with. No globals: a test can build several.
class Context {
public:
    Context(SerialPort &port, Desk &desk, const Clock &clock);
    Context(const Context &) = delete;
    Context &operator=(const Context &) = delete;

    MainState main;
    MessageState message;
    Log log;
    ImageDescription image;
    Timings timings;
    bool StopRequested = false;

    SerialPort &port;
    Desk &desk;
    const Clock &clock;
};

// The tool's own version as the title shows it.
QString programVersion();

// Start-up of the main window, in its order: program folder, Boot.ini, title,
// log, saved configuration, Check1. The port stays closed.
void startUp(Context &ctx, const QString &appDir);

// Closing: the log is closed, then Flash.cfg written when Check1 is ticked.
// Returns false (after telling the user) when the configuration could not be saved.
bool shutDown(Context &ctx);

} // namespace vantorel
