#pragma once
// The checks a flash command makes against the current board type before anything is sent:
// whether an address lies in the flash area, whether an image fits, which sectors programming
// touches and whether any of them is protected. GUI-free, shared by the window and korvex-cli.

#include <cstdint>
#include <vector>

class TEBData;

// Whether address lies between the flash start and the flash end (signed comparisons, as the
// board types store their addresses).
bool InFlashArea(const TEBData& type, int address);

struct TFlashPlan {
    enum TCheck { Fits, AddressOutside, DoesNotFit };
    TCheck Check = Fits;
    int FlashStart = 0;
    int FlashEnd = 0;
    int64_t DataEnd = 0; // address of the image's last byte; may lie past the 32-bit range
    // One address in every sector that the range from the address to the data end overlaps,
    // in order: the programming address itself, then the start of each following sector.
    std::vector<uint32_t> EraseAddresses;
    // Index of the first protected sector among them, or -1.
    int FirstProtectedSector = -1;

    bool Ok() const { return Check == Fits; }
    bool TouchesProtected() const { return FirstProtectedSector >= 0; }
};

// The checks and the sectors for programming length bytes at address.
TFlashPlan PlanFlashProgramming(const TEBData& type, int address, int64_t length);
