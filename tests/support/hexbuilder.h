#pragma once

#include <QByteArray>
#include <QString>

namespace vantorel {

// Builds Intel HEX records with correct record checksums, for tests and sample images.
QByteArray hexRecord(int address, const QByteArray &data, int type = 0);
QByteArray hexEndRecord();
// Contiguous 'recordSize'-byte records covering 'data' from 'address', joined by 'eol'.
// 'kib' KiB of patterned code in 16-byte records, with a configuration record
// that keeps the speed programmable and the protocol byte 04: the benches' image.
QByteArray patternedImage(int kib);

QByteArray hexImage(int address, const QByteArray &data, int recordSize, const QByteArray &eol = "\r\n",
                    bool endRecord = true);
// Writes bytes to a file, returns false on failure.
bool writeFile(const QString &path, const QByteArray &bytes);

} // namespace vantorel
