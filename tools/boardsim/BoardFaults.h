// Faults the simulated board can be told to show: answers withheld, replaced, delayed, lost or
// followed by more bytes for chosen commands and attempts, broken read replies, a flood of one
// byte, silence and hang-up after a number of frames.
#ifndef KORVEX_BOARDFAULTS_H
#define KORVEX_BOARDFAULTS_H

#include <cstdint>
#include <string>
#include <vector>

enum class TFrameKind {
    Sync,       // 0x80, answered with the identity
    Ack,        // the 'A' after the identity
    Read,       // 'R'
    Erase,      // 'E'
    WriteStart, // 'W'
    Data,       // 'D'
    Verify,     // 'V'
    Sram,       // raw bytes in SRAM uploading mode
    Unknown,    // anything the monitor does not understand, or a frame cut short
};

const char* FrameKindName(TFrameKind kind);

enum class TFaultAction {
    Silent,      // no answer at all
    Byte,        // answer Value instead (the identity and read reply: Value as their first byte)
    FlashError,  // answer 'F' and the error code Value
    BadChecksum, // read reply with a wrong checksum
    Short,       // only the first Value bytes of the identity or read reply
    // The board does what it normally would with the frame; only the answer differs:
    Late,  // the answer comes DelayMs late
    Extra, // Extra follows the answer
    Flood, // after the answer, Value is sent over and over, without end
    Lost,  // the answer never arrives, as if the line lost it
    Stray, // Value goes out at once, ahead of the answer, which comes DelayMs late
};

// A rule for frames of one kind. Occurrence counts frames of that kind from 0 since the link
// was synchronised. Synchronisations, acknowledges, erases and data blocks count only when
// accepted with an answer that was not lost, so the host's retries of a refused one are further
// attempts of the same occurrence (for data blocks the occurrence is the block); reads, write
// starts and verifies count every frame, each a first attempt.
struct TFaultRule {
    TFrameKind Kind = TFrameKind::Data;
    int Occurrence = -1;  // -1: every occurrence
    int FirstAttempt = 1; // 1-based
    int LastAttempt = 0;  // 0: no upper bound
    TFaultAction Action = TFaultAction::Silent;
    uint8_t Value = 0;
    int DelayMs = 0;
    std::vector<uint8_t> Extra{};

    // Whether the board carries the frame out as usual and only its answer is changed.
    bool KeepsEffect() const;
    bool Matches(TFrameKind kind, int occurrence, int attempt) const;
};

struct TFaultPlan {
    std::vector<TFaultRule> Rules;
    int SilentAfter = -1; // frames answered before the board goes silent; -1: never
    int HangUpAfter = -1; // frames answered (SRAM mode: bytes stored) before the board hangs up
                          // the line; -1: never

    const TFaultRule* Find(TFrameKind kind, int occurrence, int attempt) const;
};

// Adds one fault written as "KIND[#OCCURRENCE][@ATTEMPT[-ATTEMPT]]=ACTION", where KIND is
// sync, ack, R, E, W, D or V and ACTION is silent, byte:XX, flash:XX, flash (an 'F' without a
// code), badsum, short:N, late:MS, extra:XX[XX...], flood:XX, stray:XX[:MS] (MS defaults to
// 100) or lost; or "silent-after:N" or
// "hangup-after:N". False with a reason when the text is malformed.
bool ParseFault(const std::string& text, TFaultPlan& plan, std::string& error);

#endif
