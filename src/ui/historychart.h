#pragma once

#include "store/resultsstore.h"

#include <QDate>
#include <QWidget>

#include <array>
#include <optional>

class QComboBox;
class QChartView;

namespace vantorel {

// What the chart counts a controller's record as, in the order the bars stack.
enum class ChartClass { Ok, Failed, Erased };
inline constexpr int kChartClasses = 3;
// None for a controller the run did nothing to (cancelled, not reached).
std::optional<ChartClass> chartClass(const QString &outcome);

struct DayCounts {
    QDate day; // UTC, as the records keep time
    std::array<int, kChartClasses> counts{};
};
// Oldest first; only the rows of 'station' when it is not empty.
QList<DayCounts> countPerDay(const QList<HistoryRow> &rows, const QString &station);

// Ok, failed and erased-not-programmed controllers per day, stacked, for all
// stations or the one chosen.
class HistoryChart : public QWidget {
    Q_OBJECT
public:
    // The days drawn at most (the latest that have records): more would not be read.
    static constexpr int kDays = 31;

    explicit HistoryChart(QWidget *parent = nullptr);
    // Draws these rows, keeping the station chosen while they hold it.
    void setRows(const QList<HistoryRow> &rows);

private:
    void draw();
    QList<HistoryRow> rows_;
    QComboBox *station_;
    QChartView *view_;
};

} // namespace vantorel
