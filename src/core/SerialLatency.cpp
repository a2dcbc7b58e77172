#include "SerialLatency.h"

#include <QFile>
#include <QFileInfo>

#include <mutex>
#include <utility>

#ifdef __linux__
#include <linux/serial.h>
#include <sys/ioctl.h>
#endif

namespace {

#ifdef __linux__
constexpr int LowLatencyFlag = ASYNC_LOW_LATENCY;
#else
constexpr int LowLatencyFlag = 0;
#endif

std::mutex AccessLock;

TSerialLatencyAccess& InstalledAccess() {
    static TSerialLatencyAccess access = SystemSerialLatencyAccess();
    return access;
}

TSerialLatencyAccess CurrentAccess() {
    std::lock_guard<std::mutex> guard(AccessLock);
    return InstalledAccess();
}

} // namespace

TSerialLatencyAccess SystemSerialLatencyAccess() {
    TSerialLatencyAccess access;
#ifdef __linux__
    access.GetFlags = [](int handle, int& flags) {
        serial_struct serial{};
        if (::ioctl(handle, TIOCGSERIAL, &serial) != 0)
            return false;
        flags = serial.flags;
        return true;
    };
    access.SetFlags = [](int handle, int flags) {
        // The driver takes the whole structure back: only the flags change.
        serial_struct serial{};
        if (::ioctl(handle, TIOCGSERIAL, &serial) != 0)
            return false;
        serial.flags = flags;
        return ::ioctl(handle, TIOCSSERIAL, &serial) == 0;
    };
#else
    access.GetFlags = [](int, int&) { return false; };
    access.SetFlags = [](int, int) { return false; };
#endif
    access.ReadText = [](const QString& path) {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            return QString();
        return QString::fromLatin1(file.read(64));
    };
    return access;
}

void SetSerialLatencyAccess(TSerialLatencyAccess access) {
    std::lock_guard<std::mutex> guard(AccessLock);
    InstalledAccess() = access.GetFlags ? std::move(access) : SystemSerialLatencyAccess();
}

TLowLatencyRestore RequestLowLatency(int handle) {
    TLowLatencyRestore restore;
    if (LowLatencyFlag == 0)
        return restore;
    const TSerialLatencyAccess access = CurrentAccess();
    int flags = 0;
    if (!access.GetFlags(handle, flags) || (flags & LowLatencyFlag) != 0)
        return restore;
    if (!access.SetFlags(handle, flags | LowLatencyFlag))
        return restore;
    restore.Changed = true;
    restore.PreviousFlags = flags;
    return restore;
}

void RestoreLatency(int handle, const TLowLatencyRestore& restore) {
    if (restore.Changed)
        (void)CurrentAccess().SetFlags(handle, restore.PreviousFlags);
}

int AdapterLatencyTimerMs(const QString& device) {
    // The sysfs folder is named for the device itself, not for a link to it.
    QString path = device.startsWith(QLatin1Char('/')) ? device : QStringLiteral("/dev/") + device;
    const QString canonical = QFileInfo(path).canonicalFilePath();
    if (!canonical.isEmpty())
        path = canonical;
    const QString name = QFileInfo(path).fileName();
    if (name.isEmpty())
        return -1;
    const QString text =
        CurrentAccess()
            .ReadText(QStringLiteral("/sys/class/tty/%1/device/latency_timer").arg(name))
            .trimmed();
    bool numeric = false;
    const int value = text.toInt(&numeric);
    return numeric && value >= 0 && value <= 255 ? value : -1;
}
