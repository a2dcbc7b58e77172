#include "FlashPlan.h"

#include "Ebdata.h"

#include <algorithm>

bool InFlashArea(const TEBData& type, int address) {
    return address >= type.GetFlashStart() && address <= type.FlashEnd();
}

TFlashPlan PlanFlashProgramming(const TEBData& type, int address, int64_t length) {
    TFlashPlan plan;
    plan.FlashStart = type.GetFlashStart();
    plan.FlashEnd = type.FlashEnd();
    plan.DataEnd = static_cast<int64_t>(address) + length - 1;
    if (!InFlashArea(type, address)) {
        plan.Check = TFlashPlan::AddressOutside;
        return plan;
    }
    if (plan.DataEnd > plan.FlashEnd) {
        plan.Check = TFlashPlan::DoesNotFit;
        return plan;
    }
    // Every sector the data overlaps, found by its bounds rather than by stepping a sector size
    // from the address: a start inside a sector must not skip the start of the next one.
    for (int i = 0; i < type.GetSectorCount(); ++i) {
        const TSectData& sector = type.GetSector(i);
        if (sector.End() < address || sector.Start > plan.DataEnd)
            continue;
        plan.EraseAddresses.push_back(static_cast<uint32_t>(std::max(address, sector.Start)));
        if (sector.Protected && plan.FirstProtectedSector < 0)
            plan.FirstProtectedSector = i;
    }
    return plan;
}
