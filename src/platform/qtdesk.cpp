#include "platform/qtdesk.h"

#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <QRegularExpression>

namespace vantorel {

QtDesk::QtDesk(QWidget *parent) : parent_(parent)
{
}

QtDesk::~QtDesk()
{
    // An operation that ended by an exception must not leave the pointer busy.
    while (busyDepth_ > 0)
        setBusy(false);
}

void QtDesk::message(const QString &title, const QString &text)
{
    QMessageBox box(QMessageBox::NoIcon, title, displayText(text), QMessageBox::Ok, parent_);
    // File names and device paths may hold '<' or '&'.
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

bool QtDesk::ask(const QString &title, const QString &text)
{
    QMessageBox box(QMessageBox::Question, title, displayText(text), QMessageBox::Yes | QMessageBox::No, parent_);
    box.setTextFormat(Qt::PlainText);
    box.setDefaultButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}

void QtDesk::beep()
{
    QApplication::beep();
}

void QtDesk::setBusy(bool busy)
{
    if (busy) {
        QApplication::setOverrideCursor(Qt::WaitCursor);
        ++busyDepth_;
    } else if (busyDepth_ > 0) {
        QApplication::restoreOverrideCursor();
        --busyDepth_;
    }
}

QString QtDesk::openFile(const QString &title, const QString &filter, const QString &folder)
{
    // getOpenFileName only accepts files that exist.
    return QFileDialog::getOpenFileName(parent_, title, folder, qtFileFilter(filter));
}

QString QtDesk::saveFile(const QString &title, const QString &filter, const QString &suggested)
{
    return QFileDialog::getSaveFileName(QApplication::activeWindow() ? QApplication::activeWindow() : parent_, title,
                                        suggested, qtFileFilter(filter));
}

void QtDesk::processEvents()
{
    QCoreApplication::processEvents();
}

QString qtFileFilter(const QString &filter)
{
    static const QRegularExpression trailingPatterns(QStringLiteral("\\s*\\([^()]*\\)\\s*$"));
    const QStringList parts = filter.split(QLatin1Char('|'));
    QStringList entries;
    for (qsizetype i = 0; i < parts.size(); i += 2) {
        const QString patternText = i + 1 < parts.size() ? parts[i + 1].trimmed() : parts[i].trimmed();
        QStringList patterns = patternText.split(QLatin1Char(';'), Qt::SkipEmptyParts);
        for (QString &p : patterns)
            p = p.trimmed();
        patterns.removeAll(QString());
        if (patterns.isEmpty())
            continue;
        // Qt takes the patterns from the parentheses, so they must be the real ones.
        QString description = parts[i];
        description.remove(trailingPatterns);
        description = description.trimmed();
        if (description.isEmpty())
            description = patterns.join(QLatin1Char(' '));
        entries.append(description + QStringLiteral(" (") + patterns.join(QLatin1Char(' ')) + QLatin1Char(')'));
    }
    return entries.join(QStringLiteral(";;"));
}

QString displayText(const QString &text)
{
    QString shown = text;
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    shown.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return shown;
}

} // namespace vantorel
