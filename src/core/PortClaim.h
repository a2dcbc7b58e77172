#pragma once
// Korvex's claim on a local serial device for as long as it has the port open. Root opens a
// device another program keeps in exclusive mode as if nothing held it, so the claim looks
// before the port is opened: exclusive mode, an advisory lock (flock) and a UUCP lock file of a
// running process each mean another program has the port, and Korvex keeps out. While Korvex
// has the port, the claim holds an advisory lock of its own (the serial port library leaves its
// UUCP lock file and sets exclusive mode).

#include <string>
#include <vector>

// The folders where programs leave UUCP lock files ("LCK..ttyUSB0" holding the owner's process
// id), in the order they are looked in.
std::vector<std::string> UucpLockFolders();

// The process id a UUCP lock file names: ASCII digits after optional blanks (as "      1234\n"
// or "1234\nprogram\nhost\n"), or a binary int of four bytes; 0 when there is none.
long UucpLockOwner(const std::string& content);

// Whether path names a terminal device: a serial port or a pseudo-terminal, not /dev/null or a
// file. Looked at without becoming the device's controlling terminal.
bool IsTerminalDevice(const std::string& path);

enum class TClaim {
    Granted,
    CannotOpen, // the device does not open at all; the reason is the system's
    Held,       // another program holds it; the reason says how
};

class TPortClaim {
public:
    TPortClaim() = default;
    ~TPortClaim();
    TPortClaim(const TPortClaim&) = delete;
    TPortClaim& operator=(const TPortClaim&) = delete;

    // Opens the device at path, its bytes as they are, and claims it; the reason says why not.
    TClaim Claim(const std::string& path, std::string& reason,
                 const std::vector<std::string>& lockFolders = UucpLockFolders());
    void Release();
    // The claim's own descriptor of the device while it is held, else -1: "/proc/self/fd/N"
    // opens the same device whatever bytes its name is made of.
    int Handle() const { return Fd; }

private:
    int Fd = -1;
};
