#pragma once

#include <QWidget>

namespace vantorel {

class Session;
class ProgressWindow;
class InfoWindow;

// The main window: draws the main state and passes the user's actions to it.
// It holds no rules of its own.
class MainWindow : public QWidget {
    Q_OBJECT
public:
    explicit MainWindow(Session &session, QWidget *parent = nullptr);
    ~MainWindow() override;

    // Named widgets, for tests and screenshots: objectName is the control's name.
protected:
    void closeEvent(QCloseEvent *event) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dropEvent(QDropEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void build();
    void syncProgressWindow();
    void syncInfoWindow();

    Session &session_;
    ProgressWindow *progress_ = nullptr;
    int messageViewKey_ = 0;
    InfoWindow *info_ = nullptr;
    int infoViewKey_ = 0;
};

} // namespace vantorel
