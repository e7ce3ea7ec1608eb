// Flash Info of 32 controllers spread over the four speeds (controller n at
// 4800, 9600, 19200, 38400 for n % 4 = 0, 1, 2, 3), Time Out 100 ms, fast
// answers, on the paced simulated line: a first and a second run, with
// "Known speeds first" off and on. In-process (the session, as the window
// runs it) and as two runs of vantorel-cli (process start, Vantorel.ini read
// and written). Line time: every byte that crossed, both ways, 11 bits at its
// speed.
//   bench_knownspeeds [session|cli]
#include "support/linebench.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>

#include <cstdio>
#include <cstring>

using namespace vantorel;

namespace {

const int kSpeeds[] = {4800, 9600, 19200, 38400};

sim::LineConfig spreadLine()
{
    sim::LineConfig line;
    for (int n = 0; n < 32; ++n)
        line.controllers.push_back(controller(n, kSpeeds[n % 4]));
    return line;
}

double lineTime(const sim::Line &line, size_t from)
{
    const std::vector<sim::TrafficEntry> traffic = line.traffic();
    double t = 0;
    for (size_t i = from; i < traffic.size(); ++i)
        t += traffic[i].signal.baud > 0 ? lineSeconds(traffic[i].bytes.size(), LineSettings{traffic[i].signal.baud, 'N', 8, traffic[i].signal.stopBits}) : 0.0;
    return t;
}

void print(const char *how, bool on, int run, double wall, double line, int answered)
{
    std::printf("%-8s known speeds %-3s run %d  wall %6.2f s  line %5.3f s  wall/line %6.2f  answered %2d of 32\n", how,
                on ? "on" : "off", run, wall, line, wall / line, answered);
    std::fflush(stdout);
}

void inSession(bool on)
{
    sim::LineOptions options;
    options.pace = true;
    LineBench b(spreadLine(), options);
    b.clock.skipSilence = false; // real time: the silent tries are what is measured
    b.ctx().timings = Timings{};
    b.m().FastAnswers.setValue(1);
    b.m().KnownSpeedsFirst.setValue(on ? 1 : 0);
    b.m().Text1.setText("100");
    b.m().Vitesse.setText("9600");
    b.session->selectAll();
    for (int run = 1; run <= 2; ++run) {
        b.settle();
        const size_t from = b.line->traffic().size();
        QElapsedTimer t;
        t.start();
        b.session->run(Session::Operation::FlashInfo);
        const double wall = t.elapsed() / 1000.0;
        b.settle();
        int answered = 0;
        for (const ControllerOutcome &o : b.ctx().outcomes)
            answered += o.outcome == Outcome::Ok ? 1 : 0;
        print("session", on, run, wall, lineTime(*b.line, from), answered);
    }
}

// Each run a process of its own: the second learns the speeds from Vantorel.ini.
void throughCli(const QString &cli, bool on)
{
    sim::LineOptions options;
    options.pace = true;
    sim::Line line(spreadLine(), options);
    QTemporaryDir home;
    for (int run = 1; run <= 2; ++run) {
        const size_t from = line.traffic().size();
        QProcess p;
        p.setEnvironment(QProcess::systemEnvironment() << "VANTOREL_HOME=" + home.path());
        QElapsedTimer t;
        t.start();
        p.start(cli, {"--dir", home.path(), "--port", line.slavePath(), "--speed", "9600", "--timeout", "100", "--protocol",
                      "3", "--controllers", "all", "--fast", on ? "--known-speeds" : "--no-known-speeds", "--format",
                      "csv", "flash-info"});
        p.waitForFinished(600'000);
        const double wall = t.elapsed() / 1000.0;
        int answered = 0;
        for (const QByteArray &row : p.readAllStandardOutput().split('\n'))
            answered += row.trimmed().endsWith(",ok") ? 1 : 0;
        print("cli", on, run, wall, lineTime(line, from), answered);
    }
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const bool session = argc < 2 || std::strcmp(argv[1], "cli") != 0;
    const bool cli = argc < 2 || std::strcmp(argv[1], "session") != 0;
    const QString cliPath = QCoreApplication::applicationDirPath() + "/../src/vantorel-cli";
    std::printf("paced line, 32 controllers over 4800/9600/19200/38400, Time Out 100 ms, fast answers, from 9600\n");
    for (const bool on : {false, true}) {
        if (session)
            inSession(on);
        if (cli)
            throughCli(cliPath, on);
    }
    return 0;
}
