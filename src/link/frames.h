#pragma once

#include "link/checkcode.h"

#include <QByteArray>
#include <QString>

#include <optional>

namespace vantorel {

// One builder per frame kind, so every procedure sends the same bytes.

// Flash check "s": protocol character, controller, 01, "s", check code, 04.
QByteArray flashCheckFrame(const QByteArray &protocolChar, int ctrl, CheckKind kind);
// Boot information "u" AA 55 50.
QByteArray bootInfoFrame(const QByteArray &protocolChar, int ctrl, CheckKind kind);

inline CheckKind checkKindFor(bool prot4Plus) { return prot4Plus ? CheckKind::Sum : CheckKind::Crc; }


inline constexpr int kBroadcast = 0x5F;
// A frame's length does not depend on whom it is to: this address stands for any.
inline constexpr int kAnyController = 0;
// The answers' lengths: a "61" (or an E1), and a version with its checksum.
inline constexpr int kAckBytes = 7;
inline constexpr int kVersionBytes = 13;

// Erase "t" 55 AA F0.
QByteArray eraseFrame(const QByteArray &protocolChar, int ctrl, CheckKind kind);
// One programming batch "u" AA 55 10 to a controller or to kBroadcast; always
// "@" and CRC.
QByteArray programmingFrame(int address, const QByteArray &addressBytes, const QByteArray &data);
// The full checksum "u" AA 55 0F with its three bytes; always "@" and CRC.
QByteArray fullChecksumFrame(int ctrl, const QByteArray &checksum3);
// The protocol-3 text command "@" + number + "p400:4/".
QByteArray switchToP4Command(int ctrl);
// The return to protocol 3: "@", controller, 0x37 (no count byte).
QByteArray returnToP3Frame(int ctrl, CheckKind kind);

// The whole answer to a flash check or a boot query (13 bytes as hex text)
// carries a version, shown as "01/05/07", and a four-digit checksum.
struct VersionAnswer {
    QString version;
    QString checksum;
};
// Null for an answer that is not whole: the controller is to be asked again.
std::optional<VersionAnswer> decodeVersionAnswer(const QString &answerHex);

} // namespace vantorel
