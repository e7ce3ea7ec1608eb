#include "platform/desk.h"

#include <QCoreApplication>

namespace vantorel {

void RecordingDesk::message(const QString &title, const QString &text)
{
    boxes.append(Box{title, text});
    if (onMessage)
        onMessage(boxes.constLast());
}

QString RecordingDesk::openFile(const QString &title, const QString &filter, const QString &folder)
{
    dialogsShown.append(title + QLatin1Char('|') + filter);
    foldersShown.append(folder);
    return fileAnswers.isEmpty() ? QString() : fileAnswers.takeFirst();
}

bool RecordingDesk::ask(const QString &title, const QString &text)
{
    message(title, text);
    return !answers.isEmpty() && answers.takeFirst();
}

void RecordingDesk::processEvents()
{
    if (QCoreApplication::instance())
        QCoreApplication::processEvents();
    if (onProcessEvents)
        onProcessEvents();
}

} // namespace vantorel
