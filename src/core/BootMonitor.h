#pragma once
// The boot monitor's wire protocol over an open serial port: the identity exchange, reads,
// sector erases, write starts, data blocks, the verify command and the raw SRAM upload. GUI-free:
// every operation returns a result carrying what its message needs (see MonitorMessages.h), and
// the caller decides what the user sees. Several boards at once are several TBootMonitors, each
// on its own thread with its own TComms; nothing here is shared.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class TComms;

// Data travel in blocks of at most this many bytes.
constexpr int BlockSize = 80;

// A stretch of an image written with its own write starts: offset and length into the image.
struct TWriteRun {
    int64_t Offset = 0;
    int64_t Length = 0;
};

// Answer time-outs, retry counts and pauses. The defaults are the monitor's own; tests shorten
// them so that a case that waits out every retry does not take a minute.
struct TMonitorTiming {
    int IdentityTimeoutMs = 500;
    int AnswerTimeoutMs = 2000;
    int EraseAttempts = 5;
    int ErasePauseMs = 1000;
    int WriteAttempts = 5;
    int WritePauseMs = 500;
    int TransmitTimeoutMs = 2000; // an SRAM chunk leaving the port
    // After the last answer of an operation the line is watched this long for bytes that should
    // not come. A board sends all it sends for a frame within this time, unless the answer is
    // late: that is waited for, up to twice the answer time-out, before the next frame.
    int SettleMs = 20;
    // After an operation that saw a retry, a late answer or bytes nobody asked for, the line
    // must stay this long without a byte before the final verify, which the board then answers
    // twice.
    int QuietMs = 500;
};

// Called at least every WaitHookIntervalMs while an answer is awaited or a pause runs: the
// window repaints there, the command line does nothing.
using TWaitHook = std::function<void()>;
constexpr int WaitHookIntervalMs = 50;

// Called after each whole block of a long transfer with the bytes done so far and the total;
// returning false stops the transfer there (the user cancelled).
using TProgressHook = std::function<bool(int64_t done, int64_t total)>;

enum class TMonitorStatus {
    Ok,
    NoAnswer,    // nothing, too little, or not the expected first byte, within the time-out
    Refused,     // an answer other than the acknowledge; Response holds it
    FlashError,  // an 'F' answered a flash command; ErrorCode holds the board's code
    BadChecksum, // a read reply whose sum does not match its data
    Cancelled,   // the progress hook asked to stop
    LineLost,    // the port failed under way (adapter unplugged, line hung up)
    OutOfStep,   // more bytes than the answer, or bytes after it: answers no longer match frames
};

// The parsed 14-byte identity reply.
struct TMonitorIdentity {
    uint8_t ChipType = 0;
    uint16_t FlashCode = 0;
    uint16_t Version = 0;
    uint16_t ClockDivisor = 0; // of the board's serial port at the detected speed
    uint32_t BaseAddress = 0;
};

constexpr int IdentityReplyLength = 14;
// The identity of a reply, or false when it is no identity (first byte not 'B').
bool ParseIdentity(const uint8_t (&reply)[IdentityReplyLength], TMonitorIdentity& identity);

// What one operation came to: the status and the values its message names.
struct TMonitorResult {
    TMonitorStatus Status = TMonitorStatus::Ok;
    uint32_t Address = 0;      // of the block, sector or range the result is about
    uint8_t Response = 0;      // Refused: the byte received (0 when none came)
    uint8_t ErrorCode = 0;     // FlashError
    bool NoErrorCode = false;  // FlashError: the 'F' came without its code
    uint8_t ReceivedSum = 0;   // BadChecksum
    uint8_t CalculatedSum = 0; // BadChecksum
    int64_t BytesDone = 0;     // of a transfer, when it ended
    std::string LineError;     // LineLost: the system's reason
    // The network port the answers came through (TComms::ServerPort); empty on a local line.
    std::string ServerPort;

    bool Ok() const { return Status == TMonitorStatus::Ok; }
};

// The 8-bit sum of a data block and the 32-bit sum of the verify command.
uint8_t BlockSum(const uint8_t* data, int count);
uint32_t RangeSum(const uint8_t* data, int64_t count);

// ---- Synchronisation --------------------------------------------------------------------------

struct TSyncRequest {
    std::string Port;      // as the port box shows it: "COM2", "/dev/pts/3"
    bool AutoSpeed = true; // try every speed, fastest first; else only FixedSpeed
    int FixedSpeed = 115200;
};

enum class TSyncStatus {
    Ok,
    PortFailed, // Settings, LineError
    NoAck,      // an identity came, the acknowledge did not
    NoResponse, // automatic speed off: no identity at FixedSpeed (Settings)
    NoSpeed,    // automatic speed on: no identity at any speed
    LineLost,   // the port failed under way (Settings, LineError)
    OutOfStep,  // more than the identity or the acknowledge came
};

struct TSyncResult {
    TSyncStatus Status = TSyncStatus::NoSpeed;
    std::string Port;
    std::string Settings; // of the attempt that ended the synchronisation
    int Speed = 0;        // Ok: the speed the board answered at
    TMonitorIdentity Identity;
    std::string LineError;
    std::string ServerPort; // as in TMonitorResult, once the port opened

    bool Ok() const { return Status == TSyncStatus::Ok; }
};

// The settings text of the port at a speed: "%s:%d,N,8,1".
std::string PortSettingsText(const std::string& port, int speed);

class TFlashObserver;

class TBootMonitor {
public:
    // The port belongs to the caller; the monitor only speaks over it.
    explicit TBootMonitor(TComms& port, const TMonitorTiming& timing = TMonitorTiming(),
                          TWaitHook waitHook = TWaitHook());

    // Finds the speed the board answers at and completes the handshake, opening the port anew
    // for each speed tried; the port is left open at the speed found.
    TSyncResult Synchronize(const TSyncRequest& request);
    // Told each speed before Synchronize tries it (the window shows it); may be empty.
    std::function<void(int)> TryingSpeed;
    // The identity exchange at the speed the port is open at: 0x80, the identity, 'A', 'A'.
    // NoAnswer when no identity came, Refused when the acknowledge did not.
    TMonitorResult Identify(TMonitorIdentity& identity);

    // Every frame goes out on a clean line: what arrived since the last answer is discarded.
    // An answer that timed out is waited for up to twice the time-out before the next frame (a
    // retry included); when it comes after all, the step ends OutOfStep rather than have the
    // board do the work twice. Bytes found after an answer that came whole are more than the
    // board should have sent: OutOfStep too, as is an operation whose line does not stay quiet
    // after its last answer.

    // Reads length bytes in blocks of 80 and a shorter last one. onBlock sees each block as it
    // arrives; progress is called after each whole 80-byte block, not after the shorter last.
    TMonitorResult ReadRange(uint32_t address, int64_t length, std::vector<uint8_t>& data,
                             const std::function<void(uint32_t, const uint8_t*, int)>& onBlock,
                             const TProgressHook& progress);

    // Erases the sector holding address, with the retries and pauses of the timing.
    TMonitorResult EraseSector(uint32_t address);
    // The write start: where the next blocks go and how long each is (1..80).
    TMonitorResult StartWrite(uint32_t address, int blockLength);
    // One data block of count bytes, written to address, with retries; the result is the last
    // attempt's. Each retry first sends a write start for the block's own address and length:
    // the board may have written the block although its answer never came.
    TMonitorResult WriteBlock(uint32_t address, const uint8_t* data, int count);
    // The board's sum of length bytes from address against ours of data. After a retry, a late
    // answer or stray bytes on this link, the line must go quiet first and the board must
    // answer 'A' twice.
    TMonitorResult VerifyRange(uint32_t address, const uint8_t* data, int64_t length);

    enum class TPhase { Erasing, Programming, Verifying };
    enum class TStep { Erase, FirstWriteStart, Write, RemainderWriteStart, Verify, Done };
    struct TProgramResult {
        TMonitorResult Result;
        TStep Step = TStep::Done; // where it ended
    };
    // Flash programming: erases the sectors at eraseAddresses, writes length bytes of data from
    // address in 80-byte blocks and a shorter last one, and has the board verify them. phase is
    // told as each phase begins; progress is called after each whole block of the write phase.
    // keepErasing, when given, is asked after each erased sector: false stops (Cancelled)
    // before the next sector or the first write start.
    TProgramResult ProgramFlash(uint32_t address, const uint8_t* data, int64_t length,
                                const std::vector<uint32_t>& eraseAddresses,
                                const std::function<void(TPhase)>& phase,
                                const TProgressHook& progress,
                                const std::function<bool()>& keepErasing = {});
    // The three phases of ProgramFlash, each ending at Done when it went through. The write
    // phase: a write start for whole blocks, the blocks, then a write start and the shorter last
    // block; BytesDone counts the bytes acknowledged.
    TProgramResult EraseSectors(const std::vector<uint32_t>& eraseAddresses,
                                const std::function<bool()>& keepErasing = {});
    TProgramResult WriteImage(uint32_t address, const uint8_t* data, int64_t length,
                              const TProgressHook& progress);
    // The final verify: the board answers 'A' twice, on a clean link too.
    TProgramResult VerifyImage(uint32_t address, const uint8_t* data, int64_t length);

    // The same with only some stretches of the image written: erases eraseAddresses, writes
    // each run with write starts of its own, and has the board verify the whole image as
    // always. The observer is told each phase, the bytes of the runs written so far, and is
    // asked after each erased sector whether to go on.
    TProgramResult ProgramFlashRuns(uint32_t address, const uint8_t* data, int64_t length,
                                    const std::vector<TWriteRun>& runs,
                                    const std::vector<uint32_t>& eraseAddresses,
                                    TFlashObserver& observer);

    // The raw SRAM upload: the bytes as they are, in chunks of 80 and the rest, each handed to
    // the port and awaited until it has left. progress is called before each chunk with the
    // bytes sent so far, and with the whole length once the last byte left, no earlier than
    // the line could carry them all at the port's speed.
    TMonitorResult SendSram(const uint8_t* data, int64_t length, const TProgressHook& progress);

private:
    void WaitForTheLine(int64_t startMs, int64_t bytes);
    void Send(const uint8_t* frame, int count);
    // Clears the line before a frame; false when a late answer came or bytes were there that
    // no answer owed explains.
    bool ClearLine();
    // Notes whether the answer to the last frame came whole.
    // Notes how many bytes of the last frame's answer did not come in time.
    void Answered(int missing);
    // After the last answer of an operation: false when more bytes come.
    bool LineQuiet();
    // A result about address, marked with the network port the answers came through.
    TMonitorResult ResultOf(TMonitorStatus status, uint32_t address) const;
    TMonitorResult OutOfStepResult(uint32_t address) const;
    // Waits until no byte came for QuietMs; false when the line does not go quiet.
    bool AwaitQuiet();
    TMonitorResult ReadOne(uint32_t address, int count, uint8_t* data);
    // After an 'F': reads the error code into a FlashError result; whole tells whether it
    // came. False when the line was lost meanwhile.
    bool FlashErrorCode(TMonitorResult& result, bool& whole);
    // One attempt at a data block; Ok only for the acknowledge.
    TMonitorResult SendBlock(const uint8_t* frame, int count, uint32_t address);
    TMonitorResult EraseOnce(uint32_t address);
    // VerifyRange; confirm: the board answers 'A' twice however clean the link was.
    TMonitorResult Verify(uint32_t address, const uint8_t* data, int64_t length, bool confirm);
    // A result that is Ok only when the line stayed quiet after it.
    TMonitorResult Settled(TMonitorResult result);
    // Reads count bytes within timeoutMs, calling the wait hook meanwhile; the bytes received.
    int Receive(uint8_t* buffer, int count, int timeoutMs);
    // Sends a command and awaits its one-byte answer: Ok for the acknowledge, FlashError for an
    // 'F' and the code after it, else Refused.
    TMonitorResult Command(const uint8_t* frame, int count, uint32_t address);
    void Pause(int ms);
    bool LineLost() const;
    TMonitorResult LostResult(uint32_t address) const;

    TComms& Port;
    TMonitorTiming Timing;
    TWaitHook WaitHook;
    // The last frame's answer did not come whole: what arrives before the next frame is taken
    // for its late rest and discarded. Whatever spoke on the line before this monitor counts
    // the same way.
    bool AnswerOwed = true;
    int OwedBytes = 0;  // of the answer that timed out; waited for before the next frame
    int64_t SentMs = 0; // when the last frame went out, by the port's clock
    // Since the port was opened: a retry, an answer that timed out or came late, or bytes found
    // on the line. A byte sent long ago may then still be on its way.
    bool Disturbed = false;
};

// What a flash programming tells the one who runs it, and asks them. Every call comes on the
// thread that programs; each has a default that does nothing, or goes on.
class TFlashObserver {
public:
    virtual ~TFlashObserver() = default;
    // The board is asked the sums of this many sectors the ledger vouches for.
    virtual void Checking(int sectors) { (void)sectors; }
    virtual void Phase(TBootMonitor::TPhase phase) { (void)phase; }
    // The sector (an index into the board type's sectors) whose bytes go out next, and the one
    // whose bytes all went.
    virtual void SectorStarted(int sector) { (void)sector; }
    virtual void SectorDone(int sector) { (void)sector; }
    // As a run of adjacent sectors is about to be written: the bytes of the runs before it.
    virtual void RunStarting(int64_t done) { (void)done; }
    // The sector the board has just erased; its content is gone until it is written.
    virtual void SectorErased(int sector) { (void)sector; }
    // After each whole block written: the bytes written so far of those to write. False stops
    // the programming there (Cancelled).
    virtual bool Progress(int64_t done, int64_t total) {
        (void)done;
        (void)total;
        return true;
    }
    // After each erased sector: false stops (Cancelled) before the next one or the first write.
    virtual bool KeepErasing() { return true; }
    // Something the user should know that does not stop the programming.
    virtual void Warning(const std::string& text) { (void)text; }
};
