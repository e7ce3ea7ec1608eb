#pragma once

#include "platform/desk.h"

class QWidget;

namespace vantorel {

// The desk of the windowed tool: real boxes, beeps, pointer and file dialog.
class QtDesk : public Desk {
public:
    // parent owns the boxes and dialogs; may be null.
    explicit QtDesk(QWidget *parent = nullptr);
    ~QtDesk() override;
    QtDesk(const QtDesk &) = delete;
    QtDesk &operator=(const QtDesk &) = delete;

    void setParent(QWidget *parent) { parent_ = parent; }

    void message(const QString &title, const QString &text) override;
    void beep() override;
    void setBusy(bool busy) override;
    QString openFile(const QString &title, const QString &filter, const QString &folder = QString()) override;
    QString saveFile(const QString &title, const QString &filter, const QString &suggested) override;
    void processEvents() override;
    bool ask(const QString &title, const QString &text) override;

private:
    QWidget *parent_;
    int busyDepth_ = 0;
};

// "Hex files (*.hex)|*.hex|All files (*.*)|*.*" in the form Qt's dialogs read:
// "Hex files (*.hex);;All files (*.*)". The patterns decide what is listed.
QString qtFileFilter(const QString &filter);

// Box texts separate lines with CR; widgets want LF.
QString displayText(const QString &text);

} // namespace vantorel
