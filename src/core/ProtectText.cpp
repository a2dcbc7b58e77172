#include "ProtectText.h"

#include "Ebdata.h"
#include "MonitorMessages.h"

#include <cstdint>
#include <cstdio>

namespace {

std::string Address(uint32_t address) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(address));
    return text;
}

std::string RunText(const TEBData& type, int first, int last) {
    char sectors[48];
    if (first == last)
        std::snprintf(sectors, sizeof sectors, "sector %d: ", first);
    else
        std::snprintf(sectors, sizeof sectors, "sectors %d to %d: ", first, last);
    return sectors + Address(static_cast<uint32_t>(type.GetSector(first).Start)) + " to " +
           Address(static_cast<uint32_t>(type.GetSector(last).End()));
}

} // namespace

std::string ProtectedRangesText(const TString& sectors, const TString& protect,
                                const TString& flashStart) {
    TEBData type;
    if (!CheckSectors(sectors) || !type.SetSectors(sectors) || !type.SetProtected(protect) ||
        !type.SetFlashStart(flashStart))
        return std::string();
    std::string text;
    const int count = type.GetSectorCount();
    for (int sector = 0; sector < count; ++sector) {
        if (!type.GetSector(sector).Protected)
            continue;
        int last = sector;
        while (last + 1 < count && type.GetSector(last + 1).Protected)
            ++last;
        if (!text.empty())
            text += "; ";
        text += RunText(type, sector, last);
        sector = last;
    }
    return text.empty() ? "no sector protected" : text;
}

std::string ProtectedSectorsText(const TString& sectors, const TString& protect) {
    if (protect.IsBlank())
        return std::string();
    const std::string stored = protect();
    TEBData type;
    if (!CheckSectors(sectors) || !type.SetSectors(sectors) || !type.SetProtected(protect))
        return stored;
    std::vector<int> covered;
    for (int sector = 0; sector < type.GetSectorCount(); ++sector)
        if (type.GetSector(sector).Protected)
            covered.push_back(sector);
    return stored + " (" + (covered.empty() ? "none" : SectorListText(covered)) + ")";
}
