// Full-size downloads on the paced simulated line with the tool's default
// timings, in the written mode and with fast answers: wall time against the
// pure line time of the bytes that crossed, and the processor time spent.
// Measured, not tuned.
//   bench_downloads [fast|written|both] [part of a run's name]
#include "cputime.h"
#include "support/hexbuilder.h"
#include "support/linebench.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <cstdio>

using namespace vantorel;

namespace {

struct Figures {
    double wall = 0;
    qint64 bytes = 0;
    double lineTime = 0;
};

Figures run(const char *name, bool fast, int speed, int controllers, Session::Operation op, int delayMs)
{
    sim::LineOptions options;
    options.pace = true;
    LineBench b(lineAtOneSpeed(controllers, speed), options);
    programAtSpeed(b, speed); // real time: the waits are part of what is measured
    b.m().FastAnswers.setValue(fast ? 1 : 0);
    b.m().Text1.setText("1000");
    b.m().Text2.setText(QString::number(delayMs));
    b.m().Vitesse.setText(QString::number(speed));
    b.useImage(patternedImage(56));
    QList<int> all;
    for (int n = 0; n < controllers; ++n)
        all << n;
    b.select(all);

    QElapsedTimer t;
    const CpuTime cpu0 = CpuTime::now();
    t.start();
    b.session->run(op);
    Figures f;
    f.wall = t.elapsed() / 1000.0;
    const CpuTime cpu = CpuTime::now() - cpu0;
    for (const sim::TrafficEntry &e : b.line->traffic()) {
        f.bytes += e.bytes.size();
        if (e.signal.baud > 0)
            f.lineTime += lineSeconds(e.bytes.size(), LineSettings{e.signal.baud, 'N', 8, e.signal.stopBits});
    }
    int ok = 0;
    for (int n : all)
        ok += b.ctx().info.ckSumView(n).text == b.m().FileCheksum.text() ? 1 : 0;
    std::printf("%-38s %-7s wall %7.1f s  bytes %7lld  line %6.1f s  wall/line %6.2f  cpu tool %5.2f s (%4.1f %%)"
                "  cpu all %5.2f s  verified %d/%d  batches %d\n",
                name, fast ? "fast" : "written", f.wall, static_cast<long long>(f.bytes), f.lineTime,
                f.lineTime > 0 ? f.wall / f.lineTime : 0.0, cpu.tool, 100.0 * cpu.tool / f.wall, cpu.process, ok,
                controllers, b.ctx().imageBatches);
    std::fflush(stdout);
    return f;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    std::printf("full-size image, 16-byte records; paced line; settle 0.5 s, time-out 1000 ms; "
                "cpu tool: the tool's thread, cpu all: with the simulated line\n");
    const QByteArray only = argc > 2 ? QByteArray(argv[2]) : QByteArray();
    struct Case {
        const char *name;
        int speed;
        int controllers;
        Session::Operation op;
    };
    const Case cases[] = {
        {"serial, 1 controller, 9600", 9600, 1, Session::Operation::DownloadSerial},
        {"serial, 1 controller, 38400", 38400, 1, Session::Operation::DownloadSerial},
        {"parallel, 8 controllers, 38400, 10 ms", 38400, 8, Session::Operation::DownloadParallel},
    };
    for (const Case &c : cases) {
        if (!QByteArray(c.name).contains(only))
            continue;
        for (const bool fast : {true, false}) {
            if (wanted(argc, argv, fast))
                run(c.name, fast, c.speed, c.controllers, c.op, 10);
        }
    }
    return 0;
}
