#pragma once

#include <QByteArray>
#include <QString>

#include <utility>

namespace vantorel {

// The flash holds 57342 bytes; written as one-byte records of 15 characters
// that is 860 KB of text. 16 MiB is far past any sound HEX file, small enough
// to hold in memory, and keeps every sum of the reading within 32 bits.
inline constexpr qint64 kHexFileLimit = 16 * 1024 * 1024;

// The bytes of a HEX file, read once: a regular file of at most
// kHexFileLimit bytes. Throws Fault(FileNotFound) or Fault(FileAccess) saying
// what the file is and what to do.
QByteArray readHexText(const QString &path);

// Reads a text line by line. A line ends at CR, CR LF or LF; the terminator
// is not part of the line.
class HexLines {
public:
    // The file read with readHexText; throws as it does.
    explicit HexLines(const QString &path);
    // Lines of bytes already in memory (an image taken once, at its check).
    explicit HexLines(const QByteArray &content);

    bool atEnd() const { return pos_ >= text_.size(); }
    // The line at hand, without its ending; an empty one at the end.
    QByteArray next();
    qint64 lineNumber() const { return lineNumber_; }

private:
    QByteArray text_;
    qsizetype pos_ = 0;
    qint64 lineNumber_ = 0;
};

// Field access by 1-based character position, as the records are laid out.
// Every read field must be fully present and made of upper-case hex digits,
// else Fault(InvalidArgument) naming the line.
class HexRecord {
public:
    HexRecord(QByteArray line, qint64 lineNumber) : line_(std::move(line)), lineNumber_(lineNumber) {}

    int byteAt(int position) const; // two digits from position
    int wordAt(int position) const; // four digits from position
    QByteArray text(int position, int length) const;
    int count() const { return byteAt(2); }
    int address() const { return wordAt(4); }
    int dataByte(int i) const { return byteAt(8 + 2 * i); } // i = 1..count
    const QByteArray &line() const { return line_; }
    qint64 lineNumber() const { return lineNumber_; }

private:
    [[noreturn]] void bad(int position, const QString &what) const;
    QByteArray line_;
    qint64 lineNumber_;
};

} // namespace vantorel
