#include "app/resultsummary.h"

#include "app/context.h"

#include <QMap>
#include <QRegularExpression>

namespace vantorel {

namespace {
// A version as the result table shows an answer: "12/05/03".
bool looksLikeAnswer(const QString &ver)
{
    static const QRegularExpression pattern(QStringLiteral("^[0-9A-F]{2}/[0-9A-F]{2}/[0-9A-F]{2}$"));
    return pattern.match(ver).hasMatch();
}

QString numbers(const QList<int> &list)
{
    QStringList texts;
    for (const int i : list)
        texts << QString::number(i);
    return texts.join(QStringLiteral(", "));
}
} // namespace

RowOutcome rowOutcome(const InfoState &info, int controller)
{
    const ResultBox &ver = info.ver(controller);
    const ResultBox &ck = info.ckSum(controller);
    const bool failureMark = (ver.marked() || ck.marked()) && ver.foreground == kRed;
    if (!failureMark && looksLikeAnswer(ver.text))
        return ver.marked() || ck.marked() ? RowOutcome::Differs : RowOutcome::Ok;
    if (!failureMark && ver.text.isEmpty() && ck.text.isEmpty())
        return RowOutcome::NotReached;
    return RowOutcome::Failed;
}

QString resultSummary(const QString &operation, bool download, const QList<int> &ticked, const InfoState &info,
                      bool cancelled, const QString &fault)
{
    if (ticked.isEmpty())
        return operation + QStringLiteral(": no controller was ticked.");
    int good = 0;
    QList<int> differs;
    QList<int> notReached;
    QMap<QString, QList<int>> failures; // by what the row says
    for (const int i : ticked) {
        switch (info.exists() ? rowOutcome(info, i) : RowOutcome::NotReached) {
        case RowOutcome::Ok: ++good; break;
        case RowOutcome::Differs: differs << i; break;
        case RowOutcome::NotReached: notReached << i; break;
        case RowOutcome::Failed:
            failures[(info.ver(i).text + QLatin1Char(' ') + info.ckSum(i).text).trimmed()] << i;
            break;
        }
    }
    QString line = operation + QStringLiteral(": %1 of %2 controller%3 ")
                                   .arg(download ? good : good + differs.size())
                                   .arg(ticked.size())
                                   .arg(ticked.size() == 1 ? QString() : QStringLiteral("s"))
        + (download ? QStringLiteral("programmed and verified") : QStringLiteral("answered"));
    QStringList details;
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
        allWell = allWell && rowOutcome(ctx.info, i) == RowOutcome::Ok;
    ctx.info.setSummary(resultSummary(operation, download, ticked, ctx.info, ctx.StopRequested, fault), allWell);
}

} // namespace vantorel
