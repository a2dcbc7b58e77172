// What the soak expects of the board: the flash as it must be after every operation, and which
// answer the board gives each frame under a fault plan. Both are kept apart from the simulated
// board itself, so that a host which reports one thing while the board did another shows up.
#pragma once

#include "BoardFaults.h"
#include "BoardModel.h"

#include <array>
#include <cstdint>
#include <vector>

// The soak's board: four sectors of 8 KiB and two of 32 KiB from 0x01000000, 4 KiB of SRAM.
constexpr uint32_t SoakFlashStart = 0x01000000;
constexpr const char* SoakSectors = "4x8K,2x32K";
constexpr uint32_t SoakSramSize = 0x1000;

TBoardType SoakBoardType();

// One address in every sector that length bytes from address overlap: the address itself, then
// the start of each following sector.
std::vector<uint32_t> SectorsTouched(const TBoardType& type, uint32_t address, int64_t length);

// The flash contents the operations so far must have left, NOR rules included: an erase sets
// a whole sector to 0xFF, programming only clears bits.
class TFlashModel {
public:
    explicit TFlashModel(const TBoardType& type);

    uint32_t Start() const { return Type.FlashStart; }
    uint32_t End() const { return Type.FlashStart + Size() - 1; }
    uint32_t Size() const { return static_cast<uint32_t>(Bytes.size()); }
    bool Contains(uint32_t address) const;
    bool ContainsRange(uint32_t address, int64_t length) const;
    const TBoardType& Board() const { return Type; }

    void EraseSectorAt(uint32_t address);
    // Whether the bytes can be programmed without an erase first.
    bool Programmable(uint32_t address, const uint8_t* data, int count) const;
    // Clears the bits the data clears, as the board does whether or not it then complains.
    void Program(uint32_t address, const uint8_t* data, int count);
    std::vector<uint8_t> Read(uint32_t address, int64_t length) const;
    uint32_t Sum(uint32_t address, int64_t length) const;

    const std::vector<uint8_t>& Contents() const { return Bytes; }
    void Adopt(const std::vector<uint8_t>& contents) { Bytes = contents; }

private:
    TBoardType Type;
    std::vector<uint8_t> Bytes;
};

// The board's side of the fault plan: for every frame the host sends, whether the board
// answers normally, answers as a fault rule says, says nothing (silenced) or hangs up. It
// counts frames the way the fault texts are defined: occurrences from the synchronisation,
// refused erases, data blocks, syncs and acknowledges as further attempts of one occurrence.
class TBoardOracle {
public:
    // answeredBefore: the frames the board answered before the plan's limits start counting.
    TBoardOracle(const TFaultPlan& plan, int answeredBefore);

    enum class TWhat { Normal, Fault, Nothing, HungUp };
    struct TAnswer {
        TWhat What = TWhat::Normal;
        const TFaultRule* Rule = nullptr; // Fault only
    };
    // The board's answer to a whole frame; accepts: whether it takes the frame when no fault
    // is in the way (a sector outside the flash, a sum that differs are refused anyway).
    TAnswer Frame(TFrameKind kind, bool accepts);

private:
    struct TCounter {
        int Accepted = 0;
        int Tries = 0;
    };

    const TFaultPlan& Plan;
    int Answered;
    bool Silent = false;
    bool Gone = false;
    std::array<TCounter, 9> Counters{};
};
