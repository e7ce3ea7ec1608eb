#pragma once

#include <QByteArray>

#include <cstdint>

namespace vantorel {

// CRC-16/XMODEM (poly 0x1021, init 0, no reflection), high byte first.
QByteArray CalcCRC(const QByteArray &frame);
// Byte sum modulo 65536, high byte first.
QByteArray CalcSum(const QByteArray &frame);

std::uint16_t crc16(const QByteArray &bytes);
std::uint16_t byteSum16(const QByteArray &bytes);

// The register worked on as a 16-character bit text with the text helpers.
// Kept as the reference the integer form is proven against.
QByteArray CalcCRCBitText(const QByteArray &frame);

// Which check code a frame carries.
enum class CheckKind { Crc, Sum };

// Appends the check code of the kind and the terminator 0x04.
QByteArray sealFrame(const QByteArray &body, CheckKind kind);

} // namespace vantorel
