#include "LocalSerialPort.h"

#include "PortSelector.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QSerialPort>
#include <QThread>

#include <algorithm>

#ifdef _WIN32
#include <windows.h>
#else
#include <cerrno>
#include <grp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>
#endif

namespace {

using TPortHandle = decltype(std::declval<QSerialPort&>().handle());

// Polling step while waiting for the driver's queue: short enough to notice an empty queue
// promptly, long enough not to keep a core busy.
constexpr int QueuePollMs = 2;
// A purge reads at most this many rounds of its buffer before it flushes the rest unread.
constexpr int PurgeRounds = 16;

// Calls a wait hook at most every HookStepMs while a wait goes on, and never more often: the
// window's repaint costs more than a queue poll.
constexpr int HookStepMs = 20;
class THookTimer {
public:
    explicit THookTimer(const std::function<void()>& hook) : Hook(hook) { Clock.start(); }
    void Tick() {
        if (Hook && Clock.elapsed() >= HookStepMs) {
            Hook();
            Clock.restart();
        }
    }

private:
    const std::function<void()>& Hook;
    QElapsedTimer Clock;
};

#ifndef _WIN32
// Serial devices are usually open to one group (dialout, uucp): the reason names it when
// joining it would help.
QString DescribeDenied(const QString& path) {
    const QByteArray local = path.toLocal8Bit();
    struct stat info {};
    struct group entry {};
    struct group* found = nullptr;
    char names[1024];
    const bool groupMayUse = ::stat(local.constData(), &info) == 0 &&
                             (info.st_mode & (S_IRGRP | S_IWGRP)) == (S_IRGRP | S_IWGRP) &&
                             info.st_gid != 0;
    if (groupMayUse && ::getgrgid_r(info.st_gid, &entry, names, sizeof names, &found) == 0 && found)
        return QStringLiteral("Permission denied for %1: your user is not in the group "
                              "%2. Add it (for example: sudo usermod -aG %2 $USER) and "
                              "log in again.")
            .arg(path, QString::fromLocal8Bit(found->gr_name));
    return QStringLiteral("Permission denied for %1: your user may not open it.").arg(path);
}
#endif

// The system's reason for a failed open, with what the user can do about it.
QString DescribeOpenFailure(const QSerialPort& port) {
    const QString path = DevicePath(port.portName());
    switch (port.error()) {
    case QSerialPort::DeviceNotFoundError:
        return QStringLiteral("%1 does not exist. Check the port name and that the adapter is "
                              "plugged in.")
            .arg(path);
    case QSerialPort::PermissionError:
#ifndef _WIN32
        if (::access(path.toLocal8Bit().constData(), R_OK | W_OK) != 0 && errno == EACCES)
            return DescribeDenied(path);
#endif
        return QStringLiteral("%1 is busy: another program holds the port. Close it and try "
                              "again.")
            .arg(path);
    default:
        return QStringLiteral("%1: %2").arg(path, port.errorString());
    }
}

// Sets speed, character format and no flow control; false when the port refuses any of them.
bool ApplyLineSettings(QSerialPort& port, const TPortSettings& line) {
    const QSerialPort::Parity parity = line.Parity == 'E'   ? QSerialPort::EvenParity
                                       : line.Parity == 'O' ? QSerialPort::OddParity
                                       : line.Parity == 'M' ? QSerialPort::MarkParity
                                       : line.Parity == 'S' ? QSerialPort::SpaceParity
                                                            : QSerialPort::NoParity;
    const QSerialPort::StopBits stop = line.StopBits == 15   ? QSerialPort::OneAndHalfStop
                                       : line.StopBits == 20 ? QSerialPort::TwoStop
                                                             : QSerialPort::OneStop;
    return port.setBaudRate(line.BaudRate) &&
           port.setDataBits(static_cast<QSerialPort::DataBits>(line.DataBits)) &&
           port.setParity(parity) && port.setStopBits(stop) &&
           port.setFlowControl(QSerialPort::NoFlowControl);
}

// Whether the device behind an open handle is gone: a USB adapter unplugged, a line hung up.
// The port object does not always say so; a read then simply finds nothing, time after time.
bool DeviceGone(TPortHandle handle) {
#ifdef _WIN32
    COMSTAT status{};
    DWORD errors = 0;
    return !ClearCommError(handle, &errors, &status);
#else
    pollfd entry{};
    entry.fd = static_cast<int>(handle);
    entry.events = POLLIN;
    return ::poll(&entry, 1, 0) > 0 && (entry.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
#endif
}

qint64 DriverOutputQueue(TPortHandle handle) {
#ifdef _WIN32
    COMSTAT status{};
    DWORD errors = 0;
    if (!ClearCommError(handle, &errors, &status))
        return 0;
    return status.cbOutQue;
#else
    int queued = 0;
    if (::ioctl(static_cast<int>(handle), TIOCOUTQ, &queued) != 0)
        return 0;
    return queued;
#endif
}

} // namespace

TLocalSerialPort::TLocalSerialPort() = default;

TLocalSerialPort::~TLocalSerialPort() {
    if (!Port)
        return;
#ifndef _WIN32
    RestoreLatency(static_cast<int>(Port->handle()), LatencyRestore);
#endif
    Port->close();
}

bool TLocalSerialPort::Open(const TPortSettings& line, const TOpenWait&) {
#ifndef _WIN32
    // The line discipline has no 1.5 stop bits; the port would quietly send one.
    if (line.StopBits == 15) {
        ErrorText = QStringLiteral("1.5 stop bits are not supported by this system's serial "
                                   "ports.");
        return false;
    }
#endif
    const TPortChoice device = ResolvePortName(line.Device);
    if (!device.Ok()) {
        ErrorText = device.Error;
        return false;
    }
    QString portName = device.Device;
    if (!ClaimDevice(line, device.Device, portName))
        return false;
    auto port = std::make_unique<QSerialPort>();
    port->setPortName(portName);
    if (!port->open(QIODevice::ReadWrite)) {
        ErrorText = DescribeOpenFailure(*port);
        Claim.Release();
        return false;
    }
    if (!ApplyLineSettings(*port, line)) {
        ErrorText = QStringLiteral("%1 does not accept these line settings: %2")
                        .arg(DevicePath(line.Device), port->errorString());
        port->close();
        Claim.Release();
        return false;
    }
#ifndef _WIN32
    LatencyRestore = RequestLowLatency(static_cast<int>(port->handle()));
#endif
    LatencyTimer = AdapterLatencyTimerMs(device.Device);
    Port = std::move(port);
    return true;
}

bool TLocalSerialPort::ClaimDevice(const TPortSettings& line, const QString& resolved,
                                   QString& portName) {
#ifdef _WIN32
    (void)line;
    (void)resolved;
    (void)portName;
    return true;
#else
    // A name that is no text in this system's encoding is opened by its bytes; the library
    // then opens the same device through the claim's descriptor.
    const bool odd = !line.DeviceBytes.isEmpty() &&
                     QString::fromLocal8Bit(line.DeviceBytes).toLocal8Bit() != line.DeviceBytes;
    QByteArray path = odd ? line.DeviceBytes : DevicePath(resolved).toLocal8Bit();
    if (odd && !path.startsWith('/'))
        path.prepend("/dev/");
    std::string reason;
    switch (Claim.Claim(path.toStdString(), reason)) {
    case TClaim::Held:
        ErrorText = QStringLiteral("%1 is busy: %2. Close that program and try again.")
                        .arg(DevicePath(resolved), QString::fromLocal8Bit(reason.c_str()));
        return false;
    case TClaim::CannotOpen:
        // The library's own attempt says why, in its words.
        if (odd) {
            ErrorText = QStringLiteral("%1: %2").arg(DevicePath(resolved),
                                                     QString::fromLocal8Bit(reason.c_str()));
            return false;
        }
        return true;
    case TClaim::Granted:
        break;
    }
    if (odd)
        portName = QStringLiteral("/proc/self/fd/%1").arg(Claim.Handle());
    return true;
#endif
}

TLineAbilities TLocalSerialPort::Abilities() const {
    TLineAbilities abilities;
#ifndef _WIN32
    abilities.SetsLowLatency = true;
#endif
    abilities.LatencyTimerMs = LatencyTimer;
    return abilities;
}

int TLocalSerialPort::Receive(char* bytes, int count, int timeoutMs) {
    // What the port object took in while an event loop ran is older than what the driver holds.
    if (Port->bytesAvailable() > 0)
        return static_cast<int>(std::max<qint64>(Port->read(bytes, count), 0));
#ifdef _WIN32
    if (!Port->waitForReadyRead(timeoutMs))
        return CheckLost() ? -1 : 0;
    return static_cast<int>(std::max<qint64>(Port->read(bytes, count), 0));
#else
    // Straight from the driver: the port object's notifiers would cost every acknowledged block
    // a good part of a tenth of a millisecond.
    const int handle = static_cast<int>(Port->handle());
    pollfd entry{};
    entry.fd = handle;
    entry.events = POLLIN;
    const int ready = ::poll(&entry, 1, timeoutMs);
    if (ready == 0 || (ready < 0 && errno == EINTR))
        return 0;
    if (ready > 0 && (entry.revents & POLLIN)) {
        const ssize_t got = ::read(handle, bytes, static_cast<size_t>(count));
        if (got > 0)
            return static_cast<int>(got);
        if (got < 0 && (errno == EAGAIN || errno == EINTR))
            return 0;
    }
    if (CheckLost())
        return -1;
    // Readable yet nothing to read, and the device still there: wait a moment rather than ask
    // again at once, so that such a line cannot keep a core busy.
    QThread::msleep(1);
    return 0;
#endif
}

bool TLocalSerialPort::CheckLost() {
    if (Gone || !Port)
        return Gone;
#ifdef _WIN32
    if (Port->error() == QSerialPort::ResourceError) {
        Gone = true;
        ErrorText = QStringLiteral("%1: %2").arg(DevicePath(Port->portName()), Port->errorString());
        return true;
    }
#endif
    // Elsewhere the port object's own error is no proof: it also reports a read that found
    // nothing because the bytes had been taken already. A hung-up device says so when polled.
    if (DeviceGone(Port->handle())) {
        Gone = true;
        ErrorText = QStringLiteral("%1: the device is gone (adapter unplugged or line hung up).")
                        .arg(DevicePath(Port->portName()));
    }
    return Gone;
}

qint64 TLocalSerialPort::PendingOutput() const {
    return Port ? Port->bytesToWrite() + DriverOutputQueue(Port->handle()) : 0;
}

int TLocalSerialPort::Purge() {
    char scratch[256];
    int found = 0;
    for (int round = 0; round < PurgeRounds; ++round) {
        const int got = Receive(scratch, sizeof scratch, 0);
        if (got <= 0)
            return found;
        found += got;
    }
    // Still more: whatever else the driver holds goes unread.
    Port->clear(QSerialPort::Input);
    return found;
}

// Waits until nothing is left to send: what the port object still holds is handed to the
// driver meanwhile, the driver's queue is polled with short sleeps. Line errors the driver
// reports are cleared on the way, unless the port is gone.
bool TLocalSerialPort::Drain(int timeoutMs, const THook& waitHook) {
    QDeadlineTimer deadline(std::max(timeoutMs, 0));
    THookTimer hook(waitHook);
    while (PendingOutput() > 0) {
        hook.Tick();
        if (deadline.hasExpired() || CheckLost())
            return false;
        const int step = static_cast<int>(std::min<qint64>(deadline.remainingTime(), 20));
        if (Port->bytesToWrite() > 0)
            Port->waitForBytesWritten(std::max(step, 1));
        else
            QThread::msleep(QueuePollMs);
        if (CheckLost())
            return false;
        Port->clearError();
    }
    return true;
}

bool TLocalSerialPort::WaitSent(int timeoutMs, const THook& waitHook) {
    return Drain(timeoutMs, waitHook);
}

// Gives the bytes to the driver. A driver that keeps refusing them (a line that never drains)
// ends the wait when the time is up.
bool TLocalSerialPort::Send(const char* data, unsigned count, int timeoutMs,
                            const THook& waitHook) {
    if (count == 0)
        return true;
    THookTimer hook(waitHook);
    QDeadlineTimer deadline(std::max(timeoutMs, 0));
#ifdef _WIN32
    if (Port->write(data, count) != static_cast<qint64>(count)) {
        CheckLost();
        return false;
    }
    while (Port->bytesToWrite() > 0 && !deadline.hasExpired()) {
        hook.Tick();
        const int step = static_cast<int>(std::min<qint64>(deadline.remainingTime(), HookStepMs));
        if (!Port->waitForBytesWritten(std::max(step, 1)) && CheckLost())
            return false;
    }
    return Port->bytesToWrite() == 0;
#else
    const int handle = static_cast<int>(Port->handle());
    unsigned sent = 0;
    while (sent < count) {
        const ssize_t put = ::write(handle, data + sent, count - sent);
        if (put > 0) {
            sent += static_cast<unsigned>(put);
            continue;
        }
        if (put < 0 && errno != EAGAIN && errno != EINTR) {
            CheckLost();
            return false;
        }
        if (deadline.hasExpired() || CheckLost())
            return false;
        hook.Tick();
        pollfd entry{};
        entry.fd = handle;
        entry.events = POLLOUT;
        ::poll(&entry, 1, static_cast<int>(std::min<qint64>(deadline.remainingTime(), HookStepMs)));
    }
    return true;
#endif
}
