#include "PortClaim.h"

#ifndef _WIN32
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <cctype>
#include <cstdint>
#include <fstream>
#include <iterator>

std::vector<std::string> UucpLockFolders() {
    return {"/var/lock", "/run/lock", "/var/spool/locks", "/var/spool/uucp"};
}

long UucpLockOwner(const std::string& content) {
    size_t at = 0;
    while (at < content.size() && (content[at] == ' ' || content[at] == '\t'))
        ++at;
    long pid = 0;
    size_t digits = 0;
    for (; at < content.size() && std::isdigit(static_cast<unsigned char>(content[at])); ++at) {
        pid = pid * 10 + (content[at] - '0');
        if (++digits > 9)
            return 0;
    }
    if (digits > 0)
        return pid;
    if (content.size() == 4) { // the old binary form, in the machine's own byte order
        int32_t binary = 0;
        std::memcpy(&binary, content.data(), sizeof binary);
        return binary > 0 ? binary : 0;
    }
    return 0;
}

#ifdef _WIN32

bool IsTerminalDevice(const std::string&) {
    return true;
}

TPortClaim::~TPortClaim() = default;
TClaim TPortClaim::Claim(const std::string&, std::string&, const std::vector<std::string>&) {
    return TClaim::Granted; // Windows opens a port for one program only
}
void TPortClaim::Release() {}

#else

namespace {

// The names a lock file of the device goes by: "ttyUSB0" for /dev/ttyUSB0, and for a device in
// a folder below /dev both its own name and the path with '_' for '/' ("pts_3").
std::vector<std::string> LockNames(const std::string& path) {
    const std::string dev = "/dev/";
    const std::string below = path.compare(0, dev.size(), dev) == 0 ? path.substr(dev.size()) : "";
    std::vector<std::string> names{path.substr(path.rfind('/') + 1)};
    if (below.find('/') != std::string::npos) {
        std::string flat = below;
        for (char& ch : flat)
            if (ch == '/')
                ch = '_';
        names.push_back(flat);
    }
    return names;
}

bool ProcessRuns(long pid) {
    return pid > 0 && (::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM);
}

// The running process, other than this one, whose UUCP lock file names the device; 0 if none.
long UucpLockHolder(const std::string& path, const std::vector<std::string>& folders) {
    for (const std::string& folder : folders)
        for (const std::string& name : LockNames(path)) {
            std::ifstream file(folder + "/LCK.." + name, std::ios::binary);
            if (!file)
                continue;
            const std::string content((std::istreambuf_iterator<char>(file)),
                                      std::istreambuf_iterator<char>());
            const long pid = UucpLockOwner(content.substr(0, 64));
            if (pid != ::getpid() && ProcessRuns(pid))
                return pid;
        }
    return 0;
}

// Why another program holds the open device, or empty.
std::string ForeignHold(int fd, const std::string& path, const std::vector<std::string>& folders) {
#ifdef TIOCGEXCL
    int exclusive = 0;
    if (::ioctl(fd, TIOCGEXCL, &exclusive) == 0 && exclusive)
        return "another program has it open in exclusive mode";
#endif
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK)
        return "another program holds a lock on it";
    if (const long pid = UucpLockHolder(path, folders))
        return "process " + std::to_string(pid) + " holds its lock file";
    return std::string();
}

} // namespace

bool IsTerminalDevice(const std::string& path) {
    struct stat node {};
    if (::stat(path.c_str(), &node) != 0 || !S_ISCHR(node.st_mode))
        return false;
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool terminal = ::isatty(fd) == 1;
    ::close(fd);
    return terminal;
}

TPortClaim::~TPortClaim() {
    Release();
}

TClaim TPortClaim::Claim(const std::string& path, std::string& reason,
                         const std::vector<std::string>& lockFolders) {
    Release();
    reason.clear();
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        reason = std::strerror(errno);
        return TClaim::CannotOpen;
    }
    reason = ForeignHold(fd, path, lockFolders);
    if (!reason.empty()) {
        ::close(fd);
        return TClaim::Held;
    }
    Fd = fd;
    return TClaim::Granted;
}

void TPortClaim::Release() {
    if (Fd >= 0)
        ::close(Fd); // the advisory lock goes with it
    Fd = -1;
}

#endif
