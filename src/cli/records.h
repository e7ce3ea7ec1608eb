#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QFile>
#include <QList>
#include <QMap>
#include <QString>

namespace vantorel {

struct SettingsForm;
struct Timings;
struct RunReport;

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
    // Its first line as it was opened, without the line end: the header of
    // an earlier run's file, or empty for a new one.
    QByteArray firstLine() const { return firstLine_; }

private:
#ifdef Q_OS_UNIX
    int fd_ = -1;
#else
    QFile file_;
#endif
    QString path_;
    QByteArray firstLine_;
};

// A copy of the traffic log with an ISO 8601 time stamp (milliseconds, zone)
// before each line. Appended to, never emptied: it keeps earlier runs.
class TimedLogCopy {
public:
    bool open(const QString &path, QString &error);
    // A line of the traffic, as Log.txt has it (Latin-1).
    void write(const QString &line);
    // A line of the command line's own around the traffic, in UTF-8 (its paths and unit IDs).
    void writeOwn(const QString &line);
    // A write failed: the copy stops there (the run goes on; the caller tells).
    bool failed() const { return failed_; }
    QString path() const { return file_.fileName(); }

private:
    void writeBytes(const QByteArray &line);
    QFile file_;
    bool failed_ = false;
};

// The --log copy's own two lines around a run's traffic, each after its time
// stamp as every line is, greppable and readable by a shell-like splitter:
//   vantorel-cli start: operation=... controllers=0,1,2 units=5:SN1234 file=...
//       file_checksum=... port=... device=... speed=... protocol=... timeout=...
//       delay=... prot3=no prot4plus=no same_protocol=no fast=yes settle_ms=500
//       hold_ms=200 version=...
//   vantorel-cli end: status=failed cancelled=no c0=ok c1="failed: No Answer"
// A value holding a blank, a quote, a backslash or a control character, or
// empty, is in double quotes, with \" and \\ inside and a control character
// written visibly (\n, \t, \x1B ...), so a run's line is always one line. A start line without its end line: the
// program was ended (a second Ctrl-C, a kill) before the run's end.
QString logStartLine(const SettingsForm &form, const Timings &timings, const QString &operation, const QList<int> &listed,
                     const QMap<int, QString> &units);
QString logEndLine(const RunReport &report, bool cancelled);

} // namespace vantorel
