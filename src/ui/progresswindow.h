#pragma once

#include <QDialog>

#include <functional>

class QLabel;
class QProgressBar;
class QPushButton;
class QTimer;

namespace vantorel {

class MessageState;

// The progress window "Message": the running step, one of three pictures,
// under them a bar and a line for the whole run, and Cancel. The operations
// close and open it between steps; it comes back at one size and, within a
// run, where it stood, so Cancel never moves under the pointer.
class ProgressWindow : public QDialog {
    Q_OBJECT
public:
    // 'mayCancel' is asked before a Cancel is passed on (it may ask the user).
    ProgressWindow(MessageState &state, std::function<bool()> mayCancel, QWidget *parent);
    ~ProgressWindow() override;

    // The three drawings, also used by tests and the documentation.
    static QPixmap drawInquiet();
    static QPixmap drawStop();
    static QPixmap drawJumelle();

protected:
    void closeEvent(QCloseEvent *event) override;
    void hideEvent(QHideEvent *event) override;
    void moveEvent(QMoveEvent *event) override;
    void reject() override;

private:
    void sync();
    void cancelAsked();
    MessageState &state_;
    std::function<bool()> mayCancel_;
    QProgressBar *bar_;
    QLabel *runLine_;
    QPushButton *cancel_;
    QTimer *tick_;
    int viewKey_;
};

} // namespace vantorel
