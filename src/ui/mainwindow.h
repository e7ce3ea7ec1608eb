#pragma once

#include <QWidget>

#include <array>

class QCheckBox;
class QGroupBox;
class QLayout;
class QLineEdit;
class QPushButton;

namespace vantorel {

class Session;
class ProgressWindow;
class InfoWindow;
class LogWindow;
class HistoryWindow;

// The main window: draws the main state and passes the user's actions to it.
// It holds no rules of its own.
class MainWindow : public QWidget {
    Q_OBJECT
public:
    explicit MainWindow(Session &session, QWidget *parent = nullptr);
    ~MainWindow() override;

    // Named widgets, for tests and screenshots: objectName is the control's name.

    // Focus on the first control the user needs: Protocol while it is empty,
    // else Browse while no file is read, else Flash Info (a query: a stray
    // key press there erases nothing).
    void focusFirstControl();
    // The Log button: Log.txt as it grows.
    void showLog();
    // The History button: the records of the results database, read anew.
    void showHistory();

protected:
    void closeEvent(QCloseEvent *event) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dropEvent(QDropEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    struct Parts;
    void build();
    QGroupBox *buildFileGroup(Parts &parts);
    void describeImageInToolTip(QLineEdit *fileName);
    QGroupBox *buildSelectionGroup(Parts &parts);
    QGroupBox *buildLineGroup(Parts &parts);
    QGroupBox *buildProtocolGroup(Parts &parts);
    QLayout *buildOperationsRow(Parts &parts);
    QLayout *buildSettingsRow(Parts &parts);
    void connectReactions(const Parts &parts);
    void lockWhileBusy(const Parts &parts);
    void orderTabStops(const Parts &parts);
    void syncProgressWindow();
    bool mayCancel();
    void syncInfoWindow();
    void placeInfoWindow();
    void rememberGeometry(const QWidget *window);
    void restoreGeometryOf(QWidget *window);
    bool moveInGrid(QObject *watched, int key);

    Session &session_;
    ProgressWindow *progress_ = nullptr;
    int messageViewKey_ = 0;
    InfoWindow *info_ = nullptr;
    int infoViewKey_ = 0;
    int infoPreparations_ = 0;
    bool placeInfo_ = false;
    bool closeAfterRun_ = false;
    LogWindow *log_ = nullptr;
    HistoryWindow *history_ = nullptr; // kept when closed: a read in hand ends with it
    std::array<QCheckBox *, 32> boxes_{};
};

} // namespace vantorel
