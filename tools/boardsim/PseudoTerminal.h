// A pseudo-terminal that stands in for a serial port: the program under test opens the slave
// path like any serial device; the owner reads and writes the other end.
#ifndef KORVEX_PSEUDOTERMINAL_H
#define KORVEX_PSEUDOTERMINAL_H

#include <string>

class TPseudoTerminal {
public:
    TPseudoTerminal() = default;
    ~TPseudoTerminal();
    TPseudoTerminal(const TPseudoTerminal&) = delete;
    TPseudoTerminal& operator=(const TPseudoTerminal&) = delete;

    // Opens a new pair in raw mode. The slave side stays open here as well, so a program that
    // opens and closes the port never hangs up the line.
    bool Open();
    void Close();
    bool IsOpen() const { return Master >= 0; }

    // The device path to hand to the program under test, e.g. "/dev/pts/3".
    const std::string& SlavePath() const { return Path; }
    int MasterHandle() const { return Master; }

    // The line speed the other side set, in bits per second; 0 when unknown.
    int LineSpeed() const;
    // The character format the other side set: data bits, parity letter (N, E, O) and stop
    // bits; false when unknown.
    bool LineFormat(int& dataBits, char& parity, int& stopBits) const;

    // Reads what is there, waiting at most timeoutMs for the first byte; -1 on a failure.
    int Read(void* buffer, int size, int timeoutMs);
    // Writes everything, waiting at most timeoutMs for room; false when not all was written.
    bool Write(const void* buffer, int size, int timeoutMs = 2000);

private:
    int Master = -1;
    int Slave = -1;
    std::string Path;
};

#endif
