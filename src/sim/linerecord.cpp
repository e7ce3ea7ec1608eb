#include "sim/linerecord.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <unistd.h>

namespace vantorel::sim {

namespace {

QString hexText(std::uint32_t value, int digits)
{
    return QStringLiteral("%1").arg(value, digits, 16, QLatin1Char('0')).toUpper();
}

QJsonObject signalJson(const LineSignal &s)
{
    return {{QStringLiteral("baud"), s.baud},
            {QStringLiteral("stopBits"), s.stopBits},
            {QStringLiteral("eightNoParity"), s.eightNoParity}};
}

QJsonObject controllerJson(const ControllerState &c)
{
    return {
        {QStringLiteral("number"), c.number},
        {QStringLiteral("mode"), modeName(c.mode)},
        {QStringLiteral("speed"), c.speed},
        {QStringLiteral("protocolChar"), QStringLiteral("0x") + hexText(c.protocolChar, 2)},
        {QStringLiteral("prot4Plus"), c.prot4Plus},
        {QStringLiteral("protocol"), c.protocol},
        {QStringLiteral("flashChecksum"), hexText(c.flashChecksum, 6)},
        {QStringLiteral("flashCheck"), hexText(c.flashChecksum & 0xFFFF, 4)},
        {QStringLiteral("version"), QStringLiteral("%1/%2/%3")
                                        .arg(hexText(c.version[0], 2), hexText(c.version[1], 2),
                                             hexText(c.version[2], 2))},
        {QStringLiteral("framesHeard"), c.framesHeard},
        {QStringLiteral("answersSent"), c.answersSent},
        {QStringLiteral("stopped"), c.stopped},
        {QStringLiteral("flashSource"), c.flashSource},
    };
}

} // namespace

const ControllerState *LineSnapshot::controller(int number) const
{
    for (const ControllerState &c : controllers)
        if (c.number == number)
            return &c;
    return nullptr;
}

QString modeName(Mode mode)
{
    return mode == Mode::Boot ? QStringLiteral("boot") : QStringLiteral("firmware");
}

QString shapeName(FrameShape shape)
{
    switch (shape) {
    case FrameShape::Return: return QStringLiteral("return");
    case FrameShape::Text: return QStringLiteral("text");
    default: return QStringLiteral("binary");
    }
}

QString spacedHex(const QByteArray &bytes)
{
    return QString::fromLatin1(bytes.toHex(' ').toUpper());
}

QJsonObject toJson(const LineSnapshot &s, const std::vector<FrameRecord> &frames,
                   const std::vector<TrafficEntry> &traffic)
{
    QJsonArray controllers;
    for (const ControllerState &c : s.controllers)
        controllers.append(controllerJson(c));

    QJsonArray frameList;
    for (const FrameRecord &f : frames) {
        QJsonArray heard;
        for (const int n : f.heardBy)
            heard.append(n);
        QJsonObject o{{QStringLiteral("timeMs"), f.timeMs},
                      {QStringLiteral("shape"), shapeName(f.shape)},
                      {QStringLiteral("line"), signalJson(f.signal)},
                      {QStringLiteral("bytes"), spacedHex(f.bytes)},
                      {QStringLiteral("heardBy"), heard}};
        if (f.answeredBy >= 0)
            o.insert(QStringLiteral("answeredBy"), f.answeredBy);
        if (f.unplugged)
            o.insert(QStringLiteral("unplugged"), true);
        frameList.append(o);
    }

    QJsonArray trafficList;
    for (const TrafficEntry &t : traffic)
        trafficList.append(QJsonObject{{QStringLiteral("timeMs"), t.timeMs},
                                       {QStringLiteral("from"), t.fromTool ? QStringLiteral("tool")
                                                                           : QStringLiteral("line")},
                                       {QStringLiteral("line"), signalJson(t.signal)},
                                       {QStringLiteral("bytes"), spacedHex(t.bytes)}});

    QJsonObject line{{QStringLiteral("slavePath"), s.slavePath},
                     {QStringLiteral("echo"), s.echo},
                     {QStringLiteral("pace"), s.pace},
                     {QStringLiteral("unplugged"), s.unplugged},
                     {QStringLiteral("settings"), signalJson(s.signal)},
                     {QStringLiteral("bytesIn"), s.bytesIn},
                     {QStringLiteral("bytesOut"), s.bytesOut},
                     {QStringLiteral("bytesLost"), s.bytesLost},
                     {QStringLiteral("noiseBytes"), s.noiseBytes},
                     {QStringLiteral("frames"), s.frames},
                     {QStringLiteral("recordsDropped"), s.recordsDropped}};
    if (!s.failure.isEmpty())
        line.insert(QStringLiteral("failure"), s.failure);

    return {{QStringLiteral("line"), line},
            {QStringLiteral("controllers"), controllers},
            {QStringLiteral("frames"), frameList},
            {QStringLiteral("traffic"), trafficList}};
}

bool writeJsonFile(const QString &path, const QJsonObject &json, QString *error)
{
    const QByteArray text = QJsonDocument(json).toJson(QJsonDocument::Indented);
    const QByteArray target = QFile::encodeName(path);
    const QByteArray temporary = target + ".tmp" + QByteArray::number(::getpid());
    const auto failed = [&](const char *step) {
        if (error)
            *error = QStringLiteral("%1: %2 failed: %3").arg(path, QLatin1String(step),
                                                              QString::fromLocal8Bit(std::strerror(errno)));
        std::remove(temporary.constData());
        return false;
    };
    std::FILE *f = std::fopen(temporary.constData(), "wb");
    if (!f)
        return failed("creating the temporary file");
    const bool written = std::fwrite(text.constData(), 1, size_t(text.size()), f) == size_t(text.size());
    if (std::fclose(f) != 0 || !written)
        return failed("writing");
    // rename() replaces the old file in one step.
    if (std::rename(temporary.constData(), target.constData()) != 0)
        return failed("renaming");
    return true;
}

} // namespace vantorel::sim
