#include "cli/report.h"

#include "cli/records.h"
#include "session/session.h"
#include "state/log.h"
#include "platform/fault.h"
#include "store/runrecord.h"

#include <algorithm>

namespace vantorel {

namespace {
// The box text without its "Error # n" line: the number has its own field.
QString faultDetail(QString boxText)
{
    boxText.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    boxText.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    if (boxText.startsWith(QLatin1String("Error #")) && boxText.contains(QLatin1Char('\n')))
        boxText = boxText.mid(boxText.indexOf(QLatin1Char('\n')) + 1);
    return boxText.trimmed();
}
} // namespace

QByteArray csvField(const QString &text)
{
    QByteArray f = text.toUtf8();
    // A spreadsheet would take the cell for a formula and run it: the usual apostrophe makes it text.
    if (!f.isEmpty() && QByteArrayView("=+-@\t\r").contains(f.front()))
        f.prepend('\'');
    if (f.contains(',') || f.contains('"') || f.contains('\r') || f.contains('\n')) {
        f.replace("\"", "\"\"");
        f = '"' + f + '"';
    }
    return f;
}

Verdict judgeRun(bool refused, std::optional<int> fault, bool cancelled, bool allOk)
{
    const bool port = fault && isPortFault(*fault);
    int exit = ExitOk;
    if (refused)
        exit = port ? ExitPort : ExitUsage;
    else if (fault) // a line lost or a write that failed is the port's as much as one that never opened
        exit = port ? ExitPort : ExitFault;
    else if (cancelled)
        exit = ExitCancelled;
    else if (!allOk)
        exit = ExitFailed;
    return {runStatus(refused, fault.has_value(), cancelled, allOk), exit};
}

namespace {

// How bad a line's end is, for the station's own: an error before a cancel before a failure.
int severity(int exit)
{
    switch (exit) {
    case ExitOk: return 0;
    case ExitFailed: return 1;
    case ExitCancelled: return 2;
    case ExitUsage: return 3;
    case ExitPort: return 4;
    default: return 5;
    }
}

} // namespace

QString statusOf(int exit)
{
    switch (exit) {
    case ExitOk: return QStringLiteral("ok");
    case ExitFailed: return QStringLiteral("failed");
    case ExitCancelled: return QStringLiteral("cancelled");
    default: return QStringLiteral("error");
    }
}

Verdict worstOf(const QList<int> &exits)
{
    int worst = ExitOk;
    for (const int exit : exits)
        worst = severity(exit) > severity(worst) ? exit : worst;
    return Verdict{statusOf(worst), worst};
}

int RunReport::okCount() const
{
    return int(std::count_if(controllers.begin(), controllers.end(),
                             [](const ControllerReport &c) { return c.result() == QLatin1String("ok"); }));
}

bool RunReport::allOk() const { return okCount() == controllers.size(); }

QString ControllerReport::outcomeText() const
{
    return record.failure.isEmpty() ? record.outcome : record.outcome + QStringLiteral(": ") + failureWordsOf(record.failure);
}

RunReport makeReport(const RunRecord &record, const SettingsForm &after, const RunEnd &end, bool cancelled,
                     const QMap<int, ShownRow> &shown, const QDateTime &started, const QMap<int, QString> &units)
{
    RunReport r;
    r.started = started;
    r.operation = record.operation;
    // What the run used, as its record keeps it.
    r.port = record.port;
    r.file = record.imagePath;
    r.fileChecksum = record.fileChecksum;
    r.speed = after.speed;
    r.protocol = after.protocol;
    r.prot4Plus = after.prot4Plus;
    r.selected = after.ticked;
    r.settings = record.settings;
    for (const ControllerRecord &o : record.controllers) {
        ControllerReport c;
        c.record = o;
        c.record.unit = units.value(o.number);
        if (const auto row = shown.constFind(o.number); row != shown.cend()) {
            c.shownVer = row->ver;
            c.shownCksum = row->ckSum;
            c.marked = row->marked;
        }
        r.controllers << c;
    }
    r.errorNumber = end.faultNumber;
    r.errorText = end.faultNumber || !end.faultText.isEmpty() ? faultDetail(end.faultText) : QString();
    r.verdict = judgeRun(end.refused, end.faultNumber, cancelled, allPassed(record));
    return r;
}

QString RunReport::toText() const
{
    QString out;
    out += QStringLiteral("%1  file checksum %2  speed %3  protocol %4  prot4+ %5\n")
               .arg(operation, fileChecksum.isEmpty() ? QStringLiteral("-") : fileChecksum,
                    speed, protocol, prot4Plus ? QStringLiteral("yes") : QStringLiteral("no"));
    // The unit column only when a unit was given: the table of a run without one stays as it was.
    qsizetype unitWidth = 0;
    for (const ControllerReport &c : controllers)
        unitWidth = qMax(unitWidth, c.record.unit.isEmpty() ? 0 : qMax<qsizetype>(4, c.record.unit.size()));
    auto unit = [unitWidth](const QString &text) {
        return unitWidth ? QStringLiteral("%1  ").arg(text, -int(unitWidth)) : QString();
    };
    // A station's rows name their line, first: the table of a run on one line stays as it was.
    const QString lineColumn = line.isEmpty() ? QString() : QStringLiteral("%1  ").arg(line, -qMax(4, int(line.size())));
    out += lineColumn.isEmpty() ? QString() : QStringLiteral("%1  ").arg(QStringLiteral("line"), -qMax(4, int(line.size())));
    out += QStringLiteral("%1  %2%3  %4  %5  %6\n")
               .arg(QStringLiteral("ctrl"), -4)
               .arg(unit(QStringLiteral("unit")))
               .arg(QStringLiteral("version"), -13)
               .arg(QStringLiteral("checksum"), -8)
               .arg(QStringLiteral("marked"), -6)
               .arg(QStringLiteral("result"));
    for (const ControllerReport &c : controllers) {
        out += lineColumn + QStringLiteral("%1  %2%3  %4  %5  %6\n")
                   .arg(c.id(), 4)
                   .arg(unit(c.record.unit))
                   .arg(escapeControls(c.record.version), -13)
                   .arg(escapeControls(c.record.checksum), -8)
                   .arg(c.marked ? QStringLiteral("yes") : QStringLiteral("no"), -6)
                   .arg(escapeControls(c.outcomeText()));
    }
    QStringList sel;
    for (const int i : selected)
        sel << QString::number(i);
    out += QStringLiteral("selected: %1\n").arg(sel.isEmpty() ? QStringLiteral("none") : sel.join(QLatin1Char(',')));
    out += QStringLiteral("status: %1  (%2 of %3 ok)\n").arg(verdict.status).arg(okCount()).arg(controllers.size());
    if (!errorText.isEmpty())
        out += QStringLiteral("error: %1\n").arg(QString(errorText).replace(QLatin1Char('\n'), QStringLiteral(" | ")));
    return out;
}

QByteArray csvHeader(bool unitColumn)
{
    return "time,operation,port,file,file_checksum,controller,speed,version,checksum,result,outcome"
           + QByteArray(unitColumn ? ",unit" : "") + kLineEnd;
}

QByteArray RunReport::csvRows(bool unitColumn) const
{
    const QByteArray common = csvField(started.toString(Qt::ISODate)) + ',' + csvField(operation) + ','
                              + csvField(port) + ',' + csvField(file) + ',' + csvField(fileChecksum) + ',';
    QByteArray out;
    for (const ControllerReport &c : controllers) {
        const ControllerRecord &o = c.record;
        out += common + QByteArray::number(o.number) + ',' + (o.speed ? QByteArray::number(*o.speed) : QByteArray())
               + ',' + csvField(o.version) + ',' + csvField(o.checksum) + ',' + csvField(c.result()) + ','
               + csvField(c.outcomeText()) + (unitColumn ? ',' + csvField(o.unit) : QByteArray()) + kLineEnd;
    }
    return out;
}

} // namespace vantorel
