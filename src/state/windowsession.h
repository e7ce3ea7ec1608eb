#pragma once

#include "state/fileselection.h"
#include "state/run.h"

#include <QMap>

#include <functional>
#include <memory>
#include <optional>

namespace vantorel {

class Context;
class MainState;

// What a session asks of the windows' states. It holds the Context it was
// given and goes through these only: it never reads or writes a control.

// What the progress window shows now, as a value: the command line prints it
// without knowing the window's state.
struct ProgressShown {
    bool shown = false;        // the window is up
    QString text;              // its message
    bool failureShown = false; // the Stop picture: a failure message
    int batchesSent = 0, batchesTotal = 0;
    std::optional<double> secondsLeft; // the window's time left, when it has a plan
    int controller = -1;               // the controller in hand; -1: all at once
    bool controllerAnswered = false;   // it has answered in this run
    QString speed;                     // the speed in hand
    bool speedLeft = false;            // a speed of the search is still untried
};

// What the result window shows of one controller.
struct ShownRow {
    QString ver, ckSum;
    bool marked = false;
};

// The settings a front end without windows sets, as a person would type them
// into the boxes (each reaction runs): unset ones stay as Flash.cfg left them.
struct FormEdits {
    std::optional<QString> comPort, speed, timeOut, waitingDelay, protocol;
    std::optional<bool> sendP4First, prot4Plus, sameProtocol, fastAnswers, knownSpeedsFirst;
    std::optional<QList<int>> ticked;
    bool saveSettings = true;         // Check1: Flash.cfg and Vantorel.ini written at the end
    std::optional<double> settleDelay, failureHold; // seconds
};

struct ContextDeleter {
    void operator()(Context *ctx) const;
};
using ContextHandle = std::unique_ptr<Context, ContextDeleter>;
// The windows' states, the chosen file read by 'read'.
ContextHandle makeContext(SerialPort &port, Desk &desk, const Clock &clock, ChosenFileReader read);

// The main window's start-up and closing (context.h).
void startUpWindows(Context &ctx, const QString &appDir, const QString &logName);
bool shutDownWindows(Context &ctx);
QString programFolder(const Context &ctx);
const UserSettings &userSettings(const Context &ctx);
MainState &mainOf(Context &ctx);

// The boxes as they stand, as a run's settings.
SettingsForm formOf(const Context &ctx);
void editForm(Context &ctx, const FormEdits &edits);
Timings &timingsOf(Context &ctx);
Log &logOf(Context &ctx);
const RunEnd &lastRunOf(const Context &ctx);
bool cancelRequested(const Context &ctx);
// The progress window's Cancel.
void cancelRun(Context &ctx);
ProgressShown progressShown(const Context &ctx);
// The result window's rows (none when it was not opened).
QMap<int, ShownRow> shownRows(const Context &ctx);
// Told each time the progress window changes.
void watchProgress(Context &ctx, const std::function<void()> &changed);
// All and None.
void tickAll(Context &ctx, bool on);
// The main window's line under the buttons that says where the records went.
QString resultsNote(const Context &ctx);
void setResultsNote(Context &ctx, const QString &text);

// A run made from the window's boxes, with the view that paints its events back into them.
struct WindowRun {
    std::unique_ptr<RunView> view;
    std::unique_ptr<Run> run;
};
WindowRun runFromWindows(Context &ctx);

} // namespace vantorel
