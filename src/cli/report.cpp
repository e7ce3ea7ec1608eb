#include "cli/report.h"

#include "app/context.h"

#include <QJsonArray>
#include <QRegularExpression>

namespace vantorel {

namespace {
// A version as the result table shows an answer: "12/05/03".
bool looksLikeAnswer(const QString &ver)
{
    static const QRegularExpression pattern(QStringLiteral("^[0-9A-F]{2}/[0-9A-F]{2}/[0-9A-F]{2}$"));
    return pattern.match(ver).hasMatch();
}
} // namespace

bool RunReport::allOk() const
{
    for (const ControllerReport &c : controllers) {
        if (c.result != QLatin1String("ok"))
            return false;
    }
    return true;
}

RunReport makeReport(const Context &ctx, const QString &operation, const QList<int> &listed)
{
    const MainState &m = ctx.main;
    RunReport r;
    r.operation = operation;
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
            c.ver = ver.text;
            c.cksum = ck.text;
            c.marked = ver.marked() || ck.marked();
        }
        const bool failureMark = c.marked && ctx.info.ver(id).foreground == kRed;
        if (operation == QLatin1String("auto")) {
            c.result = m.C[id].ticked() ? QStringLiteral("ok") : QStringLiteral("failed");
        } else if (operation == QLatin1String("to-p4") || operation == QLatin1String("to-p3")) {
            c.result = ctx.switchAccepted[id] ? QStringLiteral("ok") : QStringLiteral("failed");
        } else if (!failureMark && looksLikeAnswer(c.ver)) {
            c.result = c.marked ? QStringLiteral("mismatch") : QStringLiteral("ok");
        } else {
            c.result = QStringLiteral("failed");
        }
        r.controllers << c;
    }
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
                                {QStringLiteral("marked"), c.marked},
                                {QStringLiteral("result"), c.result}});
    }
    return QJsonObject{{QStringLiteral("operation"), operation},
                       {QStringLiteral("file_checksum"), fileChecksum},
                       {QStringLiteral("speed"), speed},
                       {QStringLiteral("protocol"), protocol},
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
                   .arg(c.ver, -13)
                   .arg(c.cksum, -8)
                   .arg(c.marked ? QStringLiteral("yes") : QStringLiteral("no"), -6)
                   .arg(c.result);
    }
    QStringList sel;
    for (const int i : selected)
        sel << QString::number(i);
    out += QStringLiteral("selected: %1\n").arg(sel.isEmpty() ? QStringLiteral("none") : sel.join(QLatin1Char(',')));
    return out;
}

} // namespace vantorel
