#pragma once

#include "sim/controller.h"
#include "sim/frame.h"

#include <QByteArray>
#include <QJsonObject>
#include <QString>

#include <vector>

namespace vantorel::sim {

// Bytes as they crossed the line, in one read or one write.
struct TrafficEntry {
    double timeMs = 0; // since the line started
    bool fromTool = true; // false: sent by the line (echo, answers, noise)
    LineSignal signal;    // the settings the tool had set at that moment
    QByteArray bytes;
};

// A frame the line told apart, and who took notice of it.
struct FrameRecord {
    double timeMs = 0; // when its last byte was on the line
    FrameShape shape = FrameShape::Binary;
    LineSignal signal;
    QByteArray bytes;
    std::vector<int> heardBy;
    int answeredBy = -1;
    bool unplugged = false; // it made the line pull its plug
};

struct LineSnapshot {
    QString slavePath;
    bool echo = false;
    bool pace = false;
    bool unplugged = false;
    QString failure;   // why the line stopped working, if it did
    LineSignal signal; // the settings last seen
    qint64 bytesIn = 0;
    qint64 bytesOut = 0;
    qint64 bytesLost = 0;  // answers the tool's side had no room for
    qint64 noiseBytes = 0; // bytes from the tool that belonged to no frame
    qint64 frames = 0;
    qint64 recordsDropped = 0; // oldest traffic and frame records let go to bound memory
    // Nothing in flight: every byte taken in has been dealt with and
    // everything due to go back has been written.
    bool quiet = true;
    std::vector<ControllerState> controllers;

    // Null when no controller has that number.
    const ControllerState *controller(int number) const;
};

QString modeName(Mode mode);
QString shapeName(FrameShape shape);
// "40 01 01 73", the way the tool's log shows bytes, spaced for reading.
QString spacedHex(const QByteArray &bytes);

QJsonObject toJson(const LineSnapshot &snapshot, const std::vector<FrameRecord> &frames,
                   const std::vector<TrafficEntry> &traffic);

// Writes the whole file or leaves the old one: readers never see half a state.
bool writeJsonFile(const QString &path, const QJsonObject &json, QString *error = nullptr);

} // namespace vantorel::sim
