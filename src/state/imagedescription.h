#pragma once

#include <QString>

namespace vantorel {

// What the configuration record (address 2020) of the chosen image says;
// the download drivers take these settings on after programming.
struct ImageDescription {
    QString HexCtrlType;
    bool HexProt4Plus = false;
    QString HexProtocolByte;
    QString HexBaudText;
    QString HexBaudRate; // not cleared between files
};

// The checksum as the window shows it and controllers answer it: its last four digits.
inline QString shownChecksum(const QString &full) { return full.right(4); }

// "QRVB Baud Rate Fix 9600  [40 1]"
inline QString imageToolTip(const ImageDescription &d)
{
    return d.HexCtrlType + QLatin1Char(' ') + d.HexBaudText + QStringLiteral("  [") + d.HexProtocolByte
        + QLatin1Char(' ') + (d.HexProt4Plus ? QLatin1Char('1') : QLatin1Char('0')) + QLatin1Char(']');
}

} // namespace vantorel
