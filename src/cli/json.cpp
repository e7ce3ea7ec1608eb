#include "cli/json.h"

#include "cli/report.h"
#include "cli/station.h"
#include "state/imagedescription.h"
#include "state/run.h"
#include "platform/fault.h"
#include "platform/portinfo.h"
#include "store/keeper.h"
#include "store/resultsstore.h"

#include <QDir>
#include <QJsonDocument>

#include <cstdio>

namespace vantorel {

namespace {
QJsonValue numberOrNull(const QString &text)
{
    bool ok = false;
    const int v = text.trimmed().toInt(&ok);
    return ok ? QJsonValue(v) : QJsonValue();
}

QJsonValue numberOrNull(std::optional<int> v) { return v ? QJsonValue(*v) : QJsonValue(); }

QJsonValue errorJson(std::optional<int> number, const QString &text)
{
    if (text.isEmpty() && !number)
        return QJsonValue();
    return QJsonObject{{QStringLiteral("number"), numberOrNull(number)}, {QStringLiteral("text"), text}};
}
} // namespace

void printJson(const QJsonObject &document)
{
    std::printf("%s\n", QJsonDocument(document).toJson(QJsonDocument::Compact).constData());
}

QJsonObject reportJson(const RunReport &r)
{
    QJsonArray sel;
    for (const int i : r.selected)
        sel.append(i);
    QJsonArray rows, shown;
    for (const ControllerReport &c : r.controllers) {
        rows.append(c.record.toJson());
        // The result window's boxes: the window's view, not the controller's record.
        shown.append(QJsonObject{{QStringLiteral("controller"), c.id()},
                                 {QStringLiteral("display"), QJsonArray{c.shownVer, c.shownCksum}},
                                 {QStringLiteral("marked"), c.marked}});
    }
    const qsizetype ok = r.okCount();
    QJsonObject out{{QStringLiteral("program_version"), programVersion()},
                    {QStringLiteral("operation"), r.operation},
                    {QStringLiteral("status"), r.verdict.status},
                    {QStringLiteral("error"), errorJson(r.errorNumber, r.errorText)},
                    {QStringLiteral("warnings"), QJsonArray::fromStringList(r.warnings)},
                    {QStringLiteral("summary"), QJsonObject{{QStringLiteral("selected"), r.controllers.size()},
                                                            {QStringLiteral("ok"), ok},
                                                            {QStringLiteral("failed"), r.controllers.size() - ok}}},
                    {QStringLiteral("port"), r.port},
                    {QStringLiteral("file"), r.file},
                    {QStringLiteral("file_checksum"), r.fileChecksum},
                    {QStringLiteral("settings"), r.settings},
                    {QStringLiteral("after"), QJsonObject{{QStringLiteral("speed"), numberOrNull(r.speed)},
                                                          {QStringLiteral("protocol"), numberOrNull(r.protocol)},
                                                          {QStringLiteral("prot4plus"), r.prot4Plus}}},
                    {QStringLiteral("selected"), sel},
                    {QStringLiteral("controllers"), rows},
                    {QStringLiteral("shown"), shown}};
    if (!r.store.isEmpty())
        out.insert(QStringLiteral("store"), r.store);
    return out;
}

QJsonObject stationJson(const QString &operation, const QString &stationRun, const Verdict &verdict,
                        const QString &notKept, const QList<LineResult> &lines)
{
    QJsonArray out;
    qsizetype selected = 0, ok = 0;
    for (const LineResult &l : lines) {
        QJsonObject report = l.document;
        if (l.report) {
            QJsonArray rows;
            for (const ControllerReport &c : l.report->controllers) {
                QJsonObject row = c.record.toJson();
                row.insert(QStringLiteral("line"), l.port);
                rows.append(row);
            }
            report.insert(QStringLiteral("controllers"), rows);
            selected += l.report->controllers.size();
            ok += l.report->okCount();
        }
        out.append(QJsonObject{{QStringLiteral("line"), l.port},
                               {QStringLiteral("exit"), l.exit},
                               {QStringLiteral("problem"), l.problem},
                               {QStringLiteral("report"), report.isEmpty() ? QJsonValue() : QJsonValue(report)}});
    }
    return QJsonObject{{QStringLiteral("program_version"), programVersion()},
                       {QStringLiteral("operation"), operation},
                       {QStringLiteral("status"), verdict.status},
                       {QStringLiteral("station_run"), stationRun},
                       {QStringLiteral("error"), errorJson(notKept.isEmpty() ? std::nullopt : std::optional<int>(static_cast<int>(FaultCode::FileAccess)), notKept)},
                       {QStringLiteral("summary"), QJsonObject{{QStringLiteral("lines"), lines.size()},
                                                               {QStringLiteral("selected"), selected},
                                                               {QStringLiteral("ok"), ok},
                                                               {QStringLiteral("failed"), selected - ok}}},
                       {QStringLiteral("lines"), out}};
}

QJsonObject refusedJson(const QString &operation, const QString &reason, std::optional<int> faultNumber)
{
    return QJsonObject{{QStringLiteral("program_version"), programVersion()},
                       {QStringLiteral("operation"), operation},
                       {QStringLiteral("status"), QStringLiteral("error")},
                       {QStringLiteral("error"), errorJson(faultNumber, reason)}};
}

QJsonArray waitingJson(const QMap<QString, int> &waiting)
{
    QJsonArray out;
    for (auto it = waiting.cbegin(); it != waiting.cend(); ++it)
        out.append(QJsonObject{{QStringLiteral("database"), it.key()}, {QStringLiteral("runs"), it.value()}});
    return out;
}

QJsonObject storeJson(const KeptRun &kept, const QString &problem)
{
    return QJsonObject{{QStringLiteral("database"), kept.target},
                       {QStringLiteral("written"), kept.stored},
                       {QStringLiteral("kept"), kept.kept()},
                       {QStringLiteral("pending_file"), kept.pending ? kept.pendingPath : QString()},
                       {QStringLiteral("replayed"), kept.replayed},
                       {QStringLiteral("waiting_elsewhere"), waitingJson(kept.waitingElsewhere)},
                       {QStringLiteral("problem"), problem}};
}

QJsonObject historyRowJson(const HistoryRow &row)
{
    const RunRecord &r = row.run;
    QJsonObject o = row.controller().toJson();
    const std::pair<const char *, QJsonValue> runFields[] = {
        {"run_uid", r.uid}, {"time_utc", r.timeUtc.toString(Qt::ISODateWithMs)}, {"station", r.station}, {"operation", r.operation},
        {"port", r.port}, {"file_checksum", r.fileChecksum}, {"image_sha256", r.imageSha256},
        {"image_path", r.imagePath}, {"settings", r.settings}, {"run_status", r.status},
        {"program_version", r.programVersion},
        {"station_run", r.stationRun.isEmpty() ? QJsonValue() : QJsonValue(r.stationRun)}};
    for (const auto &[key, value] : runFields)
        o.insert(QLatin1String(key), value);
    return o;
}

QJsonObject historyJson(const QList<HistoryRow> &rows, const QString &database, const QString &pendingFile,
                        const QJsonArray &waiting)
{
    QJsonArray list;
    for (const HistoryRow &row : rows)
        list.append(historyRowJson(row));
    return QJsonObject{{QStringLiteral("operation"), QStringLiteral("history")},
                       {QStringLiteral("status"), QStringLiteral("ok")},
                       {QStringLiteral("database"), database},
                       {QStringLiteral("records"), list},
                       {QStringLiteral("pending_file"), QDir::toNativeSeparators(pendingFile)},
                       {QStringLiteral("waiting"), waiting}};
}

QJsonObject portsJson(const QList<PortItem> &ports)
{
    QJsonArray rows;
    for (const PortItem &item : ports) {
        rows.append(QJsonObject{{QStringLiteral("com"), item.number > 0 ? item.text : QString()},
                                {QStringLiteral("device"), item.device},
                                {QStringLiteral("description"), item.description}});
    }
    return QJsonObject{{QStringLiteral("ports"), rows}};
}

QJsonObject checksumJson(const QString &operation, const QString &checksum, const QString &shown,
                         const ImageDescription &d, const QString &description)
{
    return QJsonObject{{QStringLiteral("program_version"), programVersion()},
                       {QStringLiteral("operation"), operation},
                       {QStringLiteral("status"), QStringLiteral("ok")},
                       {QStringLiteral("checksum"), checksum},
                       {QStringLiteral("file_checksum"), shown},
                       {QStringLiteral("ctrl_type"), d.HexCtrlType},
                       {QStringLiteral("baud_text"), d.HexBaudText},
                       {QStringLiteral("baud_rate"), d.HexBaudRate.isEmpty() ? QJsonValue() : QJsonValue(d.HexBaudRate.toInt())},
                       {QStringLiteral("protocol_byte"), d.HexProtocolByte},
                       {QStringLiteral("prot4plus"), d.HexProt4Plus},
                       {QStringLiteral("description"), description}};
}

std::optional<RunReport> reportFromJson(const QJsonObject &d, int exit)
{
    if (!d.value(QStringLiteral("controllers")).isArray())
        return std::nullopt;
    RunReport r;
    r.operation = d.value(QStringLiteral("operation")).toString();
    r.verdict = Verdict{d.value(QStringLiteral("status")).toString(), exit};
    const QJsonObject error = d.value(QStringLiteral("error")).toObject();
    if (const QJsonValue n = error.value(QStringLiteral("number")); n.isDouble())
        r.errorNumber = n.toInt();
    r.errorText = error.value(QStringLiteral("text")).toString();
    for (const QJsonValue &w : d.value(QStringLiteral("warnings")).toArray())
        r.warnings << w.toString();
    r.port = d.value(QStringLiteral("port")).toString();
    r.file = d.value(QStringLiteral("file")).toString();
    r.fileChecksum = d.value(QStringLiteral("file_checksum")).toString();
    r.settings = d.value(QStringLiteral("settings")).toObject();
    const QJsonObject after = d.value(QStringLiteral("after")).toObject();
    auto text = [](const QJsonValue &v) { return v.isDouble() ? QString::number(v.toInt()) : QString(); };
    r.speed = text(after.value(QStringLiteral("speed")));
    r.protocol = text(after.value(QStringLiteral("protocol")));
    r.prot4Plus = after.value(QStringLiteral("prot4plus")).toBool();
    for (const QJsonValue &n : d.value(QStringLiteral("selected")).toArray())
        r.selected << n.toInt();
    const QJsonArray shown = d.value(QStringLiteral("shown")).toArray();
    for (const QJsonValue &v : d.value(QStringLiteral("controllers")).toArray()) {
        const std::optional<ControllerRecord> record = ControllerRecord::fromJson(v);
        if (!record)
            return std::nullopt;
        ControllerReport c;
        c.record = *record;
        for (const QJsonValue &s : shown) {
            if (s[QStringLiteral("controller")].toInt(-1) != record->number)
                continue;
            c.shownVer = s[QStringLiteral("display")][0].toString();
            c.shownCksum = s[QStringLiteral("display")][1].toString();
            c.marked = s[QStringLiteral("marked")].toBool();
        }
        r.controllers << c;
    }
    r.store = d.value(QStringLiteral("store")).toObject();
    return r;
}

} // namespace vantorel
