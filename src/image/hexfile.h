#pragma once

#include "state/imagedescription.h"

#include <QString>

namespace vantorel {

constexpr int kFlashSize = 0xDFFE; // 57342 bytes

// Reads the file in one pass: returns the full file checksum as upper-case hex
// without leading zeros. Resets the description as a new reading does, then
// updates it record by record, so after a Fault it holds what the lines read
// before the fault set. Throws Fault (FileNotFound, FileAccess,
// InvalidArgument, Overflow).
QString readHexChecksum(const QString &path, ImageDescription &description);
// The same reading over bytes already taken from a file.
QString readHexChecksum(const QByteArray &content, ImageDescription &description);

// Applies one configuration record's data bytes D0, D2, D3 to a description.
void applyConfigurationRecord(ImageDescription &description, int d0, const QString &d2Hex, const QString &d3Hex);

// The checksum text as the three bytes of the full-checksum frame: "0" put in
// front until six digits, then bytes from digits 1-2, 3-4, 5-6.
QByteArray checksumBytes(const QString &checksumText);

} // namespace vantorel
