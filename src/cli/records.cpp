#include "cli/records.h"

#include "cli/report.h"
#include "platform/fault.h"
#include "platform/portnames.h"
#include "state/run.h"
#include "state/log.h"

#include <QDir>
#include <QStringList>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#else
#include <QLockFile>
#endif

namespace vantorel {

QDateTime zonedNow()
{
    const QDateTime now = QDateTime::currentDateTime();
    return now.toOffsetFromUtc(now.offsetFromUtc());
}

namespace {
QString shown(const QString &path) { return QDir::toNativeSeparators(path); }
} // namespace

#ifdef Q_OS_UNIX

namespace {
QString lastError() { return QString::fromLocal8Bit(std::strerror(errno)); }
} // namespace

RecordsFile::~RecordsFile()
{
    if (fd_ >= 0)
        ::close(fd_);
}

bool RecordsFile::open(const QString &path, QString &error)
{
    path_ = path;
    // Read access too: the last byte tells whether an earlier writer left a row unfinished.
    fd_ = ::open(QFile::encodeName(path).constData(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
    if (fd_ < 0) {
        error = QStringLiteral("the results file %1 cannot be opened for appending (%2)").arg(shown(path), lastError());
        return false;
    }
    char head[1024];
    const ssize_t got = ::pread(fd_, head, sizeof head, 0);
    firstLine_ = QByteArray(head, got > 0 ? int(got) : 0);
    firstLine_ = firstLine_.left(firstLine_.indexOf('\n')).trimmed();
    return true;
}

bool RecordsFile::append(const QByteArray &header, const QByteArray &rows, QString &error)
{
    auto failed = [&](const QString &what, const QString &why) {
        error = QStringLiteral("the results file %1 %2 (%3)").arg(shown(path_), what, why);
        return false;
    };
    int r = 0;
    while ((r = ::flock(fd_, LOCK_EX)) == -1 && errno == EINTR) {
    }
    if (r == -1)
        return failed(QStringLiteral("cannot be locked"), lastError());
    struct Unlock {
        int fd;
        ~Unlock() { ::flock(fd, LOCK_UN); }
    } unlock{fd_};

    struct stat st {};
    if (::fstat(fd_, &st) == -1)
        return failed(QStringLiteral("cannot be examined"), lastError());
    QByteArray block;
    if (st.st_size == 0) {
        block = header;
    } else {
        char last = '\n';
        if (::pread(fd_, &last, 1, st.st_size - 1) == 1 && last != '\n')
            block = kLineEnd; // a row cut short by a crash keeps its own line
    }
    block += rows;
    ssize_t written = -1;
    while ((written = ::write(fd_, block.constData(), size_t(block.size()))) == -1 && errno == EINTR) {
    }
    if (written != block.size()) {
        const QString why = written < 0 ? lastError() : QStringLiteral("the disk is full");
        if (written > 0) {
            // Taken back: no half row for the next reader. Nobody else writes while we hold the lock.
            [[maybe_unused]] const int undone = ::ftruncate(fd_, st.st_size);
        }
        return failed(QStringLiteral("could not be written"), why);
    }
    if (::fdatasync(fd_) == -1)
        return failed(QStringLiteral("could not be written to disk"), lastError());
    return true;
}

#else

RecordsFile::~RecordsFile() = default;

bool RecordsFile::open(const QString &path, QString &error)
{
    path_ = path;
    file_.setFileName(path);
    if (!file_.open(QIODevice::ReadWrite | QIODevice::Append | QIODevice::Unbuffered)) {
        error = QStringLiteral("the results file %1 cannot be opened for appending (%2)")
                    .arg(shown(path), file_.errorString());
        return false;
    }
    if (file_.seek(0))
        firstLine_ = file_.readLine(1024).trimmed();
    return true;
}

bool RecordsFile::append(const QByteArray &header, const QByteArray &rows, QString &error)
{
    QLockFile lock(path_ + QStringLiteral(".lock"));
    if (!lock.lock()) {
        error = QStringLiteral("the results file %1 cannot be locked").arg(shown(path_));
        return false;
    }
    const qint64 size = file_.size();
    QByteArray block;
    if (size == 0) {
        block = header;
    } else if (file_.seek(size - 1) && file_.read(1) != "\n") {
        block = kLineEnd;
    }
    block += rows;
    if (file_.write(block) != block.size() || !file_.flush()) {
        error = QStringLiteral("the results file %1 could not be written (%2)").arg(shown(path_), file_.errorString());
        file_.resize(size);
        return false;
    }
    return true;
}

#endif

bool TimedLogCopy::open(const QString &path, QString &error)
{
    file_.setFileName(path);
    if (!file_.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered)) {
        error = QStringLiteral("the log copy %1 cannot be opened for appending (%2)").arg(shown(path), file_.errorString());
        return false;
    }
    return true;
}

// A name with a line break must not start a line that reads as the tool's own.
void TimedLogCopy::write(const QString &line) { writeBytes(escapeControls(line).toLatin1()); }

void TimedLogCopy::writeOwn(const QString &line) { writeBytes(escapeControls(line).toUtf8()); }

void TimedLogCopy::writeBytes(const QByteArray &line)
{
    if (!file_.isOpen())
        return;
    // One write per line: another station's copy in the same file never cuts into it.
    const QByteArray bytes = zonedNow().toString(Qt::ISODateWithMs).toLatin1() + ' ' + line + kLineEnd;
    if (file_.write(bytes) != bytes.size()) {
        failed_ = true;
        file_.close();
    }
}

namespace {
QString field(const QString &key, QString value)
{
    if (value.isEmpty() || value.contains(QLatin1Char(' ')) || value.contains(QLatin1Char('"'))
        || value.contains(QLatin1Char('\\')) || escapeControls(value) != value) {
        value.replace(QLatin1Char('\\'), QStringLiteral("\\\\"));
        value.replace(QLatin1Char('"'), QStringLiteral("\\\""));
        value = QLatin1Char('"') + escapeControls(value) + QLatin1Char('"');
    }
    return key + QLatin1Char('=') + value;
}

QString yesNo(bool b) { return b ? QStringLiteral("yes") : QStringLiteral("no"); }

QString milliseconds(double seconds) { return QString::number(qRound(seconds * 1000)); }
} // namespace

QString logStartLine(const SettingsForm &form, const Timings &timings, const QString &operation, const QList<int> &listed,
                     const QMap<int, QString> &units)
{
    QStringList numbers, unitList;
    for (const int i : listed)
        numbers << QString::number(i);
    for (auto it = units.cbegin(); it != units.cend(); ++it)
        unitList << QString::number(it.key()) + QLatin1Char(':') + it.value();
    QString device;
    try {
        device = resolvePortName(form.comPort, form.appDir);
    } catch (const Fault &) {
        // The run's own check names what is wrong with the port.
    }
    QStringList fields{field(QStringLiteral("operation"), operation), field(QStringLiteral("controllers"), numbers.join(QLatin1Char(',')))};
    if (!units.isEmpty())
        fields << field(QStringLiteral("units"), unitList.join(QLatin1Char(',')));
    fields << field(QStringLiteral("file"), form.fileName) << field(QStringLiteral("file_checksum"), form.fileChecksum)
           << field(QStringLiteral("port"), form.comPort) << field(QStringLiteral("device"), device)
           << field(QStringLiteral("speed"), form.speed) << field(QStringLiteral("protocol"), form.protocol)
           << field(QStringLiteral("timeout"), form.timeOut) << field(QStringLiteral("delay"), form.waitingDelay)
           << field(QStringLiteral("prot3"), yesNo(form.sendP4First))
           << field(QStringLiteral("prot4plus"), yesNo(form.prot4Plus))
           << field(QStringLiteral("same_protocol"), yesNo(form.sameProtocol))
           << field(QStringLiteral("fast"), yesNo(form.fastAnswers))
           << field(QStringLiteral("settle_ms"), milliseconds(timings.settleDelay))
           << field(QStringLiteral("hold_ms"), milliseconds(failureHoldSeconds(timings, form.fastAnswers)))
           << field(QStringLiteral("version"), programVersion());
    return QStringLiteral("vantorel-cli start: ") + fields.join(QLatin1Char(' '));
}

QString logEndLine(const RunReport &report, bool cancelled)
{
    QStringList fields{field(QStringLiteral("status"), report.verdict.status), field(QStringLiteral("cancelled"), yesNo(cancelled))};
    for (const ControllerReport &c : report.controllers)
        fields << field(QLatin1Char('c') + QString::number(c.id()), c.outcomeText());
    return QStringLiteral("vantorel-cli end: ") + fields.join(QLatin1Char(' '));
}

} // namespace vantorel
