// The serial port: one port opened exclusively from a settings text such as
// "COM1:9600,N,8,1", timed reads, writes that wait for the output queue, and the list of ports
// the computer offers. A port named "rfc2217://HOST:PORT" is one on another machine, reached
// through a server (see Rfc2217Port.h) with the same calls.
#ifndef KORVEX_COMM_H
#define KORVEX_COMM_H

#include "SerialLatency.h"
#include "Turnaround.h"

#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class QSerialPort;
class TRfc2217Port;

// The line parameters of a settings text: "device:baud,parity,data,stop".
struct TPortSettings {
    QString Device;
    int BaudRate = 9600;
    char Parity = 'N'; // N, E, O, M or S
    int DataBits = 8;  // 5 to 8
    int StopBits = 10; // in tenths: 10, 15 or 20
};

// Parses a settings text; false when any field is missing, malformed or out of range. The
// device is everything before the last colon, since the line fields hold none and some stable
// device names do ("/dev/serial/by-path/pci-0000:00:14.0-usb-0:2:1.0-port0").
bool ParsePortSettings(const char* text, TPortSettings& settings);

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
    // The port failed while open: the adapter was unplugged or the line hung up. LastError
    // then gives the system's reason.
    virtual bool LineLost() const { return Lost; }
    // The clock the protocol's waits and pauses are timed by, in milliseconds, and a pause.
    virtual int64_t ClockMs() const;
    virtual void SleepMs(int ms);

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
    int LatencyTimerMs() const { return LatencyTimer; }
    // How late the answers come on this opening; the faces set its Measured to hear of it.
    TTurnaroundMeter& Turnaround() { return Meter; }

private:
    bool DrainOutput(int timeoutMs, const std::function<void()>& waitHook = {});
    bool HandOver(const char* data, unsigned count, const std::function<void()>& waitHook);
    // Bytes already received, or the first to arrive within timeoutMs, up to count; -1 once the
    // line has failed.
    int ReceiveSome(char* bytes, int count, int timeoutMs);
    // Notes a failed line: true when the port reports that it is gone.
    bool CheckLine();
    bool OpenRemote(const TPortSettings& line);

    std::string Settings;
    QSerialPort* Port;                    // null while closed
    std::unique_ptr<TRfc2217Port> Remote; // instead of Port for a network port
    int BaudRate; // of the open port, for the time a write takes on the line
    QString LastErrorText;
    bool Lost;
    TLowLatencyRestore LatencyRestore;
    int LatencyTimer = -1;
    TTurnaroundMeter Meter;
};

// The settings text Open uses when it is given none: "COM1:9600,N,8,1".
extern const char* const DefaultPortSettings;

// A port the port list may offer.
struct TPortCandidate {
    QString Name;        // what goes into the settings text: "COM1", "ttyUSB0", "/dev/pts/3"
    QString Description; // adapter or simulator details for a tooltip; may be empty
    bool Simulated = false;
    QString Board = QString(); // a simulated board's announced name, e.g. "EB40A-flash-boardsim"
    // What the system knows of a USB adapter; empty or -1 when it does not.
    QString ById = QString(); // its /dev/serial/by-id link
    int VendorId = -1;
    int ProductId = -1;
    QString SerialNumber = QString();
    QString Manufacturer = QString();
    QString Product = QString(); // the adapter's own description, "FT232R USB UART"
};

using TPortCandidateSource = std::function<std::vector<TPortCandidate>()>;

// Every port the computer may offer, before probing: COM0..COM11 on Windows; elsewhere the
// ports the system reports, in name order, followed by announced simulated boards.
std::vector<TPortCandidate> SystemPortCandidates();

// The candidates the port list uses: SystemPortCandidates unless a source was installed.
std::vector<TPortCandidate> PortCandidates();

// Replaces the candidate source (tests list pseudo-terminals); an empty function restores the
// system's list.
void SetPortCandidateSource(TPortCandidateSource source);

// The candidates that PortExists can open right now, in candidate order.
std::vector<TPortCandidate> AvailablePorts();

// The folder in which simulated boards announce their ports while they run.
QString AnnouncedPortsFolder();

// Announced simulated ports whose simulator is still running, in name order.
std::vector<TPortCandidate> AnnouncedPorts();

// Whether an announcement link "<label>-<process id>" to the device belongs to a simulator that
// still runs: the process exists and, where the system lets us look, still holds the device
// open. A link left by a killed simulator whose process id now belongs to another program is
// stale too.
bool AnnouncementIsLive(const QString& linkName, const QString& device);

#endif
