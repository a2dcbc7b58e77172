// A line that carries bytes to a board and back: a serial port on this computer or one served
// over the network. An implementation moves bytes and says when its line is gone; the timing,
// the clean start of each frame and the measure of the answers stay with TComms above it.
#ifndef KORVEX_BYTELINE_H
#define KORVEX_BYTELINE_H

#include <QByteArray>
#include <QString>

#include <functional>

// The line parameters of a settings text: "device:baud,parity,data,stop".
struct TPortSettings {
    QString Device;
    QByteArray DeviceBytes; // the device as the text gave it: a name need not be UTF-8
    int BaudRate = 9600;
    char Parity = 'N'; // N, E, O, M or S
    int DataBits = 8;  // 5 to 8
    int StopBits = 10; // in tenths: 10, 15 or 20
};

// What a line can do beyond carrying bytes; read instead of asking what kind of line it is.
struct TLineAbilities {
    bool SetsLowLatency = false; // its driver is asked to pass each byte on at once
    int LatencyTimerMs = -1;     // the USB adapter's receive latency timer; -1 when not known
    // The answers pass a server on the network, whose settings may hold them back.
    bool ThroughServer = false;
    // ChangeSpeed works: another speed costs no closing and opening again.
    bool ChangesSpeedOpen = false;
};

// What the caller does while a line takes its time to open (a network port waits for its
// server): Hook is called every few tens of milliseconds, and GiveUp, asked as often, ends the
// attempt when it says so. Either may be empty.
struct TOpenWait {
    std::function<void()> Hook;
    std::function<bool()> GiveUp;
};

class TByteLine {
public:
    using THook = std::function<void()>;

    virtual ~TByteLine() = default;

    // Opens the line with its settings, serving wait while it waits; false with Error set.
    virtual bool Open(const TPortSettings& line, const TOpenWait& wait) = 0;
    // What has arrived, up to count bytes, waiting at most timeoutMs for the first: the number
    // of bytes, or -1 once the line is gone.
    virtual int Receive(char* bytes, int count, int timeoutMs) = 0;
    // Waits until earlier output has left this side; false when timeoutMs passed first or the
    // line is gone. The hook is called every few tens of milliseconds meanwhile.
    virtual bool Drain(int timeoutMs, const THook& waitHook) = 0;
    // Hands the bytes over within timeoutMs: false, and none of them left over for later, when
    // they could not all be handed over or the line is gone.
    virtual bool Send(const char* data, unsigned count, int timeoutMs, const THook& waitHook) = 0;
    // Waits until what was sent has had the time the line needs to carry it.
    virtual bool WaitSent(int timeoutMs, const THook& waitHook) = 0;
    // Bytes not yet carried by the line.
    virtual qint64 PendingOutput() const = 0;
    // Discards what has arrived and not been read: the number of bytes found.
    virtual int Purge() = 0;
    // Looks whether the line is gone (an adapter unplugged, a connection dropped); Error then
    // says why.
    virtual bool CheckLost() = 0;
    virtual QString Error() const = 0;
    virtual TLineAbilities Abilities() const = 0;
    // Sets another speed on the open line (where Abilities say it can); false with Error set.
    virtual bool ChangeSpeed(int baudRate) {
        (void)baudRate;
        return false;
    }
    // Whether the line reported errors of its own (an overrun, a framing error, a break) or
    // carried bytes that had to be dropped since the last call.
    virtual bool TakeDisturbed() { return false; }
};

#endif
