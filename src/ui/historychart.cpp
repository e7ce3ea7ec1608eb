#include "ui/historychart.h"

#include "state/outcome.h"

#include <QBarCategoryAxis>
#include <QBarSet>
#include <QChart>
#include <QChartView>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QStackedBarSeries>
#include <QValueAxis>
#include <QVBoxLayout>

#include <cmath>
#include <map>
#include <set>

namespace vantorel {

namespace {

const char *const kClassNames[kChartClasses] = {"ok", "failed", "erased, not programmed"};
const QColor kClassColours[kChartClasses] = {QColor(0x3c, 0x9a, 0x4a), QColor(0xe0, 0x8a, 0x1e),
                                             QColor(0xc0, 0x1c, 0x28)};

// A top and a step of whole numbers for counts up to 'most': 1, 2 or 5 times a power of ten.
std::pair<int, int> countScale(int most)
{
    if (most <= 5)
        return {std::max(most, 1), 1};
    const double rough = most / 5.0;
    const double power = std::pow(10.0, std::floor(std::log10(rough)));
    int step = int(power);
    for (const int times : {1, 2, 5, 10}) {
        step = int(times * power);
        if (step >= rough)
            break;
    }
    return {(most + step - 1) / step * step, step};
}

} // namespace

std::optional<ChartClass> chartClass(const QString &outcome)
{
    if (outcome == outcomeName(Outcome::Ok))
        return ChartClass::Ok;
    // A checksum other than the file's did not pass either.
    if (outcome == outcomeName(Outcome::Failed) || outcome == outcomeName(Outcome::Mismatch))
        return ChartClass::Failed;
    if (outcome == outcomeName(Outcome::ErasedNotProgrammed) || outcome == outcomeName(Outcome::EraseUnconfirmed))
        return ChartClass::Erased;
    return std::nullopt;
}

QList<DayCounts> countPerDay(const QList<HistoryRow> &rows, const QString &station)
{
    std::map<QDate, std::array<int, kChartClasses>> byDay;
    for (const HistoryRow &row : rows) {
        if (!station.isEmpty() && row.run.station != station)
            continue;
        if (const std::optional<ChartClass> c = chartClass(row.controller().outcome))
            ++byDay[row.run.timeUtc.toUTC().date()][size_t(*c)];
    }
    QList<DayCounts> days;
    for (const auto &[day, counts] : byDay)
        days << DayCounts{day, counts};
    return days;
}

HistoryChart::HistoryChart(QWidget *parent) : QWidget(parent)
{
    station_ = new QComboBox;
    station_->setObjectName(QStringLiteral("ChartStation"));
    station_->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    auto *caption = new QLabel(QStringLiteral("S&tation:"));
    caption->setBuddy(station_);
    view_ = new QChartView;
    view_->setObjectName(QStringLiteral("HistoryChart"));
    view_->setRenderHint(QPainter::Antialiasing);
    view_->setMinimumHeight(220);
    view_->chart()->legend()->setAlignment(Qt::AlignBottom);
    view_->chart()->setMargins(QMargins(4, 4, 4, 4));

    auto *top = new QHBoxLayout;
    top->addWidget(caption);
    top->addWidget(station_);
    top->addStretch();
    auto *root = new QVBoxLayout(this);
    root->setContentsMargins(0, 0, 0, 0);
    root->addLayout(top);
    root->addWidget(view_, 1);
    connect(station_, &QComboBox::currentIndexChanged, this, [this] { draw(); });
    setRows({});
}

void HistoryChart::setRows(const QList<HistoryRow> &rows)
{
    rows_ = rows;
    std::set<QString> stations;
    for (const HistoryRow &row : rows)
        stations.insert(row.run.station);
    const QString chosen = station_->currentData().toString();
    const QSignalBlocker quiet(station_);
    station_->clear();
    station_->addItem(QStringLiteral("All stations"), QString());
    for (const QString &s : stations)
        station_->addItem(s, s);
    station_->setCurrentIndex(std::max(0, station_->findData(chosen)));
    draw();
}

void HistoryChart::draw()
{
    QChart *chart = view_->chart();
    chart->removeAllSeries();
    for (QAbstractAxis *axis : chart->axes()) {
        chart->removeAxis(axis);
        delete axis;
    }
    QList<DayCounts> days = countPerDay(rows_, station_->currentData().toString());
    const bool cut = days.size() > kDays;
    days = days.mid(std::max<qsizetype>(0, days.size() - kDays));
    chart->setTitle(days.isEmpty() ? QStringLiteral("No controller records to count")
                                   : cut ? QStringLiteral("Controllers per day (UTC), the last %1 days with records").arg(kDays)
                                         : QStringLiteral("Controllers per day (UTC)"));
    auto *series = new QStackedBarSeries;
    QStringList categories;
    int most = 0;
    for (const DayCounts &d : days) {
        categories << d.day.toString(Qt::ISODate);
        most = std::max(most, d.counts[0] + d.counts[1] + d.counts[2]);
    }
    for (int c = 0; c < kChartClasses; ++c) {
        auto *set = new QBarSet(QLatin1String(kClassNames[c]));
        set->setColor(kClassColours[c]);
        set->setBorderColor(kClassColours[c].darker(130));
        for (const DayCounts &d : days)
            *set << d.counts[size_t(c)];
        series->append(set);
    }
    chart->addSeries(series);
    auto *x = new QBarCategoryAxis;
    x->append(categories);
    x->setLabelsAngle(categories.size() > 8 ? -60 : 0);
    auto *y = new QValueAxis;
    const auto [top, step] = countScale(most);
    y->setRange(0, top);
    y->setTickCount(top / step + 1);
    y->setLabelFormat(QStringLiteral("%d"));
    y->setTitleText(QStringLiteral("controllers"));
    chart->addAxis(x, Qt::AlignBottom);
    chart->addAxis(y, Qt::AlignLeft);
    series->attachAxis(x);
    series->attachAxis(y);
}

} // namespace vantorel
