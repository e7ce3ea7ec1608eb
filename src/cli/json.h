#pragma once

#include <QJsonArray>
#include <QJsonObject>
#include <QList>
#include <QMap>
#include <QString>

#include <optional>

namespace vantorel {

struct HistoryRow;
struct ImageDescription;
struct KeptRun;
struct PortItem;
struct LineResult;
struct RunReport;
struct Verdict;

// Every JSON document vantorel-cli prints is put together here, and nowhere
// else: a key is named once. The controller and settings objects inside them
// are the run record's own (ControllerRecord::toJson, settingsJson), which
// the fallback file keeps too. docs/vantorel.schema.json describes them all.

// One document on its own line.
void printJson(const QJsonObject &document);

// A run: its verdict, settings, controllers and the window's boxes.
QJsonObject reportJson(const RunReport &report);
// reportJson's document read back (a station's worker's); nothing when it holds no controllers.
std::optional<RunReport> reportFromJson(const QJsonObject &document, int exit);
// A station's run: each line's report (or refusal) under its port, its controllers naming the line,
// and the counts of all lines. 'notKept': why the rows did not reach --results; empty when they did.
QJsonObject stationJson(const QString &operation, const QString &stationRun, const Verdict &verdict,
                        const QString &notKept, const QList<LineResult> &lines);
// A run refused before the tool started up (bad usage or file).
QJsonObject refusedJson(const QString &operation, const QString &reason, std::optional<int> faultNumber);
// What became of a run's record in the results database.
QJsonObject storeJson(const KeptRun &kept, const QString &problem);
// Runs waiting in the fallback file, by the database each is meant for.
QJsonArray waitingJson(const QMap<QString, int> &waiting);
// One controller's record with its run's fields beside it (history).
QJsonObject historyRowJson(const HistoryRow &row);
QJsonObject historyJson(const QList<HistoryRow> &rows, const QString &database, const QString &pendingFile,
                        const QJsonArray &waiting);
// The serial devices present.
QJsonObject portsJson(const QList<PortItem> &ports);
// A HEX file's checksum and configuration record.
QJsonObject checksumJson(const QString &operation, const QString &checksum, const QString &shown,
                         const ImageDescription &image, const QString &description);

} // namespace vantorel
