#include "platform/clock.h"
#include "platform/qtdesk.h"
#include "platform/qtserialport.h"
#include "session/session.h"
#include "ui/mainwindow.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QPixmap>
#include <QScreen>

#include <memory>
#include <QTimer>

namespace {
// The screen as the user sees it (window frames included), cut to the tool's windows.
QPixmap screenPicture()
{
    QScreen *screen = QGuiApplication::primaryScreen();
    QRect area;
    for (QWidget *w : QApplication::topLevelWidgets()) {
        if (w->isVisible())
            area |= w->frameGeometry();
    }
    area = area.adjusted(-8, -8, 8, 8) & screen->geometry();
    return screen->grabWindow(0, area.x(), area.y(), area.width(), area.height());
}
} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Vantorel"));
    QApplication::setApplicationVersion(QStringLiteral(VANTOREL_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Downloads firmware into the controllers of a serial line."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption fileOption(QStringLiteral("file"), QStringLiteral("HEX file to select at start."),
                                        QStringLiteral("path"));
    const QCommandLineOption portOption(QStringLiteral("port"), QStringLiteral("Serial port to select at start."),
                                        QStringLiteral("port"));
    const QCommandLineOption shotOption(QStringLiteral("screenshot"),
                                        QStringLiteral("Save a picture of the main window and quit."),
                                        QStringLiteral("png"));
    const QCommandLineOption shotsOption(
        QStringLiteral("shots"),
        QStringLiteral("For the documentation: picture the screen before, during and after a serial download and "
                       "with the log open (main-window.png, progress-window.png, result-window.png, log-window.png "
                       "in the folder), and quit."),
        QStringLiteral("folder"));
    parser.addOptions({fileOption, portOption, shotOption, shotsOption});
    parser.process(app);

    vantorel::QtSerialPort port;
    vantorel::QtDesk desk(nullptr);
    vantorel::MonotonicClock clock;
    vantorel::Session session(port, desk, clock);
    session.startUp();
    if (parser.isSet(portOption))
        session.main().ComPort.setText(parser.value(portOption));

    vantorel::MainWindow window(session);
    window.show();
    if (parser.isSet(fileOption))
        session.dropFile(parser.value(fileOption));
    else
        vantorel::reopenLastHexFile(session.context());
    window.focusFirstControl();

    if (parser.isSet(shotsOption)) {
        // Settings of such a run are not worth keeping.
        session.main().Check1.setValue(0);
        const QDir folder(parser.value(shotsOption));
        auto ok = std::make_shared<bool>(true);
        auto shoot = [folder, ok](const char *name) {
            if (!screenPicture().save(folder.filePath(QLatin1String(name))))
                *ok = false;
        };
        QTimer::singleShot(1500, &window, [&, shoot, ok] {
            shoot("main-window.png");
            // Mid-download: once a good part of the run is done, while a batch goes out.
            auto *watch = new QTimer(&window);
            auto taken = std::make_shared<bool>(false);
            QObject::connect(watch, &QTimer::timeout, &window, [&, shoot, taken] {
                const vantorel::MessageState &m = session.context().message;
                if (!*taken && m.running() && m.percent() >= 40 && m.batchesSent > 0 && m.shown()) {
                    *taken = true;
                    shoot("progress-window.png");
                }
            });
            watch->start(100);
            session.run(vantorel::Session::Operation::DownloadSerial);
            watch->stop();
            if (!*taken)
                *ok = false;
            QTimer::singleShot(1000, &window, [&, shoot, ok] {
                shoot("result-window.png");
                window.showLog();
                QTimer::singleShot(1500, &window, [&, shoot, ok] {
                    shoot("log-window.png");
                    window.close();
                    QApplication::exit(*ok ? 0 : 1);
                });
            });
        });
    } else if (parser.isSet(shotOption)) {
        QTimer::singleShot(800, &window, [&] {
            const bool saved = window.grab().save(parser.value(shotOption));
            // Settings of a screenshot run are not worth keeping; cleared after
            // the picture, which shows the box as every start ticks it.
            session.main().Check1.setValue(0);
            window.close();
            QApplication::exit(saved ? 0 : 1);
        });
    }
    return app.exec();
}
