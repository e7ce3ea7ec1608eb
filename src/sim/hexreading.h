#pragma once

#include <QByteArray>

#include <array>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <vector>

namespace vantorel::sim {

// A controller's flash: 57342 bytes, all FF when erased.
inline constexpr int kFlashBytes = 0xDFFE;
// Where a firmware keeps its configuration record: the settings its
// controller speaks after a download.
inline constexpr int kConfigurationAddress = 0x2020;

// The speeds a configuration record can fix, in the order of its speed codes
// 000 to 101. 110 means nothing and 111 leaves the speed programmable.
inline constexpr std::array<int, 6> kLineSpeeds{4800, 9600, 19200, 38400, 57600, 115200};

// What a firmware speaks, from bytes D0 and D2 of its configuration record
// (D1 and the controller type in D3 mean nothing to a controller).
struct RecordedSettings {
    std::optional<int> speed; // empty: the record fixes none, the controller keeps its own
    bool prot4Plus = false;   // the byte-sum check code as well
    std::uint8_t protocolChar = 0;
};
RecordedSettings readConfigurationRecord(std::uint8_t d0, std::uint8_t d2);
// D0 for a speed (one of kLineSpeeds, anything else programmable) and Prot 4+.
std::uint8_t configurationByte(int speed, bool prot4Plus);

// One line of a HEX file as the tool sends it: its data bytes go to its
// address, whatever its record type says; its record checksum is nobody's
// concern on the line.
struct HexLine {
    int number = 0; // from 1
    int address = 0;
    QByteArray data;
};

// A line that cannot be read: what() says which, where and why.
class HexError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The lines of a HEX text; they end at CR, LF or CR LF. Fields are read by
// position and must be upper-case hex. Throws HexError.
std::vector<HexLine> readHexLines(const QByteArray &text);

} // namespace vantorel::sim
