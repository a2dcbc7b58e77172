#pragma once
// What a flash programming will do sector by sector: which sectors of the board type the image
// covers, which of them are erased and written and which are skipped because they already hold
// exactly the content the image would leave there, and what that costs on the line. GUI-free,
// shared by korvex-cli (--dry-run, --skip-unchanged) and the window's flash map.
//
// A sector is skipped only when both the ledger says Korvex last wrote that very content and
// the board answers 'A' to a verify of the whole sector with that content's sum. The sum alone
// could not tell two bytes swapped; the ledger alone could not tell a board changed behind our
// back. Where boards are swapped on one adapter, two images differing only in byte order could
// still pass both: a read-back comparison remains the strong check.

#include "BootMonitor.h"
#include "FlashLedger.h"

#include <cstdint>
#include <string>
#include <vector>

class TEBData;

enum class TSectorAction {
    Untouched, // the image does not reach it
    Write,     // erased and written
    Skip,      // holds the content already
};

struct TSectorPlan {
    uint32_t Start = 0;
    uint32_t Length = 0;
    bool Protected = false;
    TSectorAction Action = TSectorAction::Untouched;
    // The image's bytes in the sector (0 when untouched): the write range of this sector.
    uint32_t DataStart = 0;
    uint32_t DataLength = 0;
    // Of the sector's whole content after programming: the image's bytes, 0xFF elsewhere.
    std::string Sha256;
    bool InLedger = false; // the ledger says the sector holds this content
};

struct TProgramPlan {
    uint32_t Address = 0;
    int64_t Length = 0;
    std::vector<TSectorPlan> Sectors; // every sector of the board type, in order

    int Count(TSectorAction action) const;
    std::vector<int> SectorsOf(TSectorAction action) const; // their indexes, in order
    int Checks() const; // sectors whose sums the board is asked, skipped or not
    // The first address of every sector to erase, as the unskipping programming erases them.
    std::vector<uint32_t> EraseAddresses() const;
    // Runs of adjacent sectors to write, each with its own write starts.
    std::vector<TWriteRun> WriteRuns() const;
    int64_t DataBytes() const; // image bytes to send
    // Every byte on the line both ways: erases, write starts, data blocks, answers, the sum
    // checks of the skip and the final verify of the whole image.
    int64_t LineBytes() const;
    double LineSeconds(int speed) const; // at 10 bits a byte
    // The starts of the sectors to erase and write.
    std::vector<uint32_t> WrittenSectors() const;
    // The ledger entries of the covered sectors, to record after a verified programming.
    std::vector<TLedgerEntry> LedgerEntries() const;
    // Index of the sector holding address, or -1.
    int SectorAt(uint32_t address) const;
    // The sector being written once done of DataBytes() went out, or -1 when all did.
    int SectorWrittenAt(int64_t done) const;
};

// Every covered sector to be written. The range must fit the board type's flash (see
// PlanFlashProgramming).
TProgramPlan BuildProgramPlan(const TEBData& type, uint32_t address, const uint8_t* data,
                              int64_t length);
// Marks the covered sectors whose ledger entry matches their content.
void ApplyLedger(TProgramPlan& plan, const std::vector<TLedgerEntry>& entries);
// Asks the board the sum of every sector the ledger vouches for; those it answers 'A' are
// skipped, every other stays to be written. Only verify frames are sent. A result other than Ok
// is a line failure (no answer, line lost): the plan is then left unskipped.
TMonitorResult ConfirmSkips(TBootMonitor& monitor, TProgramPlan& plan, const uint8_t* data);

// The plan as text lines: a header, one line per sector, then the totals at the link speed.
// Without protectedAllowed a protected sector to be written says it needs --yes.
std::vector<std::string> PlanLines(const TProgramPlan& plan, int speed,
                                   bool protectedAllowed = true);
