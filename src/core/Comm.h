// The port to a board: one line opened exclusively from a settings text such as
// "COM1:9600,N,8,1", timed reads, writes that wait for earlier output to leave, a purge that
// starts each frame on a clean line, and the measure of how late the answers come. The line
// itself is a TByteLine chosen by the port's name (MakeByteLine): a serial port on this computer
// (LocalSerialPort.h) or, for "rfc2217://HOST:PORT", one on another machine (Rfc2217Port.h).
#ifndef KORVEX_COMM_H
#define KORVEX_COMM_H

#include "ByteLine.h"
#include "Turnaround.h"

#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

// Parses a settings text; false when any field is missing, malformed or out of range. The
// device is everything before the last colon, since the line fields hold none and some stable
// device names do ("/dev/serial/by-path/pci-0000:00:14.0-usb-0:2:1.0-port0").
bool ParsePortSettings(const char* text, TPortSettings& settings);

// The line for a device name: a network port for "rfc2217://HOST:PORT", else a local serial port.
std::unique_ptr<TByteLine> MakeByteLine(const QString& device);

// The calls the boot monitor makes are virtual, so that a line made up in memory can stand in
// for a real port (the protocol's fuzz target does).
class TComms {
public:
    TComms();
    explicit TComms(const char* settings);
    virtual ~TComms();
    TComms(const TComms&) = delete;
    TComms& operator=(const TComms&) = delete;

    virtual bool Open(const char* settings = nullptr);
    virtual void Close();
    // Served by every Open while the line waits (a network port's server): the window paints
    // and may give the opening up; none, as on the command line, just waits.
    TOpenWait OpenWait;
    bool IsOpen() const;

    bool Read(void* buffer, int count, int timeoutMs);
    uint8_t ReadByte(int timeoutMs);
    // Waits for earlier output to leave, then hands the bytes over. waitHook, when given, is
    // called at least every 50 ms while it waits (the window keeps painting).
    virtual bool Write(const void* buffer, unsigned count,
                       const std::function<void()>& waitHook = {});
    bool WriteByte(uint8_t value);
    // False when the bytes had not all left the port within the time.
    virtual bool WaitTransmitted(int timeoutMs, const std::function<void()>& waitHook = {});

    // Reads what has arrived, up to count bytes, waiting at most timeoutMs for the first one:
    // the number of bytes read, or -1 once the line has failed.
    virtual int ReadAvailable(void* buffer, int count, int timeoutMs);
    // Discards what has arrived and not been read: the number of bytes found (a line that keeps
    // sending is not read to its end). Meant for just before a frame that wants an answer of
    // its own.
    virtual int Purge();
    // Whether the line itself reported trouble since the last call: errors on the far line of a
    // network port, or bytes it had to drop. A byte sent long ago may then still be on its way.
    virtual bool TakeDisturbed();
    // Moves the open port to the speed of a settings text that differs from the open one in
    // the speed alone, where the line can without closing; false, the port as it was, otherwise.
    bool ChangeSpeed(const char* settings);
    // The port failed while open: the adapter was unplugged or the line hung up. LastError
    // then gives the system's reason.
    virtual bool LineLost() const { return Lost; }
    // The clock the protocol's waits and pauses are timed by, in milliseconds, and a pause.
    virtual int64_t ClockMs() const;
    virtual void SleepMs(int ms);

    // Whether a serial device opens right now (SerialDeviceOpens).
    static bool PortExists(const char* device);

    // The settings text of the last Open, whole: device paths off Windows are often long.
    const char* GetSettings() const { return Settings.c_str(); }

    // Why the last Open failed, with a hint where one helps; empty after a successful Open
    // until the line fails. Meant to be shown on a line after the message of the failed step.
    virtual QString LastError() const { return LastErrorText; }

    // Bytes still waiting to be sent: what the port object holds plus the driver's queue.
    qint64 PendingOutput() const;

    // The USB adapter's receive latency timer as read after the last Open, in milliseconds;
    // -1 when the system does not tell (no USB adapter).
    int LatencyTimerMs() const { return Abilities.LatencyTimerMs; }
    // The port of the line last opened when its answers pass a server on the network, which
    // may hold back, drop or repeat them; empty for a serial port on this computer.
    const std::string& ServerPort() const { return ServerDevice; }
    // How late the answers come on this opening; the faces set its Measured to hear of it.
    TTurnaroundMeter& Turnaround() { return Meter; }

protected:
    // The line Open uses for a device; tests stand a line of their own in.
    virtual std::unique_ptr<TByteLine> NewLine(const QString& device) {
        return MakeByteLine(device);
    }

private:
    // Bytes already received, or the first to arrive within timeoutMs, up to count; -1 once the
    // line has failed.
    int ReceiveSome(char* bytes, int count, int timeoutMs);
    // Notes a failed line: true when it is gone.
    bool CheckLine();
    void NoteLost();

    std::string Settings;
    std::unique_ptr<TByteLine> Line; // null while closed
    TLineAbilities Abilities;        // of the line last opened
    std::string ServerDevice;        // its device, when Abilities say it passes a server
    int BaudRate;                    // of the open port, for the time a write takes on the line
    QString LastErrorText;
    bool Lost;
    TTurnaroundMeter Meter;
};

// The settings text Open uses when it is given none: "COM1:9600,N,8,1".
extern const char* const DefaultPortSettings;

#endif
