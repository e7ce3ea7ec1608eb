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
                      bool cancelled, const QString &fault)
{
    if (ticked.isEmpty())
        return operation + QStringLiteral(": no controller was ticked.");
    int good = 0;
    QList<int> differs;
    QList<int> erasedLeft;
    QList<int> notReached;
    QMap<QString, QList<int>> failures; // by what failed
    for (const int i : ticked) {
        const ControllerOutcome &o = outcomes[i];
        switch (o.outcome) {
        case Outcome::Ok: ++good; break;
        case Outcome::Mismatch: differs << i; break;
        case Outcome::NotReached: notReached << i; break;
        case Outcome::ErasedNotProgrammed: erasedLeft << i; break;
        case Outcome::Failed: failures[o.failure] << i; break;
        }
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
    if (!differs.isEmpty())
        details << QStringLiteral("checksum differs from the file: ") + numbers(differs);
    for (auto it = failures.cbegin(); it != failures.cend(); ++it)
        details << it.key() + QStringLiteral(": ") + numbers(it.value());
    if (!notReached.isEmpty())
        details << QStringLiteral("not reached: ") + numbers(notReached);
    if (!details.isEmpty())
        line += QStringLiteral("; ") + details.join(QStringLiteral("; "));
    if (!fault.isEmpty())
        line += QStringLiteral(" (ended by ") + fault + QLatin1Char(')');
    else if (cancelled)
        line += QStringLiteral(" (stopped by Cancel)");
    return line + QLatin1Char('.');
}

void summarizeRun(Context &ctx, const QString &operation, bool download, const QList<int> &ticked)
{
    if (!ctx.info.exists())
        return;
    const QString fault = ctx.lastFaultNumber ? QStringLiteral("Error # ") + QString::number(*ctx.lastFaultNumber) : QString();
    bool allWell = fault.isEmpty() && !ctx.StopRequested && !ticked.isEmpty();
    for (const int i : ticked)
        allWell = allWell && ctx.outcomes[i].outcome == Outcome::Ok;
    ctx.info.setSummary(resultSummary(operation, download, ticked, ctx.outcomes, ctx.StopRequested, fault), allWell);
}

} // namespace vantorel
