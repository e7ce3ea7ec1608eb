#include "link/checkcode.h"
#include "link/textcodec.h"
#include "platform/fault.h"

#include <QTest>

using namespace vantorel;

namespace {
// The number of the fault a call raises; 0 when it returns.
template <typename F>
int faultOf(F call) try { call(); return 0; } catch (const Fault &f) { return f.number(); }
} // namespace

class TestTextCodec : public QObject {
    Q_OBJECT
private slots:
    void hexAndBitTexts()
    {
        const QList<std::tuple<QString, qint64, QString>> rows = {
            {"FF", 255, "11111111"}, {"DFFE", 57342, "1101111111111110"}, {"00F", 15, "000000001111"},
            {"A", 10, "1010"}, {"DF1C7F", 14621823, "110111110001110001111111"}};
        for (const auto &[hex, value, bits] : rows) {
            QCOMPARE(HexToVal(hex), value);
            QCOMPARE(HexToBin(hex), bits);
        }
        QCOMPARE(HexToVal("7FFFFFFFFFFFFFF"), Q_INT64_C(0x7FFFFFFFFFFFFFF));
        QCOMPARE(faultOf([] { HexToVal("1000000000000000"); }), 5); // would overflow
        for (const QString bad : {"a", "", " 1", ":0", "1f", "G0"}) {
            const QList<int> faults = {faultOf([&] { HexToVal(bad); }), faultOf([&] { HexToBin(bad); }),
                                       faultOf([&] { HexToChr(bad); })};
            QVERIFY2(faults == QList<int>({5, 5, 5}), qPrintable(bad)); // "Error #  5" in the box
        }
        QCOMPARE(HexToChr("FF") + HexToChr("00"), QByteArray("\xFF\0", 2));
        QCOMPARE(faultOf([] { HexToChr("100"); }), 5);
        // A whole line of garbage is named by its first 40 characters only.
        try {
            HexToVal(QString(60, 'Z'));
            QFAIL("no fault");
        } catch (const Fault &f) {
            QCOMPARE(f.cause(), "not a hex number: \"" + QString(40, 'Z') + '"');
        }
        QCOMPARE(QStringList({ShiftRight("1000000000000001", 4), ShiftLeft("1000000000000001", 4), ShiftRight("1011", 0),
                              ShiftLeft("1011", 0), ShiftLeft("1011", 4), XorBin("1100", "1010"), XorBin("1", "10")}),
                 QStringList({"0000100000000000", "0000000000010000", "1011", "1011", "0000", "0110", ""}));
        QCOMPARE(QStringList({BinToHex("0000"), BinToHex("1001"), BinToHex("1010"), BinToHex("1111"), BinToHex("101"),
                              BinToHex("10a1")}),
                 QStringList({"0", "9", "A", "F", "", ""}));
        QCOMPARE(QStringList({Hex2(""), Hex2("7"), Hex2("4A")}), QStringList({"00", "07", "4A"}));
        QCOMPARE(StrToHex(QByteArray("\x40\x01\x73\x00\xFF\x04", 6)), QString("40017300FF04"));
        QCOMPARE(StrToHex(QByteArray()), QString());
    }

    void checkCodes_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QByteArray>("crc");
        QTest::addColumn<QByteArray>("sum");
        auto hex = [](const char *h) { return QByteArray::fromHex(h); };
        QTest::newRow("flash check") << hex("40010173") << hex("2469") << hex("00B5");
        QTest::newRow("erase") << hex("4001047455AAF0") << hex("315A") << hex("02A8");
        QTest::newRow("0x00, 0xFF, 0x80") << hex("00FF8004") << hex("947F") << hex("0183");
        QTest::newRow("digits") << QByteArray("123456789") << hex("31C3") << hex("01DD");
        QTest::newRow("sum wraps at 16 bits") << QByteArray(258, '\xFF') << hex("581C") << hex("00FE");
        QTest::newRow("empty") << QByteArray() << hex("0000") << hex("0000");
    }
    void checkCodes()
    {
        QFETCH(QByteArray, body);
        QFETCH(QByteArray, crc);
        QFETCH(QByteArray, sum);
        QCOMPARE(CalcCRC(body), crc);
        QCOMPARE(CalcCRCBitText(body), crc);
        QCOMPARE(sealFrame(body, CheckKind::Crc), body + crc + '\x04');
        QCOMPARE(CalcSum(body), sum);
        QCOMPARE(sealFrame(body, CheckKind::Sum), body + sum + '\x04');
    }
};

QTEST_GUILESS_MAIN(TestTextCodec)
#include "test_textcodec.moc"
