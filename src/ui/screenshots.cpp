#include "ui/screenshots.h"

#include "session/session.h"
#include "state/context.h"
#include "ui/historywindow.h"
#include "ui/mainwindow.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QPixmap>
#include <QScreen>
#include <QTimer>

namespace vantorel {

namespace {

const QString kWindowOption = QStringLiteral("screenshot");
const QString kSeriesOption = QStringLiteral("shots");

// The screen as the user sees it (window frames included), cut to the tool's windows, or to 'only'.
QPixmap screenPicture(const QWidget *only = nullptr)
{
    QScreen *screen = QGuiApplication::primaryScreen();
    QRect area;
    for (QWidget *w : QApplication::topLevelWidgets()) {
        if (w->isVisible() && (!only || w == only))
            area |= w->frameGeometry();
    }
    area = area.adjusted(-8, -8, 8, 8) & screen->geometry();
    return screen->grabWindow(0, area.x(), area.y(), area.width(), area.height());
}

// Before, during and after a serial download, with the log open, then after a
// second download cancelled while it programs controller 3, then the History
// window over the two; each step waits for the screen to settle. A child of the window: gone with it.
class Series : public QObject {
public:
    Series(const QString &folder, Session &session, MainWindow &window)
        : QObject(&window), folder_(folder), session_(session), window_(window)
    {
        // Settings of such a run are not worth keeping.
        session_.main().Check1.setValue(0);
        QTimer::singleShot(1500, this, [this] { beforeAndDuring(); });
    }

private:
    void shoot(const char *name)
    {
        if (!screenPicture().save(folder_.filePath(QLatin1String(name))))
            ok_ = false;
    }
    void beforeAndDuring()
    {
        // On a busy machine the screen may not show the window yet: all one colour.
        const QImage first = screenPicture().toImage();
        if (first.pixel(first.width() / 2, first.height() / 2) == first.pixel(1, 1) && ++waits_ < 20) {
            QTimer::singleShot(500, this, [this] { beforeAndDuring(); });
            return;
        }
        shoot("main-window.png");
        auto *watch = new QTimer(this);
        connect(watch, &QTimer::timeout, this, [this] { whileRunning(); });
        watch->start(100);
        session_.run(Session::Operation::DownloadSerial);
        watch->stop();
        if (!progressTaken_)
            ok_ = false;
        QTimer::singleShot(1000, this, [this] { after(); });
    }
    // Mid-download: once a good part of the run is done, while a batch goes out.
    void whileRunning()
    {
        const MessageState &m = session_.context().message;
        if (!progressTaken_ && m.running() && m.percent() >= 40 && m.batchesSent > 0 && m.shown()) {
            progressTaken_ = true;
            shoot("progress-window.png");
        }
    }
    void after()
    {
        shoot("result-window.png");
        window_.showLog();
        QTimer::singleShot(1500, this, [this] { withLog(); });
    }
    void withLog()
    {
        shoot("log-window.png");
        if (QWidget *log = window_.findChild<QWidget *>(QStringLiteral("Log"), Qt::FindDirectChildrenOnly))
            log->close();
        QTimer::singleShot(500, this, [this] { cancelled(); });
    }
    // Cancel as a technician would, mid-image: controller 3 is left erased.
    void cancelled()
    {
        MessageState &m = session_.context().message;
        auto *watch = new QTimer(this);
        connect(watch, &QTimer::timeout, this, [&m] {
            if (m.exists() && m.Label1.text().startsWith(QStringLiteral("Controller 3 : Programming Batch 3")))
                m.cancel();
        });
        watch->start(50);
        session_.run(Session::Operation::DownloadSerial);
        watch->stop();
        if (session_.context().outcomes[3].outcome != Outcome::ErasedNotProgrammed)
            ok_ = false;
        QTimer::singleShot(1000, this, [this] {
            shoot("result-window-cancelled.png");
            window_.showHistory();
            QTimer::singleShot(500, this, [this] { history(); });
        });
    }
    // The two runs as the results database keeps them, once the window has read them.
    void history()
    {
        auto *h = window_.findChild<HistoryWindow *>(QStringLiteral("History"), Qt::FindDirectChildrenOnly);
        if (h && h->reading() && ++waits_ < 60) {
            QTimer::singleShot(500, this, [this] { history(); });
            return;
        }
        if (!h || h->reading() || !screenPicture(h).save(folder_.filePath(QStringLiteral("history-window.png"))))
            ok_ = false;
        window_.close();
        QApplication::exit(ok_ ? 0 : 1);
    }

    const QDir folder_;
    Session &session_;
    MainWindow &window_;
    bool ok_ = true;
    bool progressTaken_ = false;
    int waits_ = 0;
};

// The main window alone, as drawn by the toolkit (no frame).
void scheduleWindowPicture(const QString &path, Session &session, MainWindow &window)
{
    QTimer::singleShot(800, &window, [path, &session, &window] {
        const bool saved = window.grab().save(path);
        // Settings of a screenshot run are not worth keeping; cleared after
        // the picture, which shows the box as every start ticks it.
        session.main().Check1.setValue(0);
        window.close();
        QApplication::exit(saved ? 0 : 1);
    });
}

} // namespace

void addScreenshotOptions(QCommandLineParser &parser)
{
    parser.addOption(QCommandLineOption(kWindowOption, QStringLiteral("Save a picture of the main window and quit."),
                                        QStringLiteral("png")));
    parser.addOption(QCommandLineOption(
        kSeriesOption,
        QStringLiteral("For the documentation: picture the screen before, during and after a serial download and "
                       "with the log open, after a cancelled download, and the History window over both runs (main-window.png, "
                       "progress-window.png, result-window.png, log-window.png, result-window-cancelled.png, "
                       "history-window.png in the folder), and quit."),
        QStringLiteral("folder")));
}

void scheduleScreenshots(const QCommandLineParser &parser, Session &session, MainWindow &window)
{
    if (parser.isSet(kSeriesOption))
        new Series(parser.value(kSeriesOption), session, window);
    else if (parser.isSet(kWindowOption))
        scheduleWindowPicture(parser.value(kWindowOption), session, window);
}

} // namespace vantorel
