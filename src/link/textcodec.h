#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>

namespace vantorel {

// Hex text: upper-case digits only. Bit text: '0'/'1', most significant first.
// Byte text: QByteArray, one byte per character.
// HexToVal, HexToChr and HexToBin throw Fault(InvalidArgument) on an empty
// text or any character that is not 0-9 or A-F.

qint64 HexToVal(const QString &hex);
QByteArray HexToChr(const QString &hexByte);
QString HexToBin(const QString &hex);
QString BinToHex(const QString &fourBits);
QString ShiftRight(const QString &bits, int n);
QString ShiftLeft(const QString &bits, int n);
QString XorBin(const QString &a, const QString &b);
QString Hex2(const QString &hex);
QString StrToHex(const QByteArray &bytes);

// Fast forms for the hot paths (HEX reading): the same digit rule, no allocation.
// Returns -1 for a character that is not an upper-case hex digit.
inline int hexDigitValue(QChar c)
{
    const char16_t u = c.unicode();
    if (u >= '0' && u <= '9')
        return u - '0';
    if (u >= 'A' && u <= 'F')
        return u - 'A' + 10;
    return -1;
}

} // namespace vantorel
