#pragma once
// What a programming did to the flash by the time it ended, from the plan it followed and the
// step it ended at: the sectors it erased, those whose planned content it wrote in full, and the
// address where writing stopped when it stopped inside a sector. A record of the programming
// claims no more than this.

#include "BootMonitor.h"
#include "ProgramPlan.h"

#include <optional>
#include <vector>

struct TProgrammedSectors {
    std::vector<int> Erased;           // indexes into the plan's sectors, in order
    std::vector<int> Written;          // erased and written with every byte the plan had for them
    std::optional<uint32_t> StoppedAt; // the first byte not written, inside a sector
};

TProgrammedSectors ProgrammedSectors(const TProgramPlan& plan,
                                     const TBootMonitor::TProgramResult& program);
