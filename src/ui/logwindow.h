#pragma once

#include <QWidget>

class QPlainTextEdit;
class QLabel;
class QTimer;

namespace vantorel {

class Desk;

// Log.txt as it grows: read-only, following the end (unless the user has
// scrolled back), and "Save As ..." for a copy.
class LogWindow : public QWidget {
    Q_OBJECT
public:
    // 'path' is empty when the run keeps no log.
    LogWindow(const QString &path, Desk &desk, QWidget *parent);

    // Reads what was written since the last look.
    void readNew();

private:
    void saveAs();
    QString path_;
    Desk &desk_;
    QPlainTextEdit *text_;
    QLabel *where_;
    QTimer *poll_;
    qint64 read_ = 0; // bytes shown so far
};

} // namespace vantorel
