#include "link/textcodec.h"

#include "platform/fault.h"

namespace vantorel {

namespace {

[[noreturn]] void invalidHex(const QString &text)
{
    throw Fault::because(FaultCode::InvalidArgument,
                         QStringLiteral("not a hex number: \"") + text.left(40) + QLatin1Char('"'));
}

const char *const kNibbles[16] = {"0000", "0001", "0010", "0011", "0100", "0101", "0110", "0111",
                                  "1000", "1001", "1010", "1011", "1100", "1101", "1110", "1111"};

} // namespace

qint64 HexToVal(const QString &hex)
{
    // Sixteen digits would already overflow; nothing legitimate is that long.
    if (hex.isEmpty() || hex.size() > 15)
        invalidHex(hex);
    qint64 value = 0;
    for (const QChar c : hex) {
        const int d = hexDigitValue(c);
        if (d < 0)
            invalidHex(hex);
        value = value * 16 + d;
    }
    return value;
}

QByteArray HexToChr(const QString &hexByte)
{
    const qint64 v = HexToVal(hexByte);
    if (v > 255)
        invalidHex(hexByte);
    return QByteArray(1, static_cast<char>(v));
}

QString HexToBin(const QString &hex)
{
    if (hex.isEmpty())
        invalidHex(hex);
    QString bits;
    for (const QChar c : hex) {
        const int d = hexDigitValue(c);
        if (d < 0)
            invalidHex(hex);
        bits += QLatin1String(kNibbles[d]);
    }
    return bits;
}

QString BinToHex(const QString &fourBits)
{
    for (int d = 0; d < 16; ++d) {
        if (fourBits == QLatin1String(kNibbles[d]))
            return QString(QChar(d < 10 ? '0' + d : 'A' + d - 10));
    }
    return QString();
}

QString ShiftRight(const QString &bits, int n)
{
    const int len = static_cast<int>(bits.size());
    n = qBound(0, n, len);
    return QString(n, QLatin1Char('0')) + bits.left(len - n);
}

QString ShiftLeft(const QString &bits, int n)
{
    const int len = static_cast<int>(bits.size());
    n = qBound(0, n, len);
    return bits.mid(n) + QString(n, QLatin1Char('0'));
}

QString XorBin(const QString &a, const QString &b)
{
    if (a.size() != b.size())
        return QString();
    QString out(a.size(), QLatin1Char('0'));
    for (qsizetype i = 0; i < a.size(); ++i) {
        if (a[i] != b[i])
            out[i] = QLatin1Char('1');
    }
    return out;
}

QString Hex2(const QString &hex)
{
    if (hex.isEmpty())
        return QStringLiteral("00");
    if (hex.size() == 1)
        return QLatin1Char('0') + hex;
    return hex;
}

QString StrToHex(const QByteArray &bytes) { return QString::fromLatin1(bytes.toHex().toUpper()); }

} // namespace vantorel
