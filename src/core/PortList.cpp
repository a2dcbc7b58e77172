#include "PortList.h"

#include "PortClaim.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSerialPort>
#include <QSerialPortInfo>
#include <QStandardPaths>

#include <algorithm>
#include <cstdio>
#include <utility>

#ifndef _WIN32
#include <cerrno>
#include <climits>
#include <dirent.h>
#include <signal.h>
#include <unistd.h>
#endif

namespace {

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

QString& InstalledByIdFolder() {
    static QString folder;
    return folder;
}

} // namespace

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
        // A link to anything but a terminal (/dev/null, a file) is no board.
        const QString target = link.symLinkTarget();
        if (target.isEmpty() || !IsTerminalDevice(QFile::encodeName(target).toStdString()) ||
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

bool SerialDeviceOpens(const QString& device) {
    if (device.isEmpty())
        return false;
    // Root would open a device another program holds: that one does not open for Korvex.
    TPortClaim claim;
    std::string reason;
    if (claim.Claim(DevicePath(device).toLocal8Bit().toStdString(), reason) == TClaim::Held)
        return false;
    QSerialPort port;
    port.setPortName(device);
    if (!port.open(QIODevice::ReadWrite))
        return false;
    port.close();
    return true;
}

std::vector<TPortCandidate> AvailablePorts() {
    std::vector<TPortCandidate> ports;
    for (const TPortCandidate& candidate : PortCandidates())
        if (SerialDeviceOpens(candidate.Name))
            ports.push_back(candidate);
    return ports;
}

QString DevicePath(const QString& device) {
#ifdef _WIN32
    return device;
#else
    return device.startsWith(QLatin1Char('/')) ? device : QStringLiteral("/dev/") + device;
#endif
}

QString SerialByIdFolder() {
    const QString& folder = InstalledByIdFolder();
    return folder.isEmpty() ? QStringLiteral("/dev/serial/by-id") : folder;
}

void SetSerialByIdFolder(const QString& folder) {
    InstalledByIdFolder() = folder;
}

QString SerialByIdLink(const QString& device) {
    const QString target = QFileInfo(DevicePath(device)).canonicalFilePath();
    if (target.isEmpty())
        return QString();
    const QFileInfoList links =
        QDir(SerialByIdFolder())
            .entryInfoList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
    for (const QFileInfo& link : links)
        if (link.isSymLink() && link.canonicalFilePath() == target)
            return link.absoluteFilePath();
    return QString();
}
