#include "platform/qtserialport.h"

#include "platform/fault.h"

#include <QDeadlineTimer>
#include <QFileInfo>
#include <QLockFile>
#include <QStandardPaths>
#include <QThread>

#include <algorithm>
#include <cerrno>
#include <cstring>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <pwd.h>
#include <sys/ioctl.h>
#include <unistd.h>
#endif

#ifdef Q_OS_WIN
#include <windows.h>
#endif

namespace vantorel {

namespace {

QSerialPort::Parity qtParity(char parity)
{
    switch (parity) {
    case 'E': return QSerialPort::EvenParity;
    case 'O': return QSerialPort::OddParity;
    case 'M': return QSerialPort::MarkParity;
    case 'S': return QSerialPort::SpaceParity;
    default: return QSerialPort::NoParity;
    }
}

// Enough for the bytes to leave at the slowest rate in use, with room for a
// loaded machine; a line that takes longer is stuck (e.g. held by flow control).
int writeBoundMs(qint64 byteCount, int baud)
{
    const qint64 lineMs = byteCount * 12 * 1000 / qMax(baud, 1);
    return int(qMin<qint64>(5000 + 2 * lineMs, 10 * 60 * 1000));
}

#ifdef Q_OS_UNIX
QString gone(int error)
{
    return QStringLiteral("the device is no longer available: ") + QString::fromLocal8Bit(std::strerror(error));
}

// Qt names its lock after the path it is given, so a symbolic link (as
// /dev/serial/by-id/... are) would get a lock of its own beside the device's.
// A bare name means /dev, as Qt reads it.
QString realDevice(const QString &name)
{
    const bool path = name.startsWith(QLatin1Char('/')) || name.startsWith(QLatin1String("./"))
        || name.startsWith(QLatin1String("../"));
    const QString real = QFileInfo(path ? name : QStringLiteral("/dev/") + name).canonicalFilePath();
    return real.isEmpty() ? name : real;
}

// Who holds the lock Qt takes on a device: "vantorel-cli, process 1234", or
// empty. Qt puts LCK..<path under /dev, / as _> in the first of these folders
// that is readable and holds it or is writable, and records the holder's pid
// and program file name in it.
QString lockHolder(const QString &device)
{
    QString file = device.startsWith(QLatin1String("/dev/")) ? device.mid(5) : device;
    file.replace(QLatin1Char('/'), QLatin1Char('_')).prepend(QLatin1String("/LCK.."));
    const QStringList folders = {QStringLiteral("/var/lock"), QStringLiteral("/etc/locks"),
                                 QStringLiteral("/var/spool/locks"), QStringLiteral("/var/spool/uucp"),
                                 QStringLiteral("/tmp"), QStringLiteral("/var/tmp"),
                                 QStringLiteral("/var/lock/lockdev"), QStringLiteral("/run/lock"),
                                 QStandardPaths::writableLocation(QStandardPaths::TempLocation)};
    for (const QString &folder : folders) {
        const QFileInfo dir(folder);
        if (!dir.isReadable() || !(QFileInfo::exists(folder + file) || dir.isWritable()))
            continue;
        qint64 pid = 0;
        QString host, program;
        if (!QLockFile(folder + file).getLockInfo(&pid, &host, &program))
            return QString();
        return QStringLiteral("%1, process %2")
            .arg(program.isEmpty() ? QStringLiteral("another program") : program)
            .arg(pid);
    }
    return QString();
}

QString groupName(gid_t gid)
{
    group entry{}, *found = nullptr;
    char buffer[4096];
    if (::getgrgid_r(gid, &entry, buffer, sizeof buffer, &found) == 0 && found)
        return QString::fromLocal8Bit(found->gr_name);
    return QString::number(gid);
}

QString userName(uid_t uid)
{
    passwd entry{}, *found = nullptr;
    char buffer[4096];
    if (::getpwuid_r(uid, &entry, buffer, sizeof buffer, &found) == 0 && found)
        return QString::fromLocal8Bit(found->pw_name);
    return QString::number(uid);
}

// The groups this process acts with: what a group added since the login lacks.
QList<gid_t> processGroups()
{
    QList<gid_t> groups{::getegid()};
    const int count = ::getgroups(0, nullptr);
    if (count > 0) {
        QList<gid_t> more(count);
        const int got = ::getgroups(count, more.data());
        groups += more.mid(0, qMax(got, 0));
    }
    return groups;
}
#endif

// Qt closes the device before it deletes its lock. A device whose number the
// kernel gives out again once its last descriptor closes (a pseudo-terminal
// at once) could meanwhile go to someone who then finds our lock on it: a
// copy of the descriptor keeps the number taken until the lock is gone.
void closeUnlockingFirst(QSerialPort &port)
{
#ifdef Q_OS_UNIX
    const int keep = port.isOpen() ? ::fcntl(int(port.handle()), F_DUPFD_CLOEXEC, 0) : -1;
    port.close();
    if (keep >= 0)
        ::close(keep);
#else
    port.close();
#endif
}

} // namespace

QtSerialPort::QtSerialPort() : settingsText_(QStringLiteral("9600,N,8,2")), settings_(parseLineSettings(settingsText_))
{
}

QtSerialPort::~QtSerialPort()
{
    release();
}

void QtSerialPort::selectPort(const QString &deviceName)
{
    name_ = deviceName;
}

QString QtSerialPort::portName() const
{
    return name_;
}

void QtSerialPort::setSettings(const QString &settingsText)
{
    const LineSettings wanted = parseLineSettings(settingsText);
    if (isOpen() && settingsText != settingsText_) {
        drainOutput();
        const QString problem = applySettings(wanted);
        if (!problem.isEmpty()) {
            // Leave the line as it was rather than half changed.
            applySettings(settings_);
            throw Fault(FaultCode::PortSettings,
                        QStringLiteral("The serial port %1 does not accept the settings \"%2\" (%3). Choose other "
                                       "settings.")
                            .arg(name_, settingsText, problem));
        }
    }
    settingsText_ = settingsText;
    settings_ = wanted;
}

QString QtSerialPort::settings() const
{
    return settingsText_;
}

void QtSerialPort::open()
{
    if (isOpen())
        return;
    lost_ = false;
    lostReason_.clear();
    if (name_.trimmed().isEmpty())
        throw Fault(FaultCode::PortOpen, QStringLiteral("No serial port is chosen. Choose one, then start again."));

#ifdef Q_OS_UNIX
    const QString device = realDevice(name_);
#else
    const QString device = name_;
#endif
    port_ = std::make_unique<QSerialPort>();
    port_->setPortName(device);
    QObject::connect(port_.get(), &QSerialPort::errorOccurred, port_.get(),
                     [this](QSerialPort::SerialPortError error) { onError(error); });

    if (!port_->open(QIODevice::ReadWrite)) {
        const QString reason = port_->errorString();
        const bool denied = port_->error() == QSerialPort::PermissionError;
        port_.reset();
#ifdef Q_OS_UNIX
        if (const QString holder = lockHolder(device); !holder.isEmpty())
            throw Fault(FaultCode::PortOpen,
                        QStringLiteral("The serial port %1 cannot be opened: it is in use by %2. Close that program "
                                       "or choose another port, then start again.")
                            .arg(device == name_ ? name_ : QStringLiteral("%1 (%2)").arg(name_, device), holder));
        // Qt says "Permission denied" for a lock held by another user as well:
        // the device's own permissions tell which it is.
        struct stat st{};
        if (denied && ::stat(QFile::encodeName(device).constData(), &st) == 0) {
            if (const QString advice = permissionAdvice(device, st, ::geteuid(), processGroups()); !advice.isEmpty())
                throw Fault(FaultCode::PortOpen,
                            QStringLiteral("The serial port %1 cannot be opened: permission denied. ")
                                    .arg(device == name_ ? name_ : QStringLiteral("%1 (%2)").arg(name_, device))
                                + advice);
        }
#endif
        throw Fault(FaultCode::PortOpen,
                    QStringLiteral("The serial port %1 cannot be opened: %2. Check that it exists and no other "
                                   "program uses it.")
                        .arg(name_, reason));
    }
    QString problem;
    if (!port_->setFlowControl(QSerialPort::NoFlowControl))
        problem = port_->errorString();
    else
        problem = applySettings(settings_);
    if (!problem.isEmpty()) {
        release();
        throw Fault(FaultCode::PortSettings,
                    QStringLiteral("The serial port %1 does not accept the settings \"%2\" (%3). Choose other "
                                   "settings.")
                        .arg(name_, settingsText_, problem));
    }
}

void QtSerialPort::close()
{
    drainOutput();
    // Whoever closes has given up the line; a loss not yet reported no longer matters.
    release();
    lost_ = false;
    lostReason_.clear();
}

bool QtSerialPort::isOpen() const
{
    return port_ && port_->isOpen();
}

void QtSerialPort::write(const QByteArray &bytes)
{
    QSerialPort &port = livePort();
    if (bytes.isEmpty())
        return;
    if (port.write(bytes) != bytes.size()) {
        if (lost_)
            throwLost();
        throw Fault(FaultCode::PortWrite,
                    QStringLiteral("Writing to the serial port %1 failed (%2). Check the cable or adapter, then "
                                   "start the operation again.")
                        .arg(name_, port.errorString()));
    }
    // The line is busy with these after whatever it still carries.
    const double seconds = lineSeconds(bytes.size(), settings_);
    const qint64 busyNs = qMax<qint64>(lineFree_.remainingTimeNSecs(), 0);
    lineFree_.setPreciseRemainingTime(0, busyNs + qint64(seconds * 1e9));
    // Qt only queues; callers often busy-wait next without events, so push now.
    const int boundMs = writeBoundMs(bytes.size(), settings_.baud);
    const QDeadlineTimer deadline(boundMs);
    while (port.bytesToWrite() > 0) {
        if (deadline.hasExpired()) {
            // Drop the rest so it cannot reach a controller long after the fact.
            port.clear(QSerialPort::Output);
            throw Fault(FaultCode::PortWrite,
                        QStringLiteral("The serial port %1 did not send its data within %2 s. Check the cable or "
                                       "adapter, then start the operation again.")
                            .arg(name_)
                            .arg(boundMs / 1000));
        }
        const bool progressed = port.waitForBytesWritten(int(qMax<qint64>(deadline.remainingTime(), 1)));
        if (lost_)
            throwLost();
        if (!progressed && port.error() != QSerialPort::NoError && port.error() != QSerialPort::TimeoutError) {
            const QString reason = port.errorString();
            port.clear(QSerialPort::Output);
            throw Fault(FaultCode::PortWrite,
                        QStringLiteral("Writing to the serial port %1 failed (%2). Check the cable or adapter, "
                                       "then start the operation again.")
                            .arg(name_, reason));
        }
    }
}

void QtSerialPort::drainOutput()
{
    if (!isOpen() || lost_)
        return;
    try {
        // The driver's queue first, bounded by its own line time and a margin
        // for an adapter that stalls: a drain must never hang a run.
        const qint64 queued = bytesUnsent();
        const QDeadlineTimer bound(int(1000 * lineSeconds(queued, settings_)) + 1000);
        while (bytesUnsent() > 0 && !bound.hasExpired())
            QThread::msleep(1);
    } catch (const Fault &) {
        return; // lost meanwhile: nothing more will leave
    }
    // Then the last bytes' own time on the wire (a UART's shift register, a
    // pseudo-terminal that reports nothing queued).
    const qint64 left = lineFree_.remainingTimeNSecs();
    if (left > 0)
        QThread::usleep(static_cast<unsigned long>(qMin<qint64>(left, 10'000'000'000) / 1000));
}

qint64 QtSerialPort::bytesUnsent()
{
    QSerialPort &port = livePort();
    // write() leaves nothing in Qt's buffer; what counts is the driver's
    // queue, the count behind tcdrain() and its like.
#ifdef Q_OS_UNIX
    int queued = 0;
    if (::ioctl(port.handle(), TIOCOUTQ, &queued) == -1) {
        lose(gone(errno));
        throwLost();
    }
    return port.bytesToWrite() + queued;
#elif defined(Q_OS_WIN)
    COMSTAT status{};
    DWORD errors = 0;
    if (!::ClearCommError(port.handle(), &errors, &status))
        return port.bytesToWrite();
    return port.bytesToWrite() + qint64(status.cbOutQue);
#else
    return port.bytesToWrite();
#endif
}

qint64 QtSerialPort::bytesWaiting()
{
    QSerialPort &port = livePort();
#ifdef Q_OS_UNIX
    // Qt only learns of kernel bytes when events run; ask the kernel directly.
    int kernelBytes = 0;
    if (::ioctl(port.handle(), FIONREAD, &kernelBytes) == -1) {
        lose(gone(errno));
        throwLost();
    }
    return port.bytesAvailable() + kernelBytes;
#else
    port.waitForReadyRead(0);
    if (lost_)
        throwLost();
    return port.bytesAvailable();
#endif
}

QByteArray QtSerialPort::readAllWaiting()
{
    QSerialPort &port = livePort();
    // Each waitForReadyRead takes one chunk from the kernel; the bound only
    // stops a sender faster than us from keeping us here.
    for (int chunk = 0; chunk < 64; ++chunk) {
#ifdef Q_OS_UNIX
        int kernelBytes = 0;
        if (::ioctl(port.handle(), FIONREAD, &kernelBytes) == -1) {
            lose(gone(errno));
            throwLost();
        }
        // Polling an empty line would only report a time-out.
        if (kernelBytes == 0)
            break;
#endif
        const bool pulled = port.waitForReadyRead(0);
        if (lost_)
            throwLost();
        if (!pulled)
            break;
    }
    return port.readAll();
}

void QtSerialPort::waitForInput(int timeoutMs)
{
    QSerialPort &port = livePort();
    if (port.bytesAvailable() > 0)
        return;
#ifdef Q_OS_UNIX
    // Sleep in the kernel until a byte comes: no looking in between.
    pollfd fd{static_cast<int>(port.handle()), POLLIN, 0};
    const int ready = ::poll(&fd, 1, std::max(timeoutMs, 0));
    if (ready < 0 && errno != EINTR) {
        lose(gone(errno));
        throwLost();
    }
    if (ready > 0 && !(fd.revents & POLLIN)) {
        // Hung up or failed: let Qt read the line and say what it found, as
        // it does when events run; a silent failure would wake us for ever.
        port.waitForReadyRead(0);
        if (!lost_)
            lose(QStringLiteral("the device is no longer available"));
        throwLost();
    }
#else
    port.waitForReadyRead(std::max(timeoutMs, 0));
    if (lost_)
        throwLost();
#endif
}

void QtSerialPort::discardInput()
{
    QSerialPort &port = livePort();
    const bool cleared = port.clear(QSerialPort::Input);
    if (lost_)
        throwLost();
    if (!cleared)
        throw Fault(FaultCode::PortLost,
                    QStringLiteral("The serial line %1 could not be cleared (%2). Check the cable or adapter, then "
                                   "start the operation again.")
                        .arg(name_, port.errorString()));
}

QSerialPort &QtSerialPort::livePort()
{
    if (lost_)
        throwLost();
    if (!isOpen())
        throw Fault(FaultCode::PortOpen,
                    QStringLiteral("The serial port %1 is not open. Start the operation again.").arg(name_));
    return *port_;
}

void QtSerialPort::throwLost()
{
    // Reported once; after that the port is simply closed.
    lost_ = false;
    const QString reason = lostReason_;
    lostReason_.clear();
    throw Fault(FaultCode::PortLost,
                QStringLiteral("The serial line %1 was lost (%2). Check the cable or adapter, then start the "
                               "operation again.")
                    .arg(name_, reason));
}

void QtSerialPort::lose(const QString &reason)
{
    if (lost_ || !isOpen())
        return;
    lost_ = true;
    lostReason_ = reason;
    // Closing stops Qt's notifier, which would otherwise report the dead line
    // hundreds of thousands of times a second to a running event loop.
    closeUnlockingFirst(*port_);
}

void QtSerialPort::release()
{
    if (port_)
        closeUnlockingFirst(*port_);
    port_.reset();
}

void QtSerialPort::onError(QSerialPort::SerialPortError error)
{
    // Qt's errorString() is often stale here (a read that found end of file
    // leaves errno from some earlier call), so say what happened instead.
    switch (error) {
    case QSerialPort::ReadError: lose(QStringLiteral("the device no longer delivers data")); break;
    case QSerialPort::WriteError: lose(QStringLiteral("the device no longer accepts data")); break;
    case QSerialPort::ResourceError: lose(QStringLiteral("the device is no longer available")); break;
    default: break; // time-outs and refused settings are not a lost line
    }
}

#ifdef Q_OS_UNIX
QString permissionAdvice(const QString &device, const struct stat &st, uid_t uid, const QList<gid_t> &groups)
{
    // One class of bits applies: the owner's, else the group's, else the others'.
    const bool owner = st.st_uid == uid, member = groups.contains(st.st_gid);
    const mode_t rw = owner ? (S_IRUSR | S_IWUSR) : member ? (S_IRGRP | S_IWGRP) : (S_IROTH | S_IWOTH);
    if ((st.st_mode & rw) == rw)
        return QString();
    const QString group = groupName(st.st_gid);
    const bool groupMay = (st.st_mode & (S_IRGRP | S_IWGRP)) == (S_IRGRP | S_IWGRP);
    if (groupMay && !member && !owner)
        return QStringLiteral("Only members of the group %1 may use %2, and this login is not one. Join it with\r"
                              "sudo usermod -aG %1 $USER\r"
                              "then log out and in again (a new group counts from the next login), and start again.")
            .arg(group, device);
    return QStringLiteral("Its permissions (mode %1, owner %2, group %3) do not let this user (%4) read and write it. "
                          "Ask the administrator to let a group read and write it (for example by a udev rule with "
                          "GROUP=\"dialout\", MODE=\"0660\"), join that group (sudo usermod -aG dialout $USER, then "
                          "log out and in again), and start again.")
        .arg(QString::number(st.st_mode & 07777, 8).rightJustified(4, QLatin1Char('0')), userName(st.st_uid), group,
             userName(uid));
}
#endif

QString QtSerialPort::applySettings(const LineSettings &s)
{
#ifndef Q_OS_WIN
    // termios has no 1.5 stop bits; Qt would quietly send 1.
    if (s.stopBits == LineSettings::OneAndHalfStop)
        return QStringLiteral("1.5 stop bits: this system's serial ports offer 1 or 2");
#endif
    QSerialPort &port = *port_;
    if (!port.setBaudRate(s.baud))
        return QStringLiteral("speed %1: %2").arg(s.baud).arg(port.errorString());
    if (!port.setDataBits(QSerialPort::DataBits(s.dataBits)))
        return QStringLiteral("%1 data bits: %2").arg(s.dataBits).arg(port.errorString());
    if (!port.setParity(qtParity(s.parity)))
        return QStringLiteral("parity %1: %2").arg(QLatin1Char(s.parity)).arg(port.errorString());
    if (!port.setStopBits(QSerialPort::StopBits(s.stopBits))) {
        const QString count = s.stopBits == LineSettings::OneAndHalfStop ? QStringLiteral("1.5")
                                                                          : QString::number(s.stopBits);
        return QStringLiteral("%1 stop bits: %2").arg(count, port.errorString());
    }
    return QString();
}

} // namespace vantorel
