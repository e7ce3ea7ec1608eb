#include "image/hexlines.h"

#include "platform/fault.h"
#include "platform/wholefile.h"

namespace vantorel {

namespace {
int digit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}
} // namespace

QByteArray readHexText(const QString &path)
{
    return readWholeFile(path, kHexFileLimit, QStringLiteral("a HEX file"),
                         QStringLiteral("give the firmware's HEX file itself (save a pipe's output to a file first)"));
}

HexLines::HexLines(const QString &path) : HexLines(readHexText(path)) {}

HexLines::HexLines(const QByteArray &content) : text_(content) {}

QByteArray HexLines::next()
{
    qsizetype i = pos_;
    while (i < text_.size() && text_[i] != '\r' && text_[i] != '\n')
        ++i;
    const QByteArray line = text_.mid(pos_, i - pos_);
    pos_ = i;
    // A LF right after the CR belongs to the same ending.
    if (pos_ < text_.size() && text_[pos_++] == '\r' && pos_ < text_.size() && text_[pos_] == '\n')
        ++pos_;
    ++lineNumber_;
    return line;
}

void HexRecord::bad(int position, const QString &what) const
{
    throw Fault::because(FaultCode::InvalidArgument, QStringLiteral("line ") + QString::number(lineNumber_)
                                                         + QStringLiteral(", position ") + QString::number(position)
                                                         + QStringLiteral(": ") + what);
}

int HexRecord::byteAt(int position) const
{
    const qsizetype i = position - 1;
    if (i < 0 || i + 2 > line_.size())
        bad(position, QStringLiteral("the line is too short"));
    const int hi = digit(line_[i]);
    const int lo = digit(line_[i + 1]);
    if (hi < 0 || lo < 0)
        bad(position, QStringLiteral("\"") + QString::fromLatin1(line_.mid(i, 2))
                          + QStringLiteral("\" is not an upper-case hex number"));
    return hi * 16 + lo;
}

int HexRecord::wordAt(int position) const { return byteAt(position) * 256 + byteAt(position + 2); }

QByteArray HexRecord::text(int position, int length) const
{
    for (int p = position; p < position + length; p += 2)
        byteAt(p);
    return line_.mid(position - 1, length);
}

} // namespace vantorel
