#include "platform/wholefile.h"

#include "platform/fault.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>

#include <algorithm>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace vantorel {

namespace {

[[noreturn]] void refuse(const QString &path, const QString &problem, const QString &todo)
{
    throw Fault(FaultCode::FileAccess, faultDescription(FaultCode::FileAccess) + QStringLiteral(": ")
                                           + QDir::toNativeSeparators(path) + QLatin1Char(' ') + problem
                                           + QStringLiteral(": ") + todo);
}

[[noreturn]] void refuseSize(const QString &path, qint64 size, qint64 limit, const QString &what, const QString &todo)
{
    const QLocale c = QLocale::c();
    refuse(path,
           QStringLiteral("is ") + c.formattedDataSize(size) + QStringLiteral(", more than ") + what
               + QStringLiteral(" can be (") + c.formattedDataSize(limit, 0) + QStringLiteral(" at most)"),
           todo);
}

[[noreturn]] void notFound(const QString &path)
{
    throw Fault(FaultCode::FileNotFound,
                faultDescription(FaultCode::FileNotFound) + QStringLiteral(": ") + QDir::toNativeSeparators(path));
}

} // namespace

#ifdef Q_OS_UNIX

namespace {

QString lastError() { return QString::fromLocal8Bit(std::strerror(errno)); }

void refuseKind(const QString &path, mode_t mode, const QString &todo)
{
    if (S_ISREG(mode))
        return;
    const QString kind = S_ISDIR(mode)           ? QStringLiteral("is a folder")
        : S_ISFIFO(mode)                         ? QStringLiteral("is a pipe")
        : S_ISSOCK(mode)                         ? QStringLiteral("is a socket")
        : S_ISCHR(mode) || S_ISBLK(mode)         ? QStringLiteral("is a device")
                                                 : QString();
    refuse(path, kind.isEmpty() ? QStringLiteral("is not a regular file") : kind + QStringLiteral(", not a regular file"),
           todo);
}

} // namespace

namespace {

struct Closing {
    int fd = -1;
    ~Closing()
    {
        if (fd != -1)
            ::close(fd);
    }
};

// Opens 'path' with 'flags' (O_NONBLOCK added) once it is judged a regular
// file, and judges the open file again: it may have been swapped since.
// 'creating': a missing file is no fault. 'st' is the open file's.
int openJudged(const QString &path, int flags, bool creating, const QString &todo, struct stat &st)
{
    const QByteArray name = QFile::encodeName(path);
    // Judged before opening too: opening a serial device would toggle its lines.
    if (::stat(name.constData(), &st) == -1) {
        if (!creating && (errno == ENOENT || errno == ENOTDIR))
            notFound(path);
        if (errno != ENOENT)
            refuse(path, QStringLiteral("cannot be examined (") + lastError() + QLatin1Char(')'), todo);
    } else {
        refuseKind(path, st.st_mode, todo);
    }
    // Not blocking, should it have become a FIFO since: opening one otherwise
    // waits for the other end.
    int fd = -1;
    while ((fd = ::open(name.constData(), flags | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0666)) == -1 && errno == EINTR) {
    }
    if (fd == -1) {
        if (!creating && (errno == ENOENT || errno == ENOTDIR))
            notFound(path);
        refuse(path, QStringLiteral("cannot be opened (") + lastError() + QLatin1Char(')'), todo);
    }
    Closing closing{fd};
    if (::fstat(fd, &st) == -1)
        refuse(path, QStringLiteral("cannot be examined (") + lastError() + QLatin1Char(')'), todo);
    refuseKind(path, st.st_mode, todo);
    closing.fd = -1;
    return fd;
}

} // namespace

void checkWholeFile(const QString &path, qint64 limit, const QString &what, const QString &todo)
{
    struct stat st {};
    const Closing closing{openJudged(path, O_RDONLY, false, todo, st)};
    if (st.st_size > limit)
        refuseSize(path, st.st_size, limit, what, todo);
}

void openRegularFile(QFile &file, QIODevice::OpenMode mode, const QString &todo, qint64 limit, const QString &what)
{
    const QString path = file.fileName();
    int flags = ((mode & QIODevice::ReadOnly) ? O_RDWR : O_WRONLY) | O_CREAT;
    if (mode & QIODevice::Append)
        flags |= O_APPEND;
    if (mode & QIODevice::Truncate)
        flags |= O_TRUNC;
    struct stat st {};
    Closing closing{openJudged(path, flags, true, todo, st)};
    if (limit >= 0 && !(mode & QIODevice::Truncate) && st.st_size > limit)
        refuseSize(path, st.st_size, limit, what, todo);
    // A regular file never blocks; its writes are plain ones again.
    const int status = ::fcntl(closing.fd, F_GETFL);
    if (status == -1 || ::fcntl(closing.fd, F_SETFL, status & ~O_NONBLOCK) == -1)
        refuse(path, QStringLiteral("cannot be opened (") + lastError() + QLatin1Char(')'), todo);
    if (!file.open(closing.fd, mode & ~QIODevice::Truncate, QFileDevice::AutoCloseHandle))
        refuse(path, QStringLiteral("cannot be opened (") + file.errorString() + QLatin1Char(')'), todo);
    closing.fd = -1;
}

QByteArray readWholeFile(const QString &path, qint64 limit, const QString &what, const QString &todo)
{
    struct stat st {};
    const Closing closing{openJudged(path, O_RDONLY, false, todo, st)};
    const int fd = closing.fd;
    if (st.st_size > limit)
        refuseSize(path, st.st_size, limit, what, todo);

    // Room for one byte more than it held when examined: a file growing since
    // is read on, up to one byte past the limit.
    QByteArray bytes(qsizetype(st.st_size) + 1, Qt::Uninitialized);
    qsizetype got = 0;
    for (;;) {
        if (got == bytes.size()) {
            if (got > limit)
                refuseSize(path, got, limit, what, todo);
            bytes.resize(qsizetype(std::min<qint64>(limit + 1, qint64(bytes.size()) * 2)));
        }
        const ssize_t n = ::read(fd, bytes.data() + got, size_t(bytes.size() - got));
        if (n == 0)
            break;
        if (n == -1) {
            if (errno == EINTR)
                continue;
            refuse(path, QStringLiteral("cannot be read (") + lastError() + QLatin1Char(')'), todo);
        }
        got += n;
    }
    bytes.truncate(got);
    return bytes;
}

#else

namespace {
void judge(const QFileInfo &info, const QString &path, const QString &todo)
{
    if (!info.isFile())
        refuse(path, info.isDir() ? QStringLiteral("is a folder, not a regular file")
                                  : QStringLiteral("is not a regular file"), todo);
}
} // namespace

void checkWholeFile(const QString &path, qint64 limit, const QString &what, const QString &todo)
{
    const QFileInfo info(path);
    if (!info.exists())
        notFound(path);
    judge(info, path, todo);
    if (info.size() > limit)
        refuseSize(path, info.size(), limit, what, todo);
}

void openRegularFile(QFile &file, QIODevice::OpenMode mode, const QString &todo, qint64 limit, const QString &what)
{
    const QString path = file.fileName();
    const QFileInfo info(path);
    if (info.exists())
        judge(info, path, todo);
    if (limit >= 0 && !(mode & QIODevice::Truncate) && info.exists() && info.size() > limit)
        refuseSize(path, info.size(), limit, what, todo);
    if (!file.open(mode))
        refuse(path, QStringLiteral("cannot be opened (") + file.errorString() + QLatin1Char(')'), todo);
}

QByteArray readWholeFile(const QString &path, qint64 limit, const QString &what, const QString &todo)
{
    const QFileInfo info(path);
    if (!info.exists())
        notFound(path);
    if (!info.isFile())
        refuse(path, info.isDir() ? QStringLiteral("is a folder, not a regular file")
                                  : QStringLiteral("is not a regular file"), todo);
    if (info.size() > limit)
        refuseSize(path, info.size(), limit, what, todo);
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        refuse(path, QStringLiteral("cannot be opened (") + file.errorString() + QLatin1Char(')'), todo);
    QByteArray bytes = file.read(limit + 1);
    if (file.error() != QFileDevice::NoError)
        refuse(path, QStringLiteral("cannot be read (") + file.errorString() + QLatin1Char(')'), todo);
    if (bytes.size() > limit)
        refuseSize(path, bytes.size(), limit, what, todo);
    return bytes;
}

#endif

} // namespace vantorel
