#pragma once

#include "platform/serialport.h"
#include "state/control.h"
#include "state/runview.h"

#include <QList>
#include <QPoint>
#include <QSet>

#include <functional>
#include <optional>

namespace vantorel {

class Clock;

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
    // The batches of the running download (0 = none).
    int batchesTotal = 0;
    int batchesSent = 0;

    bool exists() const { return exists_; }
    bool shown() const { return shown_; }

    // Creates the window if it does not exist (hidden, empty).
    void touch();
    void show();
    void close();
    // Command1 ("Cancel") pressed: asks the running operation to stop, then closes.
    void cancel();
    // Cancel was pressed in this run: the window says so until the run ends.
    bool stopping() const { return stopping_; }
    // Where the window stood in this run, so that one created again after a
    // close comes back there; forgotten when a run starts.
    std::optional<QPoint> place;

    // Shows one picture and hides the two others.
    void showOnly(Control &picture);
    void setProgress(int sent, int total);

    // The whole run, for the bar and the line under Label1. The operations
    // feed the numbers; the times come from the clock.
    // 'controllers' are the numbers the run works on, in order; a download
    // gives its batches (per controller, or once for all when 'broadcast').
    void startRun(const QList<int> &controllers, int batches = 0, bool broadcast = false);
    // Controller 'number' is taken in hand (one not in the run is ignored).
    void atController(int number);
    void endRun();
    // The download's line and waits, once its check has taken them.
    void planLine(const LinePlan &plan);
    // The search of the controller in hand (its erase, or a broadcast's
    // check) starts a speed.
    void searching(const SearchOutlook &outlook);
    // Controller 'number' is left out of the rest of the run (not erased).
    void leaveOut(int number);
    bool running() const { return run_.active; }
    // 0..100 of the run's work done.
    int percent() const;
    // Seconds the planned download still needs; none without a plan.
    std::optional<double> secondsLeft() const;
    // "Controller 2 of 4 · 17 of 40 batches sent · 43 % · 0:52 elapsed · about 1:10 left"
    QString runLine() const;
    const Clock *clock = nullptr;

    std::function<void()> onCancel;
    // Views: window created/shown/closed, or progress changed.
    int onUpdate(Control::Listener l);
    void removeView(int key);

private:
    struct Run {
        bool active = false;
        QList<int> controllers;
        int position = 0; // 1-based place of the controller in hand; 0 = none
        int batches = 0;
        bool broadcast = false;
        int sent = 0; // batches of the current pass
        double startedAt = 0;
        bool programming = false; // the controller in hand has had its first batch announced
        double stepAt = 0;        // when the step in hand began
        std::optional<LinePlan> plan;
        SearchOutlook search; // of the controller in hand, if it is its
        double speedAt = 0;   // when the search's speed in hand began
        QSet<qsizetype> leftOut; // places of controllers the run no longer works on
    };
    // What the step in hand (its erase, or a broadcast's check) still costs,
    // its search included: 'found' is the step's cost where it answers.
    // 'runEnds' when no speed may answer and the run stops there.
    double searchLeft(double found, bool checks, bool &runEnds) const;
    // The expected search of the controller at 0-based place k.
    double searchCost(qsizetype k, bool checks) const;
    // Work done and to do, in the units of the run's kind.
    std::pair<int, int> work() const;
    double now() const;
    void updated();
    Run run_;
    bool stopping_ = false;
    bool exists_ = false;
    bool shown_ = false;
    std::vector<std::pair<int, Control::Listener>> views_;
    int nextKey_ = 1;
};

} // namespace vantorel
