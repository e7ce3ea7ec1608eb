// Times the automatic detection over an empty line and a flash information
// query of the built-in line on the paced simulated line with the tool's
// default timings, in the written mode and with fast answers, against the
// cost the exchange rules predict.
//   bench_queries [fast|written|both]
#include "cputime.h"
#include "support/linebench.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <cstdio>

using namespace vantorel;

namespace {
struct Count {
    int silentTries = 0;
    int answeredTries = 0;
    int failedExchanges = 0;
};

// Tries from the log: each exchange writes one "Recu en String" per answered
// try and one verdict line; a "No Answer" verdict after answered tries is rare
// enough here to ignore.
Count countTries(const QStringList &log)
{
    Count c;
    for (const QString &l : log) {
        if (l.startsWith("Recu en String : "))
            ++c.answeredTries;
        else if (l == "No Answer") {
            c.silentTries += 3;
            ++c.failedExchanges;
        }
    }
    return c;
}

double lineTime(const sim::Line &line)
{
    double t = 0;
    for (const sim::TrafficEntry &e : line.traffic())
        t += e.signal.baud > 0 ? lineSeconds(e.bytes.size(), LineSettings{e.signal.baud, 'N', 8, e.signal.stopBits}) : 0.0;
    return t;
}

// A silent try costs the time-out, plus the settle wait in the written mode;
// an answered try the settle wait in the written mode, next to nothing with
// fast answers. 'holds': failed exchanges the operation reports (the
// detection reports none).
void run(const char *what, LineBench &b, Session::Operation op, double timeOut, bool holds)
{
    const bool fast = b.m().FastAnswers.ticked();
    const int before = int(b.log().size());
    QElapsedTimer t;
    const CpuTime cpu0 = CpuTime::now();
    t.start();
    b.session->run(op);
    const double seconds = t.elapsed() / 1000.0;
    const CpuTime cpu = CpuTime::now() - cpu0;
    const Count c = countTries(b.log().mid(before));
    const double settle = fast ? 0.0 : b.ctx().timings.settleDelay;
    const double predicted = c.silentTries * (timeOut + settle) + c.answeredTries * settle
        + (holds ? c.failedExchanges * failureHoldSeconds(b.ctx()) : 0.0);
    std::printf("%-36s %-7s wall %7.2f s  tries %4d (silent %4d)  predicted %7.2f s  line %5.2f s"
                "  cpu tool %5.2f s (%4.1f %%)  cpu all %5.2f s\n",
                what, fast ? "fast" : "written", seconds, c.silentTries + c.answeredTries, c.silentTries, predicted,
                lineTime(*b.line), cpu.tool, 100.0 * cpu.tool / seconds, cpu.process);
    std::fflush(stdout);
}
} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    sim::LineOptions options;
    options.pace = true;
    std::printf("paced line, settle 0.5 s, failure hold 2 s (0.2 s with fast answers); "
                "cpu tool: the tool's thread, cpu all: with the simulated line\n");
    for (const bool fast : {true, false}) {
        if (!wanted(argc, argv, fast))
            continue;
        {
            LineBench b(sim::LineConfig{}, options);
            b.ctx().timings = Timings{};
            b.m().FastAnswers.setValue(fast ? 1 : 0);
            run("Auto, 32 absent controllers (50 ms)", b, Session::Operation::Auto,
                b.ctx().timings.detectionTimeOutMs / 1000.0, false);
        }
        {
            LineBench b(sim::defaultLine(), options);
            b.ctx().timings = Timings{};
            b.m().FastAnswers.setValue(fast ? 1 : 0);
            b.m().Text1.setText("1000");
            b.select({0, 3, 5, 7});
            b.m().Vitesse.setText("9600");
            run("Flash Info, built-in line from 9600", b, Session::Operation::FlashInfo, 1.0, true);
        }
    }
    return 0;
}
