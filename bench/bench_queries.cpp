// Times the automatic detection and a flash information query on the
// simulated line with the tool's default timings, against the cost the
// exchange rules predict: a try that hears nothing costs the time-out plus the
// settle wait; a try that is answered costs the answer's arrival plus the
// settle wait.
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

// 'hold': the failure message's pause, paid once per failed exchange by the
// operations that report failures (not by the detection).
void report(const char *what, double seconds, const Count &c, double timeOut, double settle, double hold)
{
    const double predicted = c.silentTries * (timeOut + settle) + c.answeredTries * settle + c.failedExchanges * hold;
    const int tries = c.silentTries + c.answeredTries;
    std::printf("%-34s %8.2f s  tries %4d (silent %4d)  per try %6.3f s  predicted %8.2f s  ratio %.3f\n", what,
                seconds, tries, c.silentTries, tries ? seconds / tries : 0.0, predicted,
                predicted > 0 ? seconds / predicted : 0.0);
}
} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    sim::LineOptions options;
    options.pace = true;
    LineBench b(sim::defaultLine(), options);
    // The tool's own timings, not the shortened ones of the tests.
    b.ctx().timings = Timings{};
    b.m().Text1.setText("1000");
    const double settle = b.ctx().timings.settleDelay;
    std::printf("default line (controllers 0 @9600, 3 @19200, 5 @38400, 7 @4800), paced, settle %.1f s\n", settle);

    // Automatic detection over controllers 0 to 7: four answer, four are silent.
    b.desk.onProcessEvents = [&] {
        if (b.m().ControllerIndex >= 8 && !b.ctx().StopRequested)
            b.ctx().message.cancel();
    };
    QElapsedTimer t;
    t.start();
    b.session->run(Session::Operation::Auto);
    const double autoSeconds = t.elapsed() / 1000.0;
    const Count autoTries = countTries(b.log());
    report("Auto, controllers 0-7 (50 ms)", autoSeconds, autoTries, 0.05, settle, 0.0);
    std::printf("  silent controller: %.2f s each by the rules (4 speeds x 3 tries x (0.05 + %.1f))\n",
                4 * 3 * (0.05 + settle), settle);

    b.desk.onProcessEvents = nullptr;
    const int before = int(b.log().size());
    b.select({0, 3, 5, 7});
    b.m().Vitesse.setText("9600");
    t.restart();
    b.session->run(Session::Operation::FlashInfo);
    const double infoSeconds = t.elapsed() / 1000.0;
    const Count infoTries = countTries(b.log().mid(before));
    report("Flash Info, 4 controllers (1000 ms)", infoSeconds, infoTries, 1.0, settle, b.ctx().timings.failureHold);
    std::printf("  (each failed exchange at a wrong speed also holds its failure message %.1f s)\n",
                b.ctx().timings.failureHold);
    return 0;
}
