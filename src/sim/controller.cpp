#include "sim/controller.h"

#include "sim/checkcodes.h"

namespace vantorel::sim {

namespace {

std::uint8_t at(const QByteArray &bytes, qsizetype i)
{
    return std::uint8_t(bytes.at(i));
}

bool startsWith(const QByteArray &data, std::initializer_list<std::uint8_t> head)
{
    if (data.size() < qsizetype(head.size()))
        return false;
    qsizetype i = 0;
    for (const std::uint8_t b : head)
        if (at(data, i++) != b)
            return false;
    return true;
}

// Sub-commands of "u"; the first two data bytes are always AA 55.
constexpr std::uint8_t kBootInfo = 0x50;
constexpr std::uint8_t kProgram = 0x10;
constexpr std::uint8_t kFullChecksum = 0x0F;

bool isProgramming(const QByteArray &frame)
{
    // protocol char, address, count, "u", AA 55 10, address high, address low
    return frame.size() >= 9 && at(frame, 3) == 'u' && at(frame, 2) >= 6
        && startsWith(frame.mid(4), {0xAA, 0x55, kProgram});
}

} // namespace

Controller::Controller(const ControllerConfig &config)
    : config_(config),
      flash_(QByteArray(kFlashBytes, char(0xFF)).replace(0, qMin<qsizetype>(config.flash.size(), kFlashBytes),
                                                          config.flash.left(kFlashBytes))),
      mode_(config.startInBoot ? Mode::Boot : Mode::Firmware),
      speed_(config.startInBoot ? config.bootSpeed : config.speed),
      protocolChar_(config.protocolChar),
      prot4Plus_(config.prot4Plus),
      protocol_(config.protocol),
      firmwareSpeed_(config.speed),
      firmwareChar_(config.protocolChar),
      firmwareProt4Plus_(config.prot4Plus),
      eraseRefusalsLeft_(config.faults.refuseErase),
      eraseAnswerDropsLeft_(config.faults.dropEraseAnswers),
      checksumRefusalsLeft_(config.faults.refuseChecksum),
      returnRefusalsLeft_(config.faults.refuseReturn),
      random_(config.faults.seed)
{
    for (const BatchRefusal &r : config.faults.refuseBatches)
        batchRefusalsLeft_[r.batch] += r.times;
    for (const char c : flash_)
        checksum_ += std::uint8_t(c);
}

bool Controller::mightBeAddressed(std::uint8_t first, std::uint8_t address) const
{
    return (first == protocolChar_ || first == '@') && (address == config_.number || address == kBroadcast);
}

bool Controller::hearsAtThisSpeed(const LineSignal &signal) const
{
    return signal.baud == speed_ && signal.stopBits == 2 && signal.eightNoParity;
}

Controller::Check Controller::checkOf(const QByteArray &frame) const
{
    const CheckCodes codes = checkCodesOf(frame.left(frame.size() - 3));
    const std::uint16_t carried = carriedCheckCode(frame);
    if (codes.crc == carried)
        return Check::Crc;
    if (codes.sum == carried)
        return Check::Sum;
    return Check::None;
}

bool Controller::checkUnderstood(Check check) const
{
    // The boot program knows only the CRC, whatever the firmware speaks.
    return check == Check::Crc || (check == Check::Sum && mode_ == Mode::Firmware && prot4Plus_);
}

Reaction Controller::hear(const Frame &frame)
{
    Reaction r;
    if (config_.faults.silent || stopped_ || !hearsAtThisSpeed(frame.signal))
        return r;
    const QByteArray &b = frame.bytes;
    bool broadcast = false;
    if (frame.shape == FrameShape::Text) {
        if (mode_ != Mode::Firmware || protocol_ != 3
            || b != QByteArray("@") + QByteArray::number(config_.number) + QByteArray("p400:4/"))
            return r;
    } else {
        // In protocol 3 the firmware reads plain text only.
        if (mode_ == Mode::Firmware && protocol_ != 4)
            return r;
        if (b.size() < 6 || !mightBeAddressed(at(b, 0), at(b, 1)))
            return r;
        broadcast = at(b, 1) == kBroadcast;
        // Only boot programs take programming broadcasts; nothing else goes to all.
        if (broadcast && (frame.shape != FrameShape::Binary || !isProgramming(b) || mode_ != Mode::Boot))
            return r;
        if (!checkUnderstood(checkOf(b)))
            return r;
    }

    if (config_.faults.stopAfterFrames >= 0 && framesHeard_ >= config_.faults.stopAfterFrames) {
        stopped_ = true;
        return r;
    }
    r.heard = true;
    ++framesHeard_;
    if (config_.faults.unplugAfterFrames >= 0 && framesHeard_ > config_.faults.unplugAfterFrames) {
        r.unplug = true;
        return r;
    }

    const QByteArray answer = act(frame, broadcast);
    if (broadcast || answer.isNull())
        return r;
    r.answer = withFaults(answer, frame.shape != FrameShape::Text);
    r.answerDelayMs = config_.answerDelayMs;
    r.answerPieces = config_.answerPieces;
    r.pieceGapMs = config_.pieceGapMs;
    r.withNextWrite = config_.answerWithNextWrite;
    if (!r.answer.isEmpty())
        ++answersSent_;
    return r;
}

QByteArray Controller::act(const Frame &frame, bool broadcast)
{
    const QByteArray &b = frame.bytes;
    if (frame.shape == FrameShape::Return) {
        if (mode_ != Mode::Firmware)
            return {}; // the boot program has no protocols to switch
        if (returnRefusalsLeft_ > 0) {
            --returnRefusalsLeft_;
            return answerFrame(kRefused);
        }
        const QByteArray ack = answerFrame(kAccepted);
        protocol_ = 3;
        return ack;
    }
    if (frame.shape == FrameShape::Text) {
        protocol_ = 4;
        return withWrongLength(QByteArray("\x68\x2F", 2)); // "h/"
    }

    const int count = at(b, 2);
    if (count < 1 || b.size() != count + 6)
        return {};
    const std::uint8_t command = at(b, 3);
    const QByteArray data = b.mid(4, count - 1);
    if (command == 's' && count == 1 && mode_ == Mode::Firmware) {
        const std::uint16_t sum = std::uint16_t((flashChecksum() + (config_.faults.damagedFlash ? 1 : 0)) & 0xFFFF);
        QByteArray answer("s");
        for (const std::uint8_t v : config_.version)
            answer += char(v);
        answer += char(sum >> 8);
        answer += char(sum & 0xFF);
        return answerFrame(kAccepted, answer);
    }
    if (command == 't' && count == 4 && startsWith(data, {0x55, 0xAA, 0xF0}))
        return erase();
    if (command != 'u' || !startsWith(data, {0xAA, 0x55}) || data.size() < 3)
        return {};
    switch (at(data, 2)) {
    case kBootInfo: {
        if (count != 4)
            return {};
        QByteArray answer("u");
        for (const std::uint8_t v : config_.bootVersion)
            answer += char(v);
        answer += char(config_.bootChecksum >> 8);
        answer += char(config_.bootChecksum & 0xFF);
        return answerFrame(kAccepted, answer);
    }
    case kProgram:
        if (count < 6)
            return {};
        if (mode_ != Mode::Boot)
            return answerFrame(kRefused);
        return program(b, broadcast);
    case kFullChecksum:
        if (count != 7)
            return {};
        if (mode_ != Mode::Boot)
            return answerFrame(kRefused);
        return fullChecksum(b);
    default:
        return {};
    }
}

QByteArray Controller::answerFrame(std::uint8_t code, const QByteArray &data) const
{
    QByteArray body;
    body += char(protocolChar_);
    body += char(config_.faults.answerAs >= 0 ? config_.faults.answerAs : config_.number);
    body += char(1 + data.size()); // like a command's count: the code stands where the letter stood
    body += char(code);
    body += data;
    // The fault keeps the count and a right check code: only the length lies.
    body = withWrongLength(body);
    return sealed(body, mode_ == Mode::Firmware && prot4Plus_);
}

QByteArray Controller::withWrongLength(QByteArray bytes) const
{
    const int delta = config_.faults.wrongLength;
    if (delta > 0)
        bytes.append(delta, '\0');
    else if (delta < 0)
        bytes.chop(qMin<qsizetype>(-delta, bytes.size()));
    return bytes;
}

QByteArray Controller::erase()
{
    if (eraseRefusalsLeft_ > 0) {
        --eraseRefusalsLeft_;
        return answerFrame(kRefused);
    }
    // Acknowledged by whoever heard it, before the boot program takes over.
    QByteArray ack = answerFrame(kAccepted);
    if (eraseAnswerDropsLeft_ > 0) {
        --eraseAnswerDropsLeft_;
        ack = QByteArray(""); // done, but the answer is lost on the way
    }
    flash_.fill(char(0xFF));
    checksum_ = 0xFFu * kFlashBytes;
    if (mode_ == Mode::Firmware) {
        firmwareSpeed_ = speed_;
        firmwareChar_ = protocolChar_;
        firmwareProt4Plus_ = prot4Plus_;
    }
    mode_ = Mode::Boot;
    speed_ = config_.bootSpeed;
    batchesTaken_ = 0;
    return ack;
}

QByteArray Controller::program(const QByteArray &b, bool broadcast)
{
    const int address = (at(b, 7) << 8) | at(b, 8);
    const QByteArray data = b.mid(9, at(b, 2) - 6);
    const auto refusal = batchRefusalsLeft_.find(batchesTaken_ + 1);
    if (refusal != batchRefusalsLeft_.end() && refusal->second > 0) {
        --refusal->second;
        if (!broadcast)
            return answerFrame(kRefused);
        ++batchesTaken_; // nobody sends a broadcast batch again: this one is simply missed
        return {};
    }
    const int offset = address - config_.flashStart;
    if (offset < 0 || offset + data.size() > kFlashBytes)
        return broadcast ? QByteArray() : answerFrame(kRefused);
    // Flash cells only go from 1 to 0 when programmed; erasing sets them back.
    for (qsizetype i = 0; i < data.size(); ++i) {
        const std::uint8_t old = at(flash_, offset + i);
        const std::uint8_t now = old & at(data, i);
        flash_[offset + i] = char(now);
        checksum_ = checksum_ - old + now;
    }
    ++batchesTaken_;
    return broadcast ? QByteArray() : answerFrame(kAccepted);
}

QByteArray Controller::fullChecksum(const QByteArray &b)
{
    const std::uint32_t expected = (std::uint32_t(at(b, 7)) << 16) | (std::uint32_t(at(b, 8)) << 8) | at(b, 9);
    if (checksumRefusalsLeft_ > 0) {
        --checksumRefusalsLeft_;
        const QByteArray refusal = answerFrame(kRefused);
        if (config_.faults.runsRefusedImage && checksumRefusalsLeft_ == 0)
            leaveBoot();
        return refusal;
    }
    if (expected != flashChecksum())
        return answerFrame(kRefused);
    const QByteArray ack = answerFrame(kAccepted); // the boot program still speaks
    leaveBoot();
    return ack;
}

void Controller::leaveBoot()
{
    mode_ = Mode::Firmware;
    protocol_ = config_.protocol;
    speed_ = firmwareSpeed_;
    protocolChar_ = firmwareChar_;
    prot4Plus_ = firmwareProt4Plus_;
    const int record = kConfigurationAddress - config_.flashStart;
    // Never programmed: the image had no configuration record, and the tool
    // takes nothing from it either.
    if (flash_.mid(record, 4) == QByteArray(4, char(0xFF)))
        return;
    const RecordedSettings recorded = readConfigurationRecord(at(flash_, record), at(flash_, record + 2));
    speed_ = recorded.speed.value_or(firmwareSpeed_);
    prot4Plus_ = recorded.prot4Plus;
    protocolChar_ = recorded.protocolChar;
}

QByteArray Controller::withFaults(QByteArray answer, bool framed)
{
    const Faults &f = config_.faults;
    std::uniform_real_distribution<double> chance(0.0, 1.0);
    if (f.dropAnswers > 0 && chance(random_) < f.dropAnswers)
        return {};
    if (f.corruptAnswers > 0 && chance(random_) < f.corruptAnswers && !answer.isEmpty()) {
        // Spare the terminator of a frame: nobody checks it, so flipping it
        // would be a corruption nobody can see.
        const qsizetype last = framed && answer.size() > 1 ? answer.size() - 2 : answer.size() - 1;
        const qsizetype i = std::uniform_int_distribution<qsizetype>(0, last)(random_);
        const int bit = std::uniform_int_distribution<int>(0, 7)(random_);
        answer[i] = char(at(answer, i) ^ (1 << bit));
    }
    std::uniform_int_distribution<int> byte(0, 255);
    QByteArray out;
    for (int i = 0; i < f.noiseBefore; ++i)
        out += char(byte(random_));
    out += answer;
    for (int i = 0; i < f.noiseAfter; ++i)
        out += char(byte(random_));
    return out;
}

std::uint32_t Controller::flashChecksum() const
{
    return checksum_ & 0xFFFFFF;
}

ControllerState Controller::state() const
{
    ControllerState s;
    s.number = config_.number;
    s.mode = mode_;
    s.speed = speed_;
    s.protocolChar = protocolChar_;
    s.prot4Plus = prot4Plus_;
    s.protocol = protocol_;
    s.flashChecksum = flashChecksum();
    s.version = config_.version;
    s.framesHeard = framesHeard_;
    s.answersSent = answersSent_;
    s.stopped = stopped_;
    s.flashSource = config_.flashSource;
    return s;
}

} // namespace vantorel::sim
