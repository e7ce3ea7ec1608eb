#include "image/batchreader.h"
#include "platform/fault.h"
#include "support/hexbuilder.h"

#include <QRegularExpression>
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
} // namespace

class TestBatchReader : public QObject {
    Q_OBJECT
    QTemporaryDir dir;

private slots:
    void cut_data()
    {
        // "cut": per batch its address bytes and size, "!" when the file ended while it was
        // gathered; or the fault. "data": every batch's data, one after the other.
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("cut");
        QTest::addColumn<QByteArray>("data");
        const QByteArray end = hexEndRecord() + "\r\n";
        auto rec = [](int address, const QByteArray &data, int type = 0) { return hexRecord(address, data, type) + "\r\n"; };
        const QByteArray p = pattern(384);
        // Gathering goes on while the batch holds at most 112 bytes.
        QTest::newRow("16-byte records") << hexImage(0x0400, p, 16, "\r\n", false) << "0400:128 0480:128 0500:128" << p;
        QTest::newRow("100-byte records") << hexImage(0x0400, p.left(300), 100, "\r\n", false) << "0400:200 04C8:100!" << p.left(300);
        // Past 112 at once: no further line is read, so the end of the file is not met while gathering.
        QTest::newRow("113-byte records") << hexImage(0x1234, p.left(226), 113, "\r\n", false) << "1234:113 12A5:113" << p.left(226);
        QTest::newRow("gap, then the end record") << hexImage(0, p.left(48), 16, "\r\n", false) + rec(0x0100, pattern(16, 9)) + end
                                                  << "0000:48 0100:16" << p.left(48) + pattern(16, 9);
        QTest::newRow("end record opens a batch") << hexImage(0, p.left(128), 16) << "0000:128 0000:0!" << p.left(128);
        QTest::newRow("file ends while gathering") << hexImage(0x0200, p.left(40), 16, "\r\n", false) << "0200:40!" << p.left(40);
        QTest::newRow("record kept back at the end") << rec(0, p.left(16)) + rec(0x0300, pattern(8, 5))
                                                     << "0000:16 0300:8!" << p.left(16) + pattern(8, 5);
        QTest::newRow("types not looked at") << rec(0, p.left(4)) + rec(4, p.mid(4, 2), 5) << "0000:6!" << p.left(6);
        QTest::newRow("lower case") << QByteArray(":0300000002abcd83\r\n") << "error 5: line 1, position 12" << QByteArray();
        QTest::newRow("short line") << QByteArray(":10000000AB\r\n") << "error 5: line 1, position 12" << QByteArray();
        QTest::newRow("blank line") << rec(0, p.left(4)) + "\r\n" + end << "error 5: line 2, position 2" << QByteArray();
    }
    void cut()
    {
        QFETCH(QByteArray, content);
        QFETCH(QByteArray, data);
        const QString path = dir.filePath("cut.hex");
        QVERIFY(writeFile(path, content));
        QStringList cut;
        QByteArray gathered;
        try {
            BatchReader reader(path);
            while (!reader.atEnd()) {
                const Batch b = reader.next();
                QCOMPARE(b.number, cut.size() + 1);
                QCOMPARE(b.address, (uchar(b.addressBytes[0]) << 8) | uchar(b.addressBytes[1]));
                QVERIFY(b.data.size() + 6 <= 255); // the frame's count byte
                cut << QString("%1:%2%3").arg(b.addressBytes.toHex().toUpper(), QString::number(b.data.size()),
                                              b.fileEndedWhileGathering ? "!" : "");
                gathered += b.data;
            }
            QCOMPARE(BatchReader::countBatches(path), cut.size());
        } catch (const Fault &f) {
            cut = QStringList{QString("error %1: ").arg(f.number())
                              + QRegularExpression("line \\d+, position \\d+").match(f.phrase()).captured()};
        }
        QTEST(cut.join(' '), "cut");
        QCOMPARE(gathered, data);
    }
};

QTEST_GUILESS_MAIN(TestBatchReader)
#include "test_batchreader.moc"
