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
// The tests' sample: 1 KiB of code in 16-byte records (8 batches of 128
// bytes) and a configuration record at 2020 (its own batch); the default keeps
// the controller's speed, protocol byte 04. Flash sum DD1C7C.
QByteArray sampleCode();
QByteArray sampleImage(const char *configuration = "70000402");
// A controller's whole flash once the default sample landed, and nothing else.
QByteArray sampleFlash();

// Writes bytes to a file, returns false on failure.
bool writeFile(const QString &path, const QByteArray &bytes);

} // namespace vantorel
