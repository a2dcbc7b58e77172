#pragma once
// The ledger of what Korvex last wrote to each flash sector of a board: one file per board in
// the per-user data folder, holding per sector its start, size and the SHA-256 of the content
// the programming left there. It only ever suggests a skip; the board's own sum must agree too
// (see ProgramPlan.h). A ledger that cannot be read or does not parse, a symbolic link or a file
// larger than any ledger is ignored with a warning; a write replaces a link by a file.

#include "BootMonitor.h"

#include <QString>

#include <cstdint>
#include <string>
#include <vector>

class TEBData;

// Which board a ledger belongs to: the port's stable name, the identity reply and the sector
// layout of the board type. A board on another port, of another identity or type finds nothing.
struct TLedgerKey {
    std::string Port;
    TMonitorIdentity Identity;
    std::string Layout;
};

// The /dev/serial/by-id link that leads to device when there is one, else the device itself:
// the name of a USB adapter that survives re-plugging.
std::string StablePortName(const std::string& device);
// The sector layout as text, "start+length" per sector: two types of the same layout share it.
std::string SectorLayoutText(const TEBData& type);
TLedgerKey MakeLedgerKey(const std::string& device, const TMonitorIdentity& identity,
                         const TEBData& type);

struct TLedgerEntry {
    uint32_t Start = 0;
    uint32_t Length = 0;
    std::string Sha256; // lower-case hex, of the sector's whole content

    bool operator==(const TLedgerEntry& other) const {
        return Start == other.Start && Length == other.Length && Sha256 == other.Sha256;
    }
};

struct TLedgerRead {
    std::vector<TLedgerEntry> Entries; // empty when there is no ledger for the key
    std::string Warning;               // why an existing ledger was not used; empty otherwise
};

// The folder the ledgers live in: the window's per-user data folder, which korvex-cli shares.
QString LedgerFolder();
// The file of one board's ledger.
QString LedgerPath(const TLedgerKey& key);

// The entries of a board's ledger, less those of sectors a programming began on and did not
// finish (see MarkLedgerPending).
TLedgerRead ReadLedger(const TLedgerKey& key);
// Called before a programming erases sectors: until RecordLedger replaces them, the ledger no
// longer vouches for those sectors, so a programming that fails or is cut off midway cannot
// leave an entry behind for a sector it half rewrote. The ledger file itself stays as it was.
bool MarkLedgerPending(const TLedgerKey& key, const std::vector<uint32_t>& sectorStarts,
                       std::string* error);
// A stretch of flash: Length bytes from Start.
struct TFlashRange {
    uint32_t Start = 0;
    int64_t Length = 0;
};
// Called when Korvex programmed a board it does not know, or found a board's content other than
// expected in a range: no ledger of the port (of whichever board) vouches any longer for a
// sector that overlaps a range, until a programming records it anew.
bool MarkPortPending(const std::string& device, const std::vector<TFlashRange>& ranges,
                     std::string* error);
// Records what the sectors now hold: entries replace those of the same start, the others stay.
// Written whole under a lock, so concurrent writers neither tear the file nor lose each other's
// sectors. False with the reason when it could not be written.
bool RecordLedger(const TLedgerKey& key, const std::vector<TLedgerEntry>& entries,
                  std::string* error);

// The window's preference "Skip sectors unchanged since the last programming" (off unless
// stored as "1").
constexpr const char* SkipUnchangedSetting = "FlashSkipUnchanged";
bool ReadSkipUnchanged();

// The identity a board last gave on a port in this process: the window synchronises once and
// programs later, and the ledger needs to know which board it programs.
void RememberBoardIdentity(const std::string& port, const TMonitorIdentity& identity);
bool RememberedBoardIdentity(const std::string& port, TMonitorIdentity& identity);
