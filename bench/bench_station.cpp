// A station of four paced simulated lines, eight controllers each at 38400
// baud, downloading a 56 KiB image with fast answers: vantorel-cli on one
// line alone (--port), then on all four at once (--line four times), in the
// same run, parallel and serial. Prints the wall time of each, the four lines'
// against the one line's, the tool's processor time per line (every process
// of the run: the station and its workers) and the largest resident memory of
// one of its processes. The processor time of one run varies by a third from
// one run to the next on a shared machine, so each is run several times in
// turn and the medians are compared (three for parallel; serial spends ten
// times more and takes seven times longer, so once unless asked).
//   bench_station [parallel|serial] [runs]
#include "support/hexbuilder.h"
#include "support/linebench.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <sys/resource.h>

using namespace vantorel;

namespace {

constexpr int kLines = 4, kControllers = 8, kSpeed = 38400;

struct Figures {
    double wall = 0;
    double cpu = 0;    // of every process of the run
    long maxRssKiB = 0; // of the largest process (of all children so far)
    QString status;
    int ok = 0, selected = 0;
};

double childCpu()
{
    rusage u{};
    getrusage(RUSAGE_CHILDREN, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

Figures runCli(const QString &cli, const QString &home, const QStringList &args)
{
    QProcess p;
    p.setEnvironment(QProcess::systemEnvironment() << "VANTOREL_HOME=" + home);
    const double cpu0 = childCpu();
    QElapsedTimer t;
    t.start();
    p.start(cli, args);
    p.waitForFinished(3'600'000);
    Figures f;
    f.wall = t.elapsed() / 1000.0;
    f.cpu = childCpu() - cpu0;
    rusage u{};
    getrusage(RUSAGE_CHILDREN, &u);
    f.maxRssKiB = u.ru_maxrss;
    const QJsonObject report = QJsonDocument::fromJson(p.readAllStandardOutput()).object();
    f.status = report.value("status").toString();
    f.ok = report.value("summary")["ok"].toInt();
    f.selected = report.value("summary")["selected"].toInt();
    return f;
}

// The resident memory is the largest of every child so far: the first round's, taken in the order
// one line, one through the station, four lines, tells each of them.
Figures median(QList<Figures> runs)
{
    const long firstRss = runs.first().maxRssKiB;
    std::sort(runs.begin(), runs.end(), [](const Figures &a, const Figures &b) { return a.cpu < b.cpu; });
    Figures m = runs[runs.size() / 2];
    std::sort(runs.begin(), runs.end(), [](const Figures &a, const Figures &b) { return a.wall < b.wall; });
    m.wall = runs[runs.size() / 2].wall;
    m.maxRssKiB = firstRss;
    return m;
}

void bench(const QString &cli, const char *command, int runs)
{
    sim::LineOptions options;
    options.pace = true;
    std::vector<std::unique_ptr<sim::Line>> lines;
    for (int i = 0; i < kLines; ++i)
        lines.push_back(std::make_unique<sim::Line>(lineAtOneSpeed(kControllers, kSpeed), options));
    QTemporaryDir home;
    writeFile(home.filePath("Boot.ini"), QByteArray::number(kSpeed) + "\r\n");
    const QString image = home.filePath("image.hex");
    writeFile(image, patternedImage(56));
    const QStringList common = {"--dir", home.path(), "--speed", QString::number(kSpeed), "--timeout", "1000", "--delay", "10",
                                "--protocol", "3", "--fast", "--controllers", QString("0-%1").arg(kControllers - 1),
                                "--file", image, "--format", "json", command};

    QStringList station = common;
    for (const auto &line : lines)
        station << "--line" << line->slavePath();
    QList<Figures> ones, oneStations, alls;
    for (int run = 0; run < runs; ++run) {
        ones << runCli(cli, home.path(), common + QStringList{"--port", lines[0]->slavePath()});
        oneStations << runCli(cli, home.path(), common + QStringList{"--line", lines[1]->slavePath()});
        alls << runCli(cli, home.path(), station);
    }
    const Figures one = median(ones), oneStation = median(oneStations), all = median(alls);

    auto print = [](const char *what, const Figures &f) {
        std::printf("  %-22s wall %7.2f s  cpu %6.2f s  largest process %6.1f MiB  %s, %d of %d ok\n", what, f.wall, f.cpu,
                    f.maxRssKiB / 1024.0, qPrintable(f.status), f.ok, f.selected);
    };
    std::printf("%s, %d controllers a line at %d baud, 56 KiB, fast answers (median of %d runs):\n", command, kControllers,
                kSpeed, runs);
    print("one line (--port)", one);
    print("one line (--line)", oneStation);
    print("four lines (--line x4)", all);
    std::printf("  wall four/one %.3f (bound 1.15)  cpu per line %.2f s = %.3f x one line's (bound 1.2)\n\n",
                all.wall / one.wall, all.cpu / kLines, all.cpu / kLines / one.cpu);
    std::fflush(stdout);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QString cli = QCoreApplication::applicationDirPath() + "/../src/vantorel-cli";
    for (const char *command : {"download-parallel", "download-serial"}) {
        const bool parallel = std::strstr(command, "parallel");
        if (argc < 2 || std::strstr(command, argv[1]))
            bench(cli, command, argc > 2 ? std::max(1, std::atoi(argv[2])) : parallel ? 3 : 1);
    }
    return 0;
}
