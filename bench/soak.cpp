// Soak: many downloads into four controllers on a simulated line with its
// faults on (answers dropped and corrupted; now and then noise after one
// controller's answers, one that answers after the time-out, one missing
// from a parallel run, a pulled plug, erase answers lost, answers naming
// another controller, every answer garbled, or two boards on one number), a
// new random seed per run, serial and parallel, with and without fast answers. Each run starts the tool
// afresh on the line as the last run left it, so a controller left erased is
// met again. Prints what matters: controllers reported ok whose flash does
// not hold the image (must be 0), controllers erased and left without a try
// to program them (must be 0), ones the run erased or left in their boot
// program reported as anything but (maybe) erased or ok (must be 0),
// controllers left erased and recovered, hangs.
//
//   soak [runs] [seed]      (default 100 runs, seed from the clock)
#include "image/hexfile.h"
#include "platform/fault.h"
#include "support/hexbuilder.h"
#include "support/linebench.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <cstdio>
#include <random>

using namespace vantorel;

namespace {

constexpr int kSoakControllers = 4;
constexpr double kHangBound = 300.0; // seconds; a run this long counts as hung

QByteArray code(int seed)
{
    QByteArray c(4096, '\0');
    for (int i = 0; i < c.size(); ++i)
        c[i] = char((i * 29 + seed * 11 + i / 97) & 0xFF);
    return c;
}

QByteArray imageHex(int seed)
{
    return hexImage(0, code(seed), 16, "\r\n", false) + hexRecord(0x2020, QByteArray::fromHex("70000402")) + "\r\n"
        + hexEndRecord() + "\r\n";
}

QByteArray flashOf(int seed)
{
    QByteArray f(kFlashSize, char(0xFF));
    f.replace(0, 4096, code(seed));
    f.replace(0x2020, 4, QByteArray::fromHex("70000402"));
    return f;
}

// The row says programmed: the version, and the file's checksum unmarked.
bool rowSaysOk(const Context &ctx, int n)
{
    const ResultBox &ver = ctx.info.verView(n);
    const ResultBox &ck = ctx.info.ckSumView(n);
    return ver.text.count(QLatin1Char('/')) == 2 && !ver.marked() && !ck.marked()
        && ck.text == ctx.info.FileCheksum().rightJustified(4, QLatin1Char('0'));
}

// Whether the image was sent to controller n (to it or to all) after its last erase.
bool programmingTriedAfterErase(const LineBench &b, int n)
{
    bool tried = false;
    for (const QByteArray &f : b.framesSent()) {
        if (f.size() < 7 || (quint8(f[1]) != n && quint8(f[1]) != 0x5F))
            continue;
        if (f[3] == 't' && quint8(f[1]) == n)
            tried = false;
        else if (f.mid(3, 3) == QByteArray::fromHex("75AA55"))
            tried = true;
    }
    return tried;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int runs = argc > 1 ? std::atoi(argv[1]) : 100;
    const std::uint32_t seed = argc > 2 ? std::uint32_t(std::atoll(argv[2])) : std::random_device{}();
    std::mt19937 random(seed);

    // The line starts with every controller holding an older firmware.
    std::vector<sim::ControllerConfig> state;
    for (int n = 1; n <= kSoakControllers; ++n) {
        sim::ControllerConfig c = controller(n);
        c.flash = flashOf(99);
        state.push_back(c);
    }
    const QByteArray wanted = flashOf(1);
    int reportedOkTotal = 0, falseOk = 0, leftErased = 0, recovered = 0, hangs = 0, internalFaults = 0;
    int unplugs = 0, noisyRuns = 0, runsWithFaultBox = 0, lateRuns = 0, missingRuns = 0;
    int lostEraseRuns = 0, foreignRuns = 0, garbledRuns = 0, twinRuns = 0;
    int erasedUntried = 0, erasedHidden = 0, rowsDisagree = 0;
    std::vector<bool> erasedBefore(kSoakControllers, false);
    QElapsedTimer total;
    total.start();

    for (int run = 0; run < runs; ++run) {
        sim::LineConfig line;
        const bool unplugThisRun = random() % 8 == 0;
        const int unplugWho = int(random() % kSoakControllers);
        // Noise after every answer makes one controller unreachable for a
        // whole run: most often after its erase, which is what is to be seen.
        const bool noiseThisRun = random() % 4 == 0;
        const int noisy = int(random() % kSoakControllers);
        // Its answers come after the time-out: they reach the line while
        // the next try, or the next controller, is waiting.
        const bool lateThisRun = random() % 4 == 0;
        const int late = int(random() % kSoakControllers);
        const bool parallel = run % 2 == 1;
        const bool fast = run % 4 >= 2;
        const bool missingThisRun = parallel && random() % 4 == 0;
        const int missing = int(random() % kSoakControllers);
        // The erase is taken and its answer never comes; or every answer of one
        // controller names another one; or every answer of one is garbled; or a
        // second board answers to one's number.
        const bool lostEraseThisRun = random() % 4 == 0;
        const int lostErase = int(random() % kSoakControllers);
        const bool foreignThisRun = random() % 6 == 0;
        const int foreign = int(random() % kSoakControllers);
        const bool garbledThisRun = random() % 6 == 0;
        const int garbled = int(random() % kSoakControllers);
        const bool twinThisRun = random() % 6 == 0;
        const int twin = int(random() % kSoakControllers);
        for (int k = 0; k < kSoakControllers; ++k) {
            sim::ControllerConfig c = state[k];
            c.faults = {};
            c.faults.seed = random();
            c.faults.dropAnswers = 0.03;
            c.faults.corruptAnswers = 0.03;
            if (noiseThisRun && k == noisy)
                c.faults.noiseAfter = 1 + int(random() % 3);
            if (unplugThisRun && k == unplugWho)
                c.faults.unplugAfterFrames = int(random() % 60);
            c.answerDelayMs = lateThisRun && k == late ? 250 + int(random() % 200) : 0;
            c.faults.silent = missingThisRun && k == missing;
            if (lostEraseThisRun && k == lostErase)
                c.faults.dropEraseAnswers = 1 + int(random() % 3);
            if (foreignThisRun && k == foreign)
                c.faults.answerAs = 1 + (k + 1) % kSoakControllers; // the next one's number
            if (garbledThisRun && k == garbled)
                c.faults.corruptAnswers = 1.0;
            line.controllers.push_back(c);
        }
        // The twin comes after the tracked board, which the line reports.
        if (twinThisRun) {
            sim::ControllerConfig c = controller(twin + 1);
            c.flash = flashOf(99);
            c.faults.seed = random();
            line.controllers.push_back(c);
        }
        unplugs += unplugThisRun;
        noisyRuns += noiseThisRun;
        lateRuns += lateThisRun;
        missingRuns += missingThisRun;
        lostEraseRuns += lostEraseThisRun;
        foreignRuns += foreignThisRun;
        garbledRuns += garbledThisRun;
        twinRuns += twinThisRun;
        LineBench b(line);
        std::vector<QByteArray> flashBefore;
        for (int n = 1; n <= kSoakControllers; ++n)
            flashBefore.push_back(b.line->flash(n));
        b.ctx().timings.settleDelay = 0.05;
        b.m().Text1.setText("200");
        b.m().Text2.setText("5");
        b.m().FastAnswers.setValue(fast ? 1 : 0);
        b.select({1, 2, 3, 4});
        b.useImage(imageHex(1));
        QElapsedTimer t;
        t.start();
        bool hung = false;
        b.desk.onProcessEvents = [&] {
            if (!hung && t.elapsed() > kHangBound * 1000) {
                hung = true;
                b.ctx().message.cancel();
            }
        };
        b.session->run(parallel ? Session::Operation::DownloadParallel : Session::Operation::DownloadSerial);
        hangs += hung;
        // A run that ended early by itself (a pulled plug, a fault) or was
        // stopped cannot be held to programming what it erased.
        const bool ranToItsEnd = !hung && !b.ctx().lastRun.faultNumber && !b.ctx().StopRequested;
        runsWithFaultBox += b.ctx().lastRun.faultNumber.has_value();
        internalFaults += b.ctx().lastRun.faultNumber == int(FaultCode::Internal);

        const sim::LineSnapshot s = b.line->snapshot();
        for (int k = 0; k < kSoakControllers; ++k) {
            const int n = k + 1;
            const sim::ControllerState *c = s.controller(n);
            const QByteArray flash = b.line->flash(n);
            const bool holds = flash == wanted && c->mode == sim::Mode::Firmware;
            const ControllerOutcome &o = b.ctx().outcomes[n];
            if (o.outcome == Outcome::Ok) {
                ++reportedOkTotal;
                falseOk += !holds;
            }
            rowsDisagree += rowSaysOk(b.ctx(), n) != (o.outcome == Outcome::Ok);
            const bool erased = c->mode == sim::Mode::Boot;
            leftErased += erased;
            erasedUntried += ranToItsEnd && o.eraseConfirmed && erased && !programmingTriedAfterErase(b, n);
            // Its flash changed, or it went into its boot program, in this run,
            // yet it is reported as neither (maybe) erased nor ok with the image.
            const bool changed = flash != flashBefore[k] || (erased && !state[k].startInBoot);
            erasedHidden += changed && !(o.outcome == Outcome::Ok && holds) && !(o.erased && o.mayHoldNoFirmware());
            if (erasedBefore[k] && holds)
                ++recovered;
            erasedBefore[k] = erased && !holds;
            // The next run meets the line as this one left it, plug back in.
            state[k].flash = flash;
            state[k].startInBoot = erased;
            state[k].speed = erased ? state[k].speed : c->speed;
            state[k].protocolChar = erased ? state[k].protocolChar : c->protocolChar;
            state[k].prot4Plus = c->prot4Plus;
        }
        if (qEnvironmentVariableIsSet("SOAK_VERBOSE")) {
            for (int n = 1; n <= kSoakControllers; ++n)
                std::fprintf(stderr, "  %d: %s / %s mode %d\n", n, qPrintable(b.ctx().info.verView(n).text),
                             qPrintable(b.ctx().info.ckSumView(n).text), int(s.controller(n)->mode));
            for (const QString &l : b.log())
                std::fprintf(stderr, "    %s\n", qPrintable(l.left(100)));
        }
        std::fprintf(stderr, "run %3d %-8s %-7s %5.1f s  box %s\n", run + 1, parallel ? "parallel" : "serial",
                     fast ? "fast" : "written", t.elapsed() / 1000.0,
                     b.ctx().lastRun.faultNumber ? qPrintable(QString::number(*b.ctx().lastRun.faultNumber)) : "-");
        // Back to an older image now and then, so most runs really change the flash.
        if (run % 4 == 3) {
            for (auto &c : state) {
                if (!c.startInBoot)
                    c.flash = flashOf(99);
            }
        }
    }
    std::printf("soak seed %u: %d downloads (serial and parallel, written timing and fast answers, alternating) into %d "
                "controllers, %.0f s\n", seed, runs, kSoakControllers, total.elapsed() / 1000.0);
    std::printf("| runs | unplugs | noisy runs | late-answer runs | parallel runs with one missing | lost erase answers | "
                "foreign number | garbled | two on one number | runs ended by a fault box | "
                "controllers reported ok | reported ok without the image | erased, left without a try | erased or stuck, "
                "reported otherwise | rows that disagree | left erased (run ends) | recovered by a later run | hangs | "
                "internal faults |\n");
    std::printf("|---|---|---|---|---|---|---|---|---|---|---|---|---|---|---|---|---|---|---|\n");
    std::printf("| %d | %d | %d | %d | %d | %d | %d | %d | %d | %d | %d | %d | %d | %d | %d | %d | %d | %d | %d |\n", runs,
                unplugs, noisyRuns, lateRuns, missingRuns, lostEraseRuns, foreignRuns, garbledRuns, twinRuns,
                runsWithFaultBox, reportedOkTotal, falseOk, erasedUntried, erasedHidden, rowsDisagree, leftErased,
                recovered, hangs, internalFaults);
    return falseOk == 0 && erasedUntried == 0 && erasedHidden == 0 && rowsDisagree == 0 && hangs == 0 ? 0 : 1;
}
