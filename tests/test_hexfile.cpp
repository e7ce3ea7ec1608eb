#include "image/batchreader.h"
#include "image/downloadimage.h"
#include "image/hexfile.h"
#include "platform/fault.h"
#include "support/hexbuilder.h"

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTest>

using namespace vantorel;

namespace {
struct Reading {
    QString checksum;
    ImageDescription description;
    int faultNumber = 0;
    QString faultText;
};

Reading readText(const QTemporaryDir &dir, const QByteArray &content, ImageDescription start = {})
{
    const QString path = dir.filePath("image.hex");
    if (!writeFile(path, content))
        qFatal("cannot write test file");
    Reading r;
    r.description = start;
    try {
        r.checksum = readHexChecksum(path, r.description);
    } catch (const Fault &f) {
        r.faultNumber = f.number();
        r.faultText = f.description();
    }
    return r;
}
} // namespace

class TestHexFile : public QObject {
    Q_OBJECT
    QTemporaryDir dir;

private slots:
    void checksumOfOneRecord_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::newRow("CR LF") << QByteArray(":0300000002ABCD83\r\n:00000001FF\r\n");
        QTest::newRow("CR alone") << QByteArray(":0300000002ABCD83\r:00000001FF\r");
        QTest::newRow("LF alone") << QByteArray(":0300000002ABCD83\n:00000001FF\n");
        QTest::newRow("no final line end") << QByteArray(":0300000002ABCD83\r\n:00000001FF");
        QTest::newRow("wrong record checksum") << QByteArray(":0300000002ABCD00\r\n:00000001FF\r\n");
    }
    void checksumOfOneRecord()
    {
        QFETCH(QByteArray, content);
        const Reading r = readText(dir, content);
        QCOMPARE(r.faultNumber, 0);
        QCOMPARE(r.checksum, QString("DF1C7F"));
    }

    void emptyFileIsAnErasedImage()
    {
        // No records: every byte of the flash is 0xFF.
        const Reading r = readText(dir, QByteArray());
        QCOMPARE(r.faultNumber, 0);
        QCOMPARE(r.checksum, QString::number(255 * 57342, 16).toUpper());
    }

    void configurationRecord_data()
    {
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<QString>("baudText");
        QTest::addColumn<QString>("baudRate");
        QTest::addColumn<bool>("prot4Plus");
        QTest::addColumn<QString>("protocolByte");
        QTest::addColumn<QString>("ctrlType");
        QTest::newRow("9600 fixed, QRVB") << QByteArray::fromHex("18004002") << "Baud Rate Fix 9600" << "9600" << true
                                         << "40" << "QRVB";
        QTest::newRow("programmable") << QByteArray::fromHex("70004003") << "Baud Rate Programmable" << ""
                                      << false << "40" << "ZEP";
        QTest::newRow("38400, prot 4+") << QByteArray::fromHex("38000404") << "Baud Rate Fix 38400" << "38400" << true
                                        << "04" << "KB700";
        QTest::newRow("115200") << QByteArray::fromHex("50003F05") << "Baud Rate Fix 115200" << "115200" << false
                                << "3F" << "QRVD1";
        QTest::newRow("undefined code 110") << QByteArray::fromHex("60004009") << "" << "" << false << "40"
                                            << "";
    }
    void configurationRecord()
    {
        QFETCH(QByteArray, data);
        QFETCH(QString, baudText);
        QFETCH(QString, baudRate);
        QFETCH(bool, prot4Plus);
        QFETCH(QString, protocolByte);
        QFETCH(QString, ctrlType);
        ImageDescription start;
        start.HexBaudRate = "earlier";
        start.HexCtrlType = "stale";
        start.HexBaudText = "stale";
        start.HexProt4Plus = true;
        const Reading r = readText(dir, hexRecord(0x2020, data) + "\r\n" + hexEndRecord() + "\r\n", start);
        QCOMPARE(r.faultNumber, 0);
        QCOMPARE(r.description.HexBaudText, baudText);
        QCOMPARE(r.description.HexBaudRate, baudRate);
        QCOMPARE(r.description.HexProt4Plus, prot4Plus);
        QCOMPARE(r.description.HexProtocolByte, protocolByte);
        QCOMPARE(r.description.HexCtrlType, ctrlType);
    }

    void withoutConfigurationRecordEverythingIsReset()
    {
        ImageDescription start{"QRVB", true, "40", "Baud Rate Fix 9600", "9600"};
        const Reading r = readText(dir, ":0300000002ABCD83\r\n", start);
        QCOMPARE(r.checksum, QString("DF1C7F"));
        QVERIFY(r.description.HexCtrlType.isEmpty());
        QVERIFY(r.description.HexProtocolByte.isEmpty());
        QVERIFY(r.description.HexBaudText.isEmpty());
        QVERIFY(!r.description.HexProt4Plus);
        QVERIFY(r.description.HexBaudRate.isEmpty()); // an earlier file's speed must not be applied
    }

    void laterConfigurationRecordOverwrites()
    {
        const QByteArray content = hexRecord(0x2020, QByteArray::fromHex("18004002")) + "\r\n"
            + hexRecord(0x2020, QByteArray::fromHex("60004109")) + "\r\n";
        const Reading r = readText(dir, content);
        QCOMPARE(r.description.HexBaudText, QString("Baud Rate Fix 9600")); // 110 leaves it
        QCOMPARE(r.description.HexProtocolByte, QString("41"));
        QCOMPARE(r.description.HexCtrlType, QString("QRVB")); // 09 is no known type
        QVERIFY(!r.description.HexProt4Plus);
    }

    void badInputGivesAFaultNotACrash_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<int>("number");
        QTest::newRow("lower-case digit") << QByteArray(":0300000002abcd83\r\n") << 5;
        QTest::newRow("empty line") << QByteArray(":0300000002ABCD83\r\n\r\n:00000001FF\r\n") << 5;
        QTest::newRow("LL claims more than the line") << QByteArray(":1000000002ABCD83\r\n") << 5;
        QTest::newRow("half a data byte") << QByteArray(":0300000002ABC") << 5;
        QTest::newRow("binary garbage") << QByteArray("\x00\xFF\x13\x04garbage\x80\x81", 13) << 5;
        QTest::newRow("config record too short") << QByteArray(":01202000180000\r\n") << 5;
        QTest::newRow("long line of digits") << (QByteArray(":FF") + QByteArray(100000, '7')) << 0;
        QTest::newRow("long line of noise") << (QByteArray(":FF") + QByteArray(100000, 'x')) << 5;
    }
    void badInputGivesAFaultNotACrash()
    {
        QFETCH(QByteArray, content);
        QFETCH(int, number);
        const Reading r = readText(dir, content);
        QCOMPARE(r.faultNumber, number);
        if (number != 0) {
            QVERIFY(r.checksum.isEmpty());
            QVERIFY2(r.faultText.contains("line "), qPrintable(r.faultText));
            QVERIFY2(!r.faultText.contains("line 0"), qPrintable(r.faultText));
        }
    }

    void faultKeepsWhatEarlierLinesSet()
    {
        const QByteArray content = hexRecord(0x2020, QByteArray::fromHex("18004002")) + "\r\n:03zz\r\n";
        const Reading r = readText(dir, content);
        QCOMPARE(r.faultNumber, 5);
        QCOMPARE(r.description.HexCtrlType, QString("QRVB"));
    }

    void moreDataThanFlashGivesTwosComplement()
    {
        // 57344 bytes of 0x00: V = 255 * (57342 - 57344) = -510.
        const Reading r = readText(dir, hexImage(0, QByteArray(57344, '\0'), 32));
        QCOMPARE(r.faultNumber, 0);
        QCOMPARE(r.checksum, QString("FFFFFE02"));
    }

    void missingFile()
    {
        ImageDescription d;
        try {
            readHexChecksum(dir.filePath("absent.hex"), d);
            QFAIL("no fault");
        } catch (const Fault &f) {
            QCOMPARE(f.code(), FaultCode::FileNotFound);
        }
    }

    void readingTwiceGivesTheSame()
    {
        const QString path = dir.filePath("twice.hex");
        QVERIFY(writeFile(path, hexImage(0x100, QByteArray(300, '\x5A'), 16)));
        ImageDescription d;
        QCOMPARE(readHexChecksum(path, d), readHexChecksum(path, d));
    }

    void hugeFileEndsPromptly()
    {
        // About 50 MB of valid records: far more than the flash; must end with a
        // clean fault in bounded time, never a hang or a wrapped figure.
        const QString path = dir.filePath("huge.hex");
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        const QByteArray block = hexImage(0, QByteArray(4096, '\x7F'), 16, "\r\n", false);
        while (f.size() < 50 * 1024 * 1024)
            QVERIFY(f.write(block) == block.size());
        f.close();
        QElapsedTimer timer;
        timer.start();
        ImageDescription d;
        try {
            readHexChecksum(path, d);
            QFAIL("no fault");
        } catch (const Fault &fault) {
            QCOMPARE(fault.code(), FaultCode::Overflow);
        }
        QVERIFY2(timer.elapsed() < 60000, "reading a 50 MB file must not hang");
        try {
            BatchReader::countBatches(path);
        } catch (const Fault &) {
            QFAIL("a large but well-formed file cuts into batches");
        }
        QVERIFY(timer.elapsed() < 120000);
    }

    void toolTipAndChecksumBytes()
    {
        ImageDescription d{"QRVB", true, "40", "Baud Rate Fix 9600", "9600"};
        QCOMPARE(imageToolTip(d), QString("QRVB Baud Rate Fix 9600  [40 1]"));
        QCOMPARE(imageToolTip(ImageDescription{}), QString("   [ 0]"));
        QCOMPARE(checksumBytes("DF1E02"), QByteArray::fromHex("DF1E02"));
        // Small figures keep their value in the three bytes.
        QCOMPARE(checksumBytes("ABCDE"), QByteArray::fromHex("0ABCDE"));
        QCOMPARE(checksumBytes(""), QByteArray::fromHex("000000"));
        QCOMPARE(checksumBytes("ABC"), QByteArray::fromHex("000ABC"));
    }

    // Where the image check draws its lines; the plainly bad files are in the
    // end-to-end refusals.
    void imageCheckBoundaries_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("problem"); // a fragment; empty: sound
        const QByteArray end = ":00000001FF\r\n";
        auto rec = [](int address, int size) { return hexRecord(address, QByteArray(size, '\x5A')) + "\r\n"; };
        QTest::newRow("last flash byte DFFD") << rec(0xDFF0, 14) + end << "";
        QTest::newRow("one past it") << rec(0xDFF0, 15) + end << "line 1: the record at DFF0 with 15 bytes ends beyond";
        QTest::newRow("batch of 249") << rec(0, 112) + rec(112, 137) + end << "";
        QTest::newRow("batch of 250") << rec(0, 112) + rec(112, 138) + end << "line 1: the records from address 0000 make a batch of 250";
        QTest::newRow("touching, out of order") << rec(0x20, 16) + rec(0x10, 16) + end << "";
        QTest::newRow("overlap by one") << rec(0x10, 16) + rec(0x1F, 16) + end << "line 2: the record at 001F overlaps the record at 0010 of line 1";
        QTest::newRow("end record with data") << rec(0, 4) + hexRecord(0, "\x01", 1) + "\r\n" << "the end-of-file record carries data";
        QTest::newRow("checksum cut off") << rec(0, 4).left(17) + "\r\n" + end << "line 1: the record checksum is missing";
        QTest::newRow("stale checksum") << QByteArray(":0300000002ABCD00\r\n") + end << "line 1: the record checksum is 00 where the record needs 83";
        QTest::newRow("no end record") << rec(0, 4) << "";
    }
    void imageCheckBoundaries()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, problem);
        const QString path = dir.filePath("checked.hex");
        QVERIFY(writeFile(path, content));
        ImageDescription d;
        const DownloadImage image = readDownloadImage(path, d);
        if (problem.isEmpty())
            QVERIFY2(image.sound(), qPrintable(image.problem));
        else
            QVERIFY2(image.problem.contains(problem), qPrintable(image.problem));
    }
};

QTEST_GUILESS_MAIN(TestHexFile)
#include "test_hexfile.moc"
