#include "sim/lineconfig.h"

#include "platform/fault.h"
#include "platform/wholefile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QStringList>

#include <algorithm>
#include <cmath>
#include <functional>
#include <set>

namespace vantorel::sim {

ConfigError::ConfigError(const QString &message) : std::runtime_error(message.toStdString()) {}

namespace {

QString speedList()
{
    QStringList out;
    for (const int s : kLineSpeeds)
        out << QString::number(s);
    return out.join(QStringLiteral(", "));
}

// A plausible firmware whose configuration record says what the controller
// runs at, so a download of another image visibly changes it.
QByteArray demoFirmware(const ControllerConfig &c)
{
    QByteArray flash(kFlashBytes, char(0xFF));
    const int record = kConfigurationAddress - c.flashStart;
    for (int i = 0; i < record - 0x20; ++i)
        flash[i] = char((i * 37 + c.number * 11) & 0xFF);
    flash[record] = char(configurationByte(c.speed, c.prot4Plus));
    flash[record + 1] = 0;
    flash[record + 2] = char(c.protocolChar);
    flash[record + 3] = 0x02; // QRVB
    return flash;
}

// Walks the JSON with the path of the value in hand, so every complaint says
// where it is.
class Reader {
public:
    Reader(QString origin, QString folder) : origin_(std::move(origin)), folder_(std::move(folder)) {}

    [[noreturn]] void fail(const QString &where, const QString &problem) const
    {
        throw ConfigError(QStringLiteral("%1: %2: %3").arg(origin_, where, problem));
    }

    void onlyKnownKeys(const QJsonObject &o, const QString &where, const QStringList &known) const
    {
        for (auto it = o.begin(); it != o.end(); ++it)
            if (!known.contains(it.key()))
                fail(where, QStringLiteral("unknown key \"%1\"; known keys are %2")
                                .arg(it.key(), known.join(QStringLiteral(", "))));
    }

    int integer(const QJsonValue &v, const QString &where, qint64 low, qint64 high) const
    {
        const double d = v.toDouble();
        if (!v.isDouble() || std::floor(d) != d || d < double(low) || d > double(high))
            fail(where, QStringLiteral("%1 is not a whole number from %2 to %3; write one in that range")
                            .arg(shown(v))
                            .arg(low)
                            .arg(high));
        return int(qint64(d));
    }

    double fraction(const QJsonValue &v, const QString &where) const
    {
        const double d = v.toDouble();
        if (!v.isDouble() || d < 0 || d > 1)
            fail(where, QStringLiteral("%1 is not a fraction from 0 to 1; write e.g. 0.25 for a quarter")
                            .arg(shown(v)));
        return d;
    }

    bool boolean(const QJsonValue &v, const QString &where) const
    {
        if (!v.isBool())
            fail(where, QStringLiteral("%1 is not true or false").arg(shown(v)));
        return v.toBool();
    }

    int speed(const QJsonValue &v, const QString &where) const
    {
        const int s = integer(v, where, 1, 10'000'000);
        if (std::find(kLineSpeeds.begin(), kLineSpeeds.end(), s) == kLineSpeeds.end())
            fail(where, QStringLiteral("%1 is not a line speed; use one of %2").arg(s).arg(speedList()));
        return s;
    }

    std::uint8_t protocolChar(const QJsonValue &v, const QString &where) const
    {
        if (v.isDouble())
            return std::uint8_t(integer(v, where, 0, 255));
        const QString t = v.toString();
        if (v.isString() && t.size() == 1 && t.at(0).unicode() < 0x80)
            return std::uint8_t(t.at(0).unicode());
        static const QRegularExpression hex(QStringLiteral("^0[xX]([0-9A-Fa-f]{1,2})$"));
        const QRegularExpressionMatch m = hex.match(t);
        if (v.isString() && m.hasMatch())
            return std::uint8_t(m.captured(1).toInt(nullptr, 16));
        fail(where, QStringLiteral("%1 is not a protocol character; write a number 0-255, one character such as "
                                   "\"@\", or hex such as \"0x04\"")
                        .arg(shown(v)));
    }

    // Where the flash window starts: it must end within the 16-bit addresses.
    int flashStart(const QJsonValue &v, const QString &where) const
    {
        static const QRegularExpression hex(QStringLiteral("^0[xX]([0-9A-Fa-f]{1,4})$"));
        const QRegularExpressionMatch m = hex.match(v.toString());
        const int start = v.isString() && m.hasMatch() ? m.captured(1).toInt(nullptr, 16) : v.isDouble() ? int(v.toDouble()) : -1;
        if ((v.isDouble() && std::floor(v.toDouble()) != v.toDouble()) || start < 0 || start > 0x10000 - kFlashBytes)
            fail(where, QStringLiteral("%1 is not a flash start from 0 to 0x2002; write a number or hex such as \"0x2000\"")
                            .arg(shown(v)));
        return start;
    }

    std::array<std::uint8_t, 3> version(const QJsonValue &v, const QString &where) const
    {
        static const QRegularExpression form(
            QStringLiteral("^([0-9A-Fa-f]{2})/([0-9A-Fa-f]{2})/([0-9A-Fa-f]{2})$"));
        const QRegularExpressionMatch m = form.match(v.toString());
        if (!v.isString() || !m.hasMatch())
            fail(where, QStringLiteral("%1 is not a version; write three hex bytes as the tool shows them, e.g. "
                                       "\"01/05/07\"")
                            .arg(shown(v)));
        return {std::uint8_t(m.captured(1).toInt(nullptr, 16)), std::uint8_t(m.captured(2).toInt(nullptr, 16)),
                std::uint8_t(m.captured(3).toInt(nullptr, 16))};
    }

    std::uint16_t checksum(const QJsonValue &v, const QString &where) const
    {
        static const QRegularExpression form(QStringLiteral("^[0-9A-Fa-f]{4}$"));
        if (!v.isString() || !form.match(v.toString()).hasMatch())
            fail(where, QStringLiteral("%1 is not a checksum; write four hex digits, e.g. \"A1B2\"").arg(shown(v)));
        return std::uint16_t(v.toString().toUInt(nullptr, 16));
    }

    void flash(const QJsonValue &v, const QString &where, ControllerConfig &c) const
    {
        if (!v.isString() || v.toString().isEmpty())
            fail(where, QStringLiteral("%1 is not \"erased\" or the name of a HEX file").arg(shown(v)));
        const QString name = v.toString();
        if (name == QLatin1String("erased")) {
            c.flash.clear();
            c.flashSource = name;
            return;
        }
        const QString path = QDir(folder_).absoluteFilePath(name);
        try {
            c.flash = flashFromHexFile(path, c.flashStart);
        } catch (const ConfigError &e) {
            fail(where, e.message());
        }
        c.flashSource = path;
    }

    Faults faults(const QJsonValue &v, const QString &where) const
    {
        if (!v.isObject())
            fail(where, QStringLiteral("%1 is not an object of faults, e.g. {\"refuseErase\": 2}").arg(shown(v)));
        const QJsonObject o = v.toObject();
        onlyKnownKeys(o, where,
                      {QStringLiteral("silent"), QStringLiteral("refuseErase"), QStringLiteral("refuseBatches"),
                       QStringLiteral("refuseChecksum"), QStringLiteral("refuseReturn"), QStringLiteral("dropAnswers"),
                       QStringLiteral("corruptAnswers"), QStringLiteral("seed"), QStringLiteral("wrongLength"),
                       QStringLiteral("noiseBefore"), QStringLiteral("noiseAfter"),
                       QStringLiteral("stopAfterFrames"), QStringLiteral("unplugAfterFrames"),
                       QStringLiteral("damagedFlash"), QStringLiteral("runsRefusedImage"),
                       QStringLiteral("answerAs"), QStringLiteral("dropEraseAnswers")});
        Faults f;
        const auto field = [&](const char *key, const std::function<void(const QJsonValue &, const QString &)> &take) {
            const QString k = QString::fromLatin1(key);
            if (o.contains(k))
                take(o.value(k), where + QLatin1Char('.') + k);
        };
        constexpr int kMany = 1'000'000;
        field("silent", [&](auto &x, auto &w) { f.silent = boolean(x, w); });
        field("damagedFlash", [&](auto &x, auto &w) { f.damagedFlash = boolean(x, w); });
        field("runsRefusedImage", [&](auto &x, auto &w) { f.runsRefusedImage = boolean(x, w); });
        field("refuseErase", [&](auto &x, auto &w) { f.refuseErase = integer(x, w, 0, kMany); });
        field("answerAs", [&](auto &x, auto &w) { f.answerAs = integer(x, w, 0, 31); });
        field("dropEraseAnswers", [&](auto &x, auto &w) { f.dropEraseAnswers = integer(x, w, 0, kMany); });
        field("refuseChecksum", [&](auto &x, auto &w) { f.refuseChecksum = integer(x, w, 0, kMany); });
        field("refuseReturn", [&](auto &x, auto &w) { f.refuseReturn = integer(x, w, 0, kMany); });
        field("dropAnswers", [&](auto &x, auto &w) { f.dropAnswers = fraction(x, w); });
        field("corruptAnswers", [&](auto &x, auto &w) { f.corruptAnswers = fraction(x, w); });
        field("seed", [&](auto &x, auto &w) { f.seed = std::uint32_t(integer(x, w, 0, 2'000'000'000)); });
        field("wrongLength", [&](auto &x, auto &w) { f.wrongLength = integer(x, w, -255, 255); });
        field("noiseBefore", [&](auto &x, auto &w) { f.noiseBefore = integer(x, w, 0, 1000); });
        field("noiseAfter", [&](auto &x, auto &w) { f.noiseAfter = integer(x, w, 0, 1000); });
        field("stopAfterFrames", [&](auto &x, auto &w) { f.stopAfterFrames = integer(x, w, 0, 2'000'000'000); });
        field("unplugAfterFrames",
              [&](auto &x, auto &w) { f.unplugAfterFrames = integer(x, w, 0, 2'000'000'000); });
        field("refuseBatches", [&](auto &x, auto &w) {
            if (!x.isArray())
                fail(w, QStringLiteral("%1 is not a list such as [{\"batch\": 2, \"times\": 1}]").arg(shown(x)));
            const QJsonArray list = x.toArray();
            for (qsizetype i = 0; i < list.size(); ++i) {
                const QString at = w + QStringLiteral("[%1]").arg(i);
                if (!list.at(i).isObject())
                    fail(at, QStringLiteral("%1 is not an object such as {\"batch\": 2, \"times\": 1}")
                                 .arg(shown(list.at(i))));
                const QJsonObject r = list.at(i).toObject();
                onlyKnownKeys(r, at, {QStringLiteral("batch"), QStringLiteral("times")});
                if (!r.contains(QStringLiteral("batch")))
                    fail(at, QStringLiteral("the batch number is missing; add \"batch\": N (from 1)"));
                BatchRefusal refusal;
                refusal.batch = integer(r.value(QStringLiteral("batch")), at + QStringLiteral(".batch"), 1, kMany);
                if (r.contains(QStringLiteral("times")))
                    refusal.times = integer(r.value(QStringLiteral("times")), at + QStringLiteral(".times"), 1, kMany);
                f.refuseBatches.push_back(refusal);
            }
        });
        return f;
    }

    ControllerConfig controller(const QJsonValue &v, const QString &where) const
    {
        if (!v.isObject())
            fail(where, QStringLiteral("%1 is not a controller object such as {\"number\": 0}").arg(shown(v)));
        const QJsonObject o = v.toObject();
        onlyKnownKeys(o, where,
                      {QStringLiteral("number"), QStringLiteral("speed"), QStringLiteral("protocolChar"),
                       QStringLiteral("prot4Plus"), QStringLiteral("startProtocol"), QStringLiteral("startMode"),
                       QStringLiteral("version"), QStringLiteral("bootVersion"), QStringLiteral("bootChecksum"),
                       QStringLiteral("bootSpeed"), QStringLiteral("flashStart"), QStringLiteral("flash"),
                       QStringLiteral("answerDelayMs"),
                       QStringLiteral("answerPieces"), QStringLiteral("pieceGapMs"),
                       QStringLiteral("answerWithNextWrite"), QStringLiteral("faults")});
        if (!o.contains(QStringLiteral("number")))
            fail(where, QStringLiteral("the controller number is missing; add \"number\": 0 to 31"));
        ControllerConfig c;
        c.flashSource = QStringLiteral("erased");
        const auto field = [&](const char *key, const std::function<void(const QJsonValue &, const QString &)> &take) {
            const QString k = QString::fromLatin1(key);
            if (o.contains(k))
                take(o.value(k), where + QLatin1Char('.') + k);
        };
        field("number", [&](auto &x, auto &w) { c.number = integer(x, w, 0, 31); });
        field("speed", [&](auto &x, auto &w) { c.speed = speed(x, w); });
        field("protocolChar", [&](auto &x, auto &w) { c.protocolChar = protocolChar(x, w); });
        field("prot4Plus", [&](auto &x, auto &w) { c.prot4Plus = boolean(x, w); });
        field("startProtocol", [&](auto &x, auto &w) {
            c.protocol = integer(x, w, 3, 4);
        });
        field("startMode", [&](auto &x, auto &w) {
            const QString mode = x.toString();
            if (mode != QLatin1String("firmware") && mode != QLatin1String("boot"))
                fail(w, QStringLiteral("%1 is not a mode; write \"firmware\" or \"boot\"").arg(shown(x)));
            c.startInBoot = mode == QLatin1String("boot");
        });
        field("version", [&](auto &x, auto &w) { c.version = version(x, w); });
        field("bootVersion", [&](auto &x, auto &w) { c.bootVersion = version(x, w); });
        field("bootChecksum", [&](auto &x, auto &w) { c.bootChecksum = checksum(x, w); });
        field("bootSpeed", [&](auto &x, auto &w) { c.bootSpeed = speed(x, w); });
        // Before the flash, which it places.
        field("flashStart", [&](auto &x, auto &w) { c.flashStart = flashStart(x, w); });
        field("flash", [&](auto &x, auto &w) { flash(x, w, c); });
        field("answerDelayMs", [&](auto &x, auto &w) { c.answerDelayMs = integer(x, w, 0, 60'000); });
        field("answerPieces", [&](auto &x, auto &w) { c.answerPieces = integer(x, w, 1, 64); });
        field("pieceGapMs", [&](auto &x, auto &w) { c.pieceGapMs = integer(x, w, 0, 60'000); });
        field("answerWithNextWrite", [&](auto &x, auto &w) { c.answerWithNextWrite = boolean(x, w); });
        field("faults", [&](auto &x, auto &w) { c.faults = faults(x, w); });
        return c;
    }

    static QString shown(const QJsonValue &v)
    {
        switch (v.type()) {
        case QJsonValue::String: return QLatin1Char('"') + v.toString() + QLatin1Char('"');
        case QJsonValue::Double: return QString::number(v.toDouble(), 'g', 12);
        case QJsonValue::Bool: return v.toBool() ? QStringLiteral("true") : QStringLiteral("false");
        case QJsonValue::Null: return QStringLiteral("null");
        case QJsonValue::Array: return QStringLiteral("a list");
        case QJsonValue::Object: return QStringLiteral("an object");
        default: return QStringLiteral("nothing");
        }
    }

    const QString &origin() const { return origin_; }

private:
    QString origin_;
    QString folder_;
};

} // namespace

LineConfig defaultLine()
{
    LineConfig line;
    const auto add = [&](int number, int speed, std::array<std::uint8_t, 3> version, bool firmware) {
        ControllerConfig c;
        c.number = number;
        c.speed = speed;
        c.protocolChar = 0x04; // the tool's Protocol box set to 3
        c.version = version;
        c.bootVersion = {0x02, 0x00, 0x01};
        c.bootChecksum = 0xA1B2;
        if (firmware) {
            c.flash = demoFirmware(c);
            c.flashSource = QStringLiteral("demo firmware");
        } else {
            c.flashSource = QStringLiteral("erased");
        }
        line.controllers.push_back(c);
    };
    add(0, 9600, {0x01, 0x02, 0x03}, true);
    add(3, 19200, {0x01, 0x02, 0x03}, true);
    add(5, 38400, {0x01, 0x01, 0x09}, false);
    add(7, 4800, {0x01, 0x00, 0x07}, true);
    return line;
}

namespace {

QString hex4(int value)
{
    return QStringLiteral("%1").arg(value, 4, 16, QLatin1Char('0')).toUpper();
}

QByteArray hexLine(int address, const QByteArray &data, int type)
{
    QByteArray record;
    record += char(data.size());
    record += char(address >> 8);
    record += char(address & 0xFF);
    record += char(type);
    record += data;
    int sum = 0;
    for (const char b : record)
        sum += std::uint8_t(b);
    record += char(-sum & 0xFF);
    return ':' + record.toHex().toUpper() + "\r\n";
}

} // namespace

QByteArray sampleImage()
{
    // 640 bytes: five batches of eight 16-byte records, so each controller
    // costs five acknowledged batches plus one for the configuration record.
    QByteArray code(640, '\0');
    std::uint32_t state = 0x5EED;
    for (qsizetype i = 0; i < code.size(); ++i) {
        state = state * 1103515245u + 12345u;
        code[i] = char(state >> 16);
    }
    const QByteArray banner("Vantorel sample image - for the simulated line, not for real controllers");
    code.replace(0x100, banner.size(), banner);

    QByteArray hex;
    for (qsizetype at = 0; at < code.size(); at += 16)
        hex += hexLine(int(at), code.mid(at, 16), 0x00);
    // Speed code 111 (programmable: each controller keeps its own), CRC, protocol byte 04, type 02 (QRVB).
    hex += hexLine(0x2020, QByteArray::fromHex("70000402"), 0x00);
    hex += hexLine(0x0000, {}, 0x01);
    return hex;
}

QByteArray flashFromHexFile(const QString &path, int flashStart)
{
    // Far past any sound HEX file (the whole flash in one-byte records is
    // under 1 MB) and still nothing to hold in memory.
    constexpr qint64 kLongestHexFile = 16 * 1024 * 1024;
    std::vector<HexLine> lines;
    try {
        lines = readHexLines(readWholeFile(path, kLongestHexFile, QStringLiteral("a HEX file"),
                                           QStringLiteral("give a firmware's HEX file")));
    } catch (const Fault &fault) {
        // Its descriptions name the file already.
        throw ConfigError(fault.description() + QStringLiteral("; fix the HEX file or write \"erased\""));
    } catch (const HexError &e) {
        throw ConfigError(path + QStringLiteral(": ") + QString::fromStdString(e.what())
                          + QStringLiteral("; fix the HEX file or write \"erased\""));
    }
    QByteArray flash(kFlashBytes, char(0xFF));
    for (const HexLine &line : lines) {
        if (line.data.isEmpty())
            continue; // an end record, or any other that carries nothing to the flash
        const int offset = line.address - flashStart;
        if (offset < 0 || offset + line.data.size() > kFlashBytes)
            throw ConfigError(QStringLiteral("%1: line %2: the data at address %3 lies outside the %4-byte flash "
                                             "from %5; use an image for this controller")
                                  .arg(path)
                                  .arg(line.number)
                                  .arg(hex4(line.address), QString::number(kFlashBytes), hex4(flashStart)));
        flash.replace(offset, line.data.size(), line.data);
    }
    return flash;
}

LineConfig parseLineConfig(const QByteArray &json, const QString &origin, const QString &folder)
{
    const Reader reader(origin, folder);
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError) {
        const QByteArray before = json.left(error.offset);
        const int line = int(before.count('\n')) + 1;
        const int column = int(error.offset - (before.lastIndexOf('\n') + 1)) + 1;
        reader.fail(QStringLiteral("line %1, column %2").arg(line).arg(column),
                    QStringLiteral("not valid JSON (%1); correct the file there").arg(error.errorString()));
    }
    if (!doc.isObject())
        reader.fail(QStringLiteral("top level"),
                    QStringLiteral("expected an object such as {\"controllers\": [{\"number\": 0}]}"));
    const QJsonObject top = doc.object();
    reader.onlyKnownKeys(top, QStringLiteral("top level"),
                         {QStringLiteral("controllers"), QStringLiteral("echo"), QStringLiteral("pace")});
    const QJsonValue list = top.value(QStringLiteral("controllers"));
    if (!list.isArray())
        reader.fail(QStringLiteral("controllers"),
                    QStringLiteral("missing or not a list; write \"controllers\": [{\"number\": 0}, ...]"));

    LineConfig config;
    if (top.contains(QStringLiteral("echo")))
        config.echo = reader.boolean(top.value(QStringLiteral("echo")), QStringLiteral("echo"));
    if (top.contains(QStringLiteral("pace")))
        config.pace = reader.boolean(top.value(QStringLiteral("pace")), QStringLiteral("pace"));
    std::set<int> numbers;
    const QJsonArray controllers = list.toArray();
    for (qsizetype i = 0; i < controllers.size(); ++i) {
        const QString where = QStringLiteral("controllers[%1]").arg(i);
        ControllerConfig c = reader.controller(controllers.at(i), where);
        if (!numbers.insert(c.number).second)
            reader.fail(where + QStringLiteral(".number"),
                        QStringLiteral("controller %1 is described twice; give each controller its own number")
                            .arg(c.number));
        config.controllers.push_back(std::move(c));
    }
    return config;
}

LineConfig readLineConfig(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw ConfigError(QStringLiteral("%1: cannot be read (%2); check the name").arg(path, file.errorString()));
    return parseLineConfig(file.readAll(), path, QFileInfo(path).absolutePath());
}

} // namespace vantorel::sim
