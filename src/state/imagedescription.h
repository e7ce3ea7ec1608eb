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

} // namespace vantorel
