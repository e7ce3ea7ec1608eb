// vantorel-linesim: lines of simulated controllers, each on a pseudo-terminal of its own.
// The first line on stdout is the device path for the tool to open; with several
// lines, one path a line in the order the lines were given.

#include "sim/line.h"
#include "sim/lineconfig.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSaveFile>
#include <QStringList>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <pthread.h>
#include <unistd.h>
#include <vector>

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
                                    QStringLiteral("Line description (JSON); without it, the built-in line. "
                                                   "Given several times, one line for each."),
                                    QStringLiteral("file")};
    const QCommandLineOption link{QStringLiteral("link"),
                                  QStringLiteral("Also make a symbolic link to the device at this path. Once "
                                                 "for each line, in their order; without --config, each "
                                                 "--link gets a built-in line."),
                                  QStringLiteral("path")};
    const QCommandLineOption echo{QStringLiteral("echo"), QStringLiteral("Every byte the tool sends comes back first.")};
    const QCommandLineOption pace{QStringLiteral("pace"),
                                  QStringLiteral("Bytes take their real time on the line, both ways.")};
    const QCommandLineOption state{QStringLiteral("state"),
                                   QStringLiteral("Write the state as JSON here after every frame and at "
                                                  "the end. Once for each line, in their order."),
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
        "Lines of simulated controllers, each on a pseudo-terminal of its own. Prints the device path to "
        "open as its first line (with several lines, one path for each, in their order), runs until SIGINT "
        "or SIGTERM, then writes the final state as JSON (to --state FILE, else to stdout)."));
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

// One serial line of the process, as the options describe it.
struct LineSetup {
    LineConfig config;
    LineOptions options;
    QString link; // empty: none
};

QString times(qsizetype n)
{
    return n == 1 ? QStringLiteral("once") : n == 2 ? QStringLiteral("twice") : QStringLiteral("%1 times").arg(n);
}

QString lineCount(qsizetype n)
{
    return n == 1 ? QStringLiteral("1 line") : QStringLiteral("%1 lines").arg(n);
}

// The k-th --link or --state belongs to the k-th line, so a count that does
// not match would silently give a line another's link or state file.
std::optional<int> onePerLine(const QString &option, const QStringList &values, qsizetype count)
{
    if (!values.isEmpty() && values.size() != count)
        return fail(QStringLiteral("--%1 is given %2 for %3; give it once for each line, in the order of the "
                                   "lines, or leave it out")
                        .arg(option, times(values.size()), lineCount(count)),
                    kBadUse);
    // Two lines on one link or one state file would overwrite each other. An
    // empty value leaves its line without one.
    for (qsizetype i = 0; i < values.size(); ++i)
        for (qsizetype j = 0; j < i; ++j)
            if (!values[i].isEmpty() && QDir::cleanPath(QFileInfo(values[i]).absoluteFilePath()) ==
                QDir::cleanPath(QFileInfo(values[j]).absoluteFilePath()))
                return fail(QStringLiteral("--%1 %2 is given for line %3 and line %4; give each line its own")
                                .arg(option, values[i])
                                .arg(j + 1)
                                .arg(i + 1),
                            kBadUse);
    return std::nullopt;
}

// The lines described by the options; an exit status when they cannot be used.
// Nothing starts until every line's description has been read, so a mistake
// in one is put right before any tool is pointed at the others.
std::optional<int> readLines(const QCommandLineParser &parser, const Options &o, std::vector<LineSetup> &setups)
{
    const QStringList configs = parser.values(o.config);
    const QStringList links = parser.values(o.link);
    const QStringList states = parser.values(o.state);
    const qsizetype count = configs.isEmpty() ? std::max<qsizetype>(1, links.size()) : configs.size();
    if (const std::optional<int> exit = onePerLine(QStringLiteral("link"), links, count))
        return exit;
    if (const std::optional<int> exit = onePerLine(QStringLiteral("state"), states, count))
        return exit;

    for (qsizetype i = 0; i < count; ++i) {
        LineSetup setup;
        try {
            setup.config = configs.isEmpty() ? defaultLine() : readLineConfig(configs[i]);
        } catch (const ConfigError &e) {
            return fail(e.message(), kBadUse);
        }
        setup.options.echo = parser.isSet(o.echo) || setup.config.echo;
        setup.options.pace = parser.isSet(o.pace) || setup.config.pace;
        setup.options.stateFile = states.value(i);
        setup.link = links.value(i);
        if (!setup.options.stateFile.isEmpty()) {
            // Said now rather than after every frame.
            const QFileInfo state(setup.options.stateFile);
            if (state.isDir() || !QFileInfo(state.absolutePath()).isWritable())
                return fail(QStringLiteral("--state %1: cannot be written there; choose a file in a writable folder")
                                .arg(setup.options.stateFile),
                            kBadUse);
        }
        setups.push_back(std::move(setup));
    }
    return std::nullopt;
}

// Opens every line, says where each is, and runs them until a stop signal;
// then the final states.
//
// Each Line serves its pseudo-terminal on a thread of its own, waking at the
// due time of its own next byte. A line busy with a flood of bytes, a slow
// state file or a tool that does not read therefore never delays another's
// paced answers, and the process runs exactly the code the tests run in-process.
int runLines(const std::vector<LineSetup> &setups, const sigset_t &stopSignals)
{
    const bool several = setups.size() > 1;
    const auto named = [several](std::size_t i, const QString &message) {
        return several ? QStringLiteral("line %1: %2").arg(i + 1).arg(message) : message;
    };
    // A line that cannot start is left out and said so; the others serve on.
    std::vector<std::unique_ptr<Line>> running(setups.size());
    int failure = 0;
    for (std::size_t i = 0; i < setups.size(); ++i) {
        try {
            running[i] = std::make_unique<Line>(setups[i].config, setups[i].options);
        } catch (const std::exception &e) {
            failure = std::max(failure, fail(named(i, QString::fromLocal8Bit(e.what()))));
            continue;
        }
        if (setups[i].link.isEmpty())
            continue;
        const QString error = makeLink(setups[i].link, running[i]->slavePath());
        if (!error.isEmpty()) {
            // Not served without it: the tool was told to look there.
            failure = std::max(failure, fail(named(i, error), kBadUse));
            running[i].reset();
        }
    }
    if (std::none_of(running.begin(), running.end(), [](const auto &line) { return line != nullptr; }))
        return failure;

    // A line that did not start keeps its place as an empty line, so the k-th
    // path is always the k-th line's.
    for (const std::unique_ptr<Line> &line : running)
        std::printf("%s\n", line ? qPrintable(line->slavePath()) : "");
    std::fflush(stdout);
    for (std::size_t i = 0; i < setups.size(); ++i) {
        if (!running[i])
            continue;
        const LineSetup &s = setups[i];
        QString where;
        if (several)
            where = s.link.isEmpty() ? QStringLiteral("line %1 on %2: ").arg(i + 1).arg(running[i]->slavePath())
                                     : QStringLiteral("line %1 on %2 (%3): ")
                                           .arg(i + 1)
                                           .arg(s.link, running[i]->slavePath());
        std::fprintf(stderr, "vantorel-linesim: %s%s%s%s; stop with Ctrl+C\n", qPrintable(where),
                     qPrintable(describe(s.config)), s.options.echo ? ", echo" : "", s.options.pace ? ", paced" : "");
    }

    int signal = 0;
    sigwait(&stopSignals, &signal);

    for (std::size_t i = 0; i < setups.size(); ++i) {
        if (!running[i])
            continue;
        running[i]->stop(); // writes the final state file
        if (!setups[i].link.isEmpty())
            removeLink(setups[i].link, running[i]->slavePath());
    }
    // The lines without a state file of their own; with several, every line
    // keeps its place in the list.
    const auto toStdout = [&](std::size_t i) { return running[i] && setups[i].options.stateFile.isEmpty(); };
    bool any = false;
    QJsonArray states;
    for (std::size_t i = 0; i < setups.size(); ++i) {
        any = any || toStdout(i);
        states.append(toStdout(i) ? QJsonValue(running[i]->toJson()) : QJsonValue(QJsonValue::Null));
    }
    if (any) {
        const QByteArray json = several ? QJsonDocument(states).toJson(QJsonDocument::Indented)
                                        : QJsonDocument(states.first().toObject()).toJson(QJsonDocument::Indented);
        std::fwrite(json.constData(), 1, size_t(json.size()), stdout);
        std::fflush(stdout);
    }
    // The others served, but the run was not what was asked for.
    return failure == 0 ? 0 : 1;
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
    std::vector<LineSetup> lines;
    if (const std::optional<int> exit = readLines(parser, options, lines))
        return *exit;
    return runLines(lines, stopSignals);
}
