#include "state/log.h"

#include "platform/fault.h"
#include "platform/wholefile.h"

#include <QDir>
#include <QFileInfo>

namespace vantorel {

bool Log::open(const QString &path, const QString &previous)
{
    file_.close();
    file_.setFileName(path);
    path_ = path;
    reported_ = false;
    // The traffic of a failed run is often wanted only after the tool was started again.
    if (!previous.isEmpty() && QFileInfo(path).isFile()) {
        QFile::remove(previous);
        QFile last(path);
        if (!last.rename(previous) && onProblem)
            onProblem(QStringLiteral("The log of the last start could not be kept as ") + QDir::toNativeSeparators(previous)
                      + QStringLiteral(" (") + last.errorString() + QStringLiteral("); it is replaced by this start's log."));
    }
    try {
        openRegularFile(file_, QIODevice::WriteOnly | QIODevice::Truncate,
                        QStringLiteral("remove it, or make it a plain file the tool may write"));
    } catch (const Fault &f) {
        problem(QStringLiteral("The log file cannot be created: ") + f.description()
                + QStringLiteral(". The tool runs without a traffic log."));
        return false;
    }
    return true;
}

void Log::write(const QString &line)
{
    if (onLine)
        onLine(line);
    if (!file_.isOpen())
        return;
    const QByteArray bytes = line.toLatin1() + "\r\n";
    if (file_.write(bytes) != bytes.size() || !file_.flush()) {
        const QString reason = file_.errorString();
        file_.close();
        problem(QStringLiteral("Writing the log file ") + QDir::toNativeSeparators(path_)
                + QStringLiteral(" failed (") + reason + QStringLiteral("). No further traffic is logged in this run."));
    }
}

void Log::close() { file_.close(); }

void Log::problem(const QString &what)
{
    if (reported_)
        return;
    reported_ = true;
    if (onProblem)
        onProblem(what);
}

} // namespace vantorel
