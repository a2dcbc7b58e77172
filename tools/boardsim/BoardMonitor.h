// The boot monitor of the simulated board as a state machine: bytes in at a line speed,
// answers out. It knows nothing of ports or threads.
#ifndef KORVEX_BOARDMONITOR_H
#define KORVEX_BOARDMONITOR_H

#include "BoardFaults.h"
#include "BoardModel.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

enum class TBoardMode { Flash, Sram };

// The 14-byte identity, apart from the clock divisor, which follows from the master clock.
struct TBoardIdentity {
    uint8_t ChipType = 0x01;
    uint16_t Reserved = 0x1F00; // offsets 2 and 3; the host does not use them
    uint16_t FlashCode = 0x0020;
    uint16_t Version = 0x0101;
    uint32_t BaseAddress = 0x01000000;
};

struct TBoardConfig {
    TBoardType Type;
    TBoardMode Mode = TBoardMode::Flash;
    std::vector<int> AcceptedSpeeds; // empty: every speed
    uint32_t MasterClock = 48000000; // Hz; the clock divisor is MasterClock / (16 x speed)
    TBoardIdentity Identity;
    TFaultPlan Faults;
    bool LineRate = false; // answers take as long as they would on a real line
    int TurnaroundMs = 0;  // answers leave this late, as a USB adapter holds them back
};

struct TFrameRecord {
    TFrameKind Kind = TFrameKind::Unknown;
    int Speed = 0;              // line speed while it arrived
    std::vector<uint8_t> Bytes; // the frame as received
    std::vector<uint8_t> Reply; // what the board answered
    bool Complete = true;       // false: the frame stopped arriving before its end
    bool Ignored = false;       // received at a speed the board does not accept
};

class TBoardMonitor {
public:
    explicit TBoardMonitor(const TBoardConfig& config);

    // One received byte; answers are appended to reply. nowMs is a monotonic clock.
    void Receive(uint8_t byte, int lineSpeed, int64_t nowMs, std::vector<uint8_t>& reply);
    // Drops a frame that has not arrived whole in time, so the board does not wait for it
    // forever.
    void Tick(int64_t nowMs);
    // Appends to out what a late answer or a flood has to send by nowMs.
    void Due(int64_t nowMs, std::vector<uint8_t>& out);
    // When Due next has something to send; -1: nothing is waiting.
    int64_t NextDueMs() const;

    bool HungUp() const { return HangUp; }
    int SyncedSpeed() const { return State == TState::Command ? Speed : 0; }
    // Bytes of the frame being received; 0 between frames.
    size_t PendingFrameBytes() const { return Frame.size(); }

    // The identity the board sends at a speed.
    std::array<uint8_t, 14> IdentityAt(int speed) const;

    // The latest frames, oldest first: a board left running for hours keeps only the last
    // MaxLoggedFrames of them.
    const std::vector<TFrameRecord>& Frames() const { return Log; }
    void ClearFrames();
    // Frames logged since the last ClearFrames, those dropped from the log included.
    size_t LoggedSinceClear() const { return TotalLogged - TotalAtClear; }
    // Frames logged since the board started; never goes back.
    size_t TotalLoggedFrames() const { return TotalLogged; }

    static constexpr size_t MaxLoggedFrames = 10000;
    // Bytes that pile up in one record (SRAM data, noise) start a new record past this.
    static constexpr size_t MaxRecordBytes = 4096;
    // SRAM data past this is not kept: more than any of these boards holds.
    static constexpr size_t MaxSramBytes = size_t{16} << 20;

    TBoardMemory& Memory() { return Mem; }
    const TBoardMemory& Memory() const { return Mem; }
    const std::vector<uint8_t>& SramData() const { return Sram; }
    TFaultPlan& Faults() { return Config.Faults; }

private:
    enum class TState { Unsynced, AwaitAck, Command };
    struct TCounter {
        int Accepted = 0;
        int Tries = 0;
    };

    bool Accepts(int speed) const;
    void LogNoise(TFrameKind kind, uint8_t byte, int lineSpeed);
    void AddRecord(TFrameRecord record);
    // Whether the byte can join the last record rather than start one.
    bool ExtendsLastRecord(TFrameKind kind, bool ignored, int lineSpeed) const;
    size_t FrameLength(uint8_t first) const;
    void Complete(int64_t nowMs, std::vector<uint8_t>& reply);
    // Answers one whole frame; true when the board accepted it.
    bool Answer(TFrameRecord& record, const TFaultRule* fault);
    // Sends the answer as a fault on its delivery has it: late, with more bytes, followed by a
    // flood, or not at all.
    void Deliver(const TFaultRule& fault, int64_t nowMs, std::vector<uint8_t>& answer,
                 std::vector<uint8_t>& reply);
    bool AnswerSync(TFrameRecord& record, const TFaultRule* fault);
    bool AnswerAck(TFrameRecord& record, const TFaultRule* fault);
    bool AnswerRead(TFrameRecord& record, const TFaultRule* fault);
    bool AnswerCommand(TFrameRecord& record, const TFaultRule* fault);
    TFrameKind KindOf(uint8_t first) const;
    void ResetCounters();

    TBoardConfig Config;
    TBoardMemory Mem;
    std::vector<uint8_t> Sram;
    std::vector<TFrameRecord> Log;
    size_t TotalLogged = 0;
    size_t TotalAtClear = 0;

    TState State = TState::Unsynced;
    int Speed = 0;              // the speed the link was synchronised at
    std::vector<uint8_t> Frame; // the frame being received
    int FrameSpeed = 0;
    int64_t FrameDeadlineMs = 0; // when the frame being received is dropped unfinished
    uint32_t WriteAddress = 0;   // where the next data block goes
    uint32_t BlockLength = 0;    // data bytes in a block, from the last write start; 0: none
    std::array<TCounter, 9> Counters{};
    int FramesAnswered = 0;
    bool Silent = false;
    bool HangUp = false;
    struct TLateAnswer {
        int64_t DueMs = 0;
        std::vector<uint8_t> Bytes;
    };
    std::vector<TLateAnswer> Late; // in the order they are due
    int FloodByte = -1;            // -1: no flood
    int64_t FloodNextMs = 0;
};

#endif
