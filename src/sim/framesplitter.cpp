#include "sim/framesplitter.h"

#include "sim/checkcodes.h"

namespace vantorel::sim {

namespace {

constexpr std::uint8_t kTerminator = 0x04;
constexpr std::uint8_t kReturnCommand = 0x37;
constexpr char kSwitchTail[] = "p400:4/";
constexpr qsizetype kSwitchTailLength = sizeof kSwitchTail - 1;

} // namespace

FrameSplitter::FrameSplitter(Addressed addressed) : addressed_(std::move(addressed)) {}

void FrameSplitter::push(std::uint8_t byte, const LineSignal &signal, Clock::time_point at)
{
    if (!bytes_.empty() && at - bytes_.back().at > kForgetAfter)
        drop(qsizetype(bytes_.size()));
    bytes_.push_back({byte, signal, at});
}

std::optional<Frame> FrameSplitter::next()
{
    const qsizetype size = qsizetype(bytes_.size());
    for (qsizetype i = 0; i < size; ++i) {
        Frame frame;
        qsizetype length = 0;
        // Shortest shape first: a return command's 0x37 would also read as a
        // count byte announcing 55 more bytes.
        if ((length = textAt(i)) > 0)
            frame.shape = FrameShape::Text;
        else if ((length = returnAt(i)) > 0)
            frame.shape = FrameShape::Return;
        else if ((length = binaryAt(i)) > 0)
            frame.shape = FrameShape::Binary;
        else
            continue;

        drop(i);
        frame.signal = bytes_.front().signal;
        for (qsizetype k = 0; k < length; ++k) {
            frame.bytes += char(bytes_.front().value);
            if (!(bytes_.front().signal == frame.signal))
                frame.signal.baud = 0; // parts sent at other settings: noise to everybody
            frame.end = bytes_.front().at;
            bytes_.pop_front();
        }
        return frame;
    }
    // No frame can start where the rest of a longest frame could no longer
    // follow: drop what lies beyond that reach.
    if (size > kLongestFrame)
        drop(size - kLongestFrame);
    return std::nullopt;
}

qsizetype FrameSplitter::textAt(qsizetype i) const
{
    const qsizetype size = qsizetype(bytes_.size());
    if (bytes_[i].value != '@')
        return 0;
    qsizetype k = i + 1;
    while (k < size && k - i - 1 < 3 && bytes_[k].value >= '0' && bytes_[k].value <= '9')
        ++k;
    const qsizetype digits = k - i - 1;
    if (digits < 1 || (digits > 1 && bytes_[i + 1].value == '0'))
        return 0;
    if (k + kSwitchTailLength > size)
        return 0;
    for (qsizetype t = 0; t < kSwitchTailLength; ++t)
        if (bytes_[k + t].value != std::uint8_t(kSwitchTail[t]))
            return 0;
    return k + kSwitchTailLength - i;
}

qsizetype FrameSplitter::returnAt(qsizetype i) const
{
    constexpr qsizetype kLength = 6;
    if (i + kLength > qsizetype(bytes_.size()) || bytes_[i + 2].value != kReturnCommand
        || bytes_[i + 5].value != kTerminator || !addressed_(bytes_[i].value, bytes_[i + 1].value))
        return 0;
    return checkCodeRight(i, 3) ? kLength : 0;
}

qsizetype FrameSplitter::binaryAt(qsizetype i) const
{
    if (i + 3 > qsizetype(bytes_.size()))
        return 0;
    const qsizetype count = bytes_[i + 2].value;
    const qsizetype length = count + 6;
    if (count < 1 || i + length > qsizetype(bytes_.size()) || bytes_[i + length - 1].value != kTerminator
        || !addressed_(bytes_[i].value, bytes_[i + 1].value))
        return 0;
    return checkCodeRight(i, count + 3) ? length : 0;
}

bool FrameSplitter::checkCodeRight(qsizetype from, qsizetype bodyLength) const
{
    CheckCodes codes;
    for (qsizetype k = from; k < from + bodyLength; ++k)
        codes.add(bytes_[k].value);
    const std::uint16_t carried
        = std::uint16_t((bytes_[from + bodyLength].value << 8) | bytes_[from + bodyLength + 1].value);
    // Either code will do here; each controller decides which it understands.
    return codes.crc == carried || codes.sum == carried;
}

void FrameSplitter::drop(qsizetype count)
{
    for (qsizetype k = 0; k < count && !bytes_.empty(); ++k)
        bytes_.pop_front();
    noise_ += count;
}

} // namespace vantorel::sim
