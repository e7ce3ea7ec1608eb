// vantorel-linesim as a technician or a script runs it.

#include "link/checkcode.h"
#include "platform/qtserialport.h"
#include "support/hexbuilder.h"

#include <QDeadlineTimer>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

using namespace vantorel;

namespace {

constexpr int Patience = 10000;

QString firstLine(QProcess &p)
{
    const QDeadlineTimer deadline(Patience);
    while (!p.canReadLine() && !deadline.hasExpired() && p.state() != QProcess::NotRunning)
        p.waitForReadyRead(int(qMax<qint64>(deadline.remainingTime(), 1)));
    return QString::fromLocal8Bit(p.readLine()).trimmed();
}

bool stop(QProcess &p)
{
    p.terminate();
    return p.waitForFinished(Patience) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

} // namespace

class TestLineSimProgram : public QObject {
    Q_OBJECT

private slots:
    void servesTheToolUntilTerminated();
    void printsTheFinalStateWithoutStateFile();
    void badDescriptionIsOneClearLine_data();
    void badDescriptionIsOneClearLine();
};

void TestLineSimProgram::servesTheToolUntilTerminated()
{
    QTemporaryDir dir;
    const QString link = dir.filePath(QStringLiteral("ttyVantorel"));
    const QString state = dir.filePath(QStringLiteral("state.json"));
    QProcess sim;
    sim.start(QStringLiteral(VANTOREL_LINESIM), {QStringLiteral("--link"), link, QStringLiteral("--state"), state});
    const QString path = firstLine(sim);
    QVERIFY2(path.startsWith(QLatin1String("/dev/")), qPrintable(path));
    QCOMPARE(QFileInfo(link).symLinkTarget(), path);

    {
        // The built-in line: controller 0 at 9600 speaks protocol character 0x04.
        QtSerialPort port;
        port.selectPort(link);
        port.setSettings(QStringLiteral("9600,N,8,2"));
        port.open();
        port.write(sealFrame(QByteArray("\x04\x00\x01s", 4), CheckKind::Crc));
        QByteArray answer;
        const QDeadlineTimer deadline(Patience);
        while (answer.size() < 13 && !deadline.hasExpired()) {
            answer += port.readAllWaiting();
            QThread::msleep(1); // hands the CPU to the simulator
        }
        QCOMPARE(answer.size(), 13);
        QCOMPARE(answer.at(3), char(0x61));
    }

    QVERIFY(stop(sim));
    QVERIFY2(!QFileInfo(link).isSymLink(), "the link goes with the line");
    QFile file(state);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QJsonObject json = QJsonDocument::fromJson(file.readAll()).object();
    const QJsonObject first = json.value(QStringLiteral("controllers")).toArray().at(0).toObject();
    QCOMPARE(first.value(QStringLiteral("number")).toInt(), 0);
    QCOMPARE(first.value(QStringLiteral("framesHeard")).toInt(), 1);
    QCOMPARE(json.value(QStringLiteral("line")).toObject().value(QStringLiteral("bytesIn")).toInt(), 7);
    QCOMPARE(json.value(QStringLiteral("line")).toObject().value(QStringLiteral("bytesOut")).toInt(), 13);
}

void TestLineSimProgram::printsTheFinalStateWithoutStateFile()
{
    QProcess sim;
    sim.start(QStringLiteral(VANTOREL_LINESIM), {QStringLiteral("--echo")});
    QVERIFY(!firstLine(sim).isEmpty());
    QVERIFY(stop(sim));
    QJsonParseError error{};
    const QJsonObject json = QJsonDocument::fromJson(sim.readAllStandardOutput(), &error).object();
    QCOMPARE(error.error, QJsonParseError::NoError);
    QCOMPARE(json.value(QStringLiteral("controllers")).toArray().size(), 4);
    QVERIFY(json.value(QStringLiteral("line")).toObject().value(QStringLiteral("echo")).toBool());
}

void TestLineSimProgram::badDescriptionIsOneClearLine_data()
{
    QTest::addColumn<QByteArray>("content"); // empty: no file at all
    QTest::addColumn<QString>("mentions");
    QTest::newRow("no such file") << QByteArray() << "cannot be read";
    QTest::newRow("speed") << QByteArray(R"({"controllers": [{"number": 1, "speed": 1200}]})")
                           << "controllers[0].speed";
}

void TestLineSimProgram::badDescriptionIsOneClearLine()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, mentions);
    QTemporaryDir dir;
    const QString config = dir.filePath(QStringLiteral("line.json"));
    if (!content.isEmpty())
        QVERIFY(writeFile(config, content));
    QProcess sim;
    sim.start(QStringLiteral(VANTOREL_LINESIM), {QStringLiteral("--config"), config});
    QVERIFY(sim.waitForFinished(Patience));
    QCOMPARE(sim.exitCode(), 2);
    QCOMPARE(sim.readAllStandardOutput(), QByteArray());
    const QString error = QString::fromLocal8Bit(sim.readAllStandardError());
    QCOMPARE(error.count(QLatin1Char('\n')), 1);
    QVERIFY2(error.contains(config) && error.contains(mentions), qPrintable(error));
}

QTEST_GUILESS_MAIN(TestLineSimProgram)
#include "test_linesim_program.moc"
