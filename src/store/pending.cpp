#include "store/pending.h"

#include "store/resultsstore.h"

#include "platform/fault.h"
#include "platform/wholefile.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QLockFile>
#include <QSaveFile>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

namespace vantorel {

namespace {
// Runs wait here only while the database is away. 64 MiB holds thousands of
// whole-line runs and is what a replay reads in one go; appending stops there,
// so a file the tool wrote can always be replayed.
constexpr qint64 kPendingLimit = 64 << 20;
const QString kWhat = QStringLiteral("the fallback file");
const QString kTodo = QStringLiteral("rename it (its runs stay in it) or remove it; a new one is then begun");

QString cannotUse(const Fault &f) { return QStringLiteral("the fallback file cannot be used (%1)").arg(f.description()); }

// None when there is no file. False with 'error' set when it cannot be read whole.
bool linesOf(const QString &path, QList<QByteArray> &lines, QString &error)
{
    lines.clear();
    try {
        lines = readWholeFile(path, kPendingLimit, kWhat, kTodo).split('\n');
    } catch (const Fault &f) {
        if (f.code() == FaultCode::FileNotFound)
            return true;
        error = cannotUse(f);
        return false;
    }
    lines.removeAll(QByteArray());
    return true;
}

// Two stations sharing a program folder append and replay in turn.
bool lock(QLockFile &l, const QString &path, QString &error)
{
    l.setStaleLockTime(60000);
    if (l.tryLock(30000))
        return true;
    error = QStringLiteral("the fallback file %1 stays locked by another run").arg(QDir::toNativeSeparators(path));
    return false;
}
} // namespace

PendingRecords::PendingRecords(const QString &appDir)
    : path_(QDir(appDir).filePath(QStringLiteral("Results-pending.jsonl")))
{
}

int PendingRecords::count() const
{
    QList<QByteArray> lines;
    QString unread; // told by the append or the replay that needs the file
    linesOf(path_, lines, unread);
    return int(lines.size());
}

bool PendingRecords::append(const RunRecord &record, QString &error)
{
    QLockFile l(path_ + QStringLiteral(".lock"));
    if (!lock(l, path_, error))
        return false;
    QFile f(path_);
    const QByteArray line = QJsonDocument(record.toJson()).toJson(QJsonDocument::Compact) + '\n';
    try {
        openRegularFile(f, QIODevice::WriteOnly | QIODevice::Append, kTodo, kPendingLimit - line.size(), kWhat);
    } catch (const Fault &fault) {
        error = cannotUse(fault);
        return false;
    }
    const qint64 before = f.size();
    bool written = f.write(line) == line.size() && f.flush();
#ifdef Q_OS_UNIX
    written = written && ::fdatasync(f.handle()) == 0;
#endif
    if (!written) {
        error = QStringLiteral("the fallback file %1 could not be written (%2)").arg(QDir::toNativeSeparators(path_), f.errorString());
        f.resize(before); // no half line for the replay to stumble on
        return false;
    }
    return true;
}

bool PendingRecords::replay(ResultsStore &store, int &replayed, QString &error)
{
    replayed = 0;
    QLockFile l(path_ + QStringLiteral(".lock"));
    if (!lock(l, path_, error))
        return false;
    QList<QByteArray> lines;
    if (!linesOf(path_, lines, error))
        return false;
    QList<QByteArray> left;
    int damaged = 0;
    for (const QByteArray &line : lines) {
        RunRecord record;
        if (!error.isEmpty()) { // the store failed: the rest wait, in their order
            left << line;
        } else if (!RunRecord::fromJson(QJsonDocument::fromJson(line).object(), record)) {
            left << line; // kept for a person to look at, never dropped
            ++damaged;
        } else if (!store.write(record, error)) {
            left << line;
        } else {
            ++replayed;
        }
    }
    if (damaged && error.isEmpty())
        error = QStringLiteral("%1 line(s) of the fallback file %2 are damaged and stay there")
                    .arg(damaged).arg(QDir::toNativeSeparators(path_));
    if (left.isEmpty())
        return !QFile::exists(path_) || QFile::remove(path_);
    if (replayed > 0) {
        QSaveFile f(path_);
        // Should this fail, the runs taken stay in the file too: a replay writes each only once, by its uid.
        if (f.open(QIODevice::WriteOnly) && f.write(left.join('\n') + '\n') >= 0)
            f.commit();
    }
    return false;
}

} // namespace vantorel
