#include "image/hexlines.h"

#include "platform/fault.h"
#include "platform/wholefile.h"

#include <QBuffer>

namespace vantorel {

namespace {
constexpr qint64 kChunk = 1 << 20;

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

HexLines::HexLines(const QByteArray &content)
{
    auto buffer = std::make_unique<QBuffer>();
    buffer->setData(content);
    buffer->open(QIODevice::ReadOnly);
    device_ = std::move(buffer);
}

bool HexLines::fill()
{
    if (eof_)
        return false;
    const QByteArray chunk = device_->read(kChunk);
    if (chunk.isEmpty()) {
        eof_ = true;
        return false;
    }
    buffer_ = buffer_.mid(pos_) + chunk;
    pos_ = 0;
    return true;
}

bool HexLines::atEnd()
{
    while (pos_ >= buffer_.size()) {
        if (!fill())
            return true;
    }
    return false;
}

QByteArray HexLines::next()
{
    QByteArray line;
    for (;;) {
        if (pos_ >= buffer_.size() && !fill())
            break; // last line without a terminator
        const char *data = buffer_.constData();
        qsizetype i = pos_;
        while (i < buffer_.size() && data[i] != '\r' && data[i] != '\n')
            ++i;
        line += buffer_.mid(pos_, i - pos_);
        pos_ = i;
        if (i < buffer_.size()) {
            const char end = data[i];
            ++pos_;
            if (end == '\r') {
                // A LF right after the CR belongs to the same ending.
                if (pos_ >= buffer_.size())
                    fill();
                if (pos_ < buffer_.size() && buffer_.at(pos_) == '\n')
                    ++pos_;
            }
            break;
        }
    }
    ++lineNumber_;
    return line;
}

void HexRecord::bad(int position, int length) const
{
    const QByteArray field = line_.mid(position - 1, length);
    QString what;
    if (field.size() < length)
        what = QStringLiteral("the line is too short");
    else
        what = QStringLiteral("\"") + QString::fromLatin1(field) + QStringLiteral("\" is not an upper-case hex number");
    throw Fault::because(FaultCode::InvalidArgument, QStringLiteral("line ") + QString::number(lineNumber_)
                                                         + QStringLiteral(", position ") + QString::number(position)
                                                         + QStringLiteral(": ") + what);
}

int HexRecord::byteAt(int position) const
{
    const qsizetype i = position - 1;
    if (i < 0 || i + 2 > line_.size())
        bad(position, 2);
    const int hi = digit(line_[i]);
    const int lo = digit(line_[i + 1]);
    if (hi < 0 || lo < 0)
        bad(position, 2);
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
