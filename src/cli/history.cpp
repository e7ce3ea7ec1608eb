#include "cli/history.h"

#include "cli/json.h"

#include "cli/options.h"
#include "cli/records.h"
#include "cli/report.h"
#include "image/hexfile.h"
#include "platform/fault.h"
#include "state/log.h"
#include "state/usersettings.h"
#include "store/pending.h"
#include "store/resultsstore.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>

#include <algorithm>
#include <cstdio>

namespace vantorel {

namespace {

// A HEX file named instead of its SHA-256: the hash of its bytes, as a download records it. For
// --not-image, its checksum as shown instead: controllers are known to hold an image by the checksum
// they answered, also where no recorded run chose that very file. A name that is neither a file that
// can be read nor a SHA-256 or checksum is refused: taken as a key it would match nothing, and
// --not-image would list every controller, those holding the image too.
QString imageKey(const QString &option, const QString &text, bool byChecksum = false)
{
    QFile f(text);
    const QFileInfo info(text);
    if (info.exists() && (!info.isFile() || !f.open(QIODevice::ReadOnly)))
        throw Usage{QStringLiteral("--%1 %2: the file cannot be read (%3); give a readable HEX file, its SHA-256 or its "
                                   "checksum as shown").arg(option, text, info.isFile() ? f.errorString()
                                                                                         : QStringLiteral("not a file"))};
    if (f.isOpen() && byChecksum) {
        ImageDescription unused;
        try {
            return shownChecksum(readHexChecksum(text, unused));
        } catch (const Fault &fault) {
            throw Usage{QStringLiteral("--%1 %2: %3").arg(option, text, fault.phrase())};
        }
    }
    if (f.isOpen())
        return QString::fromLatin1(QCryptographicHash::hash(f.readAll(), QCryptographicHash::Sha256).toHex());
    const QString t = text.trimmed();
    if (!isImageKey(t))
        throw Usage{QStringLiteral("--%1 %2: there is no such file, and it is no SHA-256 (64 hex digits) nor a checksum "
                                   "as shown (hex digits, e.g. D249); give the HEX file, its SHA-256 or its checksum")
                        .arg(option, text)};
    return t;
}

HistoryFilter filterOf(const Options &o)
{
    HistoryFilter f;
    if (o.isSet(o.controller)) {
        bool ok = false;
        const int n = o.value(o.controller).toInt(&ok);
        if (!ok || n < 0 || n > 31)
            throw Usage{QStringLiteral("--controller takes a controller number, 0 to 31")};
        f.controller = n;
    }
    if (o.isSet(o.since)) {
        const QString t = o.value(o.since).trimmed();
        const QDate day = QDate::fromString(t, Qt::ISODate);
        f.since = day.isValid() ? QDateTime(day, QTime(0, 0), Qt::UTC) : QDateTime::fromString(t, Qt::ISODate);
        if (!f.since.isValid())
            throw Usage{QStringLiteral("--since takes a date or time such as 2026-12-01 or 2026-12-01T08:00 (UTC)")};
        if (!day.isValid() && f.since.timeSpec() == Qt::LocalTime)
            f.since.setTimeSpec(Qt::UTC);
    }
    const QStringList outcomes = {outcomeName(Outcome::Ok), outcomeName(Outcome::Mismatch), outcomeName(Outcome::Failed),
                                  outcomeName(Outcome::ErasedNotProgrammed), outcomeName(Outcome::EraseUnconfirmed),
                                  outcomeName(Outcome::Cancelled),
                                  outcomeName(Outcome::NotReached)};
    if (o.isSet(o.status) && !outcomes.contains(o.value(o.status)))
        throw Usage{QStringLiteral("--status takes one of: ") + outcomes.join(QStringLiteral(", "))};
    f.outcome = o.value(o.status);
    f.station = o.value(o.station);
    f.image = o.isSet(o.image) ? imageKey(QStringLiteral("image"), o.value(o.image)) : QString();
    f.notImage = o.isSet(o.notImage) ? imageKey(QStringLiteral("not-image"), o.value(o.notImage), true) : QString();
    if (o.values(o.unit).size() > 1)
        throw Usage{QStringLiteral("history takes one --unit ID: the unit or serial number of the board looked for")};
    f.unit = o.value(o.unit).trimmed();
    if (o.isSet(o.unit) && f.unit.isEmpty())
        throw Usage{QStringLiteral("--unit takes the unit or serial number of the board looked for, e.g. --unit SN1234")};
    f.stationRun = stationRunOf(o);
    return f;
}

// New columns only ever go after the last: a spreadsheet's or script's columns stay where they were.
const char *const kColumns[] = {"time_utc", "station", "operation", "port", "controller", "outcome", "version",
                                "checksum", "speed", "failure", "file_checksum", "image_sha256", "image_path",
                                "run_status", "program_version", "unit", "station_run"};

// The runs waiting in the program folder's fallback file, by the database each is meant for.
QMap<QString, int> waitingRuns(const PendingRecords &pending)
{
    return QFileInfo::exists(pending.path()) ? pending.waiting() : QMap<QString, int>();
}

// What waits in the fallback file: as the JSON lists it, and as lines for a person.
struct Waiting {
    QJsonArray json;
    QString lines;
};

Waiting describeWaiting(const PendingRecords &pending)
{
    const QMap<QString, int> waiting = waitingRuns(pending);
    Waiting w;
    w.json = waitingJson(waiting);
    for (auto it = waiting.cbegin(); it != waiting.cend(); ++it) {
        w.lines += it.key().isEmpty()
                       ? QStringLiteral("%1 damaged line(s) in %2\n").arg(it.value()).arg(QDir::toNativeSeparators(pending.path()))
                       : QStringLiteral("%1 run(s) wait in %2 for %3\n")
                             .arg(it.value()).arg(QDir::toNativeSeparators(pending.path()), it.key());
    }
    return w;
}

void printCsv(const QList<HistoryRow> &rows, const Waiting &waiting)
{
    QByteArrayList header;
    for (const char *c : kColumns)
        header << c;
    QByteArray out = header.join(',') + kLineEnd;
    for (const HistoryRow &row : rows) {
        const QJsonObject j = historyRowJson(row);
        QByteArrayList cells;
        for (const char *c : kColumns) {
            const QJsonValue v = j.value(QLatin1String(c));
            cells << (v.isDouble() ? QByteArray::number(v.toInteger()) : csvField(v.toString()));
        }
        out += cells.join(',') + kLineEnd;
    }
    std::fwrite(out.constData(), 1, size_t(out.size()), stdout);
    if (!waiting.lines.isEmpty()) // standard output is the spreadsheet's
        std::fprintf(stderr, "%s", waiting.lines.toLocal8Bit().constData());
}

void printText(const QList<HistoryRow> &rows, const QString &database, const Waiting &waiting)
{
    // Every name as written, but a line break or other control character visibly: one record, one line.
    const auto cell = [](const QString &text, int width = 0) { return QStringLiteral("%1").arg(escapeControls(text), width); };
    // Its column only where some record has one: a history without station runs reads as it always did.
    const bool stationRuns = std::any_of(rows.begin(), rows.end(), [](const HistoryRow &r) { return !r.run.stationRun.isEmpty(); });
    // The cells go in at once: one given "%7" (a unit, a version) is text, not a place for the next cell.
    const auto line = [&](const QString &time, const QString &station, const QString &stationRun, const QString &operation,
                          const QString &ctrl, const QString &unit, const QString &outcome, const QString &version,
                          const QString &checksum, const QString &file) {
        return QStringLiteral("%1  %2  %3%4  %5  %6  %7  %8  %9  ")
                   .arg(cell(time, -24), cell(station, -12), stationRuns ? cell(stationRun, -14) + QStringLiteral("  ") : QString(),
                        cell(operation, -17), cell(ctrl, 4), cell(unit, -10), cell(outcome, -21), cell(version, -9),
                        cell(checksum, -8))
               + cell(file) + QLatin1Char('\n');
    };
    QString out = line(QStringLiteral("time (UTC)"), QStringLiteral("station"), QStringLiteral("station run"),
                       QStringLiteral("operation"), QStringLiteral("ctrl"), QStringLiteral("unit"), QStringLiteral("outcome"),
                       QStringLiteral("version"), QStringLiteral("checksum"), QStringLiteral("file"));
    const auto orDash = [](const QString &text) { return text.isEmpty() ? QStringLiteral("-") : text; };
    for (const HistoryRow &row : rows) {
        const ControllerRecord c = row.controller();
        out += line(row.run.timeUtc.toString(Qt::ISODateWithMs), row.run.station, orDash(row.run.stationRun), row.run.operation,
                    QString::number(c.number), orDash(c.unit),
                    c.failure.isEmpty() ? c.outcome : c.outcome + QStringLiteral(": ") + failureWordsOf(c.failure), c.version,
                    c.checksum,
                    row.run.imagePath.isEmpty() ? QStringLiteral("-")
                                                : QFileInfo(row.run.imagePath).fileName() + QStringLiteral(" ") + row.run.fileChecksum);
    }
    out += QStringLiteral("%1 record(s) in %2\n").arg(rows.size()).arg(database) + waiting.lines;
    std::printf("%s", out.toUtf8().constData());
}

} // namespace

int printHistory(const Options &o)
{
    const HistoryFilter filter = filterOf(o);
    const QString appDir = o.appDir();
    const UserSettings user = UserSettings::read(QDir(appDir).filePath(QStringLiteral("Vantorel.ini")));
    if (!o.isSet(o.resultsDb) && !user.problem.isEmpty())
        throw Usage{user.problem + QStringLiteral("; or give --results-db")};
    const QString stationDefault = user.resultsDatabase;
    const QString configured = o.isSet(o.resultsDb) ? o.value(o.resultsDb) : stationDefault;
    StoreTarget target, own;
    QString error;
    const bool ownRead = StoreTarget::parse(stationDefault.isEmpty() ? QStringLiteral("Results.db") : stationDefault,
                                            appDir, own, error);
    const PendingRecords pending(appDir, ownRead ? own.identity() : QStringLiteral("(the program folder's database)"));
    const Waiting waiting = describeWaiting(pending);
    error.clear();
    // A file given here is where the user stands; one from Vantorel.ini lies in the program folder.
    if (!StoreTarget::parse(configured.isEmpty() ? QStringLiteral("Results.db") : configured,
                            o.isSet(o.resultsDb) ? QDir::currentPath() : appDir, target, error))
        throw Usage{error};
    if (!target.postgres && !QFileInfo::exists(target.path))
        throw Usage{QStringLiteral("no results database at %1: no run was recorded there yet (give --dir or "
                                   "--results-db)").arg(target.shown())};
    ResultsStore store(target);
    QList<HistoryRow> rows;
    if (!store.history(filter, rows, error)) {
        errorLine(QStringLiteral("vantorel-cli: ") + error);
        if (o.value(o.format) == QLatin1String("json"))
            printJson(refusedJson(QStringLiteral("history"), error, std::nullopt));
        return ExitFault;
    }
    const QString format = o.value(o.format);
    if (format == QLatin1String("json"))
        printJson(historyJson(rows, target.shown(), pending.path(), waiting.json));
    else if (format == QLatin1String("csv"))
        printCsv(rows, waiting);
    else
        printText(rows, target.shown(), waiting);
    std::fflush(stdout);
    return ExitOk;
}

} // namespace vantorel
