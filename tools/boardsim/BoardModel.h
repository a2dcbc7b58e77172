// What the simulated board is: a board type (flash sectors, flash start, SRAM size) and its
// memory, flash that behaves like NOR flash and plain memory everywhere else.
#ifndef KORVEX_BOARDMODEL_H
#define KORVEX_BOARDMODEL_H

#include <cstdint>
#include <map>
#include <string>
#include <vector>

struct TBoardSector {
    uint32_t Start = 0;
    uint32_t Length = 0;
};

struct TBoardType {
    std::string Name;
    std::vector<TBoardSector> Sectors; // ascending, back to back from FlashStart
    uint32_t FlashStart = 0;
    uint32_t SramSize = 0;

    uint32_t FlashSize() const;
    // The index of the sector holding the address, or -1.
    int SectorAt(uint32_t address) const;
};

// Reads a sector layout such as "8x32K,2x32K,30x64K" (count "x" size, unit B or K) starting at
// flashStart; false when the text is malformed, empty or the flash would not fit in 32 bits.
bool ParseSectorLayout(const std::string& text, uint32_t flashStart,
                       std::vector<TBoardSector>& sectors);
// Reads a hexadecimal value written as "0100 0000", "0100.0000", "0100-0000" or "01000000".
bool ParseHexValue(const std::string& text, uint32_t& value);
// Reads a definition row "NAME=sectors;protect;SRAM size;flash start".
bool ParseBoardRow(const std::string& row, TBoardType& type, std::string& error);

// The factory board types: EB40, EB40A, EB42, EB55 and EB63.
std::vector<std::string> BuiltInBoardRows();
// Finds a factory type by name, ignoring letter case.
bool BuiltInBoardType(const std::string& name, TBoardType& type);

class TBoardMemory {
public:
    explicit TBoardMemory(const TBoardType& type);

    enum class TProgramResult { Ok, NeedsErase };

    uint8_t Get(uint32_t address) const;
    std::vector<uint8_t> Read(uint32_t address, uint32_t count) const;
    // Flash can only clear bits: a byte that would need a 0 turned into 1 keeps the bits it
    // cannot change, and the result says so.
    TProgramResult Program(uint32_t address, const uint8_t* data, uint32_t count);
    // Sets the sector holding the address to 0xFF; false outside the flash.
    bool EraseSectorAt(uint32_t address);
    // The sum of count bytes from the address, modulo 2^32.
    uint32_t Sum(uint32_t address, uint32_t count) const;
    // Stores bytes as they are, flash included (preloading a board for a test).
    void Load(uint32_t address, const uint8_t* data, uint32_t count);

    const TBoardType& Type() const { return Board; }

private:
    bool InFlash(uint32_t address) const;
    void Put(uint32_t address, uint8_t value);

    TBoardType Board;
    std::vector<uint8_t> Flash;
    std::map<uint32_t, std::vector<uint8_t>> Pages; // plain memory, 4 KiB pages, zero at first
};

#endif
