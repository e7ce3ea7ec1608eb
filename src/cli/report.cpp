#include "cli/report.h"

#include "app/resultsummary.h"

#include "app/context.h"
#include "link/exchange.h"
#include "platform/fault.h"
#include "platform/serialport.h"

#include <QJsonArray>
#include <QRegularExpression>

#include <algorithm>

namespace vantorel {

namespace {
// A version as the result table shows an answer: "12/05/03".
bool looksLikeAnswer(const QString &ver)
{
    static const QRegularExpression pattern(QStringLiteral("^[0-9A-F]{2}/[0-9A-F]{2}/[0-9A-F]{2}$"));
    return pattern.match(ver).hasMatch();
}

bool isPortFault(int number)
{
    for (const FaultCode c : {FaultCode::PortOpen, FaultCode::PortLost, FaultCode::PortSettings, FaultCode::PortWrite}) {
        if (number == static_cast<int>(c))
            return true;
    }
    return false;
}

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

// RFC 4180: a field with a comma, quote or line break is quoted, quotes doubled.
QByteArray csvField(const QString &text)
{
    QByteArray f = text.toUtf8();
    if (f.contains(',') || f.contains('"') || f.contains('\r') || f.contains('\n')) {
        f.replace("\"", "\"\"");
        f = '"' + f + '"';
    }
    return f;
}
} // namespace

Verdict judgeRun(bool refused, std::optional<int> fault, bool cancelled, bool allOk)
{
    const bool port = fault && isPortFault(*fault);
    if (refused)
        return {QStringLiteral("error"), port ? ExitPort : ExitUsage};
    if (fault) // a line lost or a write that failed is the port's as much as one that never opened
        return {QStringLiteral("error"), port ? ExitPort : ExitFault};
    if (cancelled)
        return {QStringLiteral("cancelled"), ExitCancelled};
    if (!allOk)
        return {QStringLiteral("failed"), ExitFailed};
    return {};
}

RunWatch::RunWatch(Context &ctx) : ctx_(ctx)
{
    ctx.info.onUpdate([this] { tableChanged(); });
}

void RunWatch::logLine(const QString &line)
{
    // Every operation walks the controllers with ControllerIndex; outside that
    // walk (the broadcast's checksums) the later check gives the speed.
    const int i = ctx_.main.ControllerIndex;
    if (line != ComResultText(ComOk) || i < 0 || i >= 32)
        return;
    try {
        speed_[i] = parseLineSettings(ctx_.port.settings()).baud;
    } catch (const Fault &) {
        // Settings the port took cannot be unreadable; nothing to record if they are.
    }
}

void RunWatch::tableChanged()
{
    for (int i = 0; i < 32; ++i) {
        const QString ver = ctx_.info.ver(i).text;
        if (looksLikeAnswer(ver)) {
            ver_[i] = ver;
            cksum_[i] = ctx_.info.ckSum(i).text;
        }
    }
}

int RunReport::okCount() const
{
    return int(std::count_if(controllers.begin(), controllers.end(),
                             [](const ControllerReport &c) { return c.result == QLatin1String("ok"); }));
}

bool RunReport::allOk() const { return okCount() == controllers.size(); }

RunReport makeReport(const Context &ctx, const RunWatch &watch, const QString &operation, const QList<int> &listed,
                     const QDateTime &started)
{
    const MainState &m = ctx.main;
    RunReport r;
    r.started = started;
    r.operation = operation;
    r.port = m.ComPort.text();
    r.file = m.FileName.text();
    r.fileChecksum = m.FileCheksum.text();
    r.speed = m.Vitesse.text();
    r.protocol = m.Protocol.text();
    r.prot4Plus = m.Protocol4Plus.ticked();
    r.selected = m.selectedControllers();
    for (const int id : listed) {
        ControllerReport c;
        c.id = id;
        if (ctx.info.exists()) {
            const ResultBox &ver = ctx.info.ver(id);
            const ResultBox &ck = ctx.info.ckSum(id);
            c.shownVer = ver.text;
            c.shownCksum = ck.text;
            c.marked = ver.marked() || ck.marked();
        }
        c.ver = watch.ver(id);
        c.cksum = watch.cksum(id);
        c.speed = watch.speed(id);
        if (operation == QLatin1String("auto")) {
            c.result = m.C[id].ticked() ? QStringLiteral("ok") : QStringLiteral("failed");
        } else if (operation == QLatin1String("to-p4") || operation == QLatin1String("to-p3")) {
            c.result = ctx.switchAccepted[id] ? QStringLiteral("ok") : QStringLiteral("failed");
        } else {
            // The result window's own judgement of the row, as its summary line gives it.
            const RowOutcome outcome = ctx.info.exists() ? rowOutcome(ctx.info, id) : RowOutcome::NotReached;
            c.result = outcome == RowOutcome::Ok         ? QStringLiteral("ok")
                : outcome == RowOutcome::Differs         ? QStringLiteral("mismatch")
                                                         : QStringLiteral("failed");
        }
        r.controllers << c;
    }
    r.errorNumber = ctx.lastFaultNumber;
    r.errorText = ctx.lastFaultNumber || !ctx.lastFaultText.isEmpty() ? faultDetail(ctx.lastFaultText) : QString();
    // The detection's verdict is that it ran: a controller not found is an answer.
    const bool allOk = operation == QLatin1String("auto") || r.allOk();
    r.verdict = judgeRun(ctx.lastRefused, ctx.lastFaultNumber, ctx.StopRequested, allOk);
    return r;
}

QJsonObject RunReport::toJson() const
{
    QJsonArray sel;
    for (const int i : selected)
        sel.append(i);
    QJsonArray rows;
    for (const ControllerReport &c : controllers) {
        rows.append(QJsonObject{{QStringLiteral("id"), c.id},
                                {QStringLiteral("ver"), c.ver},
                                {QStringLiteral("cksum"), c.cksum},
                                {QStringLiteral("display"), QJsonArray{c.shownVer, c.shownCksum}},
                                {QStringLiteral("marked"), c.marked},
                                {QStringLiteral("speed"), numberOrNull(c.speed)},
                                {QStringLiteral("result"), c.result}});
    }
    const qsizetype ok = okCount();
    return QJsonObject{{QStringLiteral("program_version"), programVersion()},
                       {QStringLiteral("operation"), operation},
                       {QStringLiteral("status"), verdict.status},
                       {QStringLiteral("error"), errorJson(errorNumber, errorText)},
                       {QStringLiteral("summary"), QJsonObject{{QStringLiteral("selected"), controllers.size()},
                                                               {QStringLiteral("ok"), ok},
                                                               {QStringLiteral("failed"), controllers.size() - ok}}},
                       {QStringLiteral("file_checksum"), fileChecksum},
                       {QStringLiteral("speed"), numberOrNull(speed)},
                       {QStringLiteral("protocol"), numberOrNull(protocol)},
                       {QStringLiteral("prot4plus"), prot4Plus},
                       {QStringLiteral("selected"), sel},
                       {QStringLiteral("controllers"), rows}};
}

QString RunReport::toText() const
{
    QString out;
    out += QStringLiteral("%1  file checksum %2  speed %3  protocol %4  prot4+ %5\n")
               .arg(operation, fileChecksum.isEmpty() ? QStringLiteral("-") : fileChecksum,
                    speed, protocol, prot4Plus ? QStringLiteral("yes") : QStringLiteral("no"));
    out += QStringLiteral("%1  %2  %3  %4  %5\n")
               .arg(QStringLiteral("ctrl"), -4)
               .arg(QStringLiteral("version"), -13)
               .arg(QStringLiteral("checksum"), -8)
               .arg(QStringLiteral("marked"), -6)
               .arg(QStringLiteral("result"));
    for (const ControllerReport &c : controllers) {
        out += QStringLiteral("%1  %2  %3  %4  %5\n")
                   .arg(c.id, 4)
                   .arg(c.shownVer, -13)
                   .arg(c.shownCksum, -8)
                   .arg(c.marked ? QStringLiteral("yes") : QStringLiteral("no"), -6)
                   .arg(c.result);
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

QByteArray csvHeader()
{
    return "time,operation,port,file,file_checksum,controller,speed,version,checksum,result\r\n";
}

QByteArray RunReport::csvRows() const
{
    const QByteArray common = csvField(started.toString(Qt::ISODate)) + ',' + csvField(operation) + ','
                              + csvField(port) + ',' + csvField(file) + ',' + csvField(fileChecksum) + ',';
    QByteArray out;
    for (const ControllerReport &c : controllers) {
        out += common + QByteArray::number(c.id) + ',' + (c.speed ? QByteArray::number(*c.speed) : QByteArray())
               + ',' + csvField(c.ver) + ',' + csvField(c.cksum) + ',' + csvField(c.result) + "\r\n";
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
