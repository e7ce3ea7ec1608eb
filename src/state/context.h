#pragma once

#include "state/fileselection.h"
#include "state/imagedescription.h"
#include "state/infostate.h"
#include "state/linksettings.h"
#include "state/log.h"
#include "state/mainstate.h"
#include "state/messagestate.h"
#include "state/outcome.h"
#include "state/run.h"
#include "state/usersettings.h"
#include "platform/portinfo.h"

#include <array>
#include <memory>
#include <optional>

namespace vantorel {

class Clock;
class Desk;
class SerialPort;


// Everything one operation works with. No globals: a test can build several.
class Context {
public:
    Context(SerialPort &port, Desk &desk, const Clock &clock);
    Context(const Context &) = delete;
    Context &operator=(const Context &) = delete;

    MainState main;
    MessageState message;
    InfoState info;
    Log log;
    ImageDescription image;
    // Programming batches in the chosen file, counted when it is read (0: unknown).
    int imageBatches = 0;
    // Hash of the chosen file's bytes as the user was shown them; a download
    // refuses a file that changed since.
    QByteArray chosenFileHash;
    // How FileName's reaction reads the file it names (attachFileSelection).
    ChosenFileReader readChosenFile;
    Timings timings;
    // The settings of the run in hand, taken by its check before the first byte.
    LinkSettings link;
    // Vantorel.ini: read at start-up, saved with Flash.cfg.
    UserSettings user;
    bool StopRequested = false;
    // The controller in hand when Cancel came in the last operation, if it came.
    std::optional<int> stoppedAt;
    // How the last operation ended (for front-ends that report it in their
    // own way, such as an exit status).
    RunEnd lastRun;
    // What the last operation came to, controller by controller.
    Outcomes outcomes{};

    // The serial devices present now, for the port list and port faults.
    std::shared_ptr<const PortInfoSource> portInfo = std::make_shared<SystemPortInfo>();

    SerialPort &port;
    Desk &desk;
    const Clock &clock;
};


// How long a failure message is held in the last run's setting.
double failureHoldSeconds(const Context &ctx);


// Start-up of the main window, in its order: program folder, Boot.ini, title,
// log, saved configuration, Check1. The port stays closed.
// 'logName': the log's file name without ".txt" (its previous run's copy adds ".old").
void startUp(Context &ctx, const QString &appDir, const QString &logName = QStringLiteral("Log"));

// The HEX file of the last run, chosen again when it still exists (the
// windowed tool does this after its start-up).
void reopenLastHexFile(Context &ctx);

// Closing: the log is closed, then Flash.cfg and Vantorel.ini written when
// Check1 is ticked.
// Returns false (after telling the user) when the configuration could not be saved.
bool shutDown(Context &ctx);

} // namespace vantorel
