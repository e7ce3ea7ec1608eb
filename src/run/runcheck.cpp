#include "run/runcheck.h"

#include "state/run.h"
#include "run/operation.h"
#include "platform/fault.h"
#include "platform/portnames.h"
#include "platform/serialport.h"

#include <cmath>

namespace vantorel {

namespace {

[[noreturn]] void refuse(const QString &what) { throw Fault::because(FaultCode::InvalidArgument, what); }

// What a refusal says of its file, without the fault's own words before it
// (a file's faults read "Path/File access error: <file> is ...").
QString whatOf(const QString &description, FaultCode code)
{
    const QString head = faultDescription(code) + QStringLiteral(": ");
    return description.startsWith(head) ? description.mid(head.size()) : description;
}

QString whatOf(const Fault &fault)
{
    return fault.cause().isEmpty() ? whatOf(fault.description(), fault.code()) : fault.cause();
}

QString speedProblem(const QString &vitesse)
{
    // A download takes on the speed its image fixes, which may lie beyond the
    // list; the next run must be able to start there.
    static const QStringList imageOnly = {QStringLiteral("57600"), QStringLiteral("115200")};
    if (speedList().contains(vitesse) || imageOnly.contains(vitesse))
        return QString();
    return QStringLiteral("the Speed box holds \"") + vitesse + QStringLiteral("\": choose one of ")
        + speedList().join(QStringLiteral(", "));
}

QString waitingDelayProblem(const QString &text2, int &ms)
{
    bool ok = false;
    const double v = text2.trimmed().toDouble(&ok);
    const double r = std::round(v);
    if (!ok || !std::isfinite(v) || r < 0 || r > 32767)
        return QStringLiteral("the Parallel Waiting Delay box holds \"") + text2
            + QStringLiteral("\": type the wait after each broadcast batch in milliseconds, 0 to 32767, for example 10");
    ms = static_cast<int>(r);
    return QString();
}

QString timeOutProblem(const QString &text1, double &seconds, bool fastAnswers)
{
    try {
        seconds = timeOutSeconds(text1);
    } catch (const Fault &fault) {
        return whatOf(fault);
    }
    if (seconds < 0)
        return QStringLiteral("the Time Out box holds \"") + text1
            + QStringLiteral("\": type the answer time-out in milliseconds, 0 or more, for example 1000");
    // Without fast answers the settle wait still hears a quick answer; with
    // them a silent time-out ends the try before a controller could answer.
    if (fastAnswers && seconds * 1000 < kFastAnswersLeastTimeOutMs)
        return QStringLiteral("the Time Out box holds \"") + text1
            + QStringLiteral("\": with fast answers a try ends as soon as the time-out has passed in silence, "
                             "before a controller could answer; type %1 or more (--timeout %1 on the command "
                             "line), or turn fast answers off")
                  .arg(kFastAnswersLeastTimeOutMs);
    return QString();
}

QString bootSpeedProblem(const SettingsForm &m)
{
    if (!m.bootIniProblem.isEmpty())
        return whatOf(m.bootIniProblem, FaultCode::FileAccess);
    try {
        parseLineSettings(m.bootSettings);
        return QString();
    } catch (const Fault &) {
        // The settings are Boot.ini's first line and ",N,8,2": whatever is
        // wrong is in that line, be it the speed or a framing of its own.
        QString line = m.bootSettings;
        if (line.endsWith(QLatin1String(",N,8,2")))
            line.chop(6);
        return QStringLiteral("Boot.ini in ") + m.appDir + QStringLiteral(" holds \"") + line
            + QStringLiteral("\": its first line must hold only the boot line speed, for example 9600 (the line "
                             "always runs with no parity, 8 data bits and 2 stop bits); correct it, or remove "
                             "the file for 9600");
    }
}

} // namespace

void checkSpeed(const QString &vitesse)
{
    if (const QString problem = speedProblem(vitesse); !problem.isEmpty())
        refuse(problem);
}

bool speedAllowed(const QString &vitesse) { return speedProblem(vitesse).isEmpty(); }

int waitingDelayMs(const QString &text2)
{
    int ms = 0;
    if (const QString problem = waitingDelayProblem(text2, ms); !problem.isEmpty())
        refuse(problem);
    return ms;
}

double checkTimeOut(const QString &text1, bool fastAnswers)
{
    double seconds = 0;
    if (const QString problem = timeOutProblem(text1, seconds, fastAnswers); !problem.isEmpty())
        refuse(problem);
    return seconds;
}

LinkSettings checkSettings(const SettingsForm &m, const RunNeeds &needs)
{
    LinkSettings link;
    // Every box is looked at, so that one box names all that needs correcting.
    QStringList problems;
    const auto note = [&problems](const QString &problem) {
        if (!problem.isEmpty())
            problems << problem;
    };
    note(timeOutProblem(needs.timeOutMs >= 0 ? QString::number(needs.timeOutMs) : m.timeOut, link.timeOut, m.fastAnswers));
    if (needs.waitingDelay)
        note(waitingDelayProblem(m.waitingDelay, link.waitingDelayMs));
    note(speedProblem(m.speed));
    try {
        link.protocolChar = protocolCharFromText(m.protocol);
    } catch (const Fault &fault) {
        note(whatOf(fault));
    }
    const bool bootIniUnreadable = needs.bootSpeed && !m.bootIniProblem.isEmpty();
    if (needs.bootSpeed)
        note(bootSpeedProblem(m));
    // Alone it is left to the opening of the port, which names the devices
    // present; among others it is one more thing to correct.
    const QString port = portTextProblem(m.comPort);
    if (!problems.isEmpty())
        note(port);

    if (problems.size() == 1 && bootIniUnreadable)
        throw Fault(FaultCode::FileAccess, m.bootIniProblem);
    if (problems.size() == 1)
        refuse(problems.front());
    else if (!problems.isEmpty())
        refuse(QString::number(problems.size()) + QStringLiteral(" settings to correct, nothing was sent:\r- ")
               + problems.join(QStringLiteral(";\r- ")));

    link.runChar = link.protocolChar;
    link.sameProtocol = m.sameProtocol;
    link.fastAnswers = m.fastAnswers;
    link.knownSpeedsFirst = m.knownSpeedsFirst;
    link.prot4Plus = m.prot4Plus;
    return link;
}

void refuseOnFault(Run &run, const std::function<void()> &checks)
{
    try {
        checks();
    } catch (const Fault &) {
        run.end.refused = true;
        throw;
    }
}

void checkAndOpen(Run &run, const RunNeeds &needs)
{
    refuseOnFault(run, [&] {
        run.link = checkSettings(run.form, needs);
        openPort(run);
    });
}

} // namespace vantorel
