#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QFile>
#include <QString>

namespace vantorel {

// The line end of the records and the log copy: the platform's own, so that
// line tools (grep ',ok$') read them as they are. Log.txt keeps CR LF.
#ifdef Q_OS_WIN
inline constexpr char kLineEnd[] = "\r\n";
#else
inline constexpr char kLineEnd[] = "\n";
#endif

// Now, carrying its offset from UTC, so ISO 8601 texts of it name the zone.
QDateTime zonedNow();

// A CSV records file that several stations on one machine append to. It is
// opened before the run (a file that cannot be written must not cost a run
// whose record would be lost) and written once at its end.
class RecordsFile {
public:
    RecordsFile() = default;
    RecordsFile(const RecordsFile &) = delete;
    RecordsFile &operator=(const RecordsFile &) = delete;
    ~RecordsFile();

    // Opens or creates the file for appending. False with 'error' set when it cannot.
    bool open(const QString &path, QString &error);
    // Appends the rows, preceded by the header when the file is still empty,
    // in one write under an exclusive lock of the file: rows of two stations
    // never interleave, and a write that falls short is taken back.
    bool append(const QByteArray &header, const QByteArray &rows, QString &error);

private:
#ifdef Q_OS_UNIX
    int fd_ = -1;
#else
    QFile file_;
#endif
    QString path_;
};

// A copy of the traffic log with an ISO 8601 time stamp (milliseconds, zone)
// before each line. Appended to, never emptied: it keeps earlier runs.
class TimedLogCopy {
public:
    bool open(const QString &path, QString &error);
    void write(const QString &line);
    // A write failed: the copy stops there (the run goes on; the caller tells).
    bool failed() const { return failed_; }
    QString path() const { return file_.fileName(); }

private:
    QFile file_;
    bool failed_ = false;
};

} // namespace vantorel
