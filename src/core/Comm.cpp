#include "Comm.h"

#include "PortSelector.h"
#include "Rfc2217Port.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QSerialPort>
#include <QSerialPortInfo>
#include <QStandardPaths>
#include <QThread>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <utility>

#ifdef _WIN32
#include <windows.h>
#else
#include <cerrno>
#include <climits>
#include <dirent.h>
#include <grp.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>
#endif

const char* const DefaultPortSettings = "COM1:9600,N,8,1";

namespace {

using TPortHandle = decltype(std::declval<QSerialPort&>().handle());

// How long Write waits for earlier output to leave before it gives up.
constexpr int DrainTimeoutMs = 2000;
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

QString Trimmed(const char* begin, const char* end) {
    while (begin < end && std::isspace(static_cast<unsigned char>(*begin)))
        ++begin;
    while (end > begin && std::isspace(static_cast<unsigned char>(end[-1])))
        --end;
    return QString::fromLocal8Bit(begin, static_cast<int>(end - begin));
}

// A positive decimal number of at most maxValue; false for anything else.
bool ParseDecimal(const QString& text, int maxValue, int& value) {
    if (text.isEmpty())
        return false;
    long long result = 0;
    for (QChar c : text) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
        result = result * 10 + (c.unicode() - '0');
        if (result > maxValue)
            return false;
    }
    if (result <= 0)
        return false;
    value = static_cast<int>(result);
    return true;
}

// The system's reason for a failed open, with what the user can do about it.
QString DescribeOpenFailure(const QSerialPort& port) {
    const QString path = DevicePath(port.portName());
    switch (port.error()) {
    case QSerialPort::DeviceNotFoundError:
        return QStringLiteral("%1 does not exist. Check the port name and that the adapter is "
                              "plugged in.")
            .arg(path);
    case QSerialPort::PermissionError: {
#ifndef _WIN32
        const QByteArray local = path.toLocal8Bit();
        if (::access(local.constData(), R_OK | W_OK) != 0 && errno == EACCES) {
            // Serial devices are usually open to one group (dialout, uucp): name it when
            // joining it would help.
            struct stat info {};
            struct group entry {};
            struct group* found = nullptr;
            char names[1024];
            const bool groupMayUse = ::stat(local.constData(), &info) == 0 &&
                                     (info.st_mode & (S_IRGRP | S_IWGRP)) == (S_IRGRP | S_IWGRP) &&
                                     info.st_gid != 0;
            if (groupMayUse &&
                ::getgrgid_r(info.st_gid, &entry, names, sizeof names, &found) == 0 && found)
                return QStringLiteral("Permission denied for %1: your user is not in the group "
                                      "%2. Add it (for example: sudo usermod -aG %2 $USER) and "
                                      "log in again.")
                    .arg(path, QString::fromLocal8Bit(found->gr_name));
            return QStringLiteral("Permission denied for %1: your user may not open it.").arg(path);
        }
#endif
        return QStringLiteral("%1 is busy: another program holds the port. Close it and try "
                              "again.")
            .arg(path);
    }
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

int64_t NowUs() {
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
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

// Orders "ttyS2" before "ttyS10".
bool NaturalLess(const QString& a, const QString& b) {
    int i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        if (a[i].isDigit() && b[j].isDigit()) {
            int si = i, sj = j;
            while (i < a.size() && a[i].isDigit())
                ++i;
            while (j < b.size() && b[j].isDigit())
                ++j;
            const QString na = a.mid(si, i - si), nb = b.mid(sj, j - sj);
            const QString pa = na.rightJustified(std::max(na.size(), nb.size()), QLatin1Char('0'));
            const QString pb = nb.rightJustified(std::max(na.size(), nb.size()), QLatin1Char('0'));
            if (pa != pb)
                return pa < pb;
        } else {
            if (a[i] != b[j])
                return a[i] < b[j];
            ++i;
            ++j;
        }
    }
    return a.size() - i < b.size() - j;
}

TPortCandidateSource& InstalledSource() {
    static TPortCandidateSource source;
    return source;
}

} // namespace

bool ParsePortSettings(const char* text, TPortSettings& settings) {
    if (!text)
        return false;
    const char* colon = std::strrchr(text, ':');
    if (!colon)
        return false;
    TPortSettings parsed;
    parsed.Device = Trimmed(text, colon);
    if (parsed.Device.isEmpty())
        return false;

    QStringList fields;
    const char* start = colon + 1;
    for (const char* p = start;; ++p) {
        if (*p == ',' || *p == '\0') {
            fields << Trimmed(start, p);
            if (*p == '\0')
                break;
            start = p + 1;
        }
    }
    if (fields.size() > 4)
        return false;
    for (const QString& field : fields)
        if (field.isEmpty())
            return false;

    if (!ParseDecimal(fields[0], 4000000, parsed.BaudRate))
        return false;
    if (fields.size() > 1) {
        const QString parity = fields[1].toUpper();
        if (parity.size() != 1 || !QStringLiteral("NEOMS").contains(parity))
            return false;
        parsed.Parity = parity[0].toLatin1();
    }
    if (fields.size() > 2) {
        if (!ParseDecimal(fields[2], 8, parsed.DataBits) || parsed.DataBits < 5)
            return false;
    }
    if (fields.size() > 3) {
        if (fields[3] == QLatin1String("1"))
            parsed.StopBits = 10;
        else if (fields[3] == QLatin1String("1.5"))
            parsed.StopBits = 15;
        else if (fields[3] == QLatin1String("2"))
            parsed.StopBits = 20;
        else
            return false;
    }
    settings = parsed;
    return true;
}

TComms::TComms() : Port(nullptr), BaudRate(9600), Lost(false) {}

TComms::TComms(const char* settings) : TComms() {
    Open(settings);
}

TComms::~TComms() {
    Close();
}

bool TComms::Open(const char* settings) {
    // Kept whole: a cut text would open another device, or the right one at a wrong speed.
    Settings = settings && *settings ? settings : DefaultPortSettings;
    Close();
    LastErrorText.clear();
    Lost = false;

    TPortSettings line;
    if (!ParsePortSettings(Settings.c_str(), line)) {
        LastErrorText = QStringLiteral("The settings \"%1\" are not valid: expected "
                                       "port:baud,parity,data bits,stop bits.")
                            .arg(QString::fromLocal8Bit(Settings.c_str()));
        return false;
    }
    if (IsNetworkPortName(line.Device))
        return OpenRemote(line);

#ifndef _WIN32
    // The line discipline has no 1.5 stop bits; the port would quietly send one.
    if (line.StopBits == 15) {
        LastErrorText = QStringLiteral("1.5 stop bits are not supported by this system's serial "
                                       "ports.");
        return false;
    }
#endif
    // A by-id name or a USB selector is looked up now: the adapter may have moved since.
    const TPortChoice device = ResolvePortName(line.Device);
    if (!device.Ok()) {
        LastErrorText = device.Error;
        return false;
    }
    auto port = std::make_unique<QSerialPort>();
    port->setPortName(device.Device);
    if (!port->open(QIODevice::ReadWrite)) {
        LastErrorText = DescribeOpenFailure(*port);
        return false;
    }

    if (!ApplyLineSettings(*port, line)) {
        LastErrorText = QStringLiteral("%1 does not accept these line settings: %2")
                            .arg(DevicePath(line.Device), port->errorString());
        port->close();
        return false;
    }
#ifndef _WIN32
    LatencyRestore = RequestLowLatency(static_cast<int>(port->handle()));
#endif
    LatencyTimer = AdapterLatencyTimerMs(device.Device);
    Meter.Start(line.BaudRate);
    // A real port starts empty when it is opened; a line whose other end stays open (a
    // pseudo-terminal, a driver that keeps its queue) may still hold a late answer to an
    // earlier operation, which must not pass for the answer to this one.
    port->clear(QSerialPort::Input);
    BaudRate = line.BaudRate;
    Port = port.release();
    DrainOutput(DrainTimeoutMs);
    return true;
}

bool TComms::OpenRemote(const TPortSettings& line) {
    auto remote = std::make_unique<TRfc2217Port>();
    if (!remote->Open(line)) {
        LastErrorText = remote->Error();
        return false;
    }
    BaudRate = line.BaudRate;
    Remote = std::move(remote);
    return true;
}

void TComms::Close() {
    Remote.reset();
    if (!Port)
        return;
#ifndef _WIN32
    RestoreLatency(static_cast<int>(Port->handle()), LatencyRestore);
#endif
    LatencyRestore = TLowLatencyRestore();
    Port->close();
    delete Port;
    Port = nullptr;
    Meter.Finish();
}

bool TComms::IsOpen() const {
    return Port != nullptr || Remote != nullptr;
}

bool TComms::Read(void* buffer, int count, int timeoutMs) {
    if (count <= 0)
        return count == 0 && IsOpen();
    char* bytes = static_cast<char*>(buffer);
    std::memset(bytes, 0, static_cast<size_t>(count));
    if (!IsOpen() || Lost)
        return false;

    QDeadlineTimer deadline(std::max(timeoutMs, 0));
    int received = 0;
    for (;;) {
        const int wait = static_cast<int>(deadline.remainingTime());
        const int got = ReceiveSome(bytes + received, count - received, wait);
        if (got < 0)
            return false; // the line failed: keep whatever did arrive
        if (got > 0)
            Meter.Received(NowUs());
        received += got;
        if (received == count)
            return true;
        if (deadline.hasExpired()) {
            // Once the time is up the driver is still asked once more, without waiting.
            const int last = ReceiveSome(bytes + received, count - received, 0);
            return last > 0 && received + last == count;
        }
    }
}

int TComms::ReadAvailable(void* buffer, int count, int timeoutMs) {
    if (!IsOpen() || Lost)
        return -1;
    if (count <= 0)
        return 0;
    const int got = ReceiveSome(static_cast<char*>(buffer), count, std::max(timeoutMs, 0));
    if (got > 0)
        Meter.Received(NowUs());
    return got;
}

int TComms::ReceiveSome(char* bytes, int count, int timeoutMs) {
    if (Remote) {
        const int got = Remote->Receive(bytes, count, timeoutMs);
        return CheckLine() ? -1 : got;
    }
    // What the port object took in while an event loop ran is older than what the driver holds.
    if (Port->bytesAvailable() > 0)
        return static_cast<int>(std::max<qint64>(Port->read(bytes, count), 0));
#ifdef _WIN32
    if (!Port->waitForReadyRead(timeoutMs))
        return CheckLine() ? -1 : 0;
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
    if (CheckLine())
        return -1;
    // Readable yet nothing to read, and the device still there: wait a moment rather than ask
    // again at once, so that such a line cannot keep a core busy.
    QThread::msleep(1);
    return 0;
#endif
}

bool TComms::CheckLine() {
    if (Lost)
        return true;
    if (Remote && Remote->Lost()) {
        Lost = true;
        LastErrorText = Remote->Error();
    }
    if (!Port)
        return Lost;
#ifdef _WIN32
    if (Port->error() == QSerialPort::ResourceError) {
        Lost = true;
        LastErrorText =
            QStringLiteral("%1: %2").arg(DevicePath(Port->portName()), Port->errorString());
        return true;
    }
#endif
    // Elsewhere the port object's own error is no proof: it also reports a read that found
    // nothing because the bytes had been taken already. A hung-up device says so when polled.
    if (DeviceGone(Port->handle())) {
        Lost = true;
        LastErrorText =
            QStringLiteral("%1: the device is gone (adapter unplugged or line hung up).")
                .arg(DevicePath(Port->portName()));
    }
    return Lost;
}

uint8_t TComms::ReadByte(int timeoutMs) {
    uint8_t value = 0;
    return Read(&value, 1, timeoutMs) ? value : 0;
}

qint64 TComms::PendingOutput() const {
    if (Remote)
        return Remote->PendingOutput();
    if (!Port)
        return 0;
    return Port->bytesToWrite() + DriverOutputQueue(Port->handle());
}

bool TComms::Write(const void* buffer, unsigned count, const std::function<void()>& waitHook) {
    if (Remote) {
        const bool sent = Remote->Send(static_cast<const char*>(buffer), count, waitHook);
        return !CheckLine() && sent;
    }
    if (!Port)
        return false;
    if (!DrainOutput(DrainTimeoutMs, waitHook))
        return false;
    if (!HandOver(static_cast<const char*>(buffer), count, waitHook))
        return false;
    Meter.Sent(NowUs(), count);
    return true;
}

int TComms::Purge() {
    if (Remote)
        return Lost ? 0 : Remote->Purge();
    if (!Port || Lost)
        return 0;
    char scratch[256];
    int found = 0;
    for (int round = 0; round < PurgeRounds; ++round) {
        const int got = ReceiveSome(scratch, sizeof scratch, 0);
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
// reports are cleared on the way, unless the port is gone. False when the time ran out first
// or the line failed.
bool TComms::DrainOutput(int timeoutMs, const std::function<void()>& waitHook) {
    QDeadlineTimer deadline(std::max(timeoutMs, 0));
    THookTimer hook(waitHook);
    while (PendingOutput() > 0) {
        hook.Tick();
        if (deadline.hasExpired() || CheckLine())
            return false;
        const int step = static_cast<int>(std::min<qint64>(deadline.remainingTime(), 20));
        if (Port->bytesToWrite() > 0)
            Port->waitForBytesWritten(std::max(step, 1));
        else
            QThread::msleep(QueuePollMs);
        if (CheckLine())
            return false;
        Port->clearError();
    }
    return true;
}

// Gives the bytes to the driver. A driver that keeps refusing them (a line that never drains)
// ends the wait after the usual 2000 ms plus the time the bytes take on the line.
bool TComms::HandOver(const char* data, unsigned count, const std::function<void()>& waitHook) {
    if (count == 0)
        return true;
    THookTimer hook(waitHook);
    const qint64 lineMs = static_cast<qint64>(count) * 10 * 1000 / std::max(BaudRate, 1);
    QDeadlineTimer deadline(DrainTimeoutMs + lineMs);
#ifdef _WIN32
    if (Port->write(data, count) != static_cast<qint64>(count)) {
        CheckLine();
        return false;
    }
    while (Port->bytesToWrite() > 0 && !deadline.hasExpired()) {
        hook.Tick();
        const int step = static_cast<int>(std::min<qint64>(deadline.remainingTime(), HookStepMs));
        if (!Port->waitForBytesWritten(std::max(step, 1)) && CheckLine())
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
            CheckLine();
            return false;
        }
        if (deadline.hasExpired() || CheckLine())
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

bool TComms::WriteByte(uint8_t value) {
    return Write(&value, 1);
}

int64_t TComms::ClockMs() const {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void TComms::SleepMs(int ms) {
    QThread::msleep(static_cast<unsigned long>(std::max(ms, 0)));
}

bool TComms::WaitTransmitted(int timeoutMs, const std::function<void()>& waitHook) {
    if (Remote) {
        const bool sent = Remote->WaitSent(timeoutMs, waitHook);
        return !CheckLine() && sent;
    }
    return Port && DrainOutput(timeoutMs, waitHook);
}

bool TComms::PortExists(const char* device) {
    if (!device || !*device)
        return false;
    QSerialPort port;
    port.setPortName(QString::fromLocal8Bit(device));
    if (!port.open(QIODevice::ReadWrite))
        return false;
    port.close();
    return true;
}

// ---- The list of ports ----

QString AnnouncedPortsFolder() {
    // Without XDG_RUNTIME_DIR Qt picks a private folder of its own and says so on every run;
    // that note means nothing to the user of a port list.
    const QtMessageHandler previous =
        qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    const QString runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    qInstallMessageHandler(previous);
    return runtime.isEmpty() ? QString() : runtime + QStringLiteral("/korvex/ports");
}

std::vector<TPortCandidate> AnnouncedPorts() {
    std::vector<TPortCandidate> ports;
#ifndef _WIN32
    const QString path = AnnouncedPortsFolder();
    if (path.isEmpty())
        return ports;
    QDir folder(path);
    const QFileInfoList links =
        folder.entryInfoList(QDir::Files | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
    for (const QFileInfo& link : links) {
        if (!link.isSymLink())
            continue;
        const QString target = link.symLinkTarget();
        if (target.isEmpty() || !QFileInfo::exists(target) ||
            !AnnouncementIsLive(link.fileName(), target))
            continue;
        const QString name = link.fileName();
        const int dash = name.lastIndexOf(QLatin1Char('-'));
        const QString pid = name.mid(dash + 1);
        TPortCandidate port;
        port.Name = target;
        port.Description =
            QStringLiteral("Simulated board %1 (process %2)").arg(name.left(dash), pid);
        port.Simulated = true;
        port.Board = name.left(dash);
        ports.push_back(port);
    }
#endif
    return ports;
}

bool AnnouncementIsLive(const QString& linkName, const QString& device) {
#ifdef _WIN32
    (void)linkName;
    (void)device;
    return false;
#else
    const int dash = linkName.lastIndexOf(QLatin1Char('-'));
    bool numeric = false;
    const qint64 pid = dash > 0 ? linkName.mid(dash + 1).toLongLong(&numeric) : 0;
    if (!numeric || pid <= 0 || (::kill(static_cast<pid_t>(pid), 0) != 0 && errno != EPERM))
        return false;
#ifdef __linux__
    // The simulator keeps its side of the line open for as long as it runs.
    char folder[64];
    std::snprintf(folder, sizeof folder, "/proc/%lld/fd", static_cast<long long>(pid));
    DIR* handles = ::opendir(folder);
    if (!handles)
        return true; // another user's process, or no such folder: cannot tell otherwise
    const QByteArray wanted = QFileInfo(device).canonicalFilePath().toLocal8Bit();
    bool holds = false;
    while (const dirent* entry = ::readdir(handles)) {
        if (entry->d_name[0] == '.')
            continue;
        char target[PATH_MAX];
        const ssize_t length = ::readlinkat(::dirfd(handles), entry->d_name, target, sizeof target);
        if (length > 0 && static_cast<size_t>(length) < sizeof target &&
            QByteArray(target, static_cast<int>(length)) == wanted) {
            holds = true;
            break;
        }
    }
    ::closedir(handles);
    return holds;
#else
    (void)device;
    return true;
#endif
#endif
}

namespace {

// What the system knows of the adapter behind a port, and the same as one line for a tooltip.
void AddAdapterDetails(TPortCandidate& port, const QSerialPortInfo& info) {
    port.ById = SerialByIdLink(port.Name);
    port.VendorId = info.hasVendorIdentifier() ? info.vendorIdentifier() : -1;
    port.ProductId = info.hasProductIdentifier() ? info.productIdentifier() : -1;
    port.SerialNumber = info.serialNumber();
    port.Manufacturer = info.manufacturer();
    port.Product = info.description();
    QStringList details;
    if (!port.Product.isEmpty())
        details << port.Product;
    if (!port.Manufacturer.isEmpty())
        details << port.Manufacturer;
    if (port.VendorId >= 0 && port.ProductId >= 0)
        details << QStringLiteral("USB %1:%2")
                       .arg(port.VendorId, 4, 16, QLatin1Char('0'))
                       .arg(port.ProductId, 4, 16, QLatin1Char('0'));
    if (!port.SerialNumber.isEmpty())
        details << QStringLiteral("serial %1").arg(port.SerialNumber);
    port.Description = details.join(QStringLiteral(", "));
}

} // namespace

std::vector<TPortCandidate> SystemPortCandidates() {
    std::vector<TPortCandidate> ports;
    const QList<QSerialPortInfo> infos = QSerialPortInfo::availablePorts();
#ifdef _WIN32
    for (int n = 0; n <= 11; ++n) {
        char name[16];
        std::snprintf(name, sizeof name, "COM%d", n);
        TPortCandidate port;
        port.Name = QString::fromLatin1(name);
        for (const QSerialPortInfo& info : infos)
            if (info.portName() == port.Name)
                AddAdapterDetails(port, info);
        ports.push_back(port);
    }
#else
    for (const QSerialPortInfo& info : infos) {
        TPortCandidate port;
        port.Name = info.portName();
        AddAdapterDetails(port, info);
        ports.push_back(port);
    }
    std::sort(ports.begin(), ports.end(), [](const TPortCandidate& a, const TPortCandidate& b) {
        return NaturalLess(a.Name, b.Name);
    });
    for (const TPortCandidate& simulated : AnnouncedPorts())
        ports.push_back(simulated);
#endif
    return ports;
}

std::vector<TPortCandidate> PortCandidates() {
    const TPortCandidateSource& source = InstalledSource();
    return source ? source() : SystemPortCandidates();
}

void SetPortCandidateSource(TPortCandidateSource source) {
    InstalledSource() = std::move(source);
}

std::vector<TPortCandidate> AvailablePorts() {
    std::vector<TPortCandidate> ports;
    for (const TPortCandidate& candidate : PortCandidates())
        if (TComms::PortExists(candidate.Name.toLocal8Bit().constData()))
            ports.push_back(candidate);
    return ports;
}
