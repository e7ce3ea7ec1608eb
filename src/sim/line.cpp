#include "sim/line.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <poll.h>
#include <stdexcept>
#include <utility>
#include <sys/eventfd.h>
#include <unistd.h>

namespace vantorel::sim {

Line::Line(const LineConfig &config, const LineOptions &options)
    : options_(options),
      start_(Clock::now()),
      slavePath_(pty_.slavePath()),
      splitter_([this](std::uint8_t first, std::uint8_t address) {
          return std::any_of(controllers_.begin(), controllers_.end(),
                             [&](const Controller &c) { return c.mightBeAddressed(first, address); });
      }),
      lastArrival_(start_),
      lastAnswerDue_(start_)
{
    for (const ControllerConfig &c : config.controllers)
        controllers_.emplace_back(c);
    lastSignal_ = currentSignal();
    wakeFd_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (wakeFd_ < 0)
        throw std::runtime_error(std::string("simulated line: eventfd: ") + std::strerror(errno));
    io_ = std::thread(&Line::run, this);
    if (!options_.stateFile.isEmpty())
        stateWriter_ = std::thread(&Line::writeStates, this);
}

Line::~Line()
{
    stop();
    if (wakeFd_ >= 0)
        ::close(wakeFd_);
}

void Line::stop()
{
    {
        const std::lock_guard lock(mutex_);
        if (stopping_)
            return;
        stopping_ = true;
    }
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(wakeFd_, &one, sizeof one);
    changed_.notify_all();
    if (io_.joinable())
        io_.join();
    if (stateWriter_.joinable())
        stateWriter_.join();
    if (!options_.stateFile.isEmpty()) {
        QString error;
        if (!writeJsonFile(options_.stateFile, toJson(), &error))
            std::fprintf(stderr, "vantorel-linesim: %s\n", qPrintable(error));
    }
}

LineSignal Line::currentSignal() const
{
    const PseudoTerminal::Settings s = pty_.readSettings();
    return {s.baud, s.stopBits, s.dataBits == 8 && s.parity == 'N'};
}

Clock::duration Line::byteTime(const LineSignal &signal) const
{
    if (!options_.pace || signal.baud <= 0)
        return Clock::duration::zero();
    // Start bit, 8 data bits, parity if any, stop bits: 11 bits for 8N2.
    const int bits = 1 + 8 + (signal.eightNoParity ? 0 : 1) + signal.stopBits;
    return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(double(bits) / signal.baud));
}

double Line::sinceStart(Clock::time_point t) const
{
    return std::chrono::duration<double, std::milli>(t - start_).count();
}

void Line::run()
{
    std::unique_lock lock(mutex_);
    try {
        while (!stopping_) {
            const Clock::time_point now = Clock::now();
            takeDueInput(now);
            sendDueOutput(now);
            changed_.notify_all();

            // Sleep until the tool sends, the next paced byte is due, or stop().
            std::optional<Clock::time_point> wake;
            if (!incoming_.empty())
                wake = incoming_.front().at;
            if (!outgoing_.empty())
                wake = wake ? std::min(*wake, outgoing_.front().due) : outgoing_.front().due;
            const int master = pty_.masterFd();
            lock.unlock();

            pollfd fds[2] = {{wakeFd_, POLLIN, 0}, {master, POLLIN, 0}};
            timespec timeout{};
            if (wake) {
                const auto left = std::max(*wake - Clock::now(), Clock::duration::zero());
                const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
                timeout.tv_sec = time_t(ns / 1'000'000'000);
                timeout.tv_nsec = long(ns % 1'000'000'000);
            }
            const int ready = ::ppoll(fds, master >= 0 ? 2 : 1, wake ? &timeout : nullptr, nullptr);
            const int pollError = errno;

            lock.lock();
            if (ready < 0 && pollError != EINTR)
                throw std::runtime_error(std::string("poll: ") + std::strerror(pollError));
            if (ready > 0 && (fds[0].revents & POLLIN)) {
                std::uint64_t count = 0;
                [[maybe_unused]] const ssize_t n = ::read(wakeFd_, &count, sizeof count);
            }
            if (ready > 0 && master >= 0 && fds[1].revents != 0)
                readInput(Clock::now(), fds[1].revents);
        }
    } catch (const std::exception &e) {
        failure_ = QString::fromLocal8Bit(e.what());
        std::fprintf(stderr, "vantorel-linesim: the line stopped working: %s\n", e.what());
    }
    changed_.notify_all();
}

void Line::readInput(Clock::time_point now, short events)
{
    // Read before the bytes: the settings they were sent at are those in
    // force now, unless the tool changed them in the instant since.
    const LineSignal signal = currentSignal();
    lastSignal_ = signal;
    const Clock::duration perByte = byteTime(signal);
    bool gotAny = false;
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(pty_.masterFd(), buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break; // EAGAIN: all taken
        gotAny = true;
        bytesIn_ += n;
        record({sinceStart(now), true, signal, QByteArray(buffer, n)});
        for (ssize_t i = 0; i < n; ++i) {
            // A byte that finds the line free takes its time from now;
            // otherwise it queues behind the one before.
            lastArrival_ = std::max(lastArrival_, now) + perByte;
            incoming_.push_back({std::uint8_t(buffer[i]), signal, lastArrival_});
        }
    }
    if (!gotAny && (events & (POLLHUP | POLLERR | POLLNVAL))) {
        // With our own slave end held open this only happens when the
        // device is gone. Stop polling it rather than spin.
        failure_ = QStringLiteral("the pseudo-terminal reported an error");
        unplug();
    }
}

void Line::takeDueInput(Clock::time_point now)
{
    bool any = false;
    while (!incoming_.empty() && incoming_.front().at <= now) {
        const Incoming b = incoming_.front();
        incoming_.pop_front();
        for (const auto &[answer, signal] : std::exchange(held_, {}))
            queueAnswer(answer, b.at, signal);
        if (options_.echo)
            queueOutput(b.value, b.at, b.signal.baud);
        splitter_.push(b.value, b.signal, b.at);
        any = true;
    }
    if (!any)
        return;
    while (!unplugged_) {
        const std::optional<Frame> frame = splitter_.next();
        if (!frame)
            break;
        handle(*frame);
    }
}

void Line::handle(const Frame &frame)
{
    FrameRecord rec;
    rec.timeMs = sinceStart(frame.end);
    rec.shape = frame.shape;
    rec.signal = frame.signal;
    rec.bytes = frame.bytes;
    ++frameCount_;
    for (Controller &c : controllers_) {
        const Reaction r = c.hear(frame);
        if (r.heard)
            rec.heardBy.push_back(c.number());
        if (r.unplug) {
            rec.unplugged = true;
            unplug();
            break;
        }
        if (r.answer.isEmpty())
            continue;
        rec.answeredBy = c.number();
        if (r.withNextWrite)
            held_.emplace_back(r, frame.signal);
        else
            queueAnswer(r, frame.end, frame.signal);
    }
    frames_.push_back(std::move(rec));
    if (qsizetype(frames_.size()) > options_.recordLimit) {
        frames_.pop_front();
        ++recordsDropped_;
    }
    ++stateGeneration_;
}

void Line::queueAnswer(const Reaction &r, Clock::time_point from, const LineSignal &signal)
{
    const Clock::duration perByte = byteTime(signal);
    Clock::time_point due = from + std::chrono::milliseconds(r.answerDelayMs);
    if (perByte > Clock::duration::zero())
        due = std::max(due, lastAnswerDue_);
    const qsizetype size = r.answer.size();
    const qsizetype pieces = std::clamp<qsizetype>(r.answerPieces, 1, size);
    for (qsizetype i = 0; i < size; ++i) {
        if (i > 0 && i * pieces / size != (i - 1) * pieces / size)
            due += std::chrono::milliseconds(r.pieceGapMs);
        due += perByte;
        queueOutput(std::uint8_t(r.answer[i]), due, signal.baud);
    }
    lastAnswerDue_ = due;
}

void Line::queueOutput(std::uint8_t value, Clock::time_point due, int baud)
{
    // Kept in time order; equal times keep the order they were queued in, so
    // an echo goes out before the answer to the frame it ends.
    const auto at = std::upper_bound(outgoing_.begin(), outgoing_.end(), due,
                                     [](Clock::time_point t, const Outgoing &o) { return t < o.due; });
    outgoing_.insert(at, {value, due, baud});
}

void Line::sendDueOutput(Clock::time_point now)
{
    QByteArray chunk;
    // Paced like a UART, a byte sent at one speed reaches a tool listening
    // at another as garbage: a late answer is not heard at the next speed.
    const int listening = options_.pace && !outgoing_.empty() ? currentSignal().baud : 0;
    while (!outgoing_.empty() && outgoing_.front().due <= now) {
        const Outgoing &o = outgoing_.front();
        const bool misheard = listening > 0 && o.baud > 0 && o.baud != listening;
        chunk += char(misheard ? std::uint8_t(o.value * 7 + 0x3B) : o.value);
        outgoing_.pop_front();
    }
    if (chunk.isEmpty() || unplugged_)
        return;
    ssize_t n;
    do
        n = ::write(pty_.masterFd(), chunk.constData(), size_t(chunk.size()));
    while (n < 0 && errno == EINTR);
    // A tool that does not read leaves no room: like a UART overrun, what
    // does not fit is lost rather than held back for later.
    const qsizetype written = n > 0 ? qsizetype(n) : 0;
    bytesOut_ += written;
    bytesLost_ += chunk.size() - written;
    if (written > 0)
        record({sinceStart(now), false, currentSignal(), chunk.left(written)});
}

void Line::unplug()
{
    pty_.close();
    unplugged_ = true;
    incoming_.clear();
    outgoing_.clear();
    ++stateGeneration_;
}

void Line::record(TrafficEntry entry)
{
    traffic_.push_back(std::move(entry));
    if (qsizetype(traffic_.size()) > options_.recordLimit) {
        traffic_.pop_front();
        ++recordsDropped_;
    }
}

void Line::writeStates()
{
    std::unique_lock lock(mutex_);
    qint64 written = -1; // the state at start is written at once
    while (!stopping_) {
        changed_.wait(lock, [&] { return stopping_ || stateGeneration_ != written; });
        if (stopping_)
            break; // stop() writes the last one
        written = stateGeneration_;
        const LineSnapshot s = snapshotLocked();
        const std::vector<FrameRecord> frames(frames_.begin(), frames_.end());
        const std::vector<TrafficEntry> traffic(traffic_.begin(), traffic_.end());
        lock.unlock();
        // Several frames in quick succession share one write: only the newest state matters.
        QString error;
        if (!writeJsonFile(options_.stateFile, sim::toJson(s, frames, traffic), &error))
            std::fprintf(stderr, "vantorel-linesim: %s\n", qPrintable(error));
        lock.lock();
    }
}

LineSnapshot Line::snapshotLocked() const
{
    LineSnapshot s;
    s.slavePath = slavePath_;
    s.echo = options_.echo;
    s.pace = options_.pace;
    s.unplugged = unplugged_;
    s.failure = failure_;
    s.signal = lastSignal_;
    s.bytesIn = bytesIn_;
    s.bytesOut = bytesOut_;
    s.bytesLost = bytesLost_;
    s.noiseBytes = splitter_.noiseBytes();
    s.frames = frameCount_;
    s.recordsDropped = recordsDropped_;
    s.quiet = incoming_.empty() && outgoing_.empty();
    for (const Controller &c : controllers_)
        s.controllers.push_back(c.state());
    return s;
}

LineSnapshot Line::snapshot() const
{
    const std::lock_guard lock(mutex_);
    return snapshotLocked();
}

std::pair<qint64, bool> Line::activity() const
{
    const std::lock_guard lock(mutex_);
    return {bytesIn_, incoming_.empty() && outgoing_.empty()};
}

std::vector<TrafficEntry> Line::traffic() const
{
    const std::lock_guard lock(mutex_);
    return {traffic_.begin(), traffic_.end()};
}

std::vector<FrameRecord> Line::frames() const
{
    const std::lock_guard lock(mutex_);
    return {frames_.begin(), frames_.end()};
}

QByteArray Line::flash(int number) const
{
    const std::lock_guard lock(mutex_);
    for (const Controller &c : controllers_)
        if (c.number() == number)
            return c.flash();
    return {};
}

QJsonObject Line::toJson() const
{
    LineSnapshot s;
    std::vector<FrameRecord> frames;
    std::vector<TrafficEntry> traffic;
    {
        const std::lock_guard lock(mutex_);
        s = snapshotLocked();
        frames.assign(frames_.begin(), frames_.end());
        traffic.assign(traffic_.begin(), traffic_.end());
    }
    return sim::toJson(s, frames, traffic);
}

bool Line::waitUntil(const std::function<bool(const LineSnapshot &)> &condition, int timeoutMs) const
{
    std::unique_lock lock(mutex_);
    const auto deadline = Clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
    for (;;) {
        if (condition(snapshotLocked()))
            return true;
        // A stopped line changes no more.
        if (stopping_ || changed_.wait_until(lock, deadline) == std::cv_status::timeout)
            return condition(snapshotLocked());
    }
}

bool Line::waitForFrames(qint64 count, int timeoutMs) const
{
    return waitUntil([count](const LineSnapshot &s) { return s.frames >= count && s.quiet; }, timeoutMs);
}

bool Line::waitForReceived(qint64 count, int timeoutMs) const
{
    return waitUntil([count](const LineSnapshot &s) { return s.bytesIn >= count && s.quiet; }, timeoutMs);
}

} // namespace vantorel::sim
