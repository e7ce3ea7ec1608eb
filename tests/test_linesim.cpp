// The simulated line's own faults that the tool's end-to-end tests would pass
// over: answers and silences, frames in noise, bad descriptions, the program.
// Its pace and idle CPU are figures of bench_linesim.

#include "platform/qtserialport.h"
#include "sim/framesplitter.h"
#include "sim/line.h"
#include "sim/lineconfig.h"
#include "support/hexbuilder.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>


using namespace vantorel;
using namespace vantorel::sim;

namespace {

// For waits not under test: a loaded two-core machine under sanitizers.
constexpr int Patience = 10000;
const QString At9600 = QStringLiteral("9600,N,8,2");
const LineSignal signal9600{9600, 2, true};

QByteArray bytes(const char *hex) { return QByteArray::fromHex(hex); }
QString hex(const QByteArray &b) { return QString::fromLatin1(b.toHex().toUpper()); }

// The tool's end of the line, polling without an event loop as the tool does.
struct Tool {
    explicit Tool(const QString &path, const QString &settings = At9600)
    {
        port.selectPort(path);
        port.setSettings(settings);
        port.open();
    }
    void send(const QByteArray &b)
    {
        port.write(b);
        sent += b.size();
    }
    QByteArray readAtLeast(qsizetype count)
    {
        QByteArray got;
        const QDeadlineTimer deadline(Patience);
        while (got.size() < count && !deadline.hasExpired()) {
            port.waitForInput(int(qMax<qint64>(deadline.remainingTime(), 1)));
            got += port.readAllWaiting();
        }
        return got;
    }
    QtSerialPort port;
    qint64 sent = 0;
};

std::unique_ptr<Line> lineOf(const QByteArray &controllers, const QString &folder, const LineOptions &options = {})
{
    const QByteArray json = "{\"controllers\": [" + controllers + "]}";
    return std::make_unique<Line>(parseLineConfig(json, QStringLiteral("test line"), folder), options);
}

// Starts the program and takes the device paths it prints first, one for each
// line (empty for a line that did not start); fewer if it ends or falls silent.
QStringList startProgram(QProcess &sim, const QStringList &arguments, int lines)
{
    sim.start(QStringLiteral(VANTOREL_LINESIM), arguments);
    QStringList paths;
    const QDeadlineTimer deadline(Patience);
    while (paths.size() < lines) {
        if (sim.canReadLine())
            paths << QString::fromLocal8Bit(sim.readLine()).trimmed();
        else if (!sim.waitForReadyRead(int(qMax<qint64>(deadline.remainingTime(), 1))))
            break;
    }
    return paths;
}

QJsonObject readJson(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QJsonDocument::fromJson(file.readAll()).object() : QJsonObject();
}

// Controller 1 on protocol character 0x04, and the broadcast address.
FrameSplitter splitter()
{
    return FrameSplitter([](std::uint8_t first, std::uint8_t address) {
        return (first == 0x04 || first == '@') && (address == 1 || address == 0x5F);
    });
}

void push(FrameSplitter &s, const QByteArray &stream, const LineSignal &signal, Clock::time_point t = {})
{
    for (const char b : stream)
        s.push(std::uint8_t(b), signal, t);
}

} // namespace

class TestLineSim : public QObject {
    Q_OBJECT
    QTemporaryDir files; // HEX files the descriptions name

private slots:
    void initTestCase()
    {
        // 16 bytes of 12 at 0100.
        QVERIFY(writeFile(files.filePath("fw.hex"), ":1001000012121212121212121212121212121212CF\r\n:00000001FF\r\n"));
        // Whole batches of 11 from 2000: the end record, at 0000, opens a batch of its own.
        QVERIFY(writeFile(files.filePath("high.hex"), hexImage(0x2000, QByteArray(128, 0x11), 16)));
    }

    void answersOrKeepsSilent_data()
    {
        QTest::addColumn<QByteArray>("controller");
        QTest::addColumn<QString>("settings");
        QTest::addColumn<QByteArray>("frame");
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<QString>("after"); // mode, speed, protocol
        const auto row = [](const char *name, const char *controller, const QByteArray &frame, const char *answer,
                            const char *after = "firmware 9600 4", const QString &settings = At9600) {
            QTest::newRow(name) << QByteArray(controller) << settings << frame << bytes(answer) << QString(after);
        };
        // Erased flash: 57342 bytes of FF, 1E02 in the flash check's two bytes.
        row("flash check", R"({"number": 1, "version": "01/05/07"})", bytes("40010173246904"),
            "40010761730105071E024D9C04");
        row("flash check, byte sum", R"({"number": 1, "version": "01/05/07", "prot4Plus": true})",
            bytes("4001017300B504"), "40010761730105071E02014904");
        row("flash check with @ of a flash from a HEX file", R"({"number": 1, "protocolChar": "0x04",
            "flash": "fw.hex"})", bytes("40010173246904"), "04010761730100000F32AD7704");
        row("flash check of a flash from 2000 loaded from a HEX file", R"({"number": 1, "protocolChar": "0x04",
            "flashStart": "0x2000", "flash": "high.hex"})", bytes("40010173246904"), "0401076173010000A7020FF304");
        row("erase", R"({"number": 1, "bootSpeed": 19200})", bytes("4001047455AAF0315A04"), "40010161161A04",
            "boot 19200 4");
        row("erase, acknowledged in byte sum before the boot program runs",
            R"({"number": 1, "bootSpeed": 19200, "prot4Plus": true})", bytes("4001047455AAF002A804"),
            "4001016100A304", "boot 19200 4");
        row("boot information", R"({"number": 1, "bootVersion": "12/05/03", "bootChecksum": "a1b2"})",
            bytes("40010475AA55503E9804"), "4001076175120503A1B25FDD04");
        row("return to protocol 3, controller 31", R"({"number": 31})", bytes("401F37485404"), "401F01614E7804",
            "firmware 9600 3");
        row("return to protocol 3, byte sum", R"({"number": 1, "prot4Plus": true})", bytes("400137007804"),
            "4001016100A304", "firmware 9600 3");
        row("switch to protocol 4, controller 12", R"({"number": 12, "startProtocol": 3})", "@12p400:4/", "682F");
        row("switch to protocol 4, controller 0", R"({"number": 0, "startProtocol": 3})", "@0p400:4/", "682F");
        const char *boot = R"({"number": 1, "startMode": "boot"})";
        row("batch to the boot program", boot, bytes("40010A75AA55100010DEADBEEFC51304"), "40010161161A04",
            "boot 9600 4");
        row("full checksum that does not match is refused", boot, bytes("40010775AA550F000000264604"),
            "400101E1879204", "boot 9600 4");
        row("full checksum that matches: the firmware's speed again", R"({"number": 1, "startMode": "boot",
            "speed": 19200})", bytes("40010775AA550FDF1E026FDD04"), "40010161161A04", "firmware 19200 4");

        const char *plain = R"({"number": 1, "protocolChar": "0x04"})";
        const QByteArray check = bytes("04010173800404");
        row("batch to the firmware is refused", plain, bytes("04010A75AA55100010DEADBEEF9A6E04"), "040101E123FF04");
        row("silent: line at another speed", plain, check, "", "firmware 9600 4", QStringLiteral("19200,N,8,2"));
        row("silent: one stop bit", plain, check, "", "firmware 9600 4", QStringLiteral("9600,N,8,1"));
        row("silent: wrong check code", plain, bytes("04010173800504"), "");
        row("silent: wrong protocol character", plain, bytes("4101017352DD04"), "");
        row("silent: byte sum without Prot 4+", plain, bytes("04010173007904"), "");
        row("silent: erase with other data", plain, bytes("0401047455AAF13D5104"), "");
        row("silent: broadcast query", plain, bytes("045F0173C5CB04"), "");
        row("silent: broadcast erase erases nothing", plain, bytes("045F047455AAF0DD4704"), "");
        row("silent: switch text to a firmware in protocol 4", plain, "@1p400:4/", "");
        row("silent: frame to a firmware in protocol 3", R"({"number": 1, "protocolChar": "0x04",
            "startProtocol": 3})", check, "", "firmware 9600 3");
        row("silent: flash check to the boot program", boot, bytes("40010173246904"), "", "boot 9600 4");
        row("silent: byte sum to the boot program of a Prot 4+ firmware", R"({"number": 1, "protocolChar": "0x04",
            "prot4Plus": true, "startMode": "boot"})", bytes("04010475AA555001CD04"), "", "boot 9600 4");
        row("silent: silent fault", R"({"number": 1, "protocolChar": "0x04", "faults": {"silent": true}})", check,
            "");
    }

    void answersOrKeepsSilent()
    {
        QFETCH(QByteArray, controller);
        QFETCH(QString, settings);
        QFETCH(QByteArray, frame);
        QFETCH(QByteArray, answer);
        // Controller 2 is asked next: frames are dealt with in order, so
        // whatever the first frame drew comes before its answer.
        const auto line = lineOf(controller + R"(, {"number": 2, "protocolChar": "0x04"})", files.path());
        Tool tool(line->slavePath(), settings);
        tool.send(frame);
        // The line reads the settings when bytes arrive: they must have
        // arrived before the settings change back.
        QVERIFY(line->waitForReceived(tool.sent, Patience));
        tool.port.setSettings(At9600);
        tool.send(bytes("04020173D95404"));
        const QByteArray expected = answer + bytes("04020761730100001E02862204");
        QCOMPARE(hex(tool.readAtLeast(expected.size())), hex(expected));
        const ControllerState c = line->snapshot().controllers.front();
        QTEST(QStringLiteral("%1 %2 %3").arg(modeName(c.mode)).arg(c.speed).arg(c.protocol), "after");
    }

    void splitsFrames_data()
    {
        QTest::addColumn<QByteArray>("stream");
        QTest::addColumn<QStringList>("frames");
        QTest::addColumn<int>("noise");
        const QByteArray check = bytes("04010173800404");
        const QString found = QStringLiteral("binary 04010173800404");
        QTest::newRow("two frames in one go") << check + check << QStringList{found, found} << 0;
        QTest::newRow("noise ahead") << bytes("FF0000") + check << QStringList{found} << 3;
        QTest::newRow("a broken frame does not hold up the next") << bytes("04010173800504") + check
                                                                  << QStringList{found} << 7;
        QTest::newRow("a start claiming 255 bytes does not hold up the next") << bytes("0401FF") + check
                                                                              << QStringList{found} << 3;
        QTest::newRow("switch text after noise") << QByteArray("xy@12p400:4/")
                                                 << QStringList{"text 403132703430303A342F"} << 2;
        QTest::newRow("terminators inside the data") << bytes("4001057504040404A91004")
                                                     << QStringList{"binary 4001057504040404A91004"} << 0;
    }

    void splitsFrames()
    {
        QFETCH(QByteArray, stream);
        FrameSplitter s = splitter();
        push(s, stream, signal9600);
        QStringList frames;
        while (const std::optional<Frame> f = s.next())
            frames << shapeName(f->shape) + QLatin1Char(' ') + hex(f->bytes);
        QTEST(frames, "frames");
        QTEST(int(s.noiseBytes()), "noise");
    }

    void programServesUntilTerminated()
    {
        QTemporaryDir dir;
        const QString link = dir.filePath(QStringLiteral("ttyVantorel"));
        QProcess sim;
        const QString path = startProgram(sim, {QStringLiteral("--link"), link}, 1).value(0);
        QVERIFY2(path.startsWith(QLatin1String("/dev/")), qPrintable(path));
        QCOMPARE(QFileInfo(link).symLinkTarget(), path);
        {
            // The built-in line's controller 0: 9600, protocol character 0x04, demo firmware 01/02/03.
            Tool tool(link);
            tool.send(bytes("04000173B73404"));
            QCOMPARE(hex(tool.readAtLeast(13)), QStringLiteral("04000761730102032A1CCED304"));
        }
        sim.terminate();
        QVERIFY(sim.waitForFinished(Patience));
        QCOMPARE(sim.exitStatus(), QProcess::NormalExit);
        QCOMPARE(sim.exitCode(), 0);
        QVERIFY2(!QFileInfo(link).isSymLink(), "the link goes with the line");
        // Scripts read this line: one line, as it has always been.
        QCOMPARE(QString::fromLocal8Bit(sim.readAllStandardError()),
                 QStringLiteral("vantorel-linesim: controllers 0 at 9600, 3 at 19200, 5 at 38400, 7 at 4800; "
                                "stop with Ctrl+C\n"));
    }

    // Three lines from one process, all busy at once: each answers only its
    // own controllers, at its own speed and pace, and keeps its own state.
    void stationServesEachLineOnItsOwn()
    {
        QTemporaryDir dir;
        const QByteArray askTwo = bytes("04020173D95404"); // controller 2, protocol character 0x04
        const QByteArray twoAnswers = bytes("04020761730100001E02862204");
        const QByteArray askOne = bytes("40010173246904"); // controller 1, "@"
        const QByteArray oneAnswers = bytes("40010761730105071E024D9C04");
        struct Served {
            QByteArray description;
            int baud;
            QByteArray stranger; // a frame another line answers
            QByteArray own;
            QByteArray answer;
            bool echo;
            bool pace;
        };
        const std::vector<Served> served{
            {R"({"controllers": [{"number": 2, "protocolChar": "0x04"}]})", 9600, askOne, askTwo, twoAnswers, false,
             false},
            {R"({"pace": true, "controllers": [{"number": 1, "version": "01/05/07", "speed": 19200}]})", 19200,
             askTwo, askOne, oneAnswers, false, true},
            {R"({"echo": true, "controllers": [{"number": 2, "protocolChar": "0x04", "speed": 38400}]})", 38400,
             askOne, askTwo, twoAnswers, true, false},
        };
        QStringList arguments;
        QStringList links;
        QStringList states;
        for (std::size_t i = 0; i < served.size(); ++i) {
            const QString config = dir.filePath(QStringLiteral("line%1.json").arg(i));
            QVERIFY(writeFile(config, served[i].description));
            links << dir.filePath(QStringLiteral("tty%1").arg(i));
            states << dir.filePath(QStringLiteral("state%1.json").arg(i));
            arguments << QStringLiteral("--config") << config << QStringLiteral("--link") << links.last()
                      << QStringLiteral("--state") << states.last();
        }
        QProcess sim;
        const QStringList paths = startProgram(sim, arguments, int(served.size()));
        QCOMPARE(paths.size(), qsizetype(served.size()));
        for (qsizetype i = 0; i < paths.size(); ++i)
            QCOMPARE(QFileInfo(links[i]).symLinkTarget(), paths[i]);

        std::vector<std::unique_ptr<Tool>> tools;
        for (std::size_t i = 0; i < served.size(); ++i)
            tools.push_back(std::make_unique<Tool>(links[qsizetype(i)], QStringLiteral("%1,N,8,2").arg(served[i].baud)));
        QElapsedTimer sending;
        sending.start();
        for (std::size_t i = 0; i < served.size(); ++i)
            tools[i]->send(served[i].stranger + served[i].own);
        for (std::size_t i = 0; i < served.size(); ++i) {
            const Served &s = served[i];
            const QByteArray expected = (s.echo ? s.stranger + s.own : QByteArray()) + s.answer;
            QCOMPARE(hex(tools[i]->readAtLeast(expected.size())), hex(expected));
            if (s.pace) {
                // Both frames in and the answer out, 11 bits a byte: the least a UART takes.
                const qint64 lineTimeMs = (s.stranger.size() + s.own.size() + s.answer.size()) * 11 * 1000 / s.baud;
                QVERIFY2(sending.elapsed() >= lineTimeMs, qPrintable(QString::number(sending.elapsed())));
            }
        }
        tools.clear();

        sim.terminate();
        QVERIFY(sim.waitForFinished(Patience));
        QCOMPARE(sim.exitCode(), 0);
        const QStringList started = QString::fromLocal8Bit(sim.readAllStandardError()).split('\n', Qt::SkipEmptyParts);
        QCOMPARE(started.size(), qsizetype(served.size()));
        for (std::size_t i = 0; i < served.size(); ++i) {
            const qsizetype k = qsizetype(i);
            QVERIFY2(!QFileInfo(links[k]).isSymLink(), qPrintable(links[k]));
            QVERIFY2(started[k].startsWith(QStringLiteral("vantorel-linesim: line %1 on %2 (%3): controllers ")
                                               .arg(i + 1)
                                               .arg(links[k], paths[k])),
                     qPrintable(started[k]));
            const QJsonObject line = readJson(states[k]).value(QStringLiteral("line")).toObject();
            QCOMPARE(line.value(QStringLiteral("slavePath")).toString(), paths[k]);
            QCOMPARE(line.value(QStringLiteral("echo")).toBool(), served[i].echo);
            QCOMPARE(line.value(QStringLiteral("pace")).toBool(), served[i].pace);
            QCOMPARE(qsizetype(line.value(QStringLiteral("bytesIn")).toInt()),
                     served[i].stranger.size() + served[i].own.size());
        }
    }

    void stationLineWithoutItsLinkSparesTheOthers_data()
    {
        QTest::addColumn<int>("broken"); // the line whose link cannot be made
        QTest::addColumn<bool>("fileInTheWay"); // else its folder is missing
        QTest::newRow("first line, no such folder") << 0 << false;
        QTest::newRow("second line, a file in the way") << 1 << true;
    }

    void stationLineWithoutItsLinkSparesTheOthers()
    {
        QFETCH(int, broken);
        QFETCH(bool, fileInTheWay);
        QTemporaryDir dir;
        QStringList links{dir.filePath(QStringLiteral("ttyA")), dir.filePath(QStringLiteral("ttyB"))};
        links[broken] = fileInTheWay ? dir.filePath(QStringLiteral("notes.txt"))
                                     : dir.filePath(QStringLiteral("gone/ttyA"));
        QVERIFY(!fileInTheWay || writeFile(links[broken], "keep me"));
        const int good = 1 - broken;
        // Without --config every --link gets the built-in line.
        QProcess sim;
        const QStringList paths =
            startProgram(sim, {QStringLiteral("--link"), links[0], QStringLiteral("--link"), links[1]}, 2);
        QCOMPARE(paths.size(), qsizetype(2));
        QCOMPARE(paths[broken], QString());
        QCOMPARE(QFileInfo(links[good]).symLinkTarget(), paths[good]);
        {
            Tool tool(links[good]);
            tool.send(bytes("04000173B73404"));
            QCOMPARE(hex(tool.readAtLeast(13)), QStringLiteral("04000761730102032A1CCED304"));
        }
        ::kill(pid_t(sim.processId()), SIGINT);
        QVERIFY(sim.waitForFinished(Patience));
        QCOMPARE(sim.exitStatus(), QProcess::NormalExit);
        QCOMPARE(sim.exitCode(), 1); // served, but not all that was asked
        const QString error = QString::fromLocal8Bit(sim.readAllStandardError());
        QVERIFY2(error.startsWith(QStringLiteral("vantorel-linesim: line %1: --link %2: ").arg(broken + 1).arg(links[broken])),
                 qPrintable(error));
        QVERIFY2(!QFileInfo(links[good]).isSymLink(), "the link goes with the line");
        // The final states keep the lines' places.
        const QJsonArray states = QJsonDocument::fromJson(sim.readAllStandardOutput()).array();
        QCOMPARE(states.size(), qsizetype(2));
        QVERIFY(states[broken].isNull());
        QCOMPARE(states[good].toObject().value("line").toObject().value("slavePath").toString(), paths[good]);
        if (fileInTheWay)
            QVERIFY2(QFileInfo(links[broken]).isFile(), "what was there stays");
    }

    void refusesAStationThatWouldMixLinesUp_data()
    {
        QTest::addColumn<QStringList>("arguments"); // in the test's folder
        QTest::addColumn<QStringList>("mentions");
        const QString a = QStringLiteral("a.json");
        const QString b = QStringLiteral("b.json");
        QTest::newRow("fewer links than lines")
            << QStringList{"--config", a, "--config", b, "--config", a, "--link", "ttyA", "--link", "ttyB"}
            << QStringList{"--link is given twice for 3 lines", "once for each line"};
        QTest::newRow("one state file for two lines")
            << QStringList{"--link", "ttyA", "--link", "ttyB", "--state", "s.json", "--state", "s.json"}
            << QStringList{"--state", "line 1 and line 2", "its own"};
        QTest::newRow("one link for two lines")
            << QStringList{"--config", a, "--config", b, "--link", "ttyA", "--link", "./ttyA"}
            << QStringList{"--link", "line 1 and line 2"};
        QTest::newRow("a bad description among good ones")
            << QStringList{"--config", a, "--config", "bad.json", "--link", "ttyA", "--link", "ttyB"}
            << QStringList{"bad.json", "pace", "true or false"};
    }

    void refusesAStationThatWouldMixLinesUp()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QStringList, mentions);
        QTemporaryDir dir;
        QVERIFY(writeFile(dir.filePath("a.json"), R"({"controllers": [{"number": 1}]})"));
        QVERIFY(writeFile(dir.filePath("b.json"), R"({"controllers": [{"number": 2}]})"));
        QVERIFY(writeFile(dir.filePath("bad.json"), R"({"pace": "yes", "controllers": [{"number": 3}]})"));
        const QStringList before = QDir(dir.path()).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot);
        QProcess sim;
        sim.setWorkingDirectory(dir.path());
        sim.start(QStringLiteral(VANTOREL_LINESIM), arguments);
        QVERIFY(sim.waitForFinished(Patience));
        QCOMPARE(sim.exitCode(), 2);
        QCOMPARE(sim.readAllStandardOutput(), QByteArray());
        const QString error = QString::fromLocal8Bit(sim.readAllStandardError());
        QVERIFY2(error.startsWith(QStringLiteral("vantorel-linesim: ")) && error.count('\n') == 1, qPrintable(error));
        for (const QString &m : mentions)
            QVERIFY2(error.contains(m), qPrintable(error + QStringLiteral(" lacks ") + m));
        QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot), before);
    }

    void rejectsABadDescriptionInOneLine_data()
    {
        QTest::addColumn<QByteArray>("json"); // empty: no file at all
        QTest::addColumn<QStringList>("mentions");
        QTest::newRow("no such file") << QByteArray() << QStringList{"cannot be read"};
        QTest::newRow("syntax") << QByteArray("{\n  \"controllers\": [\n    {\"number\": 1,}\n  ]\n}")
                                << QStringList{"line 3", "JSON"};
        QTest::newRow("misspelt key") << QByteArray(R"({"controllers": [{"number": 1, "sped": 9600}]})")
                                      << QStringList{"controllers[0]", "\"sped\"", "speed"};
        QTest::newRow("missing HEX file") << QByteArray(R"({"controllers": [{"number": 1, "flash": "gone.hex"}]})")
                                          << QStringList{"controllers[0].flash", "gone.hex", "erased"};
    }

    void rejectsABadDescriptionInOneLine()
    {
        QFETCH(QByteArray, json);
        QFETCH(QStringList, mentions);
        const QString config = files.filePath(QString::fromLatin1(QTest::currentDataTag()) + QStringLiteral(".json"));
        QVERIFY(json.isEmpty() || writeFile(config, json));
        QProcess sim;
        sim.start(QStringLiteral(VANTOREL_LINESIM), {QStringLiteral("--config"), config});
        QVERIFY(sim.waitForFinished(Patience));
        QCOMPARE(sim.exitCode(), 2);
        QCOMPARE(sim.readAllStandardOutput(), QByteArray());
        const QString error = QString::fromLocal8Bit(sim.readAllStandardError());
        QVERIFY2(error.startsWith(QStringLiteral("vantorel-linesim: %1: ").arg(config)) && error.count('\n') == 1,
                 qPrintable(error));
        for (const QString &m : mentions)
            QVERIFY2(error.contains(m, Qt::CaseInsensitive), qPrintable(error + QStringLiteral(" lacks ") + m));
    }
};

QTEST_GUILESS_MAIN(TestLineSim)
#include "test_linesim.moc"
