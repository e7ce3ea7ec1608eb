#include "cli/report.h"

#include "cli/records.h"
#include "state/context.h"
#include "state/log.h"
#include "platform/fault.h"
#include "store/runrecord.h"

#include <QJsonArray>

#include <algorithm>

namespace vantorel {

namespace {
QJsonValue numberOrNull(const QString &text)
{
    bool ok = false;
    const int v = text.trimmed().toInt(&ok);
    return ok ? QJsonValue(v) : QJsonValue();
}

QJsonValue numberOrNull(std::optional<int> v) { return v ? QJsonValue(*v) : QJsonValue(); }

// The box text without its "Error # n" line: the number has its own field.
QString faultDetail(QString boxText)
{
    boxText.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    boxText.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    if (boxText.startsWith(QLatin1String("Error #")) && boxText.contains(QLatin1Char('\n')))
        boxText = boxText.mid(boxText.indexOf(QLatin1Char('\n')) + 1);
    return boxText.trimmed();
}

QJsonValue errorJson(std::optional<int> number, const QString &text)
{
    if (text.isEmpty() && !number)
        return QJsonValue();
    return QJsonObject{{QStringLiteral("number"), numberOrNull(number)}, {QStringLiteral("text"), text}};
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

int RunReport::okCount() const
{
    return int(std::count_if(controllers.begin(), controllers.end(),
                             [](const ControllerReport &c) { return c.result == QLatin1String("ok"); }));
}

bool RunReport::allOk() const { return okCount() == controllers.size(); }

QString ControllerReport::outcomeText() const
{
    return failure.isEmpty() ? outcome : outcome + QStringLiteral(": ") + failureWordsOf(failure);
}

RunReport makeReport(const Context &ctx, const RunRecord &record, const QDateTime &started, const QMap<int, QString> &units)
{
    const MainState &m = ctx.main;
    RunReport r;
    r.started = started;
    r.operation = record.operation;
    r.port = m.ComPort.text();
    r.file = m.FileName.text();
    r.fileChecksum = m.FileCheksum.text();
    r.speed = m.Vitesse.text();
    r.protocol = m.Protocol.text();
    r.prot4Plus = m.Protocol4Plus.ticked();
    r.selected = m.selectedControllers();
    r.settings = record.settings;
    for (const ControllerRecord &o : record.controllers) {
        ControllerReport c;
        c.id = o.number;
        if (ctx.info.exists()) {
            const ResultBox &ver = ctx.info.verView(c.id);
            const ResultBox &ck = ctx.info.ckSumView(c.id);
            c.shownVer = ver.text;
            c.shownCksum = ck.text;
            c.marked = ver.marked() || ck.marked();
        }
        c.ver = o.version;
        c.cksum = o.checksum;
        c.speed = o.speed;
        c.failure = o.failure;
        c.erased = o.erased;
        c.unit = units.value(c.id);
        c.outcome = o.outcome;
        c.result = resultOf(c.outcome);
        ControllerRecord named = o;
        named.unit = c.unit;
        c.json = named.toJson();
        r.controllers << c;
    }
    r.errorNumber = ctx.lastRun.faultNumber;
    r.errorText = ctx.lastRun.faultNumber || !ctx.lastRun.faultText.isEmpty() ? faultDetail(ctx.lastRun.faultText) : QString();
    r.verdict = judgeRun(ctx.lastRun.refused, ctx.lastRun.faultNumber, ctx.StopRequested, allPassed(record));
    return r;
}

QJsonObject RunReport::toJson() const
{
    QJsonArray sel;
    for (const int i : selected)
        sel.append(i);
    QJsonArray rows, shown;
    for (const ControllerReport &c : controllers) {
        rows.append(c.json);
        // The result window's boxes: the window's view, not the controller's record.
        shown.append(QJsonObject{{QStringLiteral("controller"), c.id},
                                 {QStringLiteral("display"), QJsonArray{c.shownVer, c.shownCksum}},
                                 {QStringLiteral("marked"), c.marked}});
    }
    const qsizetype ok = okCount();
    QJsonObject out{{QStringLiteral("program_version"), programVersion()},
                       {QStringLiteral("operation"), operation},
                       {QStringLiteral("status"), verdict.status},
                       {QStringLiteral("error"), errorJson(errorNumber, errorText)},
                       {QStringLiteral("warnings"), QJsonArray::fromStringList(warnings)},
                       {QStringLiteral("summary"), QJsonObject{{QStringLiteral("selected"), controllers.size()},
                                                               {QStringLiteral("ok"), ok},
                                                               {QStringLiteral("failed"), controllers.size() - ok}}},
                       {QStringLiteral("port"), port},
                       {QStringLiteral("file"), file},
                       {QStringLiteral("file_checksum"), fileChecksum},
                       {QStringLiteral("settings"), settings},
                       {QStringLiteral("after"), QJsonObject{{QStringLiteral("speed"), numberOrNull(speed)},
                                                             {QStringLiteral("protocol"), numberOrNull(protocol)},
                                                             {QStringLiteral("prot4plus"), prot4Plus}}},
                       {QStringLiteral("selected"), sel},
                       {QStringLiteral("controllers"), rows},
                       {QStringLiteral("shown"), shown}};
    if (!store.isEmpty())
        out.insert(QStringLiteral("store"), store);
    return out;
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
        unitWidth = qMax(unitWidth, c.unit.isEmpty() ? 0 : qMax<qsizetype>(4, c.unit.size()));
    auto unit = [unitWidth](const QString &text) {
        return unitWidth ? QStringLiteral("%1  ").arg(text, -int(unitWidth)) : QString();
    };
    out += QStringLiteral("%1  %2%3  %4  %5  %6\n")
               .arg(QStringLiteral("ctrl"), -4)
               .arg(unit(QStringLiteral("unit")))
               .arg(QStringLiteral("version"), -13)
               .arg(QStringLiteral("checksum"), -8)
               .arg(QStringLiteral("marked"), -6)
               .arg(QStringLiteral("result"));
    for (const ControllerReport &c : controllers) {
        out += QStringLiteral("%1  %2%3  %4  %5  %6\n")
                   .arg(c.id, 4)
                   .arg(unit(c.unit))
                   .arg(escapeControls(c.ver), -13)
                   .arg(escapeControls(c.cksum), -8)
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
        out += common + QByteArray::number(c.id) + ',' + (c.speed ? QByteArray::number(*c.speed) : QByteArray())
               + ',' + csvField(c.ver) + ',' + csvField(c.cksum) + ',' + csvField(c.result) + ','
               + csvField(c.outcomeText()) + (unitColumn ? ',' + csvField(c.unit) : QByteArray()) + kLineEnd;
    }
    return out;
}

QJsonObject refusedJson(const QString &operation, const QString &reason, std::optional<int> faultNumber)
{
    return QJsonObject{{QStringLiteral("program_version"), programVersion()},
                       {QStringLiteral("operation"), operation},
                       {QStringLiteral("status"), QStringLiteral("error")},
                       {QStringLiteral("error"), errorJson(faultNumber, reason)}};
}

} // namespace vantorel
