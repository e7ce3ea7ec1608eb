#include "ui/logwindow.h"

#include "platform/desk.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSaveFile>
#include <QScrollBar>
#include <QTimer>
#include <QVBoxLayout>

namespace vantorel {

LogWindow::LogWindow(const QString &path, Desk &desk, QWidget *parent)
    : QWidget(parent, Qt::Window), path_(path), desk_(desk)
{
    setObjectName(QStringLiteral("Log"));
    setWindowTitle(QStringLiteral("Log.txt"));
    resize(720, 420);

    text_ = new QPlainTextEdit(this);
    text_->setObjectName(QStringLiteral("LogText"));
    text_->setReadOnly(true);
    text_->setLineWrapMode(QPlainTextEdit::NoWrap);
    text_->setFont(QFont(QStringLiteral("monospace")));
    where_ = new QLabel(path.isEmpty() ? QStringLiteral("No traffic log is kept in this run.")
                                       : QDir::toNativeSeparators(path),
                        this);
    where_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    auto *save = new QPushButton(QStringLiteral("Save &As ..."), this);
    save->setObjectName(QStringLiteral("SaveAs"));
    save->setEnabled(!path.isEmpty());
    connect(save, &QPushButton::clicked, this, [this] { saveAs(); });
    auto *close = new QPushButton(QStringLiteral("&Close"), this);
    connect(close, &QPushButton::clicked, this, &QWidget::close);

    auto *buttons = new QHBoxLayout;
    buttons->addWidget(where_, 1);
    buttons->addWidget(save);
    buttons->addWidget(close);
    auto *root = new QVBoxLayout(this);
    root->addWidget(text_);
    root->addLayout(buttons);

    // The log is flushed line by line; a look twice a second keeps up with the line.
    poll_ = new QTimer(this);
    poll_->setInterval(500);
    connect(poll_, &QTimer::timeout, this, [this] { readNew(); });
    poll_->start();
    readNew();
}

void LogWindow::readNew()
{
    if (path_.isEmpty())
        return;
    QFile file(path_);
    if (!file.open(QIODevice::ReadOnly))
        return;
    if (file.size() < read_) { // emptied: a new run
        text_->clear();
        read_ = 0;
    }
    if (!file.seek(read_))
        return;
    QByteArray bytes = file.readAll();
    // Only whole lines; the rest comes with the next look.
    const qsizetype end = bytes.lastIndexOf('\n');
    if (end < 0)
        return;
    bytes.truncate(end + 1);
    read_ += bytes.size();
    QString lines = QString::fromLatin1(bytes);
    lines.remove(QLatin1Char('\r'));
    lines.chop(1);
    QScrollBar *bar = text_->verticalScrollBar();
    const bool atEnd = bar->value() >= bar->maximum();
    text_->appendPlainText(lines);
    if (atEnd)
        bar->setValue(bar->maximum());
}

void LogWindow::saveAs()
{
    const QString target = desk_.saveFile(QStringLiteral("Save the log as"), QStringLiteral("Text files (*.txt)|*.txt"),
                                          QFileInfo(path_).absoluteDir().filePath(QStringLiteral("Log copy.txt")));
    if (target.isEmpty())
        return;
    QFile source(path_);
    QSaveFile copy(target);
    if (!source.open(QIODevice::ReadOnly)) {
        desk_.message(QStringLiteral("Log"), QStringLiteral("The log cannot be read (") + source.errorString()
                                                 + QStringLiteral("); nothing was saved."));
        return;
    }
    const QByteArray bytes = source.readAll();
    if (!copy.open(QIODevice::WriteOnly) || copy.write(bytes) != bytes.size() || !copy.commit())
        desk_.message(QStringLiteral("Log"), QDir::toNativeSeparators(target) + QStringLiteral(" cannot be written (")
                                                 + copy.errorString() + QStringLiteral("). Choose another place."));
}

} // namespace vantorel
