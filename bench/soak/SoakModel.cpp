#include "SoakModel.h"

#include <algorithm>

TBoardType SoakBoardType() {
    TBoardType type;
    type.Name = "Soak";
    type.FlashStart = SoakFlashStart;
    type.SramSize = SoakSramSize;
    ParseSectorLayout(SoakSectors, SoakFlashStart, type.Sectors);
    return type;
}

std::vector<uint32_t> SectorsTouched(const TBoardType& type, uint32_t address, int64_t length) {
    std::vector<uint32_t> touched;
    const uint64_t end = uint64_t{address} + static_cast<uint64_t>(length); // one past the last
    for (const TBoardSector& sector : type.Sectors)
        if (sector.Start < end && uint64_t{sector.Start} + sector.Length > address)
            touched.push_back(std::max(address, sector.Start));
    return touched;
}

TFlashModel::TFlashModel(const TBoardType& type) : Type(type), Bytes(type.FlashSize(), 0xFF) {}

bool TFlashModel::Contains(uint32_t address) const {
    return address >= Start() && address - Start() < Size();
}

bool TFlashModel::ContainsRange(uint32_t address, int64_t length) const {
    return Contains(address) && length >= 0 && address - Start() + length <= Size();
}

void TFlashModel::EraseSectorAt(uint32_t address) {
    const int index = Type.SectorAt(address);
    if (index < 0)
        return;
    const TBoardSector& sector = Type.Sectors[static_cast<size_t>(index)];
    std::fill_n(Bytes.begin() + (sector.Start - Start()), sector.Length, uint8_t{0xFF});
}

bool TFlashModel::Programmable(uint32_t address, const uint8_t* data, int count) const {
    for (int i = 0; i < count; ++i) {
        const uint32_t at = address + static_cast<uint32_t>(i);
        if (Contains(at) && (Bytes[at - Start()] & data[i]) != data[i])
            return false;
    }
    return true;
}

void TFlashModel::Program(uint32_t address, const uint8_t* data, int count) {
    for (int i = 0; i < count; ++i) {
        const uint32_t at = address + static_cast<uint32_t>(i);
        if (Contains(at))
            Bytes[at - Start()] &= data[i];
    }
}

std::vector<uint8_t> TFlashModel::Read(uint32_t address, int64_t length) const {
    const auto from = Bytes.begin() + (address - Start());
    return std::vector<uint8_t>(from, from + length);
}

uint32_t TFlashModel::Sum(uint32_t address, int64_t length) const {
    uint32_t sum = 0;
    for (int64_t i = 0; i < length; ++i)
        sum += Bytes[address - Start() + static_cast<size_t>(i)];
    return sum;
}

TBoardOracle::TBoardOracle(const TFaultPlan& plan, int answeredBefore)
    : Plan(plan), Answered(answeredBefore) {}

TBoardOracle::TAnswer TBoardOracle::Frame(TFrameKind kind, bool accepts) {
    if (Gone || (Plan.HangUpAfter >= 0 && Answered >= Plan.HangUpAfter)) {
        Gone = true;
        return {TWhat::HungUp, nullptr};
    }
    if (Silent || (Plan.SilentAfter >= 0 && Answered >= Plan.SilentAfter)) {
        Silent = true;
        return {TWhat::Nothing, nullptr};
    }
    TCounter& counter = Counters[static_cast<size_t>(kind)];
    const TFaultRule* rule = Plan.Find(kind, counter.Accepted, counter.Tries + 1);
    const bool repeated = kind == TFrameKind::Sync || kind == TFrameKind::Ack ||
                          kind == TFrameKind::Erase || kind == TFrameKind::Data;
    // A fault on the answer alone leaves the board doing what it normally would.
    const bool effect = !rule || rule->KeepsEffect();
    // A lost answer has the host send the frame again: a further attempt.
    const bool lost = rule && rule->Action == TFaultAction::Lost;
    if ((effect && accepts && !lost) || !repeated) {
        ++counter.Accepted;
        counter.Tries = 0;
    } else {
        ++counter.Tries;
    }
    ++Answered;
    if (rule)
        return {TWhat::Fault, rule};
    return {TWhat::Normal, nullptr};
}
