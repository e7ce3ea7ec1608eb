// vantorel-linesim: a line of simulated controllers on a pseudo-terminal.
// The first line on stdout is the device path for the tool to open.

#include "sim/line.h"
#include "sim/lineconfig.h"

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

} // namespace

int main(int argc, char **argv)
{
    // Taken by sigwait below; blocked before any thread starts, so that none
    // is picked to receive them.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    std::signal(SIGPIPE, SIG_IGN); // a reader gone from stdout must not cut the final state short

    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("vantorel-linesim"));
    QCoreApplication::setApplicationVersion(QStringLiteral(VANTOREL_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "A line of simulated controllers on a pseudo-terminal. Prints the device path to open as its first "
        "line, runs until SIGINT or SIGTERM, then writes the final state as JSON (to --state FILE, else to "
        "stdout)."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption configOption(QStringLiteral("config"),
                                          QStringLiteral("Line description (JSON); without it, the built-in line."),
                                          QStringLiteral("file"));
    const QCommandLineOption linkOption(QStringLiteral("link"),
                                        QStringLiteral("Also make a symbolic link to the device at this path."),
                                        QStringLiteral("path"));
    const QCommandLineOption echoOption(QStringLiteral("echo"),
                                        QStringLiteral("Every byte the tool sends comes back first."));
    const QCommandLineOption paceOption(QStringLiteral("pace"),
                                        QStringLiteral("Bytes take their real time on the line, both ways."));
    const QCommandLineOption stateOption(QStringLiteral("state"),
                                         QStringLiteral("Write the state as JSON here after every frame and at "
                                                        "the end."),
                                         QStringLiteral("file"));
    const QCommandLineOption sampleOption(QStringLiteral("write-sample-image"),
                                          QStringLiteral("Write a small HEX image that the built-in line's "
                                                         "controllers take, then quit without starting a line."),
                                          QStringLiteral("file"));
    parser.addOptions({configOption, linkOption, echoOption, paceOption, stateOption, sampleOption});
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

    if (parser.isSet(sampleOption)) {
        const QString path = parser.value(sampleOption);
        QSaveFile file(path);
        const QByteArray image = sampleImage();
        if (!file.open(QIODevice::WriteOnly) || file.write(image) != image.size() || !file.commit())
            return fail(QStringLiteral("--write-sample-image %1: cannot be written (%2); choose a file in a "
                                       "writable folder")
                            .arg(path, file.errorString()));
        return 0;
    }

    LineConfig config;
    try {
        config = parser.isSet(configOption) ? readLineConfig(parser.value(configOption)) : defaultLine();
    } catch (const ConfigError &e) {
        return fail(e.message(), kBadUse);
    }

    LineOptions options;
    options.echo = parser.isSet(echoOption);
    options.pace = parser.isSet(paceOption);
    options.stateFile = parser.value(stateOption);
    if (!options.stateFile.isEmpty()) {
        // Said now rather than after every frame.
        const QFileInfo state(options.stateFile);
        if (state.isDir() || !QFileInfo(state.absolutePath()).isWritable())
            return fail(QStringLiteral("--state %1: cannot be written there; choose a file in a writable folder")
                            .arg(options.stateFile),
                        kBadUse);
    }

    std::unique_ptr<Line> line;
    try {
        line = std::make_unique<Line>(config, options);
    } catch (const std::exception &e) {
        return fail(QString::fromLocal8Bit(e.what()));
    }
    const QString link = parser.value(linkOption);
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
