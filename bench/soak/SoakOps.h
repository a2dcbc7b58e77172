// One soak operation: what the host is asked to do and which faults the board is told to show,
// the outcome those faults must lead to, the outcome the host reports, and how the two compare.
#pragma once

#include "BootMonitor.h"
#include "SoakModel.h"

#include <cstdint>
#include <random>
#include <string>
#include <vector>

enum class TOpKind { Sync, Read, Erase, Program, Verify, Sram };
constexpr int OpKindCount = 6;
const char* OpKindName(TOpKind kind);

struct TSoakOp {
    TOpKind Kind = TOpKind::Read;
    uint32_t Address = 0;
    int64_t Length = 0;
    bool AutoSpeed = true;     // sync
    int Speed = 115200;        // sync with a fixed speed; the SRAM upload's line speed
    std::vector<uint8_t> Data; // the image to program, verify against or upload
    // Fault texts as the board reads them; the limits count frames of this operation.
    std::vector<std::string> Faults;
    int SilentAfter = -1;
    int HangUpAfter = -1;
    int CancelAfter = -1; // whole blocks (SRAM: chunks) before the user breaks off
    // A request that must be refused without any fault: data that differ from the flash, an
    // address outside it.
    bool BadRequest = false;

    bool NeedsFreshBoard() const { return SilentAfter >= 0 || HangUpAfter >= 0; }
    std::string Describe() const;
};

// The kinds of fault the summary counts; an operation may carry several.
enum class TFaultKind {
    Nack,
    WrongAnswer,
    FlashError,
    BadChecksum,
    Short,
    Silence,
    HangUp,
    UserBreak,
    BadRequest,
    Late,  // an answer slow, or late past its time-out
    Extra, // more than the answer
    Lost,  // carried out, its answer lost
};
constexpr int FaultKindCount = 12;
const char* FaultKindName(TFaultKind kind);
std::vector<TFaultKind> FaultKindsOf(const TSoakOp& op);

// What the host knows between operations.
struct TLinkState {
    bool Synced = false;
    int Speed = 115200;
};

// Random operations over the board's flash, a given share of them with faults.
class TOpGenerator {
public:
    TOpGenerator(uint64_t seed, const TFlashModel& flash);
    TSoakOp Next();

private:
    uint32_t Below(uint32_t bound); // 0 .. bound - 1
    bool Chance(int percent);
    template <typename T> T Pick(const std::vector<T>& choices) {
        return choices[Below(static_cast<uint32_t>(choices.size()))];
    }
    uint8_t RefusalByte(); // any answer but the acknowledge
    std::vector<uint8_t> RandomBytes(int64_t length);
    int64_t Length(int64_t most); // 1 .. most
    // Where length bytes fit in the flash.
    uint32_t FlashAddress(int64_t length);

    TSoakOp Sync();
    TSoakOp Read();
    void AddReadFault(TSoakOp& op);
    TSoakOp Erase();
    TSoakOp Program();
    void AddProgramFault(TSoakOp& op);
    TSoakOp Verify();
    TSoakOp Sram();
    // A limit on the frames the board answers, somewhere in an operation of that many frames.
    void MaybeLimit(TSoakOp& op, int frames);

    std::mt19937_64 Random;
    const TFlashModel& Flash;
};

// An outcome as the user would see it: the result's status, the message or result line, and
// what it names.
struct TOutcome {
    std::string Status;
    std::string Message;
    std::string ClosingLine; // flash programming's last console line
    int64_t BytesDone = -1;  // -1: not named
    int Speed = 0;           // synchronisation
};

struct TExpected : TOutcome {
    // The line failed: the system's reason follows the message on a line of its own.
    bool ReasonFollows = false;
    // An SRAM upload to a board that hangs up: bytes done lie in this range, and the message
    // names them where it holds "{done}".
    int64_t BytesDoneMin = -1;
    int64_t BytesDoneMax = -1;
    std::vector<uint8_t> ReadData;        // what a read must return
    std::vector<uint8_t> SramStored;      // SRAM upload: what the board must hold afterwards
    std::vector<uint32_t> EraseAddresses; // flash programming: the sectors to erase
    int WaitMs = 0;                       // time-outs and pauses the host must sit through
    TLinkState Link;                      // afterwards
};

struct TActual : TOutcome {
    std::vector<uint8_t> ReadData;
    std::vector<uint32_t> EraseAddresses;
};

// The outcome the op must have on a board that holds flash and is in the link state, with the
// fault plan installed after answeredBefore frames; flash is brought to what the board must
// hold afterwards.
TExpected Predict(const TSoakOp& op, const TFaultPlan& plan, int answeredBefore,
                  const std::string& port, const TMonitorTiming& timing, const TLinkState& link,
                  TFlashModel& flash);

// Runs the op over a fresh port to the board at path, as the window would.
TActual Execute(const TSoakOp& op, const std::string& path, const TMonitorTiming& timing,
                const TLinkState& link);

// What kind of wrong an outcome is.
enum class TWrongKind {
    FalseSuccess, // success reported for an operation that failed
    FalseFailure, // failure reported for an operation that succeeded
    Status,       // another failure than the one the fault calls for
    Message,      // a text that does not match the fault
    Contents,     // flash, SRAM or read data other than reported
    Values,       // bytes done, closing line, speed, sectors: other than the fault calls for
    Setup,        // the link could not be prepared for the operation
};
constexpr int WrongKindCount = 7;
const char* WrongKindName(TWrongKind kind);

struct TDifference {
    TWrongKind Kind;
    std::string Text;
};

// The differences between what had to happen and what the host reported; none when it matches.
std::vector<TDifference> Compare(const TExpected& expected, const TActual& actual);
