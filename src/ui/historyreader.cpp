#include "ui/historyreader.h"

#include "store/keeper.h"

#include <QDeadlineTimer>
#include <QFileInfo>
#include <QThread>

#include <utility>

namespace vantorel {

namespace {
struct Answer {
    QList<HistoryRow> rows;
    QString error;
};

void readInThisThread(const StoreTarget &target, const HistoryFilter &filter, Answer &answer)
{
    // Opening a SQLite file that is not there would make an empty one: reading never writes.
    if (!target.postgres && !QFileInfo::exists(target.path)) {
        answer.error = QStringLiteral("there is no results database at %1 yet: no run was recorded there")
                           .arg(target.shown());
        return;
    }
    ResultsStore store(target);
    store.setDeadline(QDeadlineTimer(ResultsKeeper::kBoundMs));
    if (!store.history(filter, answer.rows, answer.error) && answer.error.isEmpty())
        answer.error = QStringLiteral("the results database %1 could not be read").arg(target.shown());
    store.close();
}
} // namespace

HistoryReader::HistoryReader(QObject *parent) : QObject(parent) {}

HistoryReader::~HistoryReader()
{
    if (thread_)
        thread_->wait(); // then deleted as a child
}

bool HistoryReader::read(const StoreTarget &target, const HistoryFilter &filter)
{
    if (thread_)
        return false;
    auto answer = std::make_shared<Answer>();
    thread_ = QThread::create([target, filter, answer] { readInThisThread(target, filter, *answer); });
    thread_->setParent(this);
    // Told in this object's thread once the worker has ended.
    connect(thread_, &QThread::finished, this, [this, answer] {
        QThread *done = std::exchange(thread_, nullptr);
        done->wait();
        done->deleteLater();
        emit answered(answer->rows, answer->error);
    });
    thread_->start();
    return true;
}

} // namespace vantorel
