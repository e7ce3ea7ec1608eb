#include "ui/historywindow.h"

#include "session/session.h"
#include "state/context.h"
#include "state/log.h"
#include "state/outcome.h"
#include "ui/historychart.h"
#include "ui/historyreader.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QDir>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSplitter>
#include <QStandardItemModel>
#include <QTableView>
#include <QTimer>
#include <QVBoxLayout>

namespace vantorel {

namespace {

const QStringList kColumns = {QStringLiteral("Time (UTC)"), QStringLiteral("Station"),  QStringLiteral("Operation"),
                              QStringLiteral("Controller"), QStringLiteral("Unit"),     QStringLiteral("Image"),
                              QStringLiteral("Outcome"),    QStringLiteral("Failure"),  QStringLiteral("Version"),
                              QStringLiteral("Checksum")};

// Every outcome a record can hold, for the status filter.
QStringList outcomeNames()
{
    QStringList names;
    for (const Outcome o : {Outcome::Ok, Outcome::Mismatch, Outcome::Failed, Outcome::ErasedNotProgrammed,
                            Outcome::EraseUnconfirmed, Outcome::Cancelled, Outcome::NotReached})
        names << outcomeName(o);
    return names;
}

QLabel *caption(const QString &text, QWidget *buddy)
{
    auto *label = new QLabel(text);
    label->setBuddy(buddy);
    return label;
}

// A cell as the records hold it; a line break in a name shows as such, so a row stays one line.
QStandardItem *cell(const QString &text, const QString &toolTip = QString())
{
    auto *item = new QStandardItem(escapeControls(text));
    item->setEditable(false);
    if (!toolTip.isEmpty())
        item->setToolTip(toolTip);
    return item;
}

QList<QStandardItem *> rowCells(const HistoryRow &row)
{
    const RunRecord &r = row.run;
    const ControllerRecord c = row.controller();
    auto *number = cell(QString::number(c.number));
    number->setData(c.number, Qt::DisplayRole); // sorts as a number
    const QString image = r.imagePath.isEmpty() ? QString()
                                                : QFileInfo(r.imagePath).fileName() + QLatin1Char(' ') + r.fileChecksum;
    auto *outcome = cell(c.outcome);
    const std::optional<ChartClass> kind = chartClass(c.outcome);
    if (kind == ChartClass::Erased || kind == ChartClass::Failed)
        outcome->setForeground(QColor(0xc0, 0x1c, 0x28));
    else if (!kind)
        outcome->setForeground(Qt::gray);
    if (kind == ChartClass::Erased) {
        QFont bold = outcome->font();
        bold.setBold(true);
        outcome->setFont(bold);
    }
    return {cell(r.timeUtc.toUTC().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"))),
            cell(r.station),
            cell(r.operation, QStringLiteral("Run %1, port %2, run status %3").arg(r.uid, r.port, r.status)),
            number,
            cell(c.unit),
            cell(image, r.imagePath.isEmpty() ? QString()
                                              : QDir::toNativeSeparators(r.imagePath) + QStringLiteral("\nSHA-256 ")
                                                    + r.imageSha256),
            outcome,
            cell(failureWordsOf(c.failure)),
            cell(c.version),
            cell(c.checksum)};
}

} // namespace

HistoryWindow::HistoryWindow(Session &session, QWidget *parent)
    : QWidget(parent, Qt::Window), session_(session), reader_(new HistoryReader(this)), settle_(new QTimer(this))
{
    setObjectName(QStringLiteral("History"));
    setWindowTitle(QStringLiteral("History"));
    resize(1040, 680);
    settle_->setSingleShot(true);
    settle_->setInterval(300);
    connect(settle_, &QTimer::timeout, this, &HistoryWindow::readNow);
    connect(reader_, &HistoryReader::answered, this, &HistoryWindow::answered);

    state_ = new QLabel;
    state_->setObjectName(QStringLiteral("HistoryState"));
    state_->setWordWrap(true);
    state_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    auto *close = new QPushButton(QStringLiteral("&Close"));
    connect(close, &QPushButton::clicked, this, &QWidget::close);
    auto *bottom = new QHBoxLayout;
    bottom->addWidget(state_, 1);
    bottom->addWidget(close, 0, Qt::AlignBottom);
    auto *root = new QVBoxLayout(this);
    root->addWidget(buildFilters());
    root->addWidget(buildResults(), 1);
    root->addLayout(bottom);

    // The file chosen in the main window is the image asked about.
    fileViewKey_ = session_.main().FileCheksum.onUpdate([this] { fileChanged(); });
    fileChanged();
}

HistoryWindow::~HistoryWindow() { session_.main().FileCheksum.removeView(fileViewKey_); }

QWidget *HistoryWindow::buildFilters()
{
    controller_ = new QComboBox;
    controller_->setObjectName(QStringLiteral("HistoryController"));
    controller_->addItem(QStringLiteral("any"), -1);
    for (int n = 0; n < 32; ++n)
        controller_->addItem(QString::number(n), n);
    status_ = new QComboBox;
    status_->setObjectName(QStringLiteral("HistoryStatus"));
    status_->addItem(QStringLiteral("any"), QString());
    for (const QString &name : outcomeNames())
        status_->addItem(name, name);
    auto line = [](const char *name, const QString &hint) {
        auto *edit = new QLineEdit;
        edit->setObjectName(QLatin1String(name));
        edit->setPlaceholderText(hint);
        edit->setClearButtonEnabled(true);
        return edit;
    };
    unit_ = line("HistoryUnit", QStringLiteral("unit or serial number"));
    image_ = line("HistoryImage", QStringLiteral("SHA-256 or checksum, e.g. D249"));
    station_ = line("HistoryStation", QStringLiteral("station name"));
    sinceOn_ = new QCheckBox(QStringLiteral("S&ince (UTC)"));
    sinceOn_->setObjectName(QStringLiteral("HistorySinceOn"));
    since_ = new QDateEdit(QDateTime::currentDateTimeUtc().date().addDays(-30));
    since_->setObjectName(QStringLiteral("HistorySince"));
    since_->setDisplayFormat(QStringLiteral("yyyy-MM-dd"));
    since_->setCalendarPopup(true);
    since_->setEnabled(false);
    notImage_ = new QCheckBox(QStringLiteral("which controllers do not hold this image?"));
    notImage_->setObjectName(QStringLiteral("HistoryNotImage"));
    chosenFile_ = new QLabel;
    chosenFile_->setObjectName(QStringLiteral("HistoryChosenFile"));
    auto *refresh = new QPushButton(QStringLiteral("&Refresh"));
    refresh->setObjectName(QStringLiteral("HistoryRefresh"));
    refresh->setToolTip(QStringLiteral("Reads the records again, with the runs written since."));

    auto *box = new QWidget;
    auto *grid = new QGridLayout(box);
    grid->setContentsMargins(0, 0, 0, 0);
    const std::pair<QString, QWidget *> first[] = {{QStringLiteral("C&ontroller:"), controller_},
                                                   {QStringLiteral("&Unit:"), unit_},
                                                   {QStringLiteral("&Image:"), image_}};
    const std::pair<QString, QWidget *> second[] = {{QStringLiteral("St&atus:"), status_},
                                                    {QStringLiteral("Statio&n:"), station_}};
    for (int i = 0; i < 3; ++i) {
        grid->addWidget(caption(first[i].first, first[i].second), 0, 2 * i);
        grid->addWidget(first[i].second, 0, 2 * i + 1);
    }
    for (int i = 0; i < 2; ++i) {
        grid->addWidget(caption(second[i].first, second[i].second), 1, 2 * i);
        grid->addWidget(second[i].second, 1, 2 * i + 1);
    }
    auto *since = new QHBoxLayout;
    since->addWidget(sinceOn_);
    since->addWidget(since_);
    since->addStretch();
    grid->addLayout(since, 1, 4, 1, 2);
    auto *notImage = new QHBoxLayout;
    notImage->addWidget(notImage_);
    notImage->addWidget(chosenFile_, 1);
    notImage->addWidget(refresh);
    grid->addLayout(notImage, 2, 0, 1, 6);
    grid->setColumnStretch(3, 1);
    grid->setColumnStretch(5, 1);
    connectFilters(refresh);
    return box;
}

// A changed filter reads the list again, once the edits pause.
void HistoryWindow::connectFilters(QPushButton *refresh)
{
    for (QComboBox *combo : {controller_, status_})
        connect(combo, &QComboBox::currentIndexChanged, this, &HistoryWindow::readSoon);
    for (QLineEdit *edit : {unit_, image_, station_})
        connect(edit, &QLineEdit::textChanged, this, &HistoryWindow::readSoon);
    connect(sinceOn_, &QCheckBox::toggled, since_, &QWidget::setEnabled);
    connect(sinceOn_, &QCheckBox::toggled, this, &HistoryWindow::readSoon);
    connect(since_, &QDateEdit::dateChanged, this, &HistoryWindow::readSoon);
    connect(notImage_, &QCheckBox::toggled, this, &HistoryWindow::readSoon);
    connect(refresh, &QPushButton::clicked, this, &HistoryWindow::readNow);
}

QWidget *HistoryWindow::buildResults()
{
    model_ = new QStandardItemModel(0, int(kColumns.size()), this);
    model_->setHorizontalHeaderLabels(kColumns);
    table_ = new QTableView;
    table_->setObjectName(QStringLiteral("HistoryTable"));
    table_->setModel(model_);
    table_->setSortingEnabled(true);
    table_->sortByColumn(0, Qt::DescendingOrder); // the latest first
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->setAlternatingRowColors(true);
    table_->verticalHeader()->hide();
    table_->verticalHeader()->setDefaultSectionSize(table_->fontMetrics().height() + 6);
    table_->horizontalHeader()->setStretchLastSection(true);
    chart_ = new HistoryChart;
    auto *split = new QSplitter(Qt::Vertical);
    split->addWidget(table_);
    split->addWidget(chart_);
    split->setStretchFactor(0, 3);
    split->setStretchFactor(1, 2);
    split->setChildrenCollapsible(false);
    return split;
}

bool HistoryWindow::filterOf(HistoryFilter &f, QString &problem) const
{
    f = HistoryFilter();
    if (const int n = controller_->currentData().toInt(); n >= 0)
        f.controller = n;
    f.outcome = status_->currentData().toString();
    f.station = station_->text().trimmed();
    f.unit = unit_->text().trimmed();
    f.image = image_->text().trimmed();
    if (!f.image.isEmpty() && !isImageKey(f.image)) {
        problem = QStringLiteral("Image: \"%1\" is no SHA-256 (64 hex digits) nor a checksum as shown (hex digits, "
                                 "e.g. D249); type one of them, or clear the box.").arg(f.image);
        return false;
    }
    if (sinceOn_->isChecked())
        f.since = QDateTime(since_->date(), QTime(0, 0), Qt::UTC);
    if (notImage_->isChecked()) {
        // The checksum the controllers answer with: it finds them also where no recorded run chose this file.
        f.notImage = session_.main().FileCheksum.text().trimmed();
        if (!isImageKey(f.notImage)) {
            problem = QStringLiteral("Choose a HEX file in the main window first: its checksum is the image asked about.");
            return false;
        }
    }
    return true;
}

bool HistoryWindow::reading() const { return reader_->busy() || settle_->isActive() || again_; }

void HistoryWindow::readSoon() { settle_->start(); }

void HistoryWindow::readNow()
{
    settle_->stop();
    if (reader_->busy()) {
        again_ = true;
        return;
    }
    again_ = false;
    HistoryFilter filter;
    QString problem;
    if (!filterOf(filter, problem)) {
        showProblem(problem);
        return;
    }
    const ResultsKeeper &keeper = session_.results();
    const std::optional<StoreTarget> target = keeper.target();
    if (!target) {
        showProblem(QStringLiteral("The results cannot be read: %1. %2").arg(keeper.targetProblem(), whereItIsSet()));
        return;
    }
    state_->setStyleSheet(QString());
    state_->setText(QStringLiteral("Reading the results from %1 ...").arg(target->shown()));
    reader_->read(*target, filter);
}

void HistoryWindow::answered(const QList<HistoryRow> &rows, const QString &error)
{
    if (again_) { // what was read answers filters no longer set
        readNow();
        return;
    }
    if (!error.isEmpty()) {
        showProblem(QStringLiteral("The results cannot be read: %1. %2").arg(error, whereItIsSet()));
        return;
    }
    showRows(rows);
}

void HistoryWindow::showRows(const QList<HistoryRow> &rows)
{
    const std::optional<StoreTarget> target = session_.results().target();
    table_->setSortingEnabled(false);
    model_->removeRows(0, model_->rowCount());
    // The store lists the oldest first (a board's latest first): the latest are kept.
    const bool latestFirst = !rows.isEmpty() && rows.first().run.timeUtc > rows.last().run.timeUtc;
    const qsizetype from = latestFirst ? 0 : std::max<qsizetype>(0, rows.size() - kListed);
    for (qsizetype i = from; i < std::min<qsizetype>(rows.size(), from + kListed); ++i)
        model_->appendRow(rowCells(rows[i]));
    table_->setSortingEnabled(true);
    table_->resizeColumnsToContents();
    chart_->setRows(rows);
    QString text = QStringLiteral("%1 record(s) in %2").arg(rows.size()).arg(target ? target->shown() : QString());
    if (rows.size() > kListed)
        text += QStringLiteral("; the latest %1 are listed, the chart counts them all: narrow the filters to list the others")
                    .arg(kListed);
    state_->setStyleSheet(QString());
    state_->setText(text + QLatin1Char('.'));
}

// What was shown before is taken away: it would read as the answer to what was asked.
void HistoryWindow::showProblem(const QString &problem)
{
    model_->removeRows(0, model_->rowCount());
    chart_->setRows({});
    state_->setStyleSheet(QStringLiteral("color: #c01c28; font-weight: bold;"));
    state_->setText(problem);
}

void HistoryWindow::fileChanged()
{
    const MainState &m = session_.main();
    const QString checksum = m.FileCheksum.text().trimmed();
    const bool known = isImageKey(checksum);
    chosenFile_->setText(known ? QStringLiteral("%1, checksum %2").arg(QFileInfo(m.FileName.text()).fileName(), checksum)
                               : QStringLiteral("(choose a HEX file in the main window)"));
    notImage_->setToolTip(QStringLiteral("For each controller on each station, its latest download or Flash Info: "
                                         "those that did not answer with the checksum of the file chosen in the main "
                                         "window."));
    notImage_->setEnabled(known || notImage_->isChecked());
    if (notImage_->isChecked())
        readSoon();
}

QString HistoryWindow::whereItIsSet() const
{
    return QStringLiteral("The results database is the one Database= names under [Results] in %1; without it, "
                          "Results.db in the program folder.")
        .arg(QDir::toNativeSeparators(session_.main().AppDir + QStringLiteral("Vantorel.ini")));
}

} // namespace vantorel
