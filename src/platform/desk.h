#pragma once

#include <QString>
#include <QStringList>

#include <functional>

namespace vantorel {

// What the operations need of the windowing system besides their own windows.
class Desk {
public:
    virtual ~Desk() = default;
    // Modal box with an OK button.
    virtual void message(const QString &title, const QString &text) = 0;
    virtual void beep() = 0;
    virtual void setBusy(bool busy) = 0;
    // Returns the chosen existing file, or an empty text when cancelled.
    // The filter is given as "Description (*.ext)|*.ext"; the dialog opens in
    // 'folder' when it is given.
    virtual QString openFile(const QString &title, const QString &filter, const QString &folder = QString()) = 0;
    // A file name to save under, or an empty text when cancelled (or where
    // nobody can answer).
    virtual QString saveFile(const QString &title, const QString &filter, const QString &suggested)
    {
        Q_UNUSED(title);
        Q_UNUSED(filter);
        Q_UNUSED(suggested);
        return QString();
    }
    // Let pending events run (so Cancel buttons are seen).
    virtual void processEvents() = 0;
    // Modal box with Yes and No, No the default. Where nobody can answer the
    // answer is No: nothing is given up unasked.
    virtual bool ask(const QString &title, const QString &text)
    {
        Q_UNUSED(title);
        Q_UNUSED(text);
        return false;
    }
};

// Records every box and beep; answers dialogs from a queue. For tests and the
// command line (which prints the boxes).
class RecordingDesk : public Desk {
public:
    struct Box {
        QString title;
        QString text;
    };

    void message(const QString &title, const QString &text) override;
    void beep() override { ++beeps; }
    void setBusy(bool busy) override { busy ? ++busyCount : --busyCount; }
    QString openFile(const QString &title, const QString &filter, const QString &folder = QString()) override;
    QStringList foldersShown;       // the folder each dialog opened in
    void processEvents() override;
    // Recorded among the boxes; answered from 'answers', front first (empty: No).
    bool ask(const QString &title, const QString &text) override;
    QList<bool> answers;

    QList<Box> boxes;
    int beeps = 0;
    int busyCount = 0;
    QStringList fileAnswers;        // taken front first; empty = cancelled
    QStringList dialogsShown;       // "title|filter"
    std::function<void(const Box &)> onMessage; // e.g. print to stderr
    std::function<void()> onProcessEvents;      // e.g. a test pressing Cancel
};

} // namespace vantorel
