#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

namespace vantorel {

// Flash.cfg (40 short lines), Boot.ini (a speed) and Ports.ini (at most 99
// numbers mapped to device paths) are a few KiB even with comments; 64 KiB is
// far past any real one and still nothing to hold in memory.
inline constexpr qint64 kSettingsFileLimit = 64 * 1024;

// Reads a file whole, in one go. It must be a regular file of at most 'limit'
// bytes: a pipe would be used up by the first reading (or block it for ever)
// and a device such as /dev/zero never ends, so the kind is judged on the
// open file before a byte is read, and reading stops past the limit.
// Throws Fault(FileNotFound) when nothing is there, else Fault(FileAccess)
// whose description names the file, says what is wrong with it and ends
// with 'todo' (what the user should do); 'what' names the file in the size
// refusal ("a HEX file").
QByteArray readWholeFile(const QString &path, qint64 limit, const QString &what, const QString &todo);

// The same judgement without reading: for a file another reader (QSettings)
// opens after, which would wait on a pipe or read a device for ever.
void checkWholeFile(const QString &path, qint64 limit, const QString &what, const QString &todo);

// Opens 'file' (its name set) in 'mode', which writes, never waiting: it must
// be a regular file or not there yet (it is then created). A pipe would hold
// the opening until someone reads it, and a device is not ours to write.
// With 'limit' (not with Truncate), one holding more bytes is refused too.
// Throws Fault(FileAccess) as readWholeFile does. Opened by its handle, the
// file no longer knows its name: keep it apart when needed.
void openRegularFile(QFile &file, QIODevice::OpenMode mode, const QString &todo, qint64 limit = -1,
                     const QString &what = QString());

} // namespace vantorel
