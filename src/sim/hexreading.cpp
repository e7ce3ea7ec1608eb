#include "sim/hexreading.h"

#include <string>

namespace vantorel::sim {

RecordedSettings readConfigurationRecord(std::uint8_t d0, std::uint8_t d2)
{
    RecordedSettings s;
    const unsigned code = (d0 >> 4) & 0b111;
    if (code < kLineSpeeds.size())
        s.speed = kLineSpeeds[code];
    s.prot4Plus = (d0 & 0x08) != 0;
    s.protocolChar = d2;
    return s;
}

std::uint8_t configurationByte(int speed, bool prot4Plus)
{
    unsigned code = 0b111;
    for (unsigned i = 0; i < kLineSpeeds.size(); ++i)
        if (kLineSpeeds[i] == speed)
            code = i;
    return std::uint8_t(code << 4 | (prot4Plus ? 0x08 : 0));
}

namespace {

int hexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// The value of the two characters from 1-based position p.
int byteAt(const QByteArray &line, int number, int p)
{
    const auto where = [&] { return "line " + std::to_string(number) + ", position " + std::to_string(p) + ": "; };
    if (line.size() < p + 1)
        throw HexError(where() + "the line is too short");
    const int high = hexDigit(line.at(p - 1));
    const int low = hexDigit(line.at(p));
    if (high < 0 || low < 0)
        throw HexError(where() + "\"" + line.mid(p - 1, 2).toStdString() + "\" is not an upper-case hex number");
    return high << 4 | low;
}

} // namespace

std::vector<HexLine> readHexLines(const QByteArray &text)
{
    std::vector<HexLine> lines;
    qsizetype from = 0;
    while (from < text.size()) {
        qsizetype end = from;
        while (end < text.size() && text.at(end) != '\r' && text.at(end) != '\n')
            ++end;
        const QByteArray line = text.mid(from, end - from);
        from = end + (text.mid(end, 2) == "\r\n" ? 2 : 1);

        HexLine h;
        h.number = int(lines.size()) + 1;
        const int count = byteAt(line, h.number, 2);
        h.address = byteAt(line, h.number, 4) << 8 | byteAt(line, h.number, 6);
        for (int i = 0; i < count; ++i)
            h.data += char(byteAt(line, h.number, 10 + 2 * i));
        lines.push_back(std::move(h));
    }
    return lines;
}

} // namespace vantorel::sim
