#include "store/pending.h"

#include "store/resultsstore.h"

#include "platform/fault.h"
#include "platform/wholefile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLockFile>
#include <QSaveFile>
#include <QStorageInfo>

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
    const QString file = QDir::toNativeSeparators(path);
    const QString dir = QFileInfo(path).absolutePath();
    const QString folder = QDir::toNativeSeparators(dir);
    switch (l.error()) {
    case QLockFile::PermissionError:
        error = QStringLiteral("the fallback file %1 cannot be written: its folder %2 is read-only for this user (make "
                               "it writable, or give the program a writable folder with VANTOREL_HOME or --dir)")
                    .arg(file, folder);
        break;
    case QLockFile::UnknownError: // the lock file was made but its few bytes could not be written
        error = QStorageInfo(dir).bytesAvailable() == 0
                    ? QStringLiteral("the fallback file %1 cannot be written: the disk holding %2 is full (free some "
                                     "space)").arg(file, folder)
                    : QStringLiteral("the fallback file %1 cannot be written: its lock file %1.lock could not be made")
                          .arg(file);
        break;
    default:
        error = QStringLiteral("the fallback file %1 stays locked by another run").arg(file);
    }
    return false;
}

// The key that names a run's database in its line; not a field of the record.
const QString kDatabase = QStringLiteral("database");

struct Entry {
    bool sound = false;
    RunRecord record;
    QString target;
};

Entry entryOf(const QByteArray &line, const QString &legacyTarget)
{
    Entry e;
    const QJsonObject o = QJsonDocument::fromJson(line).object();
    e.sound = RunRecord::fromJson(o, e.record);
    e.target = o.contains(kDatabase) ? o.value(kDatabase).toString() : legacyTarget;
    return e;
}
} // namespace

PendingRecords::PendingRecords(const QString &appDir, const QString &legacyTarget)
    : path_(QDir(appDir).filePath(QStringLiteral("Results-pending.jsonl"))), legacyTarget_(legacyTarget)
{
}

int PendingRecords::count() const
{
    QList<QByteArray> lines;
    QString unread; // told by the append or the replay that needs the file
    linesOf(path_, lines, unread);
    return int(lines.size());
}

QMap<QString, int> PendingRecords::waiting() const
{
    QMap<QString, int> byTarget;
    QList<QByteArray> lines;
    QString unread; // told by the append or the replay that needs the file
    linesOf(path_, lines, unread);
    for (const QByteArray &line : lines) {
        const Entry e = entryOf(line, legacyTarget_);
        ++byTarget[e.sound ? e.target : QString()];
    }
    return byTarget;
}

bool PendingRecords::append(const RunRecord &record, const QString &target, QString &error)
{
    QLockFile l(path_ + QStringLiteral(".lock"));
    if (!lock(l, path_, error))
        return false;
    QFile f(path_);
    QJsonObject o = record.toJson();
    o.insert(kDatabase, target);
    const QByteArray line = QJsonDocument(o).toJson(QJsonDocument::Compact) + '\n';
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

bool PendingRecords::replay(ResultsStore &store, int &replayed, QMap<QString, int> &elsewhere, QString &error)
{
    replayed = 0;
    elsewhere.clear();
    const QString target = store.target().identity();
    QLockFile l(path_ + QStringLiteral(".lock"));
    if (!lock(l, path_, error))
        return false;
    QList<QByteArray> lines;
    if (!linesOf(path_, lines, error))
        return false;
    QList<QByteArray> left;
    int damaged = 0;
    for (const QByteArray &line : lines) {
        const Entry e = entryOf(line, legacyTarget_);
        if (!e.sound) {
            left << line; // kept for a person to look at, never dropped
            ++damaged;
        } else if (e.target != target) { // a test database's run never lands in production
            left << line;
            ++elsewhere[e.target];
        } else if (!error.isEmpty()) { // the store failed: the rest wait, in their order
            left << line;
        } else if (!store.write(e.record, error)) {
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
    if (error.isEmpty() && !damaged) // all that stays is meant for other databases
        return !replayed || rewrite(left);
    if (replayed > 0)
        rewrite(left);
    return false;
}

bool PendingRecords::rewrite(const QList<QByteArray> &left) const
{
    QSaveFile f(path_);
    // Should this fail, the runs taken stay in the file too: a replay writes each only once, by its uid.
    return f.open(QIODevice::WriteOnly) && f.write(left.join('\n') + '\n') >= 0 && f.commit();
}

} // namespace vantorel
