// How far the progress window's "about m:ss left" is from the time the run
// really still took, on the paced simulated line with the tool's timings.
// The estimate is sampled while the run goes (at most every 0.2 s, whenever
// the tool lets events run); afterwards each sample is set against the true
// time left. Printed beside it, for comparison: the old reckoning from the
// share done and the time spent (elapsed x (100 - percent) / percent).
//   bench_timeleft [fast|written|both] [part of a run's name]
#include "cputime.h"
#include "support/hexbuilder.h"
#include "support/linebench.h"

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

void run(const char *name, bool fast, int speed, int controllers, Session::Operation op, int kib, int delayMs)
{
    sim::LineConfig line;
    for (int n = 0; n < controllers; ++n) {
        sim::ControllerConfig c = controller(n, speed);
        c.bootSpeed = speed;
        line.controllers.push_back(c);
    }
    sim::LineOptions options;
    options.pace = true;
    LineBench b(line, options);
    b.clock.skipSilence = false; // real time: the time left is what is measured
    writeFile(b.home.filePath("Boot.ini"), QByteArray::number(speed) + "\r\n");
    b.m().BootSettings = QString::number(speed) + ",N,8,2";
    b.ctx().timings = Timings{};
    b.m().FastAnswers.setValue(fast ? 1 : 0);
    b.m().Text1.setText("1000");
    b.m().Text2.setText(QString::number(delayMs));
    b.m().Vitesse.setText(QString::number(speed));
    b.useImage(patternedImage(kib));
    QList<int> all;
    for (int n = 0; n < controllers; ++n)
        all << n;
    b.select(all);

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
    b.ctx().message.Label1.onChange(look);
    t.start();
    b.session->run(op);
    const double total = t.elapsed() / 1000.0;

    int ok = 0;
    for (int n : all)
        ok += b.ctx().info.ckSumView(n).text == b.m().FileCheksum.text() ? 1 : 0;
    // The floor of the run: the bytes that crossed, both ways, and for a
    // broadcast the waiting delay after each batch.
    double lineTime = 0;
    for (const sim::TrafficEntry &e : b.line->traffic()) {
        if (e.signal.baud > 0)
            lineTime += lineSeconds(e.bytes.size(), LineSettings{e.signal.baud, 'N', 8, e.signal.stopBits});
    }
    const double floor = lineTime + (op == Session::Operation::DownloadParallel ? b.ctx().imageBatches * delayMs / 1000.0 : 0.0);
    // From 20 % of the run on, while a second or more remains: the largest
    // error, and the estimate at each fifth of the run. In the last second a
    // relative error says little: its largest error in seconds is shown.
    double worst = 0, worstAt = 0, oldWorst = 0, lastSecond = 0;
    int counted = 0;
    QString marks;
    int nextMark = 20;
    for (const Sample &s : samples) {
        const double truth = total - s.at;
        if (s.at < 0.2 * total || truth <= 0)
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
    std::printf("%-46s %-7s run %6.1f s  line %6.1f s  line+delays %6.1f s  verified %d/%d  samples %d  worst %+5.1f %% "
                "(at %4.1f s, %2.0f %% of the run)  last second off by %.2f s  old reckoning worst %+6.1f %%\n   %s\n",
                name, fast ? "fast" : "written", total, lineTime, floor, ok, controllers, counted, 100 * worst, worstAt,
                100 * worstAt / total, lastSecond, 100 * oldWorst, qPrintable(marks));
    std::fflush(stdout);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    std::printf("paced line; settle 0.5 s, time-out 1000 ms; estimate against the true time left, from 20 %% of each run on\n");
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
