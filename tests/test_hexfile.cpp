#include "image/batchreader.h"
#include "image/downloadimage.h"
#include "image/hexfile.h"
#include "platform/fault.h"
#include "support/hexbuilder.h"

#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

using namespace vantorel;

class TestHexFile : public QObject {
    Q_OBJECT
    QTemporaryDir dir;

private slots:
    void reading_data()
    {
        // "checksum": the full file checksum, or "error N, line L". "description": baud text |
        // baud rate | Prot 4+ | protocol byte | controller type, after starting from an earlier file's.
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("checksum");
        QTest::addColumn<QString>("description");
        const QByteArray one = ":0300000002ABCD83";
        const QByteArray end = ":00000001FF\r\n";
        auto config = [](const char *d) { return hexRecord(0x2020, QByteArray::fromHex(d)) + "\r\n"; };
        QTest::newRow("CR LF") << one + "\r\n" + end << "DF1C7F" << "||0||";
        QTest::newRow("CR alone") << one + "\r:00000001FF\r" << "DF1C7F" << "||0||";
        QTest::newRow("LF alone") << one + "\n:00000001FF\n" << "DF1C7F" << "||0||";
        QTest::newRow("no final line end") << one + "\r\n:00000001FF" << "DF1C7F" << "||0||";
        QTest::newRow("record checksum not read") << QByteArray(":0300000002ABCD00\r\n") + end << "DF1C7F" << "||0||";
        QTest::newRow("no records: all erased") << QByteArray() << "DF1E02" << "||0||";
        // 57342 data bytes: V = S, here ten 0xFF and one 0xC6; no leading zeros.
        QTest::newRow("three digits") << hexImage(0, QByteArray(10, '\xFF') + '\xC6' + QByteArray(57331, '\0'), 32)
                                      << "ABC" << "Baud Rate Fix 4800|4800|0|00|";
        QTest::newRow("more data than flash") << hexImage(0, QByteArray(57344, '\0'), 32) << "FFFFFE02" << "Baud Rate Fix 4800|4800|0|00|"; // 2020 is data too
        QTest::newRow("long line of digits") << ":FF" + QByteArray(100000, '7') << "DE968A" << "||0||";
        // The configuration record at 2020: D0 speed code and Prot 4+ bit, D2 protocol byte, D3 type.
        QTest::newRow("9600 fixed, QRVB") << config("18004002") + end << "DF1A60" << "Baud Rate Fix 9600|9600|1|40|QRVB";
        QTest::newRow("no record checksum after D3") << ":0420200018004002\r\n" + end << "DF1A60" << "Baud Rate Fix 9600|9600|1|40|QRVB";
        // Fewer than four data bytes: positions 14 to 17 as they stand, the record checksum or nothing.
        QTest::newRow("one data byte") << QByteArray(":01202000180000\r\n") << "DF1D1B" << "Baud Rate Fix 9600|9600|1|00|";
        QTest::newRow("three, checksum 02 read as the type") << ":032020001800A302\r\n" + end << "DF1BC0" << "Baud Rate Fix 9600|9600|1|A3|QRVB";
        QTest::newRow("programmable, ZEP") << config("70004003") + end << "DF1AB9" << "Baud Rate Programmable||0|40|ZEP";
        QTest::newRow("38400, KB700") << config("38000404") + end << "DF1A46" << "Baud Rate Fix 38400|38400|1|04|KB700";
        QTest::newRow("115200, QRVD1") << config("50003F05") + end << "DF1A9A" << "Baud Rate Fix 115200|115200|0|3F|QRVD1";
        QTest::newRow("4800") << config("00004002") + end << "DF1A48" << "Baud Rate Fix 4800|4800|0|40|QRVB";
        QTest::newRow("19200") << config("28004002") + end << "DF1A70" << "Baud Rate Fix 19200|19200|1|40|QRVB";
        QTest::newRow("57600") << config("40004002") + end << "DF1A88" << "Baud Rate Fix 57600|57600|0|40|QRVB";
        QTest::newRow("code 110, type 09: nothing") << config("60004009") + end << "DF1AAF" << "||0|40|";
        QTest::newRow("a later record overwrites") << config("18004002") + config("60004109") << "DF170E"
                                                   << "Baud Rate Fix 9600|9600|0|41|QRVB";
        QTest::newRow("a fault keeps what came before") << config("18004002") + ":03zz\r\n" << "error 5, line 2"
                                                        << "Baud Rate Fix 9600|9600|1|40|QRVB";
        QTest::newRow("lower-case digit") << QByteArray(":0300000002abcd83\r\n") << "error 5, line 1" << "||0||";
        QTest::newRow("empty line") << one + "\r\n\r\n" + end << "error 5, line 2" << "||0||";
        QTest::newRow("LL claims more than the line") << QByteArray(":1000000002ABCD83\r\n") << "error 5, line 1" << "||0||";
        QTest::newRow("half a data byte") << QByteArray(":0300000002ABC") << "error 5, line 1" << "||0||";
        QTest::newRow("binary garbage") << QByteArray("\x00\xFF\x13\x04garbage\x80\x81", 13) << "error 5, line 1" << "||0||";
        QTest::newRow("long line of noise") << ":FF" + QByteArray(100000, 'x') << "error 5, line 1" << "||0||";
    }
    void reading()
    {
        QFETCH(QByteArray, content);
        const QString path = dir.filePath("image.hex");
        QVERIFY(writeFile(path, content));
        // Twice: the file is closed after each reading, also after a fault.
        for (int reading = 0; reading < 2; ++reading) {
            ImageDescription d{"stale", true, "99", "stale", "4800"};
            QString checksum;
            try {
                checksum = readHexChecksum(path, d);
            } catch (const Fault &f) {
                checksum = QString("error %1, ").arg(f.number())
                    + QRegularExpression("^Line \\d+").match(f.description()).captured().toLower();
            }
            QTEST(checksum, "checksum");
            QTEST(QStringList({d.HexBaudText, d.HexBaudRate, d.HexProt4Plus ? "1" : "0", d.HexProtocolByte, d.HexCtrlType})
                      .join('|'),
                  "description");
        }
    }

    void missingFileAndChecksumBytes()
    {
        ImageDescription d;
        try {
            readHexChecksum(dir.filePath("absent.hex"), d);
            QFAIL("no fault");
        } catch (const Fault &f) {
            QCOMPARE(f.code(), FaultCode::FileNotFound);
        }
        // A fault names the line, the position and the field as written, or that the line ends before it.
        const QList<std::pair<QByteArray, QString>> bad = {
            {":0300000002abcd83\r\n", "Line 1, position 12: \"ab\" is not an upper-case hex number"},
            {":0300000002AbCD83\r\n", "Line 1, position 12: \"Ab\" is not an upper-case hex number"},
            {":0300000002\r\n", "Line 1, position 12: the line is too short"}};
        for (const auto &[text, says] : bad) {
            QVERIFY(writeFile(dir.filePath("bad.hex"), text));
            try {
                readHexChecksum(dir.filePath("bad.hex"), d);
                QFAIL("no fault");
            } catch (const Fault &f) {
                QCOMPARE(f.description(), says);
            }
        }
        // Three bytes whatever the figure's length: a short one keeps its value.
        QCOMPARE(checksumBytes("DF1E02") + checksumBytes("ABCDE") + checksumBytes("ABC") + checksumBytes(""),
                 QByteArray::fromHex("DF1E02" "0ABCDE" "000ABC" "000000"));
    }

    void onlyARegularFileOfSoundSizeIsRead()
    {
        // Refused on what the file is, before a byte is read: a pipe would block the reading (or be used up by
        // it), a device never ends. 16 MiB is the most a HEX file may be; the sparse files cost no disk.
        const QString pipe = dir.filePath("pipe.hex"), atLimit = dir.filePath("limit.hex"), past = dir.filePath("past.hex");
        QVERIFY(::mkfifo(QFile::encodeName(pipe).constData(), 0600) == 0);
        QVERIFY(writeFile(atLimit, "") && QFile::resize(atLimit, 16 << 20) && writeFile(past, "") && QFile::resize(past, (16 << 20) + 1));
        const QList<std::pair<QString, QString>> rows = { // the file, and the fault: "number: what the description says"
            {pipe, "75: " + pipe + " is a pipe, not a regular file: give the firmware's HEX file itself"},
            {dir.path(), "75: " + dir.path() + " is a folder, not a regular file"}, {"/dev/zero", "75: /dev/zero is a device"},
            {past, "75: " + past + " is 16.00 MiB, more than a HEX file can be (16 MiB at most)"},
            {atLimit, "5: Line 1, position 2"}}; // read whole: its NUL bytes are no record
        for (const auto &[path, fault] : rows) {
            // Both readings of a file: the window's choice and the checksum of the command line.
            for (int reading = 0; reading < 2; ++reading) {
                ImageDescription d;
                try {
                    reading ? readHexChecksum(path, d) : readDownloadImage(path, d).checksum;
                    QFAIL(qPrintable(path));
                } catch (const Fault &f) {
                    QVERIFY2(fault.startsWith(QString::number(f.number()) + ": ") && f.description().contains(fault.mid(fault.indexOf(' ') + 1)),
                             qPrintable(f.description()));
                }
            }
        }
        // Past a 32-bit byte sum (some 17 MB of 0xFF) a reading ends in a clean fault, never a wrapped figure.
        ImageDescription d;
        try {
            readHexChecksum((":FF000000" + QByteArray(510, 'F') + "00\r\n").repeated(33100), d);
            QFAIL("no fault");
        } catch (const Fault &fault) {
            QCOMPARE(fault.code(), FaultCode::Overflow);
        }
    }

    // Where the check before a download draws its lines; the plainly bad files are in the
    // end-to-end refusals.
    void imageCheckBoundaries_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("problem"); // whole, or "warning: " and a sound image's warnings; empty: sound
        const QByteArray end = ":00000001FF\r\n";
        auto rec = [](int address, int size) { return hexRecord(address, QByteArray(size, '\x5A')) + "\r\n"; };
        // The flash's 57342 bytes may lie anywhere in the 16-bit addresses.
        QTest::newRow("57342 bytes from 2000 to FFFD") << rec(0x2000, 16) + rec(0xFFF0, 14) + end << "";
        QTest::newRow("one more") << rec(0x1FFF, 1) + rec(0xFFF0, 14) + end
            << "line 2: the image spans 1FFF (line 1) to FFFD, more than the 57342 bytes of the flash: the image does "
               "not fit the controller";
        QTest::newRow("past FFFF") << rec(0xFFF0, 17) + end
            << "line 1: the record at FFF0 with 17 bytes ends beyond address FFFF: produce the file with 16-bit addresses";
        QTest::newRow("batch of 249") << rec(0, 112) + rec(112, 137) + end << "";
        QTest::newRow("batch of 250") << rec(0, 112) + rec(112, 138) + end
            << "line 1: the records from address 0000 make a batch of 250 bytes, more than the 249 one frame carries; "
               "produce the file with records of at most 32 bytes";
        QTest::newRow("touching, out of order") << rec(0x20, 16) + rec(0x10, 16) + end << "";
        QTest::newRow("overlap by one") << rec(0x10, 16) + rec(0x1F, 16) + end
            << "line 2: the record at 001F overlaps the record at 0010 of line 1; each flash byte may be given once";
        QTest::newRow("overlap, the later line lower") << rec(0x1F, 16) + rec(0x10, 16) + end
            << "line 2: the record at 0010 overlaps the record at 001F of line 1; each flash byte may be given once";
        QTest::newRow("end record with data") << rec(0, 4) + hexRecord(0, "\x01", 1) + "\r\n"
            << "line 2: the end-of-file record carries data; produce the file again";
        QTest::newRow("checksum cut off") << rec(0, 4).left(17) + "\r\n" + end
            << "line 1: the record checksum is missing or not upper-case hex: the file looks cut short or damaged; copy "
               "or produce it again";
        // A lost line end runs two records together; blanks after a checksum are no record.
        QTest::newRow("two records on a line") << rec(0, 4).trimmed() + rec(4, 4) + end
            << "line 1: there is more on the line after the record's checksum (two records on one line?): the file looks "
               "damaged; copy or produce it again";
        QTest::newRow("blanks after the checksum") << rec(0, 4).trimmed() + " \t\r\n" + end << "";
        // A wrong record checksum only warns; missing digits are taken for a file cut short.
        QTest::newRow("stale checksums") << QByteArray(":0300000002ABCD00\r\n") + rec(3, 2) + ":00000001FE\r\n"
            << "warning: line 1: the record checksum is 00 where the record needs 83 (2 lines in all); edited by hand? "
               "The controller's full checksum still proves what was programmed.";
        QTest::newRow("no end record") << rec(0, 4) << "";
        // Read by place, D2 and D3 come from the checksum digits; the controller has FF there.
        QTest::newRow("configuration record of 2 bytes") << rec(0, 4) + hexRecord(0x2020, QByteArray::fromHex("1800")) + "\r\n" + end
            << "warning: line 2: the configuration record at 2020 holds 2 data bytes (18 00), not 4: a controller reads "
               "FF (erased flash) for the missing D2 and D3 (its protocol character and controller type), where this "
               "tool reads the record checksum or nothing in their place, so after a download this tool uses protocol "
               "character A6 where the controller uses FF, and every exchange pays an \"@\" fallback. Fix the image's "
               "configuration record so that it holds all 4 bytes.";
        QTest::newRow("configuration record of 1 byte") << rec(0, 4) + hexRecord(0x2020, QByteArray::fromHex("18")) + "\r\n" + end
            << "warning: line 2: the configuration record at 2020 holds 1 data byte (18), not 4: a controller reads FF "
               "(erased flash) for the missing D1, D2 and D3 (its protocol character and controller type), where this "
               "tool reads the record checksum or nothing in their place, so after a download this tool uses no protocol "
               "character where the controller uses FF, and every exchange pays an \"@\" fallback. Fix the image's "
               "configuration record so that it holds all 4 bytes.";
        // With D2 held, both read the same protocol character: nothing about an "@" fallback.
        QTest::newRow("configuration record of 3 bytes") << rec(0, 4) + hexRecord(0x2020, QByteArray::fromHex("180004")) + "\r\n" + end
            << "warning: line 2: the configuration record at 2020 holds 3 data bytes (18 00 04), not 4: a controller "
               "reads FF (erased flash) for the missing D3 (its controller type), where this tool reads the record "
               "checksum or nothing in their place. Fix the image's configuration record so that it holds all 4 bytes.";
    }
    void imageCheckBoundaries()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, problem);
        const QString path = dir.filePath("checked.hex");
        QVERIFY(writeFile(path, content));
        ImageDescription d;
        const DownloadImage image = readDownloadImage(path, d);
        const QString found = image.sound() ? (image.warning.isEmpty() ? "" : "warning: " + image.warning) : image.problem;
        QCOMPARE(found, problem);
    }
};

QTEST_GUILESS_MAIN(TestHexFile)
#include "test_hexfile.moc"
