#pragma once

#include "store/resultsstore.h"

#include <QObject>

#include <memory>

class QThread;

namespace vantorel {

// Reads the results database on a thread of its own, so a window stays served
// while a server takes its time: each read makes its own store object there
// (a connection belongs to the thread that made it) and waits at most as long
// as a run's records do.
class HistoryReader : public QObject {
    Q_OBJECT
public:
    explicit HistoryReader(QObject *parent = nullptr);
    // Waits for a read in hand, which its deadline bounds.
    ~HistoryReader() override;

    bool busy() const { return thread_ != nullptr; }
    // Starts a read; false (nothing started) while one is in hand.
    bool read(const StoreTarget &target, const HistoryFilter &filter);

signals:
    // The rows found, or why none could be read ('error' not empty).
    void answered(const QList<vantorel::HistoryRow> &rows, const QString &error);

private:
    QThread *thread_ = nullptr;
};

} // namespace vantorel
