#pragma once

#include "state/linksettings.h"
#include "state/log.h"
#include "state/outcome.h"
#include "state/runview.h"
#include "state/usersettings.h"
#include "platform/portinfo.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <memory>
#include <optional>

namespace vantorel {

class Clock;
class Desk;
class SerialPort;

// The title of the tool's own message boxes.
inline constexpr const char *kDefaultTitle = "Vantorel";
// The tool's own version as the title shows it.
QString programVersion();

// Waits that the behaviour fixes. Tests and the command line may shorten them.
struct Timings {
    double settleDelay = 0.5; // after the first answer byte, no events handled
    double failureHold = 2.0; // a failure message stays this long
    double fastFailureHold = 0.2; // the same with fast answers, unless failureHold is shorter
    int detectionTimeOutMs = 50; // the time-out the automatic detection puts in Time Out
};

// The settings boxes and files as they stood when the run was started; the
// run's check reads them once, and nothing reads the controls after.
struct SettingsForm {
    QString timeOut, waitingDelay, speed, protocol, comPort;
    bool fastAnswers = false, knownSpeedsFirst = false, prot4Plus = false, sendP4First = false, sameProtocol = false;
    QString bootSettings;   // Boot.ini's line settings
    QString bootIniProblem; // why Boot.ini could not be read; empty when it could
    QString appDir;         // where Ports.ini is
    QString fileName, fileChecksum;
    QByteArray chosenFileHash; // of the file as the user was shown it
    int imageBatches = 0;      // counted when it was chosen (0: unknown)
    QList<int> ticked;         // the controllers ticked
};

// How an operation ended, for the front end that started it.
struct RunEnd {
    // The fault that ended it, if one did: its number and its box text.
    std::optional<int> faultNumber;
    QString faultText;
    // The check before the operation refused it: nothing went on the line.
    bool refused = false;
};

// One operation's run: the line it works on, the settings fixed at its start,
// the speed in hand, the outcomes it records and the view it tells. It holds
// no window control; the program around it sees the run only through the view.
class Run {
public:
    // The link settings, outcomes, Cancel and end are kept by the program
    // that starts the run, which reads them when it is over.
    struct Kept {
        LinkSettings &link;
        Outcomes &outcomes;
        bool &stopRequested;
        RunEnd &end;
        UserSettings &user;
    };
    Run(SerialPort &port, Desk &desk, const Clock &clock, RunView &view, Log &log, const SettingsForm &form,
        const Timings &timings, Kept kept);
    Run(const Run &) = delete;
    Run &operator=(const Run &) = delete;

    SerialPort &port;
    Desk &desk;
    const Clock &clock;
    RunView &view;
    Log &log;
    const SettingsForm form;
    const Timings timings;
    // Taken by the check before the first byte, then changed only by the run.
    LinkSettings &link;
    std::shared_ptr<const PortInfoSource> portInfo = std::make_shared<SystemPortInfo>();

    Outcomes &outcomes;
    // Cancel: set by the program (and by the run's own start), read by the run.
    bool &stopRequested;
    RunEnd &end;
    // Vantorel.ini: the speed each controller was last found at, the station.
    UserSettings &user;

    // The speed in hand and the speeds the search in hand has tried.
    int speed() const { return speed_; }
    const QList<int> &triedSpeeds() const { return tried_; }
    void setSpeed(int speed);
    void setTriedSpeeds(const QList<int> &tried);
    // The controller the run's walk is at (kControllers past the last).
    int controller() const { return controller_; }
    void setController(int controller);

private:
    int speed_ = 0;
    QList<int> tried_;
    int controller_ = 0;
};

// How long a failure message is held in this run.
double failureHoldSeconds(const Run &run);
// The same for a run that will take 'fastAnswers'.
double failureHoldSeconds(const Timings &timings, bool fastAnswers);

} // namespace vantorel
