#include "state/run.h"

#include <algorithm>

namespace vantorel {

Run::Run(SerialPort &p, Desk &d, const Clock &c, RunView &v, Log &l, const SettingsForm &f, const Timings &t, Kept kept)
    : port(p)
    , desk(d)
    , clock(c)
    , view(v)
    , log(l)
    , form(f)
    , timings(t)
    , link(kept.link)
    , outcomes(kept.outcomes)
    , stopRequested(kept.stopRequested)
    , end(kept.end)
    , user(kept.user)
    , speed_(f.speed.toInt())
{
}

void Run::setSpeed(int speed)
{
    speed_ = speed;
    view.speedInHand(speed_, tried_);
}

void Run::setTriedSpeeds(const QList<int> &tried)
{
    tried_ = tried;
    view.speedInHand(speed_, tried_);
}

void Run::setController(int controller)
{
    controller_ = controller;
    view.controllerInHand(controller);
}

QString programVersion() { return QStringLiteral(VANTOREL_VERSION); }

double failureHoldSeconds(const Timings &t, bool fastAnswers)
{
    return fastAnswers ? std::min(t.failureHold, t.fastFailureHold) : t.failureHold;
}

// The run's setting, taken at its start: the box stays live while it runs.
double failureHoldSeconds(const Run &run) { return failureHoldSeconds(run.timings, run.link.fastAnswers); }

QString clockText(double seconds)
{
    const qint64 s = qRound64(qMax(0.0, seconds));
    if (s >= 3600)
        return QStringLiteral("%1:%2:%3").arg(s / 3600).arg(s / 60 % 60, 2, 10, QLatin1Char('0')).arg(s % 60, 2, 10, QLatin1Char('0'));
    return QStringLiteral("%1:%2").arg(s / 60).arg(s % 60, 2, 10, QLatin1Char('0'));
}

} // namespace vantorel
