// The parts of the simulated line that need no pseudo-terminal: telling
// frames apart and reading line descriptions.

#include "app/imagedescription.h"
#include "image/hexfile.h"
#include "link/checkcode.h"
#include "sim/framesplitter.h"
#include "sim/lineconfig.h"
#include "support/hexbuilder.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

using namespace vantorel;
using namespace vantorel::sim;

namespace {

const LineSignal at9600{9600, 2, true};

QByteArray bytes(const char *hex)
{
    return QByteArray::fromHex(hex);
}

QByteArray flashCheck(char protocolChar, int ctrl, CheckKind kind = CheckKind::Crc)
{
    QByteArray body;
    body += protocolChar;
    body += char(ctrl);
    body += "\x01s";
    return sealFrame(body, kind);
}

// A line with controller 1 speaking protocol character 0x04.
FrameSplitter splitter()
{
    return FrameSplitter([](std::uint8_t first, std::uint8_t address) {
        return (first == 0x04 || first == '@') && (address == 1 || address == 0x5F);
    });
}

void push(FrameSplitter &s, const QByteArray &stream, const LineSignal &signal = at9600,
          Clock::time_point t = Clock::time_point())
{
    for (const char b : stream)
        s.push(std::uint8_t(b), signal, t);
}

QStringList framesOf(FrameSplitter &s)
{
    QStringList out;
    while (const std::optional<Frame> f = s.next()) {
        const char *shape = f->shape == FrameShape::Text     ? "text"
                            : f->shape == FrameShape::Return ? "return"
                                                             : "binary";
        out << QStringLiteral("%1 %2").arg(QLatin1String(shape), QString::fromLatin1(f->bytes.toHex().toUpper()));
    }
    return out;
}

QString binary(const QByteArray &frame)
{
    return QStringLiteral("binary ") + QString::fromLatin1(frame.toHex().toUpper());
}

} // namespace

class TestLineSimModel : public QObject {
    Q_OBJECT

private slots:
    void splitsFrames_data();
    void splitsFrames();
    void waitsForTheRestOfAFrame();
    void bytesAtOtherSettingsMakeNoise();
    void forgetsAPartialFrameAfterSilence();
    void readsADescription();
    void rejectsBadDescriptions_data();
    void rejectsBadDescriptions();
    void defaultFirmwareDescribesItsController();
};

void TestLineSimModel::splitsFrames_data()
{
    QTest::addColumn<QByteArray>("stream");
    QTest::addColumn<QStringList>("frames");
    QTest::addColumn<int>("noise");

    const QByteArray check = flashCheck(0x04, 1);
    QByteArray badCrc = check;
    badCrc[4] = char(badCrc.at(4) ^ 0x80);

    QTest::newRow("one frame") << check << QStringList{binary(check)} << 0;
    QTest::newRow("two frames in one go") << check + check << QStringList{binary(check), binary(check)} << 0;
    QTest::newRow("noise ahead") << bytes("FF0000") + check << QStringList{binary(check)} << 3;
    QTest::newRow("a broken frame does not hold up the next") << badCrc + check << QStringList{binary(check)} << 7;
    QTest::newRow("a start claiming 255 bytes does not hold up the next")
        << bytes("0401FF") + check << QStringList{binary(check)} << 3;
    QTest::newRow("sum check code") << flashCheck('@', 1, CheckKind::Sum)
                                    << QStringList{binary(flashCheck('@', 1, CheckKind::Sum))} << 0;
    QTest::newRow("return command despite its 0x37") << bytes("400137682804") << QStringList{"return 400137682804"}
                                                     << 0;
    QTest::newRow("switch text") << QByteArray("xy@12p400:4/") << QStringList{"text 403132703430303A342F"} << 2;
    QTest::newRow("switch text for controller 0") << QByteArray("@0p400:4/") << QStringList{"text 4030703430303A342F"}
                                                  << 0;
    QTest::newRow("leading zero is no number") << QByteArray("@05p400:4/") << QStringList{} << 0;
    QTest::newRow("nobody on the line has that address") << flashCheck(0x04, 9) << QStringList{} << 0;
    QTest::newRow("frame carrying the terminator in its data")
        << sealFrame(bytes("4001057504040404"), CheckKind::Crc)
        << QStringList{binary(sealFrame(bytes("4001057504040404"), CheckKind::Crc))} << 0;
}

void TestLineSimModel::splitsFrames()
{
    QFETCH(QByteArray, stream);
    FrameSplitter s = splitter();
    push(s, stream);
    QTEST(framesOf(s), "frames");
    QTEST(int(s.noiseBytes()), "noise");
}

void TestLineSimModel::waitsForTheRestOfAFrame()
{
    const QByteArray frame = sealFrame(bytes("40015F") + QByteArray(0x5F, 'u'), CheckKind::Crc);
    FrameSplitter s = splitter();
    push(s, frame.left(40));
    QCOMPARE(framesOf(s), QStringList{});
    push(s, frame.mid(40));
    QCOMPARE(framesOf(s), QStringList{binary(frame)});
}

void TestLineSimModel::bytesAtOtherSettingsMakeNoise()
{
    const QByteArray frame = flashCheck(0x04, 1);
    FrameSplitter s = splitter();
    push(s, frame.left(3));
    push(s, frame.mid(3), LineSignal{19200, 2, true});
    const std::optional<Frame> f = s.next();
    QVERIFY(f);
    QCOMPARE(f->signal.baud, 0);
}

void TestLineSimModel::forgetsAPartialFrameAfterSilence()
{
    const QByteArray frame = flashCheck(0x04, 1);
    FrameSplitter s = splitter();
    const Clock::time_point t0;
    push(s, frame.left(3), at9600, t0);
    push(s, frame.mid(3), at9600, t0 + FrameSplitter::kForgetAfter + std::chrono::milliseconds(1));
    QCOMPARE(framesOf(s), QStringList{});
    QCOMPARE(s.noiseBytes(), 3);
}

void TestLineSimModel::readsADescription()
{
    QTemporaryDir dir;
    QVERIFY(writeFile(dir.filePath(QStringLiteral("fw.hex")),
                      hexImage(0x100, QByteArray(40, char(0x12)), 16) + hexRecord(0x2020, bytes("18004002"))));
    const QByteArray json = R"({
        "controllers": [
            {"number": 0, "speed": 9600, "protocolChar": "0x04", "flash": "fw.hex",
             "version": "01/05/07", "bootVersion": "12/05/03", "bootChecksum": "a1b2"},
            {"number": 7, "speed": 4800, "protocolChar": "@", "prot4Plus": true, "startProtocol": 3,
             "startMode": "boot", "bootSpeed": 19200, "answerDelayMs": 20,
             "answerPieces": 3, "pieceGapMs": 15,
             "faults": {"refuseErase": 2, "refuseBatches": [{"batch": 3, "times": 2}, {"batch": 5}],
                        "dropAnswers": 0.25, "seed": 42, "wrongLength": -1, "unplugAfterFrames": 10}}
        ]
    })";
    const LineConfig line = parseLineConfig(json, QStringLiteral("line.json"), dir.path());
    QCOMPARE(line.controllers.size(), size_t(2));

    const ControllerConfig &a = line.controllers[0];
    QCOMPARE(a.protocolChar, std::uint8_t(0x04));
    QCOMPARE(a.version, (std::array<std::uint8_t, 3>{0x01, 0x05, 0x07}));
    QCOMPARE(a.bootChecksum, std::uint16_t(0xA1B2));
    QCOMPARE(a.flash.size(), qsizetype(kFlashSize));
    QCOMPARE(a.flash.mid(0x100, 40), QByteArray(40, char(0x12)));
    QCOMPARE(a.flash.mid(0x2020, 4), bytes("18004002"));
    QCOMPARE(a.flash.at(0xFF), char(0xFF));
    QCOMPARE(a.flashSource, dir.filePath(QStringLiteral("fw.hex")));

    const ControllerConfig &b = line.controllers[1];
    QCOMPARE(b.protocolChar, std::uint8_t('@'));
    QVERIFY(b.prot4Plus && b.startInBoot);
    QCOMPARE(b.protocol, 3);
    QCOMPARE(b.bootSpeed, 19200);
    QCOMPARE(b.answerDelayMs, 20);
    QCOMPARE(b.answerPieces, 3);
    QCOMPARE(b.pieceGapMs, 15);
    QVERIFY(b.flash.isEmpty());
    QCOMPARE(b.faults.refuseErase, 2);
    QCOMPARE(b.faults.refuseBatches.size(), size_t(2));
    QCOMPARE(b.faults.refuseBatches[0].times, 2);
    QCOMPARE(b.faults.refuseBatches[1].times, 1);
    QCOMPARE(b.faults.dropAnswers, 0.25);
    QCOMPARE(b.faults.wrongLength, -1);
    QCOMPARE(b.faults.unplugAfterFrames, 10);
    QCOMPARE(b.faults.stopAfterFrames, -1);
}

void TestLineSimModel::rejectsBadDescriptions_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<QStringList>("mentions");

    QTest::newRow("syntax") << QByteArray("{\n  \"controllers\": [\n    {\"number\": 1,}\n  ]\n}")
                            << QStringList{"line 3", "JSON"};
    QTest::newRow("not an object") << QByteArray("[1]") << QStringList{"top level", "controllers"};
    QTest::newRow("no controllers") << QByteArray("{}") << QStringList{"controllers", "write"};
    QTest::newRow("misspelt key") << QByteArray(R"({"controllers": [{"number": 1, "sped": 9600}]})")
                                  << QStringList{"controllers[0]", "\"sped\"", "speed"};
    QTest::newRow("odd speed") << QByteArray(R"({"controllers": [{"number": 1, "speed": 9601}]})")
                               << QStringList{"controllers[0].speed", "9601", "115200"};
    QTest::newRow("number out of range") << QByteArray(R"({"controllers": [{"number": 32}]})")
                                         << QStringList{"controllers[0].number", "0 to 31"};
    QTest::newRow("number missing") << QByteArray(R"({"controllers": [{"speed": 9600}]})")
                                    << QStringList{"controllers[0]", "\"number\""};
    QTest::newRow("number twice") << QByteArray(R"({"controllers": [{"number": 4}, {"number": 4}]})")
                                  << QStringList{"controllers[1].number", "twice"};
    QTest::newRow("version form") << QByteArray(R"({"controllers": [{"number": 1, "version": "1.5.7"}]})")
                                  << QStringList{"controllers[0].version", "01/05/07"};
    QTest::newRow("protocol character") << QByteArray(R"({"controllers": [{"number": 1, "protocolChar": "AB"}]})")
                                        << QStringList{"controllers[0].protocolChar", "0x04"};
    QTest::newRow("fraction above one")
        << QByteArray(R"({"controllers": [{"number": 1, "faults": {"dropAnswers": 1.5}}]})")
        << QStringList{"controllers[0].faults.dropAnswers", "0 to 1"};
    QTest::newRow("refused batch without number")
        << QByteArray(R"({"controllers": [{"number": 1, "faults": {"refuseBatches": [{"times": 2}]}}]})")
        << QStringList{"controllers[0].faults.refuseBatches[0]", "\"batch\""};
    QTest::newRow("missing HEX file") << QByteArray(R"({"controllers": [{"number": 1, "flash": "gone.hex"}]})")
                                      << QStringList{"controllers[0].flash", "gone.hex", "erased"};
    QTest::newRow("HEX file beyond the flash") << QByteArray(R"({"controllers": [{"number": 1, "flash": "big.hex"}]})")
                                               << QStringList{"controllers[0].flash", "big.hex", "DFF0"};
}

void TestLineSimModel::rejectsBadDescriptions()
{
    QFETCH(QByteArray, json);
    QFETCH(QStringList, mentions);
    QTemporaryDir dir;
    QVERIFY(writeFile(dir.filePath(QStringLiteral("big.hex")), hexImage(0xDFF0, QByteArray(32, 0), 16)));
    QString message;
    try {
        parseLineConfig(json, QStringLiteral("bench/line.json"), dir.path());
    } catch (const ConfigError &e) {
        message = e.message();
    }
    QVERIFY2(message.startsWith(QLatin1String("bench/line.json: ")), qPrintable(message));
    QVERIFY2(!message.contains(QLatin1Char('\n')), qPrintable(message));
    for (const QString &m : mentions)
        QVERIFY2(message.contains(m, Qt::CaseInsensitive), qPrintable(message + QStringLiteral(" lacks ") + m));
}

void TestLineSimModel::defaultFirmwareDescribesItsController()
{
    // A demo controller whose image said something else would change its
    // speed or protocol character on its first download of the same image.
    for (const ControllerConfig &c : defaultLine().controllers) {
        if (c.flash.isEmpty())
            continue;
        ImageDescription d;
        applyConfigurationRecord(d, std::uint8_t(c.flash.at(0x2020)),
                                 QString::fromLatin1(c.flash.mid(0x2022, 1).toHex().toUpper()),
                                 QString::fromLatin1(c.flash.mid(0x2023, 1).toHex().toUpper()));
        QCOMPARE(d.HexBaudRate.toInt(), c.speed);
        QCOMPARE(d.HexProt4Plus, c.prot4Plus);
        QCOMPARE(d.HexProtocolByte.toInt(nullptr, 16), int(c.protocolChar));
    }
}

QTEST_GUILESS_MAIN(TestLineSimModel)
#include "test_linesim_model.moc"
