// The serial monitor: what a board's own program sends, as text for a person to read, and lines
// typed to it. Shared by the window's "Board output" pane and "korvex-cli monitor"; it knows no
// widgets and no terminals.
#ifndef KORVEX_SERIALMONITOR_H
#define KORVEX_SERIALMONITOR_H

#include <cstdint>
#include <cstdio>
#include <string>

class TComms;

// The speeds the monitor offers: the eight link speeds, then the faster ones that many USB
// adapters carry.
constexpr int MonitorSpeedCount = 11;
extern const int MonitorSpeeds[MonitorSpeedCount];
bool IsMonitorSpeed(int speed);

// The line end appended to a typed line.
enum class TLineEnd { Lf = 0, Cr = 1, CrLf = 2 };
const char* LineEndName(TLineEnd end); // "lf", "cr", "crlf"
bool ParseLineEnd(const std::string& name, TLineEnd& end);
const char* LineEndBytes(TLineEnd end);

// Turns received bytes into the text shown. LF, CR and CR+LF each end a line (a CR+LF split
// between two reads still ends one line); other control characters are shown as ^X (DEL as
// ^?), bytes that are not UTF-8 as <XX>. With time stamps on, each line starts with the local
// time its first byte arrived, to the millisecond. A line that never ends is broken after
// MaxLineBytes so that a board without line ends cannot grow one line without bound.
class TMonitorText {
public:
    static constexpr size_t MaxLineBytes = 4096;

    void SetTimestamps(bool on) { Timestamps = on; }

    // The text to append for the bytes; msSinceEpoch is the local time they arrived. Ends of
    // lines come out as '\n'. A UTF-8 character split between reads is held back until it is
    // whole.
    std::string Feed(const char* data, size_t count, int64_t msSinceEpoch);
    // The text to append for a line of our own (a gap in the output, a lost line): it starts
    // on a line of its own and ends its line.
    std::string Note(const std::string& note, int64_t msSinceEpoch);
    // Whole lines shown so far, notes included.
    uint64_t LinesShown() const { return Lines; }
    // At least 32 bytes came and most were neither printable ASCII nor a tab or line end: what
    // a line at another speed than the sender's brings.
    bool MostlyNotText() const { return Received >= 32 && TextReceived * 2 < Received; }
    // Forgets a half-received line, as after a reconnection.
    void Reset();

private:
    void CountText(const char* data, size_t count);
    void StartLine(std::string& out, int64_t msSinceEpoch);
    void EndLine(std::string& out);
    void AddVisible(std::string& out, const char* data, size_t count);

    bool Timestamps = false;
    bool InLine = false;  // a line has started and not ended
    bool AfterCr = false; // the last byte ended a line with CR: an LF now adds none
    size_t LineBytes = 0; // bytes of the current line
    std::string Pending;  // the start of a UTF-8 character still arriving
    uint64_t Lines = 0;
    uint64_t Received = 0;
    uint64_t TextReceived = 0;
};

// "12:34:56.789 " for a local time in milliseconds since the epoch.
std::string TimestampText(int64_t msSinceEpoch);

// The local time now, in milliseconds since the epoch.
int64_t MonitorNowMs();

// Keeps at most maxLines lines of text (counting a last unended line): the lines dropped from
// its start are counted in dropped. For a batch larger than the scrollback, so that lines that
// would scroll out at once are never shown.
std::string KeepLastLines(const std::string& text, size_t maxLines, uint64_t& dropped);

// A log file that receives exactly the text shown.
class TMonitorLog {
public:
    TMonitorLog() = default;
    ~TMonitorLog();
    TMonitorLog(const TMonitorLog&) = delete;
    TMonitorLog& operator=(const TMonitorLog&) = delete;

    // Creates or empties the file; false with the system's reason.
    bool Open(const std::string& path, std::string& error);
    void Close();
    bool IsOpen() const { return File != nullptr; }
    // Appends and flushes, so the file is whole up to the last text even after a crash; false
    // (and closed) once a write fails, with the reason.
    bool Write(const std::string& text, std::string& error);

private:
    FILE* File = nullptr;
    std::string Path;
};

// The monitor's end of the port: opens it at a monitor speed, reads what arrived, sends typed
// lines. The caller keeps the port free for the boot monitor's operations by closing it.
class TSerialMonitor {
public:
    explicit TSerialMonitor(TComms& port) : Port(port) {}

    // Opens the device at the speed (8 data bits, no parity, one stop bit); false with the
    // reason.
    bool Open(const std::string& device, int speed, std::string& error);
    void Close();
    bool IsOpen() const;

    // Reads what arrived (waiting at most timeoutMs for the first byte, at most maxBytes) and
    // returns the text to show; false once the line failed, with the reason.
    bool Poll(int timeoutMs, size_t maxBytes, std::string& shown, std::string& error);
    // Sends a typed line with the line end; false with the reason.
    bool Send(const std::string& line, TLineEnd end, std::string& error);

    TMonitorText& Text() { return Formatter; }

private:
    TComms& Port;
    TMonitorText Formatter;
};

#endif
