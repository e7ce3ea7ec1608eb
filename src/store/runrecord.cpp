#include "store/runrecord.h"

#include "state/run.h"

#include <QSysInfo>
#include <QJsonArray>
#include <QUuid>

#include <algorithm>

namespace vantorel {

QString runStatus(bool refused, bool fault, bool cancelled, bool allOk)
{
    if (refused || fault)
        return QStringLiteral("error");
    if (cancelled)
        return QStringLiteral("cancelled");
    return allOk ? QStringLiteral("ok") : QStringLiteral("failed");
}

bool allPassed(const RunRecord &record)
{
    return record.operation == QLatin1String(operationName(Operation::Auto))
           || std::all_of(record.controllers.begin(), record.controllers.end(),
                          [](const ControllerRecord &c) { return c.outcome == outcomeName(Outcome::Ok); });
}

namespace {
// A box's number, or null when it holds none.
QJsonValue numberIn(const QJsonValue &v)
{
    if (v.isDouble())
        return v;
    bool ok = false;
    const int n = v.toString().trimmed().toInt(&ok);
    return ok ? QJsonValue(n) : QJsonValue();
}
} // namespace

QString resultOf(const QString &outcome)
{
    return outcome == outcomeName(Outcome::Ok) || outcome == outcomeName(Outcome::Mismatch) ? outcome
                                                                                          : QStringLiteral("failed");
}

QJsonObject runSettings(const SettingsForm &f)
{
    return settingsJson(QJsonObject{{QStringLiteral("start_speed"), f.speed},
                                    {QStringLiteral("protocol"), f.protocol},
                                    {QStringLiteral("prot3"), f.sendP4First},
                                    {QStringLiteral("prot4plus"), f.prot4Plus},
                                    {QStringLiteral("same_protocol"), f.sameProtocol},
                                    {QStringLiteral("timeout_ms"), f.timeOut},
                                    {QStringLiteral("delay_ms"), f.waitingDelay},
                                    {QStringLiteral("fast_answers"), f.fastAnswers}});
}

QJsonObject settingsJson(const QJsonObject &s)
{
    // Records made before speeds were numbers named the start speed "speed" and kept the boxes' texts.
    const QJsonValue start = s.contains(QStringLiteral("start_speed")) ? s.value(QStringLiteral("start_speed"))
                                                                      : s.value(QStringLiteral("speed"));
    return QJsonObject{{QStringLiteral("start_speed"), numberIn(start)},
                       {QStringLiteral("protocol"), numberIn(s.value(QStringLiteral("protocol")))},
                       {QStringLiteral("prot3"), s.value(QStringLiteral("prot3")).toBool()},
                       {QStringLiteral("prot4plus"), s.value(QStringLiteral("prot4plus")).toBool()},
                       {QStringLiteral("same_protocol"), s.value(QStringLiteral("same_protocol")).toBool()},
                       {QStringLiteral("timeout_ms"), numberIn(s.value(QStringLiteral("timeout_ms")))},
                       {QStringLiteral("delay_ms"), numberIn(s.value(QStringLiteral("delay_ms")))},
                       {QStringLiteral("fast_answers"), s.value(QStringLiteral("fast_answers")).toBool()}};
}

RunRecord recordRun(const Run &run, Operation op, const QList<int> &listed, const QDateTime &startedUtc,
                    const QJsonObject &settings)
{
    const SettingsForm &f = run.form;
    RunRecord r;
    r.uid = QUuid::createUuid().toString(QUuid::WithoutBraces);
    r.timeUtc = startedUtc.toUTC();
    r.station = run.user.station.isEmpty() ? QSysInfo::machineHostName() : run.user.station;
    r.operation = QLatin1String(operationName(op));
    r.port = f.comPort;
    r.imagePath = f.fileName;
    r.imageSha256 = r.imagePath.isEmpty() ? QString() : QString::fromLatin1(f.chosenFileHash.toHex());
    r.fileChecksum = f.fileChecksum;
    r.settings = settings;
    r.programVersion = programVersion();
    for (const int id : listed) {
        const ControllerOutcome &o = run.outcomes[id];
        ControllerRecord c;
        c.number = id;
        c.version = o.version;
        c.checksum = o.checksum;
        c.speed = o.speed;
        c.failure = failureCode(o.failure);
        c.erased = o.erased;
        c.durationMs = o.durationMs();
        c.outcome = outcomeName(o.outcome);
        if (o.outcome == Outcome::Ok || o.outcome == Outcome::Mismatch)
            c.failure.clear(); // a speed that did not answer before one that did
        r.controllers << c;
    }
    r.status = runStatus(run.end.refused, run.end.faultNumber.has_value(), run.stopRequested, allPassed(r));
    return r;
}

namespace {
QJsonValue orNull(std::optional<qint64> v) { return v ? QJsonValue(*v) : QJsonValue(); }
std::optional<qint64> optional(const QJsonValue &v)
{
    return v.isDouble() ? std::optional<qint64>(v.toInteger()) : std::nullopt;
}
} // namespace

QJsonObject ControllerRecord::toJson() const
{
    return QJsonObject{{QStringLiteral("controller"), number},
                       {QStringLiteral("unit"), unit},
                       {QStringLiteral("result"), resultOf(outcome)},
                       {QStringLiteral("outcome"), outcome},
                       {QStringLiteral("failure"), failure},
                       {QStringLiteral("failure_text"), failureWordsOf(failure)},
                       {QStringLiteral("version"), version},
                       {QStringLiteral("checksum"), checksum},
                       {QStringLiteral("speed"), orNull(speed)},
                       {QStringLiteral("erased"), erased},
                       {QStringLiteral("duration_ms"), orNull(durationMs)}};
}

QJsonObject RunRecord::toJson() const
{
    QJsonArray rows;
    for (const ControllerRecord &c : controllers)
        rows.append(c.toJson());
    return QJsonObject{{QStringLiteral("uid"), uid},
                       {QStringLiteral("time_utc"), timeUtc.toString(Qt::ISODateWithMs)},
                       {QStringLiteral("station"), station},
                       {QStringLiteral("operation"), operation},
                       {QStringLiteral("port"), port},
                       {QStringLiteral("image_path"), imagePath},
                       {QStringLiteral("image_sha256"), imageSha256},
                       {QStringLiteral("file_checksum"), fileChecksum},
                       {QStringLiteral("settings"), settings},
                       {QStringLiteral("status"), status},
                       {QStringLiteral("program_version"), programVersion},
                       {QStringLiteral("station_run"), stationRun.isEmpty() ? QJsonValue() : QJsonValue(stationRun)},
                       {QStringLiteral("controllers"), rows}};
}

std::optional<ControllerRecord> ControllerRecord::fromJson(const QJsonValue &v)
{
    ControllerRecord c;
    c.number = v[QStringLiteral("controller")].toInt(-1);
    c.outcome = v[QStringLiteral("outcome")].toString();
    c.version = v[QStringLiteral("version")].toString();
    c.checksum = v[QStringLiteral("checksum")].toString();
    if (const auto s = optional(v[QStringLiteral("speed")]))
        c.speed = int(*s);
    // Records written before failures had codes kept the window's words.
    const QString failure = v[QStringLiteral("failure")].toString();
    const std::optional<Failure> known = failureFromStored(failure);
    c.failure = known ? failureCode(*known) : failure;
    c.erased = v[QStringLiteral("erased")].toBool();
    c.durationMs = optional(v[QStringLiteral("duration_ms")]);
    c.unit = v[QStringLiteral("unit")].toString(); // absent from records made before units were kept
    if (c.number < 0 || c.outcome.isEmpty())
        return std::nullopt;
    return c;
}

bool RunRecord::fromJson(const QJsonObject &o, RunRecord &out)
{
    out = RunRecord();
    out.uid = o.value(QStringLiteral("uid")).toString();
    out.timeUtc = QDateTime::fromString(o.value(QStringLiteral("time_utc")).toString(), Qt::ISODateWithMs);
    if (out.uid.isEmpty() || !out.timeUtc.isValid() || !o.value(QStringLiteral("controllers")).isArray())
        return false;
    out.timeUtc = out.timeUtc.toUTC();
    out.station = o.value(QStringLiteral("station")).toString();
    out.operation = o.value(QStringLiteral("operation")).toString();
    out.port = o.value(QStringLiteral("port")).toString();
    out.imagePath = o.value(QStringLiteral("image_path")).toString();
    out.imageSha256 = o.value(QStringLiteral("image_sha256")).toString();
    out.fileChecksum = o.value(QStringLiteral("file_checksum")).toString();
    out.settings = settingsJson(o.value(QStringLiteral("settings")).toObject());
    out.status = o.value(QStringLiteral("status")).toString();
    out.programVersion = o.value(QStringLiteral("program_version")).toString();
    out.stationRun = o.value(QStringLiteral("station_run")).toString(); // absent from lines kept before station runs
    for (const QJsonValue &v : o.value(QStringLiteral("controllers")).toArray()) {
        const std::optional<ControllerRecord> c = ControllerRecord::fromJson(v);
        if (!c)
            return false;
        out.controllers << *c;
    }
    return true;
}

} // namespace vantorel
