#pragma once

#include <QFile>
#include <QString>

#include <functional>

namespace vantorel {

// 'text' with its control characters written visibly (\n, \r, \t, \x1B, \u2028 ...), the
// bidirectional overrides too: a name with a line break can never start a line of its own in a log
// or a table, nor make one read as something else. Text without them is returned as it is.
QString escapeControls(const QString &text);

// The traffic log of the last run: created empty at start-up, one line per
// write ended by CR LF, flushed line by line. When it cannot be created or
// written the tool goes on without it; the problem is reported once.
class Log {
public:
    // Creates (empties) the file. Returns false and reports when it cannot.
    // With 'previous', the file of the last start is first kept under that
    // name, replacing an older one.
    bool open(const QString &path, const QString &previous = QString());
    void write(const QString &line);
    void close();
    bool kept() const { return file_.isOpen(); }
    QString path() const { return path_; }

    // Told once, with a sentence for the user, when no log is kept.
    std::function<void(const QString &)> onProblem;
    // Told every line as it is written, whether or not the file is kept
    // (a front-end keeping its own copy, or watching the traffic).
    std::function<void(const QString &)> onLine;

private:
    void problem(const QString &what);
    QFile file_;
    QString path_; // the file forgets it, opened by its handle
    bool reported_ = false;
};

} // namespace vantorel
