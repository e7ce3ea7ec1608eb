#pragma once

#include "state/outcome.h"

#include <QDateTime>
#include <QJsonObject>
#include <QList>
#include <QString>

#include <optional>

namespace vantorel {

class Run;
struct SettingsForm;

// The operations a front end starts, by the names the command line and the
// records give them.
enum class Operation { FlashInfo, BootInfo, Auto, DownloadSerial, DownloadParallel, To4, To3 };
constexpr const char *operationName(Operation op)
{
    switch (op) {
    case Operation::FlashInfo: return "flash-info";
    case Operation::BootInfo: return "boot-info";
    case Operation::Auto: return "auto";
    case Operation::DownloadSerial: return "download-serial";
    case Operation::DownloadParallel: return "download-parallel";
    case Operation::To4: return "to-p4";
    case Operation::To3: return "to-p3";
    }
    return "";
}
// The detection works on every address of the line, whatever is ticked.
constexpr bool worksOnWholeLine(Operation op) { return op == Operation::Auto; }

// "ok", "failed", "cancelled" or "error": how a run ended, for every front end and the records.
QString runStatus(bool refused, bool fault, bool cancelled, bool allOk);

// One controller as a run left it.
struct ControllerRecord {
    int number = 0;
    QString outcome;          // outcomeName()
    QString version;          // as answered; empty when it did not answer
    QString checksum;         // as answered
    std::optional<int> speed; // of its last accepted answer
    QString failure;          // failureCode() of what failed; empty when nothing did
    bool erased = false;      // this run erased it
    std::optional<qint64> durationMs; // how long the run worked on it, when known
    QString unit;             // the board's unit or serial number, as the station gave it; empty when none
    // Its fields as the run's JSON and the history rows name them.
    QJsonObject toJson() const;
    // Read back, older records' failure words included; none when 'o' is no controller.
    static std::optional<ControllerRecord> fromJson(const QJsonValue &o);
};

// One run as the results store keeps it.
struct RunRecord {
    QString uid;       // tells a replayed run from a new one
    QDateTime timeUtc; // when it started
    QString station;   // the host name
    QString operation; // operationName()
    QString port;
    QString imagePath;
    QString imageSha256; // hex, of the file's bytes as chosen; empty without a file
    QString fileChecksum;
    QJsonObject settings; // speed, protocol, time-out ... as the run took them
    QString status;       // runStatus()
    QString programVersion;
    // Shared by the records of every line one station run drove; empty for a run of its own.
    QString stationRun;
    QList<ControllerRecord> controllers;

    QJsonObject toJson() const;
    // False when 'o' is no record (a damaged line of the fallback file).
    static bool fromJson(const QJsonObject &o, RunRecord &out);
};

// Every listed controller passed (the detection: it ran; a controller not found is an answer).
bool allPassed(const RunRecord &record);

// The settings a run starts with, as the main window holds them: numbers
// (null where a box holds none), the line's speed at the start as start_speed.
QJsonObject runSettings(const SettingsForm &form);
// The same keys and types from settings as any record kept them, older ones
// (the start speed as "speed", the boxes' texts) included.
QJsonObject settingsJson(const QJsonObject &settings);
// "ok", "mismatch" or "failed": an outcome as the result column says it.
QString resultOf(const QString &outcome);

// Each listed controller's result as the run left it in run.outcomes.
// 'listed': the controllers ticked at the start (every address for the
// detection).
RunRecord recordRun(const Run &run, Operation op, const QList<int> &listed, const QDateTime &startedUtc,
                    const QJsonObject &settings);

} // namespace vantorel
