#include "image/batchreader.h"
#include "platform/fault.h"
#include "support/hexbuilder.h"

#include <QTemporaryDir>
#include <QTest>

using namespace vantorel;

namespace {
QByteArray pattern(int size, int seed = 1)
{
    QByteArray data(size, '\0');
    for (int i = 0; i < size; ++i)
        data[i] = static_cast<char>((i * 7 + seed) & 0xFF);
    return data;
}

struct Cut {
    QList<Batch> batches;
    int faultNumber = 0;
};

Cut cut(const QTemporaryDir &dir, const QByteArray &content)
{
    const QString path = dir.filePath("cut.hex");
    if (!writeFile(path, content))
        qFatal("cannot write");
    Cut c;
    try {
        BatchReader reader(path);
        while (!reader.atEnd())
            c.batches << reader.next();
    } catch (const Fault &f) {
        c.faultNumber = f.number();
    }
    return c;
}
} // namespace

class TestBatchReader : public QObject {
    Q_OBJECT
    QTemporaryDir dir;

private slots:
    void contiguousRecordsFillToTheLimit_data()
    {
        QTest::addColumn<int>("recordSize");
        QTest::addColumn<int>("recordsPerBatch");
        QTest::newRow("16-byte records") << 16 << 8;
        QTest::newRow("32-byte records") << 32 << 4;
        QTest::newRow("100-byte records") << 100 << 2;
        QTest::newRow("113-byte records") << 113 << 1;
    }
    void contiguousRecordsFillToTheLimit()
    {
        QFETCH(int, recordSize);
        QFETCH(int, recordsPerBatch);
        const QByteArray data = pattern(recordSize * recordsPerBatch * 3);
        const Cut c = cut(dir, hexImage(0x0400, data, recordSize, "\r\n", false));
        QCOMPARE(c.faultNumber, 0);
        QCOMPARE(c.batches.size(), 3);
        for (int b = 0; b < 3; ++b) {
            const int bytes = recordSize * recordsPerBatch;
            QCOMPARE(c.batches[b].number, b + 1);
            QCOMPARE(c.batches[b].address, 0x0400 + b * bytes);
            QCOMPARE(c.batches[b].addressBytes,
                     QByteArray::fromHex(QByteArray::number(0x0400 + b * bytes, 16).rightJustified(4, '0')));
            QCOMPARE(c.batches[b].data, data.mid(b * bytes, bytes));
            QVERIFY(c.batches[b].data.size() + 6 <= 255);
        }
    }

    void gapOpensTheNextBatch()
    {
        const QByteArray a = pattern(48, 3);
        const QByteArray b = pattern(16, 9);
        const QByteArray content =
            hexImage(0x0000, a, 16, "\r\n", false) + hexRecord(0x0100, b) + "\r\n" + hexEndRecord() + "\r\n";
        const Cut c = cut(dir, content);
        QCOMPARE(c.batches.size(), 2);
        QCOMPARE(c.batches[0].data, a);
        QCOMPARE(c.batches[1].address, 0x0100);
        QCOMPARE(c.batches[1].data, b);
    }

    void endRecordReadWhileGatheringIsDropped()
    {
        const Cut c = cut(dir, hexImage(0x0000, pattern(40), 16));
        QCOMPARE(c.batches.size(), 1);
        QCOMPARE(c.batches[0].data, pattern(40));
        QVERIFY(!c.batches[0].fileEndedWhileGathering);
    }

    void endRecordOpeningABatchGivesAnEmptyOne()
    {
        // 8 full records end the first batch at the limit; the end record opens the next.
        const Cut c = cut(dir, hexImage(0x0000, pattern(128), 16));
        QCOMPARE(c.batches.size(), 2);
        QCOMPARE(c.batches[1].address, 0);
        QVERIFY(c.batches[1].data.isEmpty());
        QVERIFY(c.batches[1].fileEndedWhileGathering);
    }

    void lastBatchIsCutWhenTheFileEndsWhileGathering()
    {
        const Cut c = cut(dir, hexImage(0x0200, pattern(40), 16, "\r\n", false));
        QCOMPARE(c.batches.size(), 1);
        QCOMPARE(c.batches[0].data, pattern(40));
        QVERIFY(c.batches[0].fileEndedWhileGathering);
    }

    void keptBackDataRecordAtTheEndIsNotLost()
    {
        // No end record and the last record does not continue the batch: its
        // data still makes a batch of its own.
        const QByteArray content = hexRecord(0x0000, pattern(16)) + "\r\n" + hexRecord(0x0300, pattern(8, 5)) + "\r\n";
        const Cut c = cut(dir, content);
        QCOMPARE(c.batches.size(), 2);
        QCOMPARE(c.batches[1].address, 0x0300);
        QCOMPARE(c.batches[1].data, pattern(8, 5));
    }

    void typesAreNotLookedAt()
    {
        // Every line is data, whatever its record type.
        const QByteArray content = hexRecord(0x0000, pattern(4)) + "\r\n" + hexRecord(0x0004, pattern(2), 5) + "\r\n";
        const Cut c = cut(dir, content);
        QCOMPARE(c.batches.size(), 1);
        QCOMPARE(c.batches[0].data.size(), 6);
    }

    void malformedLineIsAFault_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("where");
        QTest::newRow("lower case") << QByteArray(":0300000002abcd83\r\n") << "line 1, position 12";
        QTest::newRow("short line") << QByteArray(":10000000AB\r\n") << "line 1, position 12";
        QTest::newRow("blank line between") << (hexRecord(0, pattern(4)) + "\r\n\r\n" + hexEndRecord()) << "line 2, position 2";
    }
    void malformedLineIsAFault()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, where);
        const QString path = dir.filePath("bad.hex");
        QVERIFY(writeFile(path, content));
        try {
            BatchReader reader(path);
            while (!reader.atEnd())
                reader.next();
            QFAIL("no fault");
        } catch (const Fault &f) {
            QCOMPARE(f.code(), FaultCode::InvalidArgument);
            QVERIFY2(f.description().contains(where), qPrintable(f.description()));
        }
    }

    void countMatchesTheCut()
    {
        const QString path = dir.filePath("count.hex");
        QVERIFY(writeFile(path, hexImage(0x0000, pattern(1000), 16)));
        QCOMPARE(BatchReader::countBatches(path), cut(dir, hexImage(0x0000, pattern(1000), 16)).batches.size());
    }
};

QTEST_GUILESS_MAIN(TestBatchReader)
#include "test_batchreader.moc"
