#include "platform/clock.h"
#include "platform/qtdesk.h"
#include "platform/qtserialport.h"
#include "session/session.h"
#include "state/context.h"
#include "ui/mainwindow.h"
#include "ui/screenshots.h"

#include <QApplication>
#include <QTimer>
#include <QCommandLineParser>

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
    parser.addOptions({fileOption, portOption});
    vantorel::addScreenshotOptions(parser);
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
    // Once the window is up: runs that waited for the results database are offered to it.
    QTimer::singleShot(0, &window, [&session] { session.offerReplay(); });

    vantorel::scheduleScreenshots(parser, session, window);
    return app.exec();
}
