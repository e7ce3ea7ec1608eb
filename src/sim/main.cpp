// vantorel-linesim: a line of simulated controllers on a pseudo-terminal.
// The first line on stdout is the device path for the tool to open.

#include "sim/line.h"
#include "sim/lineconfig.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QSaveFile>
#include <QStringList>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <pthread.h>
#include <unistd.h>

using namespace vantorel::sim;

namespace {

constexpr int kBadUse = 2;

int fail(const QString &message, int code = 1)
{
    std::fprintf(stderr, "vantorel-linesim: %s\n", qPrintable(message));
    return code;
}

// A link left by an earlier run is replaced; anything else at that place is not ours to remove.
QString makeLink(const QString &link, const QString &target)
{
    const QFileInfo existing(link);
    if (existing.isSymLink()) {
        if (::unlink(QFile::encodeName(link).constData()) != 0)
            return QStringLiteral("--link %1: the old link cannot be removed (%2)")
                .arg(link, QString::fromLocal8Bit(std::strerror(errno)));
    } else if (existing.exists()) {
        return QStringLiteral("--link %1: something other than a link is there; choose another path or remove it")
            .arg(link);
    }
    if (::symlink(QFile::encodeName(target).constData(), QFile::encodeName(link).constData()) != 0)
        return QStringLiteral("--link %1: the link cannot be made (%2); check that the folder exists and is writable")
            .arg(link, QString::fromLocal8Bit(std::strerror(errno)));
    return {};
}

void removeLink(const QString &link, const QString &target)
{
    // Only our own: another run may have taken the name over meanwhile.
    if (QFileInfo(link).symLinkTarget() == QFileInfo(target).absoluteFilePath())
        ::unlink(QFile::encodeName(link).constData());
}

QString describe(const LineConfig &config)
{
    QStringList parts;
    for (const ControllerConfig &c : config.controllers)
        parts << QStringLiteral("%1 at %2").arg(c.number).arg(c.startInBoot ? c.bootSpeed : c.speed);
    if (parts.isEmpty())
        return QStringLiteral("no controllers");
    return QStringLiteral("controllers ") + parts.join(QStringLiteral(", "));
}

// The options of the command line, each declared once for the parser and the reading.
struct Options {
    const QCommandLineOption config{QStringLiteral("config"),
                                    QStringLiteral("Line description (JSON); without it, the built-in line."),
                                    QStringLiteral("file")};
    const QCommandLineOption link{QStringLiteral("link"),
                                  QStringLiteral("Also make a symbolic link to the device at this path."),
                                  QStringLiteral("path")};
    const QCommandLineOption echo{QStringLiteral("echo"), QStringLiteral("Every byte the tool sends comes back first.")};
    const QCommandLineOption pace{QStringLiteral("pace"),
                                  QStringLiteral("Bytes take their real time on the line, both ways.")};
    const QCommandLineOption state{QStringLiteral("state"),
                                   QStringLiteral("Write the state as JSON here after every frame and at "
                                                  "the end."),
                                   QStringLiteral("file")};
    const QCommandLineOption sample{QStringLiteral("write-sample-image"),
                                    QStringLiteral("Write a small HEX image that the built-in line's "
                                                   "controllers take, then quit without starting a line."),
                                    QStringLiteral("file")};
};

// Taken by sigwait at the end; blocked before any thread starts, so that none
// is picked to receive them.
sigset_t blockStopSignals()
{
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    std::signal(SIGPIPE, SIG_IGN); // a reader gone from stdout must not cut the final state short
    return stopSignals;
}

// An exit status when the program ends here: bad use (--help and --version end the process).
std::optional<int> parseArguments(QCommandLineParser &parser, const Options &o)
{
    parser.setApplicationDescription(QStringLiteral(
        "A line of simulated controllers on a pseudo-terminal. Prints the device path to open as its first "
        "line, runs until SIGINT or SIGTERM, then writes the final state as JSON (to --state FILE, else to "
        "stdout)."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addOptions({o.config, o.link, o.echo, o.pace, o.state, o.sample});
    if (!parser.parse(QCoreApplication::arguments())) {
        QString error = parser.errorText();
        if (error.endsWith(QLatin1Char('.')))
            error.chop(1);
        return fail(error + QStringLiteral("; see --help"), kBadUse);
    }
    if (parser.isSet(QStringLiteral("help")))
        parser.showHelp(0);
    if (parser.isSet(QStringLiteral("version")))
        parser.showVersion();
    if (!parser.positionalArguments().isEmpty())
        return fail(QStringLiteral("unexpected argument \"%1\"; see --help").arg(parser.positionalArguments().first()),
                    kBadUse);
    return std::nullopt;
}

int writeSampleImage(const QString &path)
{
    QSaveFile file(path);
    const QByteArray image = sampleImage();
    if (!file.open(QIODevice::WriteOnly) || file.write(image) != image.size() || !file.commit())
        return fail(QStringLiteral("--write-sample-image %1: cannot be written (%2); choose a file in a "
                                   "writable folder")
                        .arg(path, file.errorString()));
    return 0;
}

// The line described by the options; an exit status when they cannot be used.
std::optional<int> readLine(const QCommandLineParser &parser, const Options &o, LineConfig &config,
                            LineOptions &options)
{
    try {
        config = parser.isSet(o.config) ? readLineConfig(parser.value(o.config)) : defaultLine();
    } catch (const ConfigError &e) {
        return fail(e.message(), kBadUse);
    }
    options.echo = parser.isSet(o.echo);
    options.pace = parser.isSet(o.pace);
    options.stateFile = parser.value(o.state);
    if (!options.stateFile.isEmpty()) {
        // Said now rather than after every frame.
        const QFileInfo state(options.stateFile);
        if (state.isDir() || !QFileInfo(state.absolutePath()).isWritable())
            return fail(QStringLiteral("--state %1: cannot be written there; choose a file in a writable folder")
                            .arg(options.stateFile),
                        kBadUse);
    }
    return std::nullopt;
}

// Opens the line, says where it is, and runs it until a stop signal; then the final state.
int runLine(const LineConfig &config, const LineOptions &options, const QString &link, const sigset_t &stopSignals)
{
    std::unique_ptr<Line> line;
    try {
        line = std::make_unique<Line>(config, options);
    } catch (const std::exception &e) {
        return fail(QString::fromLocal8Bit(e.what()));
    }
    if (!link.isEmpty()) {
        const QString error = makeLink(link, line->slavePath());
        if (!error.isEmpty())
            return fail(error, kBadUse);
    }

    std::printf("%s\n", qPrintable(line->slavePath()));
    std::fflush(stdout);
    std::fprintf(stderr, "vantorel-linesim: %s%s%s; stop with Ctrl+C\n", qPrintable(describe(config)),
                 options.echo ? ", echo" : "", options.pace ? ", paced" : "");

    int signal = 0;
    sigwait(&stopSignals, &signal);

    line->stop(); // writes the final state file
    if (!link.isEmpty())
        removeLink(link, line->slavePath());
    if (options.stateFile.isEmpty()) {
        const QByteArray json = QJsonDocument(line->toJson()).toJson(QJsonDocument::Indented);
        std::fwrite(json.constData(), 1, size_t(json.size()), stdout);
        std::fflush(stdout);
    }
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    const sigset_t stopSignals = blockStopSignals();

    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("vantorel-linesim"));
    QCoreApplication::setApplicationVersion(QStringLiteral(VANTOREL_VERSION));

    QCommandLineParser parser;
    const Options options;
    if (const std::optional<int> exit = parseArguments(parser, options))
        return *exit;
    if (parser.isSet(options.sample))
        return writeSampleImage(parser.value(options.sample));
    LineConfig config;
    LineOptions lineOptions;
    if (const std::optional<int> exit = readLine(parser, options, config, lineOptions))
        return *exit;
    return runLine(config, lineOptions, parser.value(options.link), stopSignals);
}
