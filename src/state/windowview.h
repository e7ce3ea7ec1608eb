#pragma once

#include "state/run.h"

namespace vantorel {

class Context;

// The window's side of a run: what the run tells is painted into the main,
// progress and result windows of the context, the way the window tool and
// the command line both show it.
class WindowView : public RunView {
public:
    explicit WindowView(Context &ctx) : ctx_(ctx) {}

    bool ticked(int controller) const override;
    void speedInHand(int speed, const QList<int> &tried) override;
    void controllerInHand(int controller) override;
    void protocolTakenOn(const QString &protocol) override;
    void prot4PlusTakenOn(bool on) override;
    void detecting(bool on, int timeOutMs) override;
    void detected(int controller, bool answered) override;
    void prepareResults(const QString &title, const QString &fileChecksum) override;
    void paintRow(int controller, const RowPaint &paint) override;
    void summarize(const QString &operation, bool download, const QList<int> &ticked) override;
    void message(Picture picture, const QString &text) override;
    void startRun(const QList<int> &controllers, int batches, bool broadcast) override;
    void planLine(const LinePlan &plan) override;
    void searching(const SearchOutlook &outlook) override;
    void atController(int controller) override;
    void leaveOut(int controller) override;
    void batchesSent(int sent, int total) override;
    void closeProgress() override;
    void endRun() override;

private:
    Context &ctx_;
    QString timeOutBefore_, speedBefore_; // put back when a detection ends
};

// The settings boxes and files of the context as they stand now.
SettingsForm settingsForm(const Context &ctx);

// A run on the context's line from its boxes as they stand, told to 'view':
// what it records stays in the context for the front ends to read.
std::unique_ptr<Run> runFromWindow(Context &ctx, RunView &view);

} // namespace vantorel
