#pragma once

#include <QByteArray>

#include <cstdint>
#include <string_view>

namespace vantorel::sim {

// The two check codes a frame may end in, built up byte by byte. Written here
// apart from the tool's: a controller that computed them the tool's way would
// agree with any fault in it.
struct CheckCodes {
    std::uint16_t crc = 0; // polynomial 0x1021 from 0, top bit first, nothing reflected or inverted
    std::uint16_t sum = 0; // the bytes added up, modulo 65536

    constexpr void add(std::uint8_t byte)
    {
        sum = std::uint16_t(sum + byte);
        crc = std::uint16_t(crc ^ (byte << 8));
        for (int bit = 0; bit < 8; ++bit)
            crc = std::uint16_t(crc & 0x8000 ? (crc << 1) ^ 0x1021 : crc << 1);
    }
};

constexpr CheckCodes checkCodesOf(std::string_view bytes)
{
    CheckCodes codes;
    for (const char b : bytes)
        codes.add(std::uint8_t(b));
    return codes;
}

inline CheckCodes checkCodesOf(const QByteArray &bytes)
{
    return checkCodesOf(std::string_view(bytes.constData(), std::size_t(bytes.size())));
}

// Known frames and the codes a controller on a real line computes for them.
constexpr bool codesAre(std::string_view bytes, std::uint16_t crc, std::uint16_t sum)
{
    const CheckCodes codes = checkCodesOf(bytes);
    return codes.crc == crc && codes.sum == sum;
}
static_assert(codesAre("123456789", 0x31C3, 0x01DD));
static_assert(codesAre("\x40\x01\x01\x73", 0x2469, 0x00B5));             // flash check, controller 1
static_assert(codesAre("\x40\x01\x04\x74\x55\xAA\xF0", 0x315A, 0x02A8)); // erase, controller 1

// The check code the last three bytes of a frame carry before its terminator,
// high byte first. The frame holds at least three bytes.
inline std::uint16_t carriedCheckCode(const QByteArray &frame)
{
    const qsizetype n = frame.size();
    return std::uint16_t(std::uint8_t(frame.at(n - 3)) << 8 | std::uint8_t(frame.at(n - 2)));
}

// The body with its check code, high byte first, and the terminator 0x04.
inline QByteArray sealed(QByteArray body, bool byteSum)
{
    const CheckCodes codes = checkCodesOf(body);
    const std::uint16_t code = byteSum ? codes.sum : codes.crc;
    body += char(code >> 8);
    body += char(code & 0xFF);
    body += '\x04';
    return body;
}

} // namespace vantorel::sim
