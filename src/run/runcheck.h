#pragma once

#include <QString>

#include <functional>

namespace vantorel {

class Run;
struct SettingsForm;
struct LinkSettings;

// What an operation needs besides Time Out, Speed and Protocol.
struct RunNeeds {
    bool waitingDelay = false; // Parallel Waiting Delay (broadcasts)
    bool bootSpeed = false;    // Boot.ini (programming)
    int timeOutMs = -1;        // the run's own time-out in place of the box's (the detection's)
};

// A Speed text a run may start at: the Speed box's speeds and those only an
// image can fix. Throws Fault(InvalidArgument) listing them.
void checkSpeed(const QString &vitesse);
// The same rule, without a refusal.
bool speedAllowed(const QString &vitesse);

// The least Time Out that fast answers work with: a try that ends in silence
// gives a controller no settle wait to answer in.
inline constexpr int kFastAnswersLeastTimeOutMs = 20;

// A Time Out text a run may start with: a number of milliseconds, 0 or more
// (with fast answers kFastAnswersLeastTimeOutMs or more), as seconds. Throws
// Fault(InvalidArgument) saying what to type.
double checkTimeOut(const QString &text1, bool fastAnswers = false);

// The Parallel Waiting Delay as a whole number of milliseconds, 0 to 32767.
// Throws Fault(InvalidArgument) saying what to type.
int waitingDelayMs(const QString &text2);

// Checks the settings boxes and Boot.ini as the run found them and reads them into the settings the
// run's exchanges work with. Throws Fault(InvalidArgument) naming the box or
// file and what to type.
LinkSettings checkSettings(const SettingsForm &form, const RunNeeds &needs);

// Runs the checks before an operation's first byte: a Fault from them marks
// the operation refused (nothing went on the line) and goes on to its boundary.
void refuseOnFault(Run &run, const std::function<void()> &checks);

// The check of the settings (taken into run.link), then the port opened, as
// one refusable step.
void checkAndOpen(Run &run, const RunNeeds &needs = {});

} // namespace vantorel
