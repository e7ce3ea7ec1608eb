#pragma once

#include "state/outcome.h"
#include "state/runview.h"

#include <QString>

#include <array>
#include <functional>
#include <optional>
#include <utility>
#include <vector>

namespace vantorel {

// The result table: created hidden on first touch, shown only by the queries
// and downloads, destroyed by its Close button. Closed while a query or
// download runs, it is only hidden, its rows kept: it comes back with the
// verdict at the run's end.
class InfoState {
public:
    static constexpr int kControllers = 32;

    bool exists() const { return exists_; }
    bool shown() const { return shown_; }

    // Read-only views of the boxes: looking does not create the window.
    const ResultBox &verView(int i) const { return ver_[i]; }
    const ResultBox &ckSumView(int i) const { return ckSum_[i]; }
    // Touching a box creates the window (hidden) if needed.
    ResultBox &Ver(int i);
    ResultBox &CkSum(int i);

    // What the window shows in row i: the boxes as the run wrote them, or, once
    // a run has ended, its outcome where those boxes would not tell it (left
    // erased, cancelled, not reached), so an earlier run's texts are never
    // read as this run's. The written boxes themselves stay as they are.
    std::pair<ResultBox, ResultBox> shownRow(int i) const;
    // At the end of a run, before its summary: controller i's outcome. Only
    // what the boxes cannot show is kept; a new run clears it.
    void endRow(int i, const ControllerOutcome &outcome);

    QString caption() const { return caption_; }
    QString Titre() const { return titre_; }
    bool label41Visible() const { return label41Visible_; }
    QString FileCheksum() const { return fileCheksum_; }
    // One line on how the last query or download ended; empty while one runs.
    QString summary() const { return summary_; }
    bool summaryAllWell() const { return summaryAllWell_; }
    // Ends the run the last preparation began.
    void setSummary(const QString &line, bool allWell);
    // Counts the preparations, so a view can tell a new run from an update.
    int preparations() const { return preparations_; }

    // The preparation for a query or download: file checksum copied, caption and
    // title set, the file checksum shown for "Flash Info" only, the window shown.
    void prepare(const QString &title, const QString &fileChecksum);
    // Close pressed.
    void close();

    // Views are told after each change (boxes are changed through Ver/CkSum and
    // then announced with changed()).
    void changed();
    int onUpdate(std::function<void()> l);
    void removeView(int key);

private:
    void touch();
    bool exists_ = false;
    bool shown_ = false;
    std::array<ResultBox, kControllers> ver_{};
    std::array<ResultBox, kControllers> ckSum_{};
    std::array<std::optional<std::pair<ResultBox, ResultBox>>, kControllers> ended_{};
    QString caption_;
    QString titre_;
    bool label41Visible_ = true;
    QString fileCheksum_;
    QString summary_;
    bool summaryAllWell_ = false;
    int preparations_ = 0;
    bool running_ = false; // from a preparation to its summary
    bool closedInRun_ = false;
    std::vector<std::pair<int, std::function<void()>>> views_;
    int nextKey_ = 1;
};

} // namespace vantorel
