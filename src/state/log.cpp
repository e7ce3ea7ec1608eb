#include "state/log.h"

#include "platform/fault.h"
#include "platform/wholefile.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>

namespace vantorel {

QString escapeControls(const QString &text)
{
    const auto hidden = [](QChar c) {
        const char16_t u = c.unicode();
        return c.category() == QChar::Other_Control || c.category() == QChar::Separator_Line
               || c.category() == QChar::Separator_Paragraph || (u >= 0x202A && u <= 0x202E)
               || (u >= 0x2066 && u <= 0x2069) || u == 0x200E || u == 0x200F;
    };
    if (std::none_of(text.begin(), text.end(), hidden))
        return text;
    QString out;
    out.reserve(text.size() + 8);
    for (const QChar c : text) {
        if (!hidden(c))
            out += c;
        else if (c == u'\n')
            out += QStringLiteral("\\n");
        else if (c == u'\r')
            out += QStringLiteral("\\r");
        else if (c == u'\t')
            out += QStringLiteral("\\t");
        else if (c.unicode() < 0x100)
            out += QStringLiteral("\\x") + QString::number(c.unicode(), 16).toUpper().rightJustified(2, QLatin1Char('0'));
        else
            out += QStringLiteral("\\u") + QString::number(c.unicode(), 16).toUpper().rightJustified(4, QLatin1Char('0'));
    }
    return out;
}

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

void Log::write(const QString &text)
{
    const QString line = escapeControls(text); // one write, one line
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
