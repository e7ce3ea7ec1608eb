#include "image/hexfile.h"

#include "image/hexlines.h"
#include "link/textcodec.h"
#include "platform/fault.h"

#include <limits>

namespace vantorel {

void applyConfigurationRecord(ImageDescription &d, int d0, const QString &d2Hex, const QString &d3Hex)
{
    d.HexProt4Plus = (d0 & 0x08) != 0;
    switch ((d0 >> 4) & 0x07) {
    case 0b111: d.HexBaudText = QStringLiteral("Baud Rate Programmable"); break;
    case 0b000: d.HexBaudText = QStringLiteral("Baud Rate Fix 4800"); d.HexBaudRate = QStringLiteral("4800"); break;
    case 0b001: d.HexBaudText = QStringLiteral("Baud Rate Fix 9600"); d.HexBaudRate = QStringLiteral("9600"); break;
    case 0b010: d.HexBaudText = QStringLiteral("Baud Rate Fix 19200"); d.HexBaudRate = QStringLiteral("19200"); break;
    case 0b011: d.HexBaudText = QStringLiteral("Baud Rate Fix 38400"); d.HexBaudRate = QStringLiteral("38400"); break;
    case 0b100: d.HexBaudText = QStringLiteral("Baud Rate Fix 57600"); d.HexBaudRate = QStringLiteral("57600"); break;
    case 0b101: d.HexBaudText = QStringLiteral("Baud Rate Fix 115200"); d.HexBaudRate = QStringLiteral("115200"); break;
    default: break; // 110: nothing defined, nothing changed
    }
    d.HexProtocolByte = d2Hex;
    if (d3Hex == QLatin1String("02"))
        d.HexCtrlType = QStringLiteral("QRVB");
    else if (d3Hex == QLatin1String("03"))
        d.HexCtrlType = QStringLiteral("ZEP");
    else if (d3Hex == QLatin1String("04"))
        d.HexCtrlType = QStringLiteral("KB700");
    else if (d3Hex == QLatin1String("05"))
        d.HexCtrlType = QStringLiteral("QRVD1");
}

namespace {

QString readChecksum(HexLines &lines, ImageDescription &d)
{
    qint64 count = 0;
    qint64 sum = 0;
    constexpr qint64 kLongMax = std::numeric_limits<qint32>::max();
    while (!lines.atEnd()) {
        QByteArray line = lines.next();
        const HexRecord record(std::move(line), lines.lineNumber());
        const int ll = record.count();
        count += ll;
        for (int i = 1; i <= ll; ++i)
            sum += record.dataByte(i);
        if (record.text(4, 4) == "2020") {
            const int d0 = record.byteAt(10);
            // Taken as they stand, by position: in a record of fewer than four
            // data bytes they are its checksum digits, or nothing past its end.
            const QString d2 = QString::fromLatin1(record.line().mid(13, 2));
            const QString d3 = QString::fromLatin1(record.line().mid(15, 2));
            applyConfigurationRecord(d, d0, d2, d3);
        }
        // The checksum is a 32-bit signed figure; a file far larger than the
        // flash would wrap it into a meaningless value.
        if (sum > kLongMax || count > kLongMax)
            throw Fault(FaultCode::Overflow,
                        faultDescription(FaultCode::Overflow) + QStringLiteral(" (line ") + QString::number(lines.lineNumber())
                            + QStringLiteral(": the file holds far more data than the 57342-byte flash)"));
    }
    const qint64 v = sum + 255 * (kFlashSize - count);
    if (v < std::numeric_limits<qint32>::min())
        throw Fault(FaultCode::Overflow,
                    faultDescription(FaultCode::Overflow)
                        + QStringLiteral(" (the file holds far more data than the 57342-byte flash)"));
    if (v >= 0)
        return QString::number(v, 16).toUpper();
    return QString::number(static_cast<quint32>(static_cast<qint32>(v)), 16).toUpper();
}

void resetDescription(ImageDescription &d)
{
    d.HexCtrlType.clear();
    d.HexProtocolByte.clear();
    d.HexBaudText.clear();
    d.HexProt4Plus = false;
    // Cleared too: a fixed speed kept from an earlier file was applied after
    // downloading a file whose speed is programmable.
    d.HexBaudRate.clear();
}

} // namespace

QString readHexChecksum(const QString &path, ImageDescription &d)
{
    resetDescription(d);
    HexLines lines(path);
    return readChecksum(lines, d);
}

QString readHexChecksum(const QByteArray &content, ImageDescription &d)
{
    resetDescription(d);
    HexLines lines(content);
    return readChecksum(lines, d);
}

QByteArray checksumBytes(const QString &checksumText)
{
    // Six digits, so that a figure below 0x100000 keeps its value: padded to
    // five, "ABCDE" went out as AB CD 0E and every controller refused it.
    QString t = checksumText;
    while (t.size() < 6)
        t.prepend(QLatin1Char('0'));
    QByteArray out;
    out += HexToChr(t.mid(0, 2));
    out += HexToChr(t.mid(2, 2));
    out += HexToChr(t.mid(4, 2));
    return out;
}

} // namespace vantorel
