// Prints the simulated line's figures: answer latency, idle CPU, pacing.
// Not a test: run it by hand, on a quiet machine for figures worth quoting.

#include "link/checkcode.h"
#include "platform/qtserialport.h"
#include "sim/line.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <sys/resource.h>
#include <vector>

using namespace vantorel;
using namespace vantorel::sim;

namespace {

double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
        + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double percentile(std::vector<double> v, double p)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[std::min(v.size() - 1, std::size_t(p * double(v.size())))];
}

std::unique_ptr<Line> oneController(const LineOptions &options)
{
    LineConfig config;
    ControllerConfig c;
    c.number = 1;
    c.protocolChar = 0x04;
    config.controllers.push_back(c);
    return std::make_unique<Line>(config, options);
}

void latency()
{
    const auto line = oneController({});
    QtSerialPort port;
    port.selectPort(line->slavePath());
    port.setSettings(QStringLiteral("9600,N,8,2"));
    port.open();
    const QByteArray frame = sealFrame(QByteArray("\x04\x01\x01s", 4), CheckKind::Crc);
    constexpr int kRounds = 1000;
    std::vector<double> roundTrip;
    for (int i = 0; i < kRounds; ++i) {
        QElapsedTimer t;
        t.start();
        port.write(frame);
        QByteArray answer;
        // Spins on purpose: any pause would be measured as latency.
        while (answer.size() < 13 && t.elapsed() < 5000)
            answer += port.readAllWaiting();
        roundTrip.push_back(double(t.nsecsElapsed()) / 1e6);
    }
    // The line's own view: from taking the frame in to writing the answer.
    std::vector<double> inside;
    double in = 0;
    for (const TrafficEntry &e : line->traffic()) {
        if (e.fromTool)
            in = e.timeMs;
        else
            inside.push_back(e.timeMs - in);
    }
    std::printf("answer latency, %d flash checks, pacing off:\n", kRounds);
    std::printf("  inside the line (frame read -> answer written): median %.3f ms, 99%% %.3f ms, max %.3f ms\n",
                percentile(inside, 0.5), percentile(inside, 0.99), percentile(inside, 1.0));
    std::printf("  tool's round trip (write -> 13 bytes read):     median %.3f ms, 99%% %.3f ms, max %.3f ms\n",
                percentile(roundTrip, 0.5), percentile(roundTrip, 0.99), percentile(roundTrip, 1.0));
}

void idleCpu()
{
    const auto line = oneController({});
    constexpr int kSeconds = 5;
    const double before = cpuSeconds();
    line->waitUntil([](const LineSnapshot &) { return false; }, kSeconds * 1000);
    const double used = cpuSeconds() - before;
    std::printf("idle line: %.2f ms CPU in %d s (%.4f%%)\n", used * 1000, kSeconds, used / kSeconds * 100);
}

void pacing()
{
    std::printf("pacing, echo of about 1 s of bytes (11 bits a byte):\n");
    for (const int baud : {4800, 9600, 19200, 38400, 115200}) {
        LineOptions options;
        options.echo = true;
        options.pace = true;
        const auto line = oneController(options);
        QtSerialPort port;
        port.selectPort(line->slavePath());
        port.setSettings(QStringLiteral("%1,N,8,2").arg(baud));
        port.open();
        const int count = std::min(baud / 11, 4000); // the pty holds 4 KB
        const QByteArray noise(count, char(0x55));
        const double expected = count * 11.0 / baud;
        QElapsedTimer t;
        t.start();
        port.write(noise);
        QByteArray echo;
        while (echo.size() < count && t.elapsed() < 10000) {
            echo += port.readAllWaiting();
            QThread::usleep(200);
        }
        const double took = double(t.nsecsElapsed()) / 1e9;
        std::printf("  %6d baud: %5d bytes in %.4f s, expected %.4f s, %+.2f%%\n", baud, int(echo.size()), took,
                    expected, (took - expected) / expected * 100);
    }
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    latency();
    idleCpu();
    pacing();
    return 0;
}
