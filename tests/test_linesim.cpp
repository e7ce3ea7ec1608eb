// The simulated line driven the way the tool drives a real one: through the
// project's serial port on the pseudo-terminal.

#include "image/batchreader.h"
#include "image/hexfile.h"
#include "link/checkcode.h"
#include "platform/fault.h"
#include "platform/qtserialport.h"
#include "sim/line.h"
#include "support/hexbuilder.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <memory>
#include <optional>
#include <sys/resource.h>

using namespace vantorel;
using namespace vantorel::sim;

namespace {

// Long enough for a loaded two-core machine under sanitizers. Only the
// pacing tests measure time, and they say how.
constexpr int Patience = 10000;

constexpr char kChar = 0x04; // the tool's Protocol box at 3
constexpr int kWitness = 2;

QByteArray bytes(const char *hex)
{
    return QByteArray::fromHex(hex);
}

QByteArray crcFrame(const QByteArray &body)
{
    return sealFrame(body, CheckKind::Crc);
}

QByteArray flashCheck(int ctrl, char protocolChar = kChar, CheckKind kind = CheckKind::Crc)
{
    QByteArray body;
    body += protocolChar;
    body += char(ctrl);
    body += "\x01s";
    return sealFrame(body, kind);
}

QByteArray erase(int ctrl, char protocolChar = kChar)
{
    QByteArray body;
    body += protocolChar;
    body += char(ctrl);
    body += QByteArray("\x04t\x55\xAA\xF0", 5);
    return crcFrame(body);
}

QByteArray programming(int ctrl, const QByteArray &addressBytes, const QByteArray &data)
{
    QByteArray body("@");
    body += char(ctrl);
    body += char(data.size() + 6);
    body += QByteArray("u\xAA\x55\x10", 4);
    body += addressBytes;
    body += data;
    return crcFrame(body);
}

QByteArray fullChecksum(int ctrl, const QByteArray &checksum)
{
    QByteArray body("@");
    body += char(ctrl);
    body += QByteArray("\x07u\xAA\x55\x0F", 5);
    body += checksum;
    return crcFrame(body);
}

ControllerConfig controller(int number, int speed = 9600)
{
    ControllerConfig c;
    c.number = number;
    c.speed = speed;
    c.protocolChar = kChar;
    c.version = {0x01, 0x05, 0x07};
    c.bootVersion = {0x12, 0x05, 0x03};
    c.bootChecksum = 0xA1B2;
    c.bootSpeed = 9600;
    return c;
}

// The check the tool applies to every answer: a CRC over all but the last
// three bytes, carried in the two before the last.
bool crcChecks(const QByteArray &answer)
{
    return answer.size() >= 3
        && CalcCRC(answer.left(answer.size() - 3)) == answer.mid(answer.size() - 3, 2);
}

// The tool's end of the line.
struct Tool {
    explicit Tool(const Line &line, const QString &settings = QStringLiteral("9600,N,8,2")) : line(line)
    {
        port.selectPort(line.slavePath());
        port.setSettings(settings);
        port.open();
    }

    void send(const QByteArray &frame)
    {
        port.write(frame);
        sent += frame.size();
    }

    // Polls the way the tool does, without an event loop of its own.
    QByteArray readAtLeast(qsizetype count, int timeoutMs = Patience)
    {
        QByteArray got;
        const QDeadlineTimer deadline(timeoutMs);
        for (;;) {
            got += port.readAllWaiting();
            if (got.size() >= count || deadline.hasExpired())
                return got;
            QThread::msleep(1); // hands the CPU to the line's thread
        }
    }

    QByteArray exchange(const QByteArray &frame, qsizetype answerLength)
    {
        send(frame);
        return readAtLeast(answerLength);
    }

    // The answer code of an acknowledgement, or 0 when none came.
    int code(const QByteArray &frame)
    {
        const QByteArray answer = exchange(frame, 7);
        return answer.size() >= 4 ? std::uint8_t(answer.at(3)) : 0;
    }

    // Everything sent so far has reached the line and been dealt with.
    bool lineHasTakenAll() const { return line.waitForReceived(sent, Patience); }

    const Line &line;
    QtSerialPort port;
    qint64 sent = 0;
};

std::unique_ptr<Line> lineOf(std::vector<ControllerConfig> controllers, LineOptions options = {})
{
    LineConfig config;
    config.controllers = std::move(controllers);
    return std::make_unique<Line>(config, options);
}

// An image of `size` bytes at 0 in 16-byte records, 100 more after a gap, and
// optionally a configuration record.
struct Image {
    QString path;
    QByteArray flash; // what programming must leave
    QString checksum; // as the tool reads it
};

Image writeImage(const QString &path, std::optional<QByteArray> configurationRecord, int size = 600)
{
    QByteArray data;
    for (int i = 0; i < size; ++i)
        data += char((i * 7 + 3) & 0xFF);
    const QByteArray more(100, char(0x5A));
    QByteArray text = hexImage(0, data, 16, "\r\n", false) + hexImage(0x1000, more, 16, "\r\n", false);
    Image image{path, QByteArray(kFlashSize, char(0xFF)), {}};
    image.flash.replace(0, data.size(), data);
    image.flash.replace(0x1000, more.size(), more);
    if (configurationRecord) {
        text += hexRecord(0x2020, *configurationRecord) + "\r\n";
        image.flash.replace(0x2020, configurationRecord->size(), *configurationRecord);
    }
    text += hexEndRecord() + "\r\n";
    if (!writeFile(path, text))
        return {};
    ImageDescription description;
    image.checksum = readHexChecksum(path, description);
    return image;
}

// Programs an image as the serial download does, after the erase; returns the
// answer codes of the batches and of the full checksum.
QList<int> program(Tool &tool, int ctrl, const Image &image)
{
    QList<int> codes;
    BatchReader reader(image.path);
    while (!reader.atEnd()) {
        const Batch batch = reader.next();
        codes << tool.code(programming(ctrl, batch.addressBytes, batch.data));
    }
    codes << tool.code(fullChecksum(ctrl, checksumBytes(image.checksum)));
    return codes;
}

double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
        + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

} // namespace

Q_DECLARE_METATYPE(ControllerConfig)
Q_DECLARE_METATYPE(Faults)
Q_DECLARE_METATYPE(Mode)
Q_DECLARE_METATYPE(std::optional<QByteArray>)
Q_DECLARE_METATYPE(std::vector<BatchRefusal>)

class TestLineSim : public QObject {
    Q_OBJECT

private slots:
    void answersTheWorkedFrames_data();
    void answersTheWorkedFrames();
    void keepsSilent_data();
    void keepsSilent();
    void takesFramesBackToBack();
    void downloadLandsTheImage_data();
    void downloadLandsTheImage();
    void answerFaults_data();
    void answerFaults();
    void seededFaultsRepeat();
    void pacesEchoAt11BitsPerByte();
    void pacesAnswers();
    void writesStateAfterEveryFrame();
    void idleLineUsesNoCpu();
};

void TestLineSim::answersTheWorkedFrames_data()
{
    QTest::addColumn<ControllerConfig>("config");
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<Mode>("modeAfter");
    QTest::addColumn<int>("speedAfter");
    QTest::addColumn<int>("protocolAfter");

    ControllerConfig one = controller(1);
    one.protocolChar = '@';
    one.bootSpeed = 19200;
    ControllerConfig onePlus = one;
    onePlus.prot4Plus = true;
    // Erased flash: 57342 bytes of FF sum to DF1E02.
    const QByteArray flashCheckData = bytes("730105071E02"); // "s", version, flash checksum
    const QByteArray bootData = bytes("75120503A1B2");       // "u", boot version, boot checksum

    QTest::newRow("flash check") << one << bytes("40010173246904")
                                 << crcFrame(bytes("40010761") + flashCheckData) << Mode::Firmware << 9600 << 4;
    QTest::newRow("flash check, sum") << onePlus << bytes("4001017300B504")
                                      << sealFrame(bytes("40010761") + flashCheckData, CheckKind::Sum)
                                      << Mode::Firmware << 9600 << 4;
    QTest::newRow("erase") << one << bytes("4001047455AAF0315A04") << crcFrame(bytes("40010161")) << Mode::Boot
                           << 19200 << 4;
    QTest::newRow("erase, sum") << onePlus << bytes("4001047455AAF002A804")
                                << sealFrame(bytes("40010161"), CheckKind::Sum) << Mode::Boot << 19200 << 4;
    QTest::newRow("boot information") << one << bytes("40010475AA55503E9804")
                                      << crcFrame(bytes("40010761") + bootData) << Mode::Firmware << 9600 << 4;
    QTest::newRow("boot information, sum") << onePlus << bytes("40010475AA5550020904")
                                           << sealFrame(bytes("40010761") + bootData, CheckKind::Sum)
                                           << Mode::Firmware << 9600 << 4;
    QTest::newRow("return to protocol 3") << one << bytes("400137682804") << crcFrame(bytes("40010161"))
                                          << Mode::Firmware << 9600 << 3;
    QTest::newRow("return to protocol 3, sum") << onePlus << bytes("400137007804")
                                               << sealFrame(bytes("40010161"), CheckKind::Sum) << Mode::Firmware
                                               << 9600 << 3;
    ControllerConfig last = one;
    last.number = 31;
    QTest::newRow("return to protocol 3, controller 31") << last << crcFrame(bytes("401F37"))
                                                         << crcFrame(bytes("401F0161")) << Mode::Firmware << 9600
                                                         << 3;
    for (const int number : {5, 12, 0}) {
        ControllerConfig three = controller(number);
        three.protocol = 3;
        QTest::addRow("switch to protocol 4, controller %d", number)
            << three << (QByteArray("@") + QByteArray::number(number) + "p400:4/") << bytes("682F")
            << Mode::Firmware << 9600 << 4;
    }
}

void TestLineSim::answersTheWorkedFrames()
{
    QFETCH(ControllerConfig, config);
    QFETCH(QByteArray, frame);
    QFETCH(QByteArray, answer);
    const auto line = lineOf({config});
    Tool tool(*line);

    const QByteArray got = tool.exchange(frame, answer.size());
    QCOMPARE(got.toHex(' '), answer.toHex(' '));
    if (answer.size() > 2) {
        // What the tool relies on: the answer code in the fourth byte, and a
        // CRC it can check unless the controller speaks the sum.
        QCOMPARE(std::uint8_t(got.at(3)), Controller::kAccepted);
        QCOMPARE(crcChecks(got), !config.prot4Plus);
    }
    QVERIFY(line->waitForFrames(1, Patience));
    const ControllerState after = *line->snapshot().controller(config.number);
    QTEST(after.mode, "modeAfter");
    QTEST(after.speed, "speedAfter");
    QTEST(after.protocol, "protocolAfter");
    QCOMPARE(after.framesHeard, 1);
    QCOMPARE(after.answersSent, 1);
}

void TestLineSim::keepsSilent_data()
{
    QTest::addColumn<ControllerConfig>("config");
    QTest::addColumn<QString>("settings");
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<int>("heard");

    const ControllerConfig plain = controller(1);
    const QString usual = QStringLiteral("9600,N,8,2");
    const QByteArray check = flashCheck(1);

    QTest::newRow("line at another speed") << plain << "19200,N,8,2" << check << 0;
    QTest::newRow("one stop bit") << plain << "9600,N,8,1" << check << 0;
    QByteArray badCrc = check;
    badCrc[5] = char(badCrc.at(5) ^ 0x01);
    QTest::newRow("wrong check code") << plain << usual << badCrc << 0;
    QTest::newRow("wrong protocol character") << plain << usual << flashCheck(1, 'A') << 0;
    QTest::newRow("sum from a controller without Prot 4+")
        << plain << usual << flashCheck(1, kChar, CheckKind::Sum) << 0;
    QByteArray badEnd = check;
    badEnd[6] = 0x05;
    QTest::newRow("no terminator where the count says") << plain << usual << badEnd << 0;
    QTest::newRow("broadcast query") << plain << usual << flashCheck(0x5F) << 0;
    QTest::newRow("erase with other data") << plain << usual << crcFrame(bytes("0401047455AAF1")) << 1;

    ControllerConfig three = plain;
    three.protocol = 3;
    QTest::newRow("frame to a controller in protocol 3") << three << usual << check << 0;
    QTest::newRow("protocol 3 text to a controller in protocol 4") << plain << usual << QByteArray("@1p400:4/")
                                                                   << 0;
    ControllerConfig boot = plain;
    boot.startInBoot = true;
    QTest::newRow("flash check to the boot program") << boot << usual << check << 1;
    QTest::newRow("sum to the boot program of a Prot 4+ controller")
        << [&] {
               ControllerConfig c = boot;
               c.prot4Plus = true;
               return c;
           }()
        << usual << sealFrame(bytes("04010475AA5550"), CheckKind::Sum) << 0;
    ControllerConfig silent = plain;
    silent.faults.silent = true;
    QTest::newRow("silent controller") << silent << usual << check << 0;
    ControllerConfig dropping = plain;
    dropping.faults.dropAnswers = 1.0;
    QTest::newRow("answer dropped") << dropping << usual << check << 1;
}

void TestLineSim::keepsSilent()
{
    QFETCH(ControllerConfig, config);
    QFETCH(QString, settings);
    QFETCH(QByteArray, frame);
    const auto line = lineOf({config, controller(kWitness)});
    Tool tool(*line, settings);

    tool.send(frame);
    // The settings the bytes crossed at are read when they arrive, so they
    // must have arrived before the settings change back.
    QVERIFY(tool.lineHasTakenAll());
    tool.port.setSettings(QStringLiteral("9600,N,8,2"));

    // Frames are dealt with in order: an answer to the first would come first.
    const QByteArray witnessAnswer = tool.exchange(flashCheck(kWitness), 13);
    QCOMPARE(witnessAnswer.size(), 13);
    QCOMPARE(std::uint8_t(witnessAnswer.at(1)), std::uint8_t(kWitness));
    QTEST(int(line->snapshot().controller(config.number)->framesHeard), "heard");
    QCOMPARE(line->snapshot().controller(config.number)->answersSent, 0);
}

void TestLineSim::takesFramesBackToBack()
{
    const auto line = lineOf({controller(1), controller(kWitness)});
    Tool tool(*line);
    // Noise, a frame, noise that looks like a long frame's start, a frame.
    const QByteArray stream = bytes("FF00") + flashCheck(1) + bytes("0401FF") + flashCheck(kWitness);
    const QByteArray got = tool.exchange(stream, 26);
    QCOMPARE(got.size(), 26);
    QCOMPARE(std::uint8_t(got.at(1)), std::uint8_t(1));
    QCOMPARE(std::uint8_t(got.at(14)), std::uint8_t(kWitness));
    QVERIFY(crcChecks(got.left(13)) && crcChecks(got.mid(13)));
    QCOMPARE(line->snapshot().noiseBytes, 5);
}

void TestLineSim::downloadLandsTheImage_data()
{
    QTest::addColumn<std::optional<QByteArray>>("record");
    QTest::addColumn<int>("startProtocol");
    QTest::addColumn<int>("speedAfter");
    QTest::addColumn<bool>("prot4PlusAfter");
    QTest::addColumn<int>("charAfter");

    // D0: bits 6..4 speed code, bit 3 Prot 4+; D2: protocol character; D3: type.
    QTest::newRow("fixed 19200, Prot 4+, protocol A")
        << std::optional(bytes("28004102")) << 4 << 19200 << true << 0x41;
    QTest::newRow("fixed 115200") << std::optional(bytes("50000403")) << 4 << 115200 << false << 0x04;
    QTest::newRow("fixed 4800") << std::optional(bytes("00000702")) << 4 << 4800 << false << 0x07;
    QTest::newRow("programmable keeps its speed") << std::optional(bytes("70000502")) << 4 << 38400 << false << 0x05;
    QTest::newRow("speed code 110 keeps its speed")
        << std::optional(bytes("68004005")) << 4 << 38400 << true << 0x40;
    QTest::newRow("no configuration record") << std::optional<QByteArray>() << 4 << 38400 << false << int(kChar);
    QTest::newRow("firmware starting in protocol 3")
        << std::optional(bytes("10004002")) << 3 << 9600 << false << 0x40;
}

void TestLineSim::downloadLandsTheImage()
{
    QFETCH(std::optional<QByteArray>, record);
    QFETCH(int, startProtocol);
    QFETCH(int, speedAfter);
    QFETCH(bool, prot4PlusAfter);
    QFETCH(int, charAfter);
    QTemporaryDir dir;
    const Image image = writeImage(dir.filePath(QStringLiteral("image.hex")), record);
    QVERIFY(!image.checksum.isEmpty());

    ControllerConfig c = controller(1, 38400);
    c.protocol = startProtocol;
    c.bootSpeed = 9600;
    const auto line = lineOf({c});
    Tool tool(*line, QStringLiteral("38400,N,8,2"));

    if (startProtocol == 3) // a protocol 3 firmware hears no erase until switched
        QCOMPARE(tool.exchange("@1p400:4/", 2), bytes("682F"));
    QCOMPARE(tool.code(erase(1)), 0x61);
    tool.port.setSettings(QStringLiteral("9600,N,8,2")); // the boot settings
    const QList<int> codes = program(tool, 1, image);
    QVERIFY2(codes.size() >= 4, "the image must take several batches");
    QCOMPARE(codes, QList<int>(codes.size(), 0x61));

    // What landed in flash is the image, byte for byte.
    QCOMPARE(line->flash(1), image.flash);
    ControllerState after = *line->snapshot().controller(1);
    QCOMPARE(QString::number(after.flashChecksum, 16).toUpper(), image.checksum);

    // The new firmware runs at the image's settings, as the tool takes them on.
    QCOMPARE(after.mode, Mode::Firmware);
    QCOMPARE(after.speed, speedAfter);
    QCOMPARE(after.prot4Plus, prot4PlusAfter);
    QCOMPARE(int(after.protocolChar), charAfter);
    QCOMPARE(after.protocol, startProtocol);
    tool.port.setSettings(QStringLiteral("%1,N,8,2").arg(speedAfter));
    if (startProtocol == 3)
        QCOMPARE(tool.exchange("@1p400:4/", 2), bytes("682F"));
    const QByteArray answer = tool.exchange(
        flashCheck(1, char(charAfter), prot4PlusAfter ? CheckKind::Sum : CheckKind::Crc), 13);
    QCOMPARE(answer.size(), 13);
    QCOMPARE(QString::fromLatin1(answer.mid(8, 2).toHex().toUpper()), image.checksum.right(4));
}

void TestLineSim::answerFaults_data()
{
    QTest::addColumn<Faults>("faults");
    QTest::addColumn<int>("length");
    QTest::addColumn<bool>("crcPasses");
    QTest::addColumn<int>("properAt"); // where the untouched answer lies, or -1

    const auto with = [](auto change) {
        Faults f;
        change(f);
        return f;
    };
    QTest::newRow("one byte too long") << with([](Faults &f) { f.wrongLength = 1; }) << 14 << true << -1;
    QTest::newRow("two bytes too short") << with([](Faults &f) { f.wrongLength = -2; }) << 11 << true << -1;
    QTest::newRow("corrupted") << with([](Faults &f) { f.corruptAnswers = 1.0; }) << 13 << false << -1;
    QTest::newRow("noise before") << with([](Faults &f) { f.noiseBefore = 3; }) << 16 << false << 3;
    QTest::newRow("noise after") << with([](Faults &f) { f.noiseAfter = 2; }) << 15 << false << 0;
}

void TestLineSim::answerFaults()
{
    QFETCH(Faults, faults);
    QFETCH(int, length);
    QFETCH(int, properAt);
    ControllerConfig c = controller(1);
    c.faults = faults;
    const auto line = lineOf({c});
    Tool tool(*line);

    const QByteArray got = tool.exchange(flashCheck(1), length);
    QCOMPARE(got.size(), length);
    QTEST(crcChecks(got), "crcPasses");
    if (properAt >= 0) {
        const QByteArray proper = got.mid(properAt, 13);
        QVERIFY(crcChecks(proper));
        QCOMPARE(std::uint8_t(proper.at(3)), Controller::kAccepted);
    }
}

void TestLineSim::seededFaultsRepeat()
{
    ControllerConfig c = controller(1);
    c.faults.dropAnswers = 0.5;
    c.faults.corruptAnswers = 0.3;
    c.faults.seed = 7;
    constexpr int kFrames = 40;

    const auto run = [&] {
        const auto line = lineOf({c});
        Tool tool(*line);
        for (int i = 1; i <= kFrames; ++i) {
            tool.send(flashCheck(1));
            if (!line->waitForFrames(i, Patience))
                return QByteArray();
        }
        QByteArray answers;
        for (const TrafficEntry &t : line->traffic())
            if (!t.fromTool)
                answers += t.bytes;
        return answers;
    };
    const QByteArray first = run();
    const QByteArray second = run();
    QCOMPARE(first.toHex(), second.toHex());
    // Some answers went missing, some came, and some of those came damaged.
    QVERIFY(first.size() > 0 && first.size() < kFrames * 13);
    QCOMPARE(first.size() % 13, 0);
    int damaged = 0;
    for (qsizetype at = 0; at < first.size(); at += 13)
        damaged += crcChecks(first.mid(at, 13)) ? 0 : 1;
    QVERIFY(damaged > 0 && damaged < first.size() / 13);
}

void TestLineSim::pacesEchoAt11BitsPerByte()
{
    LineOptions options;
    options.echo = true;
    options.pace = true;
    const auto line = lineOf({}, options);
    Tool tool(*line);

    // Long enough that a late wake-up of a few tens of milliseconds on a
    // loaded machine stays far inside the 10% the line promises.
    const QByteArray noise(2000, char(0x55));
    const double expected = noise.size() * 11.0 / 9600.0;
    QElapsedTimer timer;
    timer.start();
    tool.send(noise);
    const QByteArray echo = tool.readAtLeast(noise.size());
    const double seconds = double(timer.nsecsElapsed()) / 1e9;
    QCOMPARE(echo.size(), noise.size());
    qInfo("2000 bytes at 9600 baud took %.3f s, %.1f%% over 11 bits a byte", seconds,
          100.0 * (seconds - expected) / expected);
    // It cannot be early: the last echo leaves when the last byte has crossed.
    QVERIFY2(seconds >= expected * 0.999, qPrintable(QString::number(seconds)));
    QVERIFY2(seconds <= expected * 1.10, qPrintable(QString::number(seconds)));
}

void TestLineSim::pacesAnswers()
{
    LineOptions options;
    options.pace = true;
    const auto line = lineOf({controller(1)}, options);
    Tool tool(*line);

    // 7 bytes out and 13 back at 9600 baud. Without pacing on the way back the
    // answer would be complete after the frame's 8 ms.
    const double atLeast = (7 + 13) * 11.0 / 9600.0;
    QElapsedTimer timer;
    timer.start();
    const QByteArray answer = tool.exchange(flashCheck(1), 13);
    const double seconds = double(timer.nsecsElapsed()) / 1e9;
    QCOMPARE(answer.size(), 13);
    QVERIFY2(seconds >= atLeast * 0.999, qPrintable(QString::number(seconds)));

    // The line's own record agrees: from taking the frame in to sending the
    // answer's last byte, 20 byte times.
    QVERIFY(line->waitForFrames(1, Patience));
    double in = -1;
    double lastOut = -1;
    for (const TrafficEntry &t : line->traffic())
        (t.fromTool ? in : lastOut) = t.timeMs;
    const double spanMs = lastOut - in;
    QVERIFY2(spanMs >= atLeast * 1000 * 0.999, qPrintable(QString::number(spanMs)));
}

void TestLineSim::writesStateAfterEveryFrame()
{
    QTemporaryDir dir;
    LineOptions options;
    options.stateFile = dir.filePath(QStringLiteral("state.json"));
    const auto line = lineOf({controller(1)}, options);
    Tool tool(*line);

    const auto stateOnDisk = [&] {
        QFile f(options.stateFile);
        return f.open(QIODevice::ReadOnly) ? QJsonDocument::fromJson(f.readAll()).object() : QJsonObject();
    };
    const auto heard = [&](const QJsonObject &state) {
        return state.value(QStringLiteral("controllers")).toArray().at(0).toObject().value(
            QStringLiteral("framesHeard")).toInt(-1);
    };

    QCOMPARE(tool.code(erase(1)), 0x61);
    // Written by the line's writer thread soon after the frame; no signal
    // reaches us, so poll the file.
    QJsonObject state;
    const QDeadlineTimer deadline(Patience);
    while (heard(state = stateOnDisk()) != 1 && !deadline.hasExpired())
        QThread::msleep(5);
    QCOMPARE(heard(state), 1);
    const QJsonObject ctrl = state.value(QStringLiteral("controllers")).toArray().at(0).toObject();
    QCOMPARE(ctrl.value(QStringLiteral("mode")).toString(), QStringLiteral("boot"));
    QCOMPARE(ctrl.value(QStringLiteral("flashChecksum")).toString(), QStringLiteral("DF1E02"));
    const QJsonArray frames = state.value(QStringLiteral("frames")).toArray();
    QCOMPARE(frames.size(), 1);
    QCOMPARE(frames.at(0).toObject().value(QStringLiteral("bytes")).toString(),
             QString::fromLatin1(erase(1).toHex(' ').toUpper()));

    tool.send(bytes("04010475AA55503E9804")); // the CRC of another protocol character: no frame
    QVERIFY(tool.lineHasTakenAll());
    line->stop();
    const QJsonObject final = stateOnDisk();
    QCOMPARE(final.value(QStringLiteral("line")).toObject().value(QStringLiteral("bytesIn")).toInt(),
             int(tool.sent));
    // Erase, its answer, the stray frame: every byte that crossed, in order.
    QString crossed;
    for (const QJsonValue t : final.value(QStringLiteral("traffic")).toArray())
        crossed += t.toObject().value(QStringLiteral("bytes")).toString() + QLatin1Char(' ');
    QCOMPARE(crossed.trimmed(), QString::fromLatin1((erase(1) + crcFrame(bytes("04010161")) +
                                                     bytes("04010475AA55503E9804")).toHex(' ').toUpper()));
}

void TestLineSim::idleLineUsesNoCpu()
{
    const auto line = lineOf({controller(1)});
    Tool tool(*line);
    QCOMPARE(tool.exchange(flashCheck(1), 13).size(), 13);

    // Measures a second of idleness; a line that polled in a loop would burn
    // most of it.
    const double before = cpuSeconds();
    QVERIFY(!line->waitUntil([](const LineSnapshot &s) { return s.frames > 1; }, 1000));
    const double used = cpuSeconds() - before;
    qInfo("idle line: %.1f ms of CPU in 1 s", used * 1000);
    QVERIFY2(used < 0.05, qPrintable(QString::number(used)));
}

QTEST_GUILESS_MAIN(TestLineSim)
#include "test_linesim.moc"
