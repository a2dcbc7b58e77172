#pragma once
// The checks of a board's memory against an image: the board's sum over a range, and the
// read-back byte for byte. Whatever a check finds other than the image, or cannot confirm, no
// ledger of the port vouches for any longer; the window and korvex-cli only show the outcome.

#include "BootMonitor.h"
#include "FlashLedger.h"
#include "MonitorMessages.h"

#include <cstdint>
#include <string>
#include <vector>

// The board's sum over length bytes of data at address. When the board refuses it, no ledger of
// port vouches for the range any longer, unless readBackFollows: the caller then reads the range
// back (ReadBackAndForget), which narrows it to where the bytes differ. warning gets why the
// ledgers could not be told, and is left as it is otherwise.
TMonitorResult VerifyAndForget(TBootMonitor& monitor, const std::string& port, uint32_t address,
                               const uint8_t* data, int64_t length, bool readBackFollows,
                               std::string* warning);

// One byte the board holds other than the image.
struct TByteDifference {
    uint32_t Address = 0;
    uint8_t Board = 0;
    uint8_t File = 0;
};

// How many differing bytes a read-back lists; the others are only counted.
constexpr int64_t ShownDifferences = 16;

struct TReadBack {
    TMonitorResult Read;                     // not Ok: nothing was compared
    int64_t Differing = 0;                   // the bytes that differ
    std::vector<TByteDifference> FirstShown; // the first ShownDifferences of them
    TFlashRange Forgotten;                   // from the first differing byte to the last, the
                                             // whole range when the read failed; else empty
    std::string Warning;                     // why the ledgers could not be told; empty otherwise

    bool Same() const { return Read.Ok() && Differing == 0; }
};

// Reads length bytes at address back and compares them with data. The ledgers of port stop
// vouching for the stretch from the first differing byte to the last, or for the whole range
// when the read failed or was cancelled. progress is the read's (false cancels).
TReadBack ReadBackAndForget(TBootMonitor& monitor, const std::string& port, uint32_t address,
                            const uint8_t* data, int64_t length, const TProgressHook& progress);

// "200 bytes at 0x01004000 read back OK."
std::string ReadBackSameLine(int64_t length, uint32_t address);
// The differences as listed: one line per byte shown, "..." when more differ, then their count.
std::vector<std::string> ReadBackDifferenceLines(const TReadBack& readBack);
// "3 bytes differ, the first at 0x01004005."
std::string ReadBackDifferLine(const TReadBack& readBack);
// A read-back that failed or found differences: the read's message, or "Data verification
// failed." with the count of differing bytes and the first of them.
TMonitorMessage ReadBackFailure(const TReadBack& readBack);
