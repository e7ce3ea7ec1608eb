#include "platform/clock.h"
#include "platform/qtdesk.h"
#include "platform/qtserialport.h"
#include "session/session.h"
#include "ui/mainwindow.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QPixmap>
#include <QTimer>

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
    const QCommandLineOption resultShotOption(
        QStringLiteral("screenshot-after-download"),
        QStringLiteral("Press Download (Serial), save a picture of the result window when it ends, and quit."),
        QStringLiteral("png"));
    parser.addOptions({fileOption, portOption, shotOption, resultShotOption});
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

    if (parser.isSet(resultShotOption)) {
        // For the pictures in the documentation; settings of such a run are not worth keeping.
        session.main().Check1.setValue(0);
        QTimer::singleShot(800, &window, [&] {
            session.run(vantorel::Session::Operation::DownloadSerial);
            auto *info = window.findChild<QWidget *>(QStringLiteral("Info"));
            const bool saved = info && info->grab().save(parser.value(resultShotOption));
            window.close();
            QApplication::exit(saved ? 0 : 1);
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
