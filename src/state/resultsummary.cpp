#include "state/resultsummary.h"

#include "state/context.h"

#include <QMap>

namespace vantorel {

namespace {
QString numbers(const QList<int> &list)
{
    QStringList texts;
    for (const int i : list)
        texts << QString::number(i);
    return texts.join(QStringLiteral(", "));
}
} // namespace

QString resultSummary(const QString &operation, bool download, const QList<int> &ticked, const Outcomes &outcomes,
                      bool stopped, const QString &fault)
{
    if (ticked.isEmpty())
        return operation + QStringLiteral(": no controller was ticked.");
    int good = 0;
    QList<int> differs;
    QList<int> erasedLeft;
    QMap<QString, QList<int>> unconfirmed; // by what failed
    QList<int> shared;      // numbers two controllers answered as
    QList<int> notReached;
    QList<int> cancelled;
    QMap<QString, QList<int>> failures; // by what failed
    for (const int i : ticked) {
        const ControllerOutcome &o = outcomes[i];
        switch (o.outcome) {
        case Outcome::Ok: ++good; break;
        case Outcome::Mismatch: differs << i; break;
        case Outcome::NotReached: notReached << i; break;
        case Outcome::ErasedNotProgrammed: erasedLeft << i; break;
        case Outcome::EraseUnconfirmed: unconfirmed[failureWords(o.failure)] << i; break;
        case Outcome::Failed: failures[failureWords(o.failure)] << i; break;
        case Outcome::Cancelled: cancelled << i; break;
        }
        if (o.sharesNumber)
            shared << i;
    }
    QString line = operation + QStringLiteral(": %1 of %2 controller%3 ")
                                   .arg(download ? good : good + differs.size())
                                   .arg(ticked.size())
                                   .arg(ticked.size() == 1 ? QString() : QStringLiteral("s"))
        + (download ? QStringLiteral("programmed and verified") : QStringLiteral("answered"));
    QStringList details;
    // First: these hold no firmware now and need another download.
    if (!erasedLeft.isEmpty())
        details << QStringLiteral("erased, not programmed: ") + numbers(erasedLeft);
    // An erase went out and was never acknowledged: they may hold none either.
    for (auto it = unconfirmed.cbegin(); it != unconfirmed.cend(); ++it)
        details << QStringLiteral("may be erased, not programmed: ") + numbers(it.value())
                + (it.key().isEmpty() ? QString() : QStringLiteral(" (") + it.key() + QLatin1Char(')'));
    for (const int i : shared)
        details << QStringLiteral("two controllers answer as ") + QString::number(i);
    if (!differs.isEmpty())
        details << QStringLiteral("checksum differs from the file: ") + numbers(differs);
    for (auto it = failures.cbegin(); it != failures.cend(); ++it)
        details << it.key() + QStringLiteral(": ") + numbers(it.value());
    if (!notReached.isEmpty())
        details << QStringLiteral("not reached: ") + numbers(notReached);
    if (!cancelled.isEmpty())
        details << QStringLiteral("cancelled: ") + numbers(cancelled);
    if (!details.isEmpty())
        line += QStringLiteral("; ") + details.join(QStringLiteral("; "));
    if (!fault.isEmpty())
        line += QStringLiteral(" (ended by ") + fault + QLatin1Char(')');
    else if (stopped)
        line += QStringLiteral(" (stopped by Cancel)");
    return line + QLatin1Char('.');
}

namespace {
// Names the controllers a stop would leave without firmware, e.g. " Controller 4 is
// erased and not yet programmed: closing now leaves it ..."; empty when there are none.
QString leftWithoutFirmware(const QList<int> &left, const QString &doing)
{
    if (left.size() == 1)
        return QStringLiteral(" Controller ") + numbers(left) + QStringLiteral(" is erased and not yet programmed: ") + doing
            + QStringLiteral(" now leaves it without firmware until it is downloaded again.");
    if (!left.isEmpty())
        return QStringLiteral(" Controllers ") + numbers(left) + QStringLiteral(" are erased and not yet programmed: ") + doing
            + QStringLiteral(" now leaves them without firmware until they are downloaded again.");
    return QString();
}
} // namespace

QString closingQuestion(const Outcomes &outcomes)
{
    return QStringLiteral("An operation is still running.") + leftWithoutFirmware(erasedNotProgrammed(outcomes), QStringLiteral("closing"))
        + QStringLiteral("\r\rStop the operation and close?");
}

std::optional<QString> cancelQuestion(const Outcomes &outcomes)
{
    const QList<int> left = erasedNotProgrammed(outcomes);
    if (left.isEmpty())
        return std::nullopt;
    return leftWithoutFirmware(left, QStringLiteral("stopping")).mid(1) + QStringLiteral("\r\rStop the operation?");
}

void summarizeRun(Context &ctx, const QString &operation, bool download, const QList<int> &ticked)
{
    if (ctx.StopRequested)
        markCancelled(ctx.outcomes, ticked);
    if (!ctx.info.exists())
        return;
    const QString fault = ctx.lastRun.faultNumber ? QStringLiteral("Error # ") + QString::number(*ctx.lastRun.faultNumber) : QString();
    bool allWell = fault.isEmpty() && !ctx.StopRequested && !ticked.isEmpty();
    for (const int i : ticked)
        allWell = allWell && ctx.outcomes[i].outcome == Outcome::Ok;
    // Each ticked row ends on this run's outcome, not on texts an earlier run left.
    for (const int i : ticked)
        ctx.info.endRow(i, ctx.outcomes[i]);
    ctx.info.setSummary(resultSummary(operation, download, ticked, ctx.outcomes, ctx.StopRequested, fault), allWell);
}

QString passSummary(const QString &operation, const QString &outcome, const QList<int> &tried, const QMap<int, QString> &done,
                    const QList<int> &notReached, bool nameOthers, bool cancelled, const QString &fault)
{
    // Runs of numbers as "4-31": the detection goes over all 32.
    auto runs = [](const QList<int> &list) {
        QStringList texts;
        for (qsizetype k = 0; k < list.size();) {
            qsizetype end = k;
            while (end + 1 < list.size() && list[end + 1] == list[end] + 1)
                ++end;
            if (end - k >= 2) {
                texts << QStringLiteral("%1-%2").arg(list[k]).arg(list[end]);
                k = end + 1;
            } else {
                texts << QString::number(list[k++]);
            }
        }
        return texts.join(QStringLiteral(", "));
    };
    const qsizetype total = tried.size() + notReached.size();
    if (total == 0)
        return operation + QStringLiteral(": no controller was ticked.");
    QString line = operation + QStringLiteral(": %1 of %2 controller%3 %4").arg(done.size()).arg(total).arg(total == 1 ? QString() : QStringLiteral("s"), outcome);
    QStringList good;
    for (auto it = done.cbegin(); it != done.cend(); ++it)
        good << (it.value().isEmpty() ? QString::number(it.key()) : QString::number(it.key()) + QLatin1Char(' ') + it.value());
    if (!good.isEmpty())
        line += QStringLiteral(": ") + good.join(QStringLiteral(", "));
    QList<int> others;
    for (const int i : tried) {
        if (!done.contains(i))
            others << i;
    }
    if (nameOthers && !others.isEmpty())
        line += QStringLiteral("; not ") + outcome + QStringLiteral(": ") + runs(others);
    // Passed over: because of Cancel, or the fault that ended the run.
    if (!notReached.isEmpty())
        line += (cancelled && fault.isEmpty() ? QStringLiteral("; cancelled: ") : QStringLiteral("; not reached: ")) + runs(notReached);
    if (!fault.isEmpty())
        line += QStringLiteral(" (ended by ") + fault + QLatin1Char(')');
    else if (cancelled)
        line += QStringLiteral(" (stopped by Cancel)");
    return line + QLatin1Char('.');
}

} // namespace vantorel
