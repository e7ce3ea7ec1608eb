// vantorel-cli: the tool's operations without a window, for scripts and
// production lines. It drives the same state and operations as the window.
#include "app/config.h"
#include "cli/report.h"
#include "image/fileselection.h"
#include "image/hexfile.h"
#include "platform/clock.h"
#include "platform/desk.h"
#include "platform/fault.h"
#include "platform/qtserialport.h"
#include "session/session.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QJsonDocument>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>

using namespace vantorel;

namespace {

enum Exit { ExitOk = 0, ExitNotOk = 1, ExitUsage = 2, ExitPort = 3 };

volatile std::sig_atomic_t interrupted = 0;
// The first Ctrl-C cancels as the progress window's Cancel does; a second one
// ends the program at once, for a user who will not wait for the cancel.
extern "C" void onInterrupt(int)
{
    if (interrupted)
        std::_Exit(130);
    interrupted = 1;
}

void err(const QString &line)
{
    std::fprintf(stderr, "%s\n", line.toLocal8Bit().constData());
    std::fflush(stderr);
}

// Box texts separate lines with CR (and CR LF): one line on standard error.
QString oneLine(QString text)
{
    text.replace(QStringLiteral("\r\n"), QStringLiteral(" | "));
    text.replace(QLatin1Char('\r'), QStringLiteral(" | "));
    text.replace(QLatin1Char('\n'), QStringLiteral(" | "));
    return text;
}

// "0,3,5-7", "all", "none" → the ticked controllers; false on a malformed list.
bool parseControllers(const QString &text, QList<int> &out)
{
    out.clear();
    const QString t = text.trimmed().toLower();
    if (t == QLatin1String("none"))
        return true;
    if (t == QLatin1String("all")) {
        for (int i = 0; i < 32; ++i)
            out << i;
        return true;
    }
    for (const QString &part : t.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        const QStringList ends = part.split(QLatin1Char('-'));
        bool ok1 = false;
        bool ok2 = true;
        const int from = ends.value(0).trimmed().toInt(&ok1);
        const int to = ends.size() == 2 ? ends[1].trimmed().toInt(&ok2) : from;
        if (!ok1 || !ok2 || ends.size() > 2 || from < 0 || to > 31 || from > to)
            return false;
        for (int i = from; i <= to; ++i) {
            if (!out.contains(i))
                out << i;
        }
    }
    std::sort(out.begin(), out.end());
    return !out.isEmpty();
}

struct Usage {
    QString reason;
};

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Vantorel"));
    QCoreApplication::setApplicationVersion(QStringLiteral(VANTOREL_VERSION));

    QCommandLineParser p;
    p.setApplicationDescription(QStringLiteral(
        "Runs one operation of the tool without a window.\n"
        "COMMAND: flash-info | boot-info | auto | download-serial | download-parallel | to-p4 | to-p3 | checksum"));
    p.addHelpOption();
    p.addVersionOption();
    const QCommandLineOption dir(QStringLiteral("dir"), QStringLiteral("Program folder (Flash.cfg, Boot.ini, Ports.ini, Log.txt)."), QStringLiteral("DIR"));
    const QCommandLineOption port(QStringLiteral("port"), QStringLiteral("\"COM 3\", \"3\" or a device path."), QStringLiteral("P"));
    const QCommandLineOption speed(QStringLiteral("speed"), QStringLiteral("Line speed (the Speed box)."), QStringLiteral("N"));
    const QCommandLineOption timeout(QStringLiteral("timeout"), QStringLiteral("Answer time-out in ms (Time Out)."), QStringLiteral("MS"));
    const QCommandLineOption delay(QStringLiteral("delay"), QStringLiteral("Parallel waiting delay in ms."), QStringLiteral("MS"));
    const QCommandLineOption protocol(QStringLiteral("protocol"), QStringLiteral("The Protocol number."), QStringLiteral("N"));
    const QCommandLineOption file(QStringLiteral("file"), QStringLiteral("HEX file."), QStringLiteral("HEX"));
    const QCommandLineOption prot3(QStringLiteral("prot3"), QStringLiteral("Tick Prot 3: the controllers speak protocol 3."));
    const QCommandLineOption noProt3(QStringLiteral("no-prot3"), QStringLiteral("Clear Prot 3."));
    const QCommandLineOption p4(QStringLiteral("prot4plus"), QStringLiteral("Tick Prot 4+: frames carry the byte-sum check code."));
    const QCommandLineOption noP4(QStringLiteral("no-prot4plus"), QStringLiteral("Clear Prot 4+ (the CRC)."));
    const QCommandLineOption same(QStringLiteral("same-protocol"), QStringLiteral("Tick All Controllers same protocol."));
    const QCommandLineOption noSame(QStringLiteral("no-same-protocol"), QStringLiteral("Clear All Controllers same protocol."));
    const QCommandLineOption controllers(QStringLiteral("controllers"), QStringLiteral("e.g. 0,3,5-7 | all | none."), QStringLiteral("LIST"));
    const QCommandLineOption settle(QStringLiteral("settle-ms"), QStringLiteral("Settle wait after the first answer byte (default 500)."), QStringLiteral("N"));
    const QCommandLineOption hold(QStringLiteral("hold-ms"), QStringLiteral("How long a failure message is held (default 2000)."), QStringLiteral("N"));
    const QCommandLineOption fast(QStringLiteral("fast"), QStringLiteral("Tick Fast answers: end each wait as soon as the answer is complete; hold failures 0.2 s."));
    const QCommandLineOption noFast(QStringLiteral("no-fast"), QStringLiteral("Clear Fast answers (the full settle wait and failure hold)."));
    const QCommandLineOption save(QStringLiteral("save"), QStringLiteral("Write the settings back to Flash.cfg at the end."));
    const QCommandLineOption format(QStringLiteral("format"), QStringLiteral("text or json (default text)."), QStringLiteral("F"), QStringLiteral("text"));
    p.addOptions({dir, port, speed, timeout, delay, protocol, file, prot3, noProt3, p4, noP4, same, noSame, controllers,
                  settle, hold, fast, noFast, save, format});
    p.addPositionalArgument(QStringLiteral("COMMAND"), QStringLiteral("The operation to run."));
    if (!p.parse(app.arguments())) {
        QString error = p.errorText();
        if (error.endsWith(QLatin1Char('.')))
            error.chop(1);
        err(QStringLiteral("vantorel-cli: ") + error + QStringLiteral("; see --help"));
        return ExitUsage;
    }
    if (p.isSet(QStringLiteral("help")))
        p.showHelp(ExitOk);
    if (p.isSet(QStringLiteral("version")))
        p.showVersion();

    const QStringList commands = {QStringLiteral("flash-info"),      QStringLiteral("boot-info"),
                                  QStringLiteral("auto"),            QStringLiteral("download-serial"),
                                  QStringLiteral("download-parallel"), QStringLiteral("to-p4"),
                                  QStringLiteral("to-p3"),           QStringLiteral("checksum")};
    const QStringList args = p.positionalArguments();
    try {
        if (args.size() != 1 || !commands.contains(args[0]))
            throw Usage{QStringLiteral("give one COMMAND: ") + commands.join(QStringLiteral(" | "))};
        const QString fmt = p.value(format);
        if (fmt != QLatin1String("text") && fmt != QLatin1String("json"))
            throw Usage{QStringLiteral("--format takes text or json")};
        auto number = [&](const QCommandLineOption &o, const char *what) {
            bool ok = false;
            const int v = p.value(o).toInt(&ok);
            if (!ok || v < 0)
                throw Usage{QStringLiteral("--") + o.names().first() + QStringLiteral(" takes ") + QLatin1String(what)};
            return v;
        };
        const QString command = args[0];

        QtSerialPort serial;
        RecordingDesk desk;
        MonotonicClock clock;
        Session session(serial, desk, clock);
        Context &ctx = session.context();
        MainState &m = session.main();
        desk.onMessage = [](const RecordingDesk::Box &box) {
            err(QStringLiteral("[") + box.title + QStringLiteral("] ") + oneLine(box.text));
        };
        // Ctrl-C is the progress window's Cancel.
        desk.onProcessEvents = [&ctx] {
            if (interrupted && !ctx.StopRequested) {
                err(QStringLiteral("Cancel"));
                ctx.message.cancel();
            }
        };
        QString lastProgress;
        ctx.message.Label1.onChange([&] {
            const QString text = ctx.message.Label1.text();
            if (!text.isEmpty() && text != lastProgress)
                err(text);
            lastProgress = text;
        });

        if (command == QLatin1String("checksum")) {
            if (!p.isSet(file))
                throw Usage{QStringLiteral("checksum needs --file HEX")};
            ImageDescription d;
            QString sum;
            try {
                sum = readHexChecksum(p.value(file), d);
            } catch (const Fault &f) {
                err(QStringLiteral("vantorel-cli: cannot read ") + p.value(file) + QStringLiteral(": ") + f.description());
                return ExitUsage;
            }
            const QString shown = sum.right(4);
            if (fmt == QLatin1String("json")) {
                const QJsonObject o{{QStringLiteral("operation"), command}, {QStringLiteral("checksum"), sum},
                                    {QStringLiteral("file_checksum"), shown}, {QStringLiteral("ctrl_type"), d.HexCtrlType},
                                    {QStringLiteral("baud_text"), d.HexBaudText}, {QStringLiteral("baud_rate"), d.HexBaudRate},
                                    {QStringLiteral("protocol_byte"), d.HexProtocolByte}, {QStringLiteral("prot4plus"), d.HexProt4Plus},
                                    {QStringLiteral("description"), imageToolTip(d)}};
                std::printf("%s\n", QJsonDocument(o).toJson(QJsonDocument::Compact).constData());
            } else {
                std::printf("checksum %s\nshown    %s\nimage    %s\n", qPrintable(sum), qPrintable(shown),
                            qPrintable(imageToolTip(d)));
            }
            return ExitOk;
        }

        if (p.isSet(dir) && !QFileInfo(p.value(dir)).isDir())
            throw Usage{QStringLiteral("--dir ") + p.value(dir) + QStringLiteral(" is not a folder")};
        // Checked before start-up, which empties Log.txt: a mistyped option
        // must not cost the log of the last run.
        QList<int> tickedList;
        if (p.isSet(controllers) && !parseControllers(p.value(controllers), tickedList)
            && p.value(controllers).trimmed().toLower() != QLatin1String("none"))
            throw Usage{QStringLiteral("--controllers takes a list such as 0,3,5-7, or all, or none")};
        const int settleMs = p.isSet(settle) ? number(settle, "milliseconds") : -1;
        const int holdMs = p.isSet(hold) ? number(hold, "milliseconds") : -1;
        // Flash.cfg keeps no file name: a download always needs --file.
        if (command.startsWith(QLatin1String("download")) && !p.isSet(file))
            throw Usage{QStringLiteral("a download needs a readable HEX file: give --file HEX")};
        if (p.isSet(file)) {
            ImageDescription unused;
            try {
                readHexChecksum(p.value(file), unused);
            } catch (const Fault &f) {
                err(QStringLiteral("vantorel-cli: cannot read ") + p.value(file) + QStringLiteral(": ") + f.description());
                return ExitUsage;
            }
        }
        const QString appDir = p.isSet(dir) ? p.value(dir) : findAppDir();
        if (!p.isSet(protocol)) {
            MainState saved;
            ReadConfig(saved, QDir(appDir).filePath(QStringLiteral("Flash.cfg")));
            if (saved.Protocol.text().isEmpty())
                throw Usage{QStringLiteral("no protocol: give --protocol N (or save one in Flash.cfg)")};
        }
        session.startUp(appDir);
        if (!p.isSet(save))
            m.Check1.setValue(0);
        if (p.isSet(port))
            m.ComPort.setText(p.value(port));
        if (p.isSet(speed))
            m.Vitesse.setText(p.value(speed));
        if (p.isSet(timeout))
            m.Text1.setText(p.value(timeout));
        if (p.isSet(delay))
            m.Text2.setText(p.value(delay));
        if (p.isSet(protocol))
            m.Protocol.setText(p.value(protocol));
        if (p.isSet(prot3) || p.isSet(noProt3))
            m.QRV3.setValue(p.isSet(prot3) ? 1 : 0);
        if (p.isSet(p4) || p.isSet(noP4))
            m.Protocol4Plus.setValue(p.isSet(p4) ? 1 : 0);
        if (p.isSet(same) || p.isSet(noSame)) {
            m.ChkProto.setValue(p.isSet(same) ? 1 : 0);
            m.ChkProto.setVisible(true);
        }
        if (p.isSet(fast) || p.isSet(noFast))
            m.FastAnswers.setValue(p.isSet(fast) ? 1 : 0);
        if (p.isSet(controllers)) {
            for (int i = 0; i < 32; ++i)
                m.C[i].setValue(tickedList.contains(i) ? 1 : 0);
        }
        if (settleMs >= 0)
            ctx.timings.settleDelay = settleMs / 1000.0;
        if (holdMs >= 0)
            ctx.timings.failureHold = holdMs / 1000.0;
        if (p.isSet(file)) {
            session.dropFile(QFileInfo(p.value(file)).absoluteFilePath());
            if (m.FileCheksum.text().isEmpty()) {
                err(QStringLiteral("vantorel-cli: the HEX file ") + p.value(file) + QStringLiteral(" cannot be read"));
                return ExitUsage;
            }
        }
        if (m.Protocol.text().isEmpty())
            throw Usage{QStringLiteral("no protocol: give --protocol N (or save one in Flash.cfg)")};

        std::signal(SIGINT, onInterrupt);
        std::signal(SIGTERM, onInterrupt);

        const QList<int> listed = command == QLatin1String("auto") ? QList<int>{0,  1,  2,  3,  4,  5,  6,  7,  8,  9,  10,
                                                                                 11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 21,
                                                                                 22, 23, 24, 25, 26, 27, 28, 29, 30, 31}
                                                                   : m.selectedControllers();
        const QHash<QString, Session::Operation> operations = {
            {QStringLiteral("flash-info"), Session::Operation::FlashInfo},
            {QStringLiteral("boot-info"), Session::Operation::BootInfo},
            {QStringLiteral("auto"), Session::Operation::Auto},
            {QStringLiteral("download-serial"), Session::Operation::DownloadSerial},
            {QStringLiteral("download-parallel"), Session::Operation::DownloadParallel},
            {QStringLiteral("to-p4"), Session::Operation::To4},
            {QStringLiteral("to-p3"), Session::Operation::To3}};
        if (command.startsWith(QLatin1String("download")) && m.FileCheksum.text().isEmpty())
            throw Usage{QStringLiteral("a download needs a readable HEX file: give --file HEX")};
        session.run(operations.value(command));

        const RunReport report = makeReport(ctx, command, listed);
        if (fmt == QLatin1String("json"))
            std::printf("%s\n", QJsonDocument(report.toJson()).toJson(QJsonDocument::Compact).constData());
        else
            std::printf("%s", qPrintable(report.toText()));
        std::fflush(stdout);

        int status = ExitOk;
        const auto fault = ctx.lastFaultNumber;
        // A write that fails is a line gone as much as one reported lost.
        if (fault && (*fault == static_cast<int>(FaultCode::PortOpen) || *fault == static_cast<int>(FaultCode::PortLost)
                      || *fault == static_cast<int>(FaultCode::PortWrite)))
            status = ExitPort;
        else if (fault)
            status = ExitNotOk;
        else if (command == QLatin1String("auto"))
            status = ctx.StopRequested ? ExitNotOk : ExitOk;
        else if (!report.allOk() || ctx.StopRequested)
            status = ExitNotOk;
        session.shutDown();
        return status;
    } catch (const Usage &u) {
        err(QStringLiteral("vantorel-cli: ") + u.reason);
        return ExitUsage;
    }
}
