#include "PseudoTerminal.h"

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace {

int SpeedOf(speed_t code) {
    switch (code) {
    case B50:
        return 50;
    case B75:
        return 75;
    case B110:
        return 110;
    case B134:
        return 134;
    case B150:
        return 150;
    case B200:
        return 200;
    case B300:
        return 300;
    case B600:
        return 600;
    case B1200:
        return 1200;
    case B1800:
        return 1800;
    case B2400:
        return 2400;
    case B4800:
        return 4800;
    case B9600:
        return 9600;
    case B19200:
        return 19200;
    case B38400:
        return 38400;
    case B57600:
        return 57600;
    case B115200:
        return 115200;
    case B230400:
        return 230400;
#ifdef B460800
    case B460800:
        return 460800;
#endif
#ifdef B921600
    case B921600:
        return 921600;
#endif
    default:
        return 0;
    }
}

} // namespace

TPseudoTerminal::~TPseudoTerminal() {
    Close();
}

bool TPseudoTerminal::Open() {
    Close();
    // Close-on-exec: programs the owner starts must not keep the line open.
    Master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (Master < 0)
        return false;
    char name[128];
    if (::grantpt(Master) != 0 || ::unlockpt(Master) != 0 ||
        ::ptsname_r(Master, name, sizeof name) != 0) {
        Close();
        return false;
    }
    Path = name;
    Slave = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (Slave < 0) {
        Close();
        return false;
    }
    // No echo and no line editing: bytes pass unchanged in both directions.
    struct termios line {};
    if (::tcgetattr(Slave, &line) == 0) {
        ::cfmakeraw(&line);
        ::tcsetattr(Slave, TCSANOW, &line);
    }
    ::fcntl(Master, F_SETFL, ::fcntl(Master, F_GETFL) | O_NONBLOCK);
    return true;
}

void TPseudoTerminal::Close() {
    if (Slave >= 0)
        ::close(Slave);
    if (Master >= 0)
        ::close(Master);
    Slave = Master = -1;
    Path.clear();
}

int TPseudoTerminal::LineSpeed() const {
    struct termios line {};
    if (Slave < 0 || ::tcgetattr(Slave, &line) != 0)
        return 0;
    return SpeedOf(::cfgetospeed(&line));
}

bool TPseudoTerminal::LineFormat(int& dataBits, char& parity, int& stopBits) const {
    struct termios line {};
    if (Slave < 0 || ::tcgetattr(Slave, &line) != 0)
        return false;
    switch (line.c_cflag & CSIZE) {
    case CS5:
        dataBits = 5;
        break;
    case CS6:
        dataBits = 6;
        break;
    case CS7:
        dataBits = 7;
        break;
    default:
        dataBits = 8;
        break;
    }
    parity = !(line.c_cflag & PARENB) ? 'N' : (line.c_cflag & PARODD) ? 'O' : 'E';
    stopBits = line.c_cflag & CSTOPB ? 2 : 1;
    return true;
}

int TPseudoTerminal::Read(void* buffer, int size, int timeoutMs) {
    if (Master < 0)
        return -1;
    struct pollfd wait {
        Master, POLLIN, 0
    };
    const int ready = ::poll(&wait, 1, timeoutMs);
    if (ready < 0)
        return errno == EINTR ? 0 : -1;
    if (ready == 0)
        return 0;
    const ssize_t got = ::read(Master, buffer, static_cast<size_t>(size));
    if (got < 0)
        return errno == EAGAIN || errno == EINTR ? 0 : -1;
    return static_cast<int>(got);
}

bool TPseudoTerminal::Write(const void* buffer, int size, int timeoutMs) {
    if (Master < 0)
        return false;
    const char* bytes = static_cast<const char*>(buffer);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    int written = 0;
    while (written < size) {
        const ssize_t put = ::write(Master, bytes + written, static_cast<size_t>(size - written));
        if (put > 0) {
            written += static_cast<int>(put);
            continue;
        }
        if (put < 0 && errno != EAGAIN && errno != EINTR)
            return false;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count();
        if (left <= 0)
            return false;
        struct pollfd wait {
            Master, POLLOUT, 0
        };
        ::poll(&wait, 1, static_cast<int>(left));
    }
    return true;
}
