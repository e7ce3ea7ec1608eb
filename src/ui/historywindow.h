#pragma once

#include "store/resultsstore.h"

#include <QWidget>

class QCheckBox;
class QComboBox;
class QDateEdit;
class QLabel;
class QLineEdit;
class QPushButton;
class QStandardItemModel;
class QTableView;
class QTimer;

namespace vantorel {

class Session;
class HistoryChart;
class HistoryReader;

// The records of the results database the session writes to: one row per
// controller of a run, filtered, and a chart of how they came out per day.
// It only reads; the database answers on a thread of its own meanwhile.
class HistoryWindow : public QWidget {
    Q_OBJECT
public:
    // The listed rows at most; the chart counts them all.
    static constexpr int kListed = 5000;

    HistoryWindow(Session &session, QWidget *parent);
    ~HistoryWindow() override;

    // Reads the records with the filters as they stand: now, or after the read in hand.
    void readNow();
    // A read is in hand or about to start.
    bool reading() const;

private:
    QWidget *buildFilters();
    void connectFilters(QPushButton *refresh);
    QWidget *buildResults();
    // The filters as set; false with 'problem' set when one cannot be used.
    bool filterOf(HistoryFilter &filter, QString &problem) const;
    void readSoon();
    void answered(const QList<HistoryRow> &rows, const QString &error);
    void showRows(const QList<HistoryRow> &rows);
    void showProblem(const QString &problem);
    void fileChanged();
    // Where the user names the database, for the messages that say what to do.
    QString whereItIsSet() const;

    Session &session_;
    HistoryReader *reader_;
    QTimer *settle_;      // a burst of edits reads once
    bool again_ = false;  // the filters changed while a read was in hand
    int fileViewKey_ = 0;
    QComboBox *controller_ = nullptr;
    QLineEdit *unit_ = nullptr;
    QLineEdit *image_ = nullptr;
    QLineEdit *station_ = nullptr;
    QComboBox *status_ = nullptr;
    QCheckBox *sinceOn_ = nullptr;
    QDateEdit *since_ = nullptr;
    QCheckBox *notImage_ = nullptr;
    QLabel *chosenFile_ = nullptr;
    QStandardItemModel *model_ = nullptr;
    QTableView *table_ = nullptr;
    HistoryChart *chart_ = nullptr;
    QLabel *state_ = nullptr;
};

} // namespace vantorel
