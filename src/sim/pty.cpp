#include "sim/pty.h"

#include <QDeadlineTimer>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <stdexcept>
#include <string>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace vantorel {

namespace {

[[noreturn]] void fail(const char *what)
{
    throw std::runtime_error(std::string("pseudo-terminal: ") + what + ": " + std::strerror(errno));
}

// Waits for the master to become ready for events; false on time-out.
bool waitFor(int fd, short events, const QDeadlineTimer &deadline)
{
    for (;;) {
        pollfd p{fd, events, 0};
        const int ms = int(qMax<qint64>(deadline.remainingTime(), 0));
        const int r = ::poll(&p, 1, ms);
        if (r > 0)
            return (p.revents & events) != 0;
        if (r == 0)
            return false;
        if (errno != EINTR)
            return false;
    }
}

} // namespace

PseudoTerminal::PseudoTerminal()
{
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (master_ < 0)
        fail("posix_openpt");
    char name[128] = {};
    if (::grantpt(master_) != 0 || ::unlockpt(master_) != 0 || ::ptsname_r(master_, name, sizeof name) != 0) {
        const int saved = errno;
        ::close(master_);
        errno = saved;
        fail("grantpt/unlockpt/ptsname");
    }
    slavePath_ = QString::fromLocal8Bit(name);

    slaveHold_ = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slaveHold_ < 0) {
        const int saved = errno;
        ::close(master_);
        errno = saved;
        fail("open slave");
    }
    // A fresh pty echoes and edits lines; a serial line does neither. This
    // sets the slave (not the master) once, before any tool opens it, so bytes
    // sent ahead of open() arrive as they were.
    termios t{};
    if (::tcgetattr(slaveHold_, &t) == 0) {
        ::cfmakeraw(&t);
        ::tcsetattr(slaveHold_, TCSANOW, &t);
    }
}

PseudoTerminal::~PseudoTerminal()
{
    close();
}

void PseudoTerminal::close()
{
    if (slaveHold_ >= 0)
        ::close(slaveHold_);
    if (master_ >= 0)
        ::close(master_);
    slaveHold_ = -1;
    master_ = -1;
}

qint64 PseudoTerminal::slaveQueued() const
{
    int n = 0;
    return ::ioctl(slaveHold_, FIONREAD, &n) == 0 ? n : -1;
}

bool PseudoTerminal::writeBytes(const QByteArray &bytes, int timeoutMs)
{
    if (master_ < 0)
        return false;
    const QDeadlineTimer deadline(qMax(timeoutMs, 0)); // negative would mean forever
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(master_, bytes.constData() + done, size_t(bytes.size() - done));
        if (n > 0) {
            done += n;
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR)
            return false;
        if (!waitFor(master_, POLLOUT, deadline))
            return false;
    }
    return true;
}

QByteArray PseudoTerminal::readBytes(int timeoutMs)
{
    QByteArray out;
    if (master_ < 0 || !waitFor(master_, POLLIN, QDeadlineTimer(qMax(timeoutMs, 0))))
        return out;
    char buf[4096];
    for (;;) {
        const ssize_t n = ::read(master_, buf, sizeof buf);
        if (n > 0) {
            out.append(buf, n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        return out; // EAGAIN: nothing more waits; EIO: slave closed
    }
}

QByteArray PseudoTerminal::readAtLeast(qsizetype count, int timeoutMs)
{
    const QDeadlineTimer deadline(qMax(timeoutMs, 0)); // negative would mean forever
    QByteArray out;
    while (out.size() < count) {
        const QByteArray more = readBytes(int(qMax<qint64>(deadline.remainingTime(), 0)));
        if (more.isEmpty())
            break; // time is up, or the line is gone
        out += more;
    }
    return out;
}

} // namespace vantorel
