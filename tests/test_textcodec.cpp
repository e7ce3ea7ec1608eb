#include "link/checkcode.h"
#include "link/textcodec.h"
#include "platform/fault.h"

#include <QRandomGenerator>
#include <QTest>

using namespace vantorel;

class TestTextCodec : public QObject {
    Q_OBJECT
private slots:
    void hexToVal_data()
    {
        QTest::addColumn<QString>("hex");
        QTest::addColumn<qint64>("value");
        QTest::newRow("FF") << "FF" << qint64(255);
        QTest::newRow("DFFE") << "DFFE" << qint64(57342);
        QTest::newRow("00") << "00" << qint64(0);
        QTest::newRow("one digit") << "A" << qint64(10);
        QTest::newRow("six digits") << "DF1C7F" << qint64(14621823);
    }
    void hexToVal()
    {
        QFETCH(QString, hex);
        QFETCH(qint64, value);
        QCOMPARE(HexToVal(hex), value);
    }

    void invalidHexFails_data()
    {
        QTest::addColumn<QString>("text");
        QTest::newRow("lower-case a") << "a";
        QTest::newRow("empty") << "";
        QTest::newRow("blank") << " 1";
        QTest::newRow("colon") << ":0";
        QTest::newRow("lower inside") << "1f";
        QTest::newRow("G") << "G0";
    }
    void invalidHexFails()
    {
        QFETCH(QString, text);
        for (auto call : {+[](const QString &t) { HexToVal(t); }, +[](const QString &t) { HexToBin(t); },
                          +[](const QString &t) { HexToChr(t); }}) {
            try {
                call(text);
                QFAIL("no fault raised");
            } catch (const Fault &f) {
                QCOMPARE(f.code(), FaultCode::InvalidArgument);
            }
        }
    }

    void bitTexts()
    {
        QCOMPARE(HexToBin("A5"), QString("10100101"));
        QCOMPARE(HexToBin("00F"), QString("000000001111"));
        QCOMPARE(ShiftRight("1000000000000001", 4), QString("0000100000000000"));
        QCOMPARE(ShiftLeft("1000000000000001", 4), QString("0000000000010000"));
        QCOMPARE(ShiftRight("1011", 0), QString("1011"));
        QCOMPARE(ShiftLeft("1011", 4), QString("0000"));
        QCOMPARE(XorBin("1100", "1010"), QString("0110"));
        QCOMPARE(XorBin("1", "10"), QString());
        QCOMPARE(BinToHex("0000"), QString("0"));
        QCOMPARE(BinToHex("1111"), QString("F"));
        QCOMPARE(BinToHex("1010"), QString("A"));
        QCOMPARE(BinToHex("101"), QString());
        QCOMPARE(BinToHex("10a1"), QString());
    }

    void hex2AndStrToHex()
    {
        QCOMPARE(Hex2(""), QString("00"));
        QCOMPARE(Hex2("7"), QString("07"));
        QCOMPARE(Hex2("4A"), QString("4A"));
        QCOMPARE(StrToHex(QByteArray("\x40\x01\x73", 3)), QString("400173"));
        QCOMPARE(StrToHex(QByteArray()), QString());
        QCOMPARE(StrToHex(QByteArray("\x00\xFF\x04", 3)), QString("00FF04"));
        QCOMPARE(HexToChr("FF"), QByteArray(1, '\xFF'));
        QCOMPARE(HexToChr("00"), QByteArray(1, '\0'));
    }

    void checkCodes_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QByteArray>("crc");
        QTest::addColumn<QByteArray>("sum");
        QTest::newRow("flash check") << QByteArray::fromHex("40010173") << QByteArray::fromHex("2469")
                                     << QByteArray::fromHex("00B5");
        QTest::newRow("erase") << QByteArray::fromHex("40010474 55AAF0") << QByteArray::fromHex("315A")
                               << QByteArray::fromHex("02A8");
        QTest::newRow("digits") << QByteArray("123456789") << QByteArray::fromHex("31C3") << QByteArray::fromHex("01DD");
        QTest::newRow("empty") << QByteArray() << QByteArray::fromHex("0000") << QByteArray::fromHex("0000");
    }
    void checkCodes()
    {
        QFETCH(QByteArray, body);
        QFETCH(QByteArray, crc);
        QFETCH(QByteArray, sum);
        QCOMPARE(CalcCRC(body), crc);
        QCOMPARE(CalcCRCBitText(body), crc);
        QCOMPARE(CalcSum(body), sum);
    }

    void wholeFrame()
    {
        QCOMPARE(sealFrame(QByteArray::fromHex("40010173"), CheckKind::Crc), QByteArray::fromHex("40010173246904"));
        QCOMPARE(sealFrame(QByteArray::fromHex("4001047455AAF0"), CheckKind::Crc),
                 QByteArray::fromHex("4001047455AAF0315A04"));
        QCOMPARE(sealFrame(QByteArray::fromHex("40010173"), CheckKind::Sum), QByteArray::fromHex("4001017300B504"));
    }

    void sumWrapsAt16Bits()
    {
        // 257 bytes of 0xFF then one 0xFF more: 258 * 255 = 65790 = 0x100FE.
        QCOMPARE(CalcSum(QByteArray(258, '\xFF')), QByteArray::fromHex("00FE"));
        // A sum that is a whole multiple of 65536: 256 * 256 = 65536.
        QByteArray multiple(256, '\xFF');
        multiple += QByteArray(1, '\x01') + QByteArray(255, '\x01'); // 256*255 + 256 = 65536
        QCOMPARE(CalcSum(multiple), QByteArray::fromHex("0000"));
    }

    void bitTextAndIntegerFormsAgree()
    {
        // The bit-text register is the reference; frames carry every byte value, 0x00, 0x04 and above 0x7F.
        QRandomGenerator rng(20261206);
        for (int n = 0; n < 3000; ++n) {
            QByteArray frame(1 + rng.bounded(140), '\0');
            for (auto &b : frame)
                b = static_cast<char>(rng.bounded(256));
            QCOMPARE(CalcCRCBitText(frame), CalcCRC(frame));
        }
    }
};

QTEST_GUILESS_MAIN(TestTextCodec)
#include "test_textcodec.moc"
