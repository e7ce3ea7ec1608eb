#include "link/checkcode.h"

#include "link/textcodec.h"

namespace vantorel {

namespace {

QByteArray twoBytes(std::uint16_t v)
{
    QByteArray out(2, '\0');
    out[0] = static_cast<char>(v >> 8);
    out[1] = static_cast<char>(v & 0xFF);
    return out;
}

} // namespace

std::uint16_t crc16(const QByteArray &bytes)
{
    std::uint16_t r = 0;
    for (const char ch : bytes) {
        std::uint16_t x = static_cast<std::uint16_t>((r >> 8) ^ static_cast<unsigned char>(ch));
        x = static_cast<std::uint16_t>(x ^ (x >> 4));
        r = static_cast<std::uint16_t>((r << 8) ^ (x << 12) ^ (x << 5) ^ x);
    }
    return r;
}

std::uint16_t byteSum16(const QByteArray &bytes)
{
    std::uint32_t sum = 0;
    for (const char ch : bytes)
        sum += static_cast<unsigned char>(ch);
    return static_cast<std::uint16_t>(sum & 0xFFFF);
}

QByteArray CalcCRC(const QByteArray &frame) { return twoBytes(crc16(frame)); }

QByteArray CalcSum(const QByteArray &frame) { return twoBytes(byteSum16(frame)); }

QByteArray CalcCRCBitText(const QByteArray &frame)
{
    const QString hex = StrToHex(frame);
    QString r = QStringLiteral("0000000000000000");
    for (qsizetype i = 0; i + 1 < hex.size(); i += 2) {
        const QString t = HexToBin(QStringLiteral("00") + hex.mid(i, 2));
        const QString o = r;
        r = XorBin(ShiftRight(r, 8), t);
        r = XorBin(ShiftRight(r, 4), r);
        r = XorBin(ShiftLeft(r, 5), r);
        r = XorBin(r, ShiftLeft(o, 8));
        r = XorBin(ShiftLeft(r, 12), r);
    }
    const QString digits = BinToHex(r.mid(0, 4)) + BinToHex(r.mid(4, 4)) + BinToHex(r.mid(8, 4))
        + BinToHex(r.mid(12, 4));
    return HexToChr(digits.left(2)) + HexToChr(digits.mid(2, 2));
}

QByteArray sealFrame(const QByteArray &body, CheckKind kind)
{
    QByteArray frame = body;
    frame += kind == CheckKind::Sum ? CalcSum(body) : CalcCRC(body);
    frame += '\x04';
    return frame;
}

} // namespace vantorel
