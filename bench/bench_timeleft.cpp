// How far the progress window's "about m:ss left" is from the time the run
// really still took, on the paced simulated line with the tool's timings.
// The estimate is sampled while the run goes (at most every 0.2 s, whenever
// the tool lets events run); afterwards each sample is set against the true
// time left. Printed beside it, for comparison: the old reckoning from the
// share done and the time spent (elapsed x (100 - percent) / percent).
// The README's demo line is run twice in one session: first with no speed
// learnt, then with the speeds the first run learnt; also with a ticked
// controller that never answers.
//   bench_timeleft [fast|written|both] [part of a run's name]
#include "cputime.h"
#include "support/hexbuilder.h"
#include "support/linebench.h"
#include "sim/lineconfig.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <cmath>
#include <cstdio>

using namespace vantorel;

namespace {

struct Sample {
    double at;       // seconds since the start
    double estimate; // the window's time left
    double old;      // the old reckoning; negative while it had none
};

// Runs the operation on the bench and prints how far its time left was from the truth.
void measure(const QString &name, bool fast, LineBench &b, Session::Operation op, int delayMs)
{
    QElapsedTimer t;
    QList<Sample> samples;
    const MessageState &message = b.ctx().message;
    auto look = [&] {
        const double at = t.elapsed() / 1000.0;
        const std::optional<double> left = message.secondsLeft();
        if (!left || (!samples.isEmpty() && at - samples.last().at < 0.2))
            return;
        const int percent = message.percent();
        samples << Sample{at, *left, percent > 0 ? at * (100 - percent) / percent : -1.0};
    };
    b.desk.onProcessEvents = look;
    const int key = b.ctx().message.Label1.onUpdate(look);
    const std::size_t trafficBefore = b.line->traffic().size();
    t.start();
    b.session->run(op);
    const double total = t.elapsed() / 1000.0;
    b.ctx().message.Label1.removeView(key);
    b.desk.onProcessEvents = nullptr;

    const QList<int> all = b.m().selectedControllers();
    int ok = 0;
    for (int n : all)
        ok += b.ctx().info.ckSumView(n).text == b.m().FileCheksum.text() ? 1 : 0;
    // The floor of the run: the bytes that crossed, both ways, and for a
    // broadcast the waiting delay after each batch.
    double lineTime = 0;
    const std::vector<sim::TrafficEntry> traffic = b.line->traffic();
    for (std::size_t k = trafficBefore; k < traffic.size(); ++k) {
        const sim::TrafficEntry &e = traffic[k];
        if (e.signal.baud > 0)
            lineTime += lineSeconds(e.bytes.size(), LineSettings{e.signal.baud, 'N', 8, e.signal.stopBits});
    }
    const double floor = lineTime + (op == Session::Operation::DownloadParallel ? b.ctx().imageBatches * delayMs / 1000.0 : 0.0);
    // From 10 % of the run on, while a second or more remains: the largest
    // error, and the estimate at each fifth of the run. In the last second a
    // relative error says little: its largest error in seconds is shown.
    double worst = 0, worstAt = 0, oldWorst = 0, lastSecond = 0;
    int counted = 0;
    QString marks;
    int nextMark = 20;
    for (const Sample &s : samples) {
        const double truth = total - s.at;
        if (s.at < 0.1 * total || truth <= 0)
            continue;
        if (truth < 1.0) {
            lastSecond = qMax(lastSecond, std::abs(s.estimate - truth));
            continue;
        }
        ++counted;
        const double error = (s.estimate - truth) / truth;
        if (std::abs(error) > std::abs(worst)) {
            worst = error;
            worstAt = s.at;
        }
        if (s.old >= 0 && std::abs((s.old - truth) / truth) > std::abs(oldWorst))
            oldWorst = (s.old - truth) / truth;
        if (100 * s.at / total >= nextMark) {
            marks += QStringLiteral("  %1%: %2 s for %3 s").arg(nextMark).arg(s.estimate, 0, 'f', 1).arg(truth, 0, 'f', 1);
            nextMark += 20;
        }
    }
    std::printf("%-46s %-7s run %6.1f s  line %6.1f s  line+delays %6.1f s  verified %d/%d  samples %d  worst %+6.1f %% "
                "(at %4.1f s, %2.0f %% of the run)  last second off by %.2f s  old reckoning worst %+6.1f %%\n   %s\n",
                qPrintable(name), fast ? "fast" : "written", total, lineTime, floor, ok, int(all.size()), counted, 100 * worst, worstAt,
                100 * worstAt / total, lastSecond, 100 * oldWorst, qPrintable(marks));
    std::fflush(stdout);
}

void run(const char *name, bool fast, int speed, int controllers, Session::Operation op, int kib, int delayMs)
{
    sim::LineOptions options;
    options.pace = true;
    LineBench b(lineAtOneSpeed(controllers, speed), options);
    programAtSpeed(b, speed); // real time: the time left is what is measured
    b.m().FastAnswers.setValue(fast ? 1 : 0);
    b.m().Text1.setText("1000");
    b.m().Text2.setText(QString::number(delayMs));
    b.m().Vitesse.setText(QString::number(speed));
    b.useImage(patternedImage(kib));
    QList<int> all;
    for (int n = 0; n < controllers; ++n)
        all << n;
    b.select(all);
    measure(name, fast, b, op, delayMs);
}


// The README's demo: controllers 0 at 9600, 3 at 19200, 5 at 38400 and 7 at
// 4800 with the simulator's sample image, Speed 9600 and the window's timings
// (Time Out 300 ms, settle 0.5 s, failure hold 2 s), or the command line's
// (--timeout 200 --hold-ms 0 --fast). 'missing' is ticked too and never
// answers. Two runs in one session: the second knows the speeds the first learnt.
void demo(const char *name, bool fast, Session::Operation op, int missing)
{
    sim::LineOptions options;
    options.pace = true;
    LineBench b(sim::defaultLine(), options);
    b.clock.skipSilence = false;
    b.ctx().timings = Timings{};
    if (fast)
        b.ctx().timings.failureHold = 0;
    b.m().FastAnswers.setValue(fast ? 1 : 0);
    b.m().Text1.setText(fast ? "200" : "300");
    b.m().Text2.setText("100");
    b.m().Vitesse.setText("9600");
    b.useImage(sim::sampleImage());
    QList<int> ticked{0, 3, 5, 7};
    if (missing >= 0)
        ticked << missing;
    b.select(ticked);
    for (const char *round : {"first run", "speeds learnt"}) {
        b.m().Vitesse.setText("9600"); // as the demo starts
        measure(QStringLiteral("%1, %2").arg(name, round), fast, b, op, 100);
    }
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    std::printf("paced line; settle 0.5 s; time-out 1000 ms (the demo line: 300 ms, or 200 ms with fast answers); estimate against the true time left, from 10 %% of each run on\n");
    const QByteArray only = argc > 2 ? QByteArray(argv[2]) : QByteArray();
    struct Case {
        const char *name;
        int speed;
        int controllers;
        Session::Operation op;
        int kib;
        int delayMs;
        bool written; // also run in the written mode (long for a full image)
    };
    // A batch of 138 bytes takes 39.5 ms at 38400: a delay of 50 ms lets the line keep up.
    const Case cases[] = {
        {"serial, 2 controllers, 38400, 56 KiB", 38400, 2, Session::Operation::DownloadSerial, 56, 10, false},
        {"serial, 2 controllers, 38400, 8 KiB", 38400, 2, Session::Operation::DownloadSerial, 8, 10, true},
        {"parallel, 8 controllers, 38400, 56 KiB, 50 ms", 38400, 8, Session::Operation::DownloadParallel, 56, 50, true},
        {"parallel, 8 controllers, 38400, 56 KiB, 10 ms", 38400, 8, Session::Operation::DownloadParallel, 56, 10, true},
    };
    struct Demo {
        const char *name;
        Session::Operation op;
        int missing;
    };
    const Demo demos[] = {
        {"demo line, serial", Session::Operation::DownloadSerial, -1},
        {"demo line + 9 missing, serial", Session::Operation::DownloadSerial, 9},
        {"demo line + 4 missing, parallel", Session::Operation::DownloadParallel, 4},
    };
    for (const Demo &d : demos) {
        if (!QByteArray(d.name).contains(only))
            continue;
        for (const bool fast : {true, false}) {
            if (wanted(argc, argv, fast))
                demo(d.name, fast, d.op, d.missing);
        }
    }
    for (const Case &c : cases) {
        if (!QByteArray(c.name).contains(only))
            continue;
        for (const bool fast : {true, false}) {
            if (wanted(argc, argv, fast) && (fast || c.written))
                run(c.name, fast, c.speed, c.controllers, c.op, c.kib, c.delayMs);
        }
    }
    return 0;
}
