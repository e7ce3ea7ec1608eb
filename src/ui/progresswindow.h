#pragma once

#include <QDialog>

#include <array>
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
    // Inquiet, Stop and Jumelle, in that order.
    using Pictures = std::array<QLabel *, 3>;
    Pictures buildPictures();
    QLabel *buildTexts(int textWidth, int twoLines);
    void buildCancel();
    void arrange(const Pictures &pictures, QLabel *label1);
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
