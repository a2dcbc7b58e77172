#include "BoardModel.h"

#include <algorithm>
#include <cctype>
#include <cstring>

namespace {

constexpr uint32_t PageSize = 4096;

std::string Without(const std::string& text, const char* drop) {
    std::string result;
    for (char c : text)
        if (!std::strchr(drop, c))
            result += c;
    return result;
}

std::string Upper(std::string text) {
    for (char& c : text)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

std::vector<std::string> Split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        const size_t at = text.find(separator, start);
        parts.push_back(
            text.substr(start, at == std::string::npos ? std::string::npos : at - start));
        if (at == std::string::npos)
            return parts;
        start = at + 1;
    }
}

std::string Trim(const std::string& text) {
    size_t begin = 0, end = text.size();
    while (begin < end && std::isspace(static_cast<unsigned char>(text[begin])))
        ++begin;
    while (end > begin && std::isspace(static_cast<unsigned char>(text[end - 1])))
        --end;
    return text.substr(begin, end - begin);
}

// A whole decimal number, positive and at most limit.
bool Decimal(const std::string& text, uint64_t limit, uint64_t& value) {
    if (text.empty() || text.size() > 10)
        return false;
    value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        value = value * 10 + static_cast<uint64_t>(c - '0');
    }
    return value > 0 && value <= limit;
}

const char* const FactoryRows[] = {
    "EB40=;;0008 0000;0100 0000",
    "EB40A=8x32K,2x32K,30x64K;0-8;0003 FF00;0100 0000",
    "EB42=8x32K,2x32K,30x64K;0-8;0004 0000;0100 0000",
    "EB55=8x32K,2x32K,30x64K;0-8;0004 0000;0100 0000",
    "EB63=8x32K,2x32K,30x64K;0-7;0004 0000;0100 0000",
};

} // namespace

uint32_t TBoardType::FlashSize() const {
    uint64_t total = 0;
    for (const TBoardSector& sector : Sectors)
        total += sector.Length;
    return static_cast<uint32_t>(total);
}

int TBoardType::SectorAt(uint32_t address) const {
    for (size_t i = 0; i < Sectors.size(); ++i)
        if (address >= Sectors[i].Start && address - Sectors[i].Start < Sectors[i].Length)
            return static_cast<int>(i);
    return -1;
}

bool ParseSectorLayout(const std::string& text, uint32_t flashStart,
                       std::vector<TBoardSector>& sectors) {
    const std::string layout = Upper(Without(text, " \t"));
    if (layout.empty())
        return false;
    std::vector<TBoardSector> result;
    uint64_t next = flashStart;
    for (const std::string& group : Split(layout, ',')) {
        const std::vector<std::string> parts = Split(group, 'X');
        if (parts.size() != 2 || parts[1].size() < 2)
            return false;
        const char unit = parts[1].back();
        if (unit != 'B' && unit != 'K')
            return false;
        uint64_t count = 0, size = 0;
        if (!Decimal(parts[0], 1u << 20, count) ||
            !Decimal(parts[1].substr(0, parts[1].size() - 1), 1u << 31, size))
            return false;
        if (unit == 'K')
            size *= 1024;
        if (next + count * size > (uint64_t{1} << 32))
            return false;
        for (uint64_t i = 0; i < count; ++i) {
            result.push_back({static_cast<uint32_t>(next), static_cast<uint32_t>(size)});
            next += size;
        }
    }
    sectors = std::move(result);
    return true;
}

bool ParseHexValue(const std::string& text, uint32_t& value) {
    const std::string digits = Without(text, " \t-.");
    if (digits.empty() || digits.size() > 8)
        return false;
    uint32_t result = 0;
    for (char c : digits) {
        if (!std::isxdigit(static_cast<unsigned char>(c)))
            return false;
        const int digit = std::isdigit(static_cast<unsigned char>(c))
                              ? c - '0'
                              : std::toupper(static_cast<unsigned char>(c)) - 'A' + 10;
        result = result << 4 | static_cast<uint32_t>(digit);
    }
    value = result;
    return true;
}

bool ParseBoardRow(const std::string& row, TBoardType& type, std::string& error) {
    const size_t equals = row.find('=');
    if (equals == std::string::npos) {
        error = "missing type name";
        return false;
    }
    const std::vector<std::string> sections = Split(row.substr(equals + 1), ';');
    if (sections.size() != 4) {
        error = "expecting 4 sections separated by ';'";
        return false;
    }
    TBoardType parsed;
    parsed.Name = Trim(row.substr(0, equals));
    const std::string flashStart = Trim(sections[3]);
    if (!flashStart.empty() && !ParseHexValue(flashStart, parsed.FlashStart)) {
        error = "invalid flash start";
        return false;
    }
    if (!ParseHexValue(Trim(sections[2]), parsed.SramSize)) {
        error = "invalid SRAM size";
        return false;
    }
    const std::string layout = Trim(sections[0]);
    if (!layout.empty() && !ParseSectorLayout(layout, parsed.FlashStart, parsed.Sectors)) {
        error = "invalid sectors format";
        return false;
    }
    type = parsed;
    return true;
}

std::vector<std::string> BuiltInBoardRows() {
    return std::vector<std::string>(std::begin(FactoryRows), std::end(FactoryRows));
}

bool BuiltInBoardType(const std::string& name, TBoardType& type) {
    for (const std::string& row : BuiltInBoardRows()) {
        if (Upper(row.substr(0, row.find('='))) != Upper(name))
            continue;
        std::string error;
        return ParseBoardRow(row, type, error);
    }
    return false;
}

TBoardMemory::TBoardMemory(const TBoardType& type) : Board(type), Flash(type.FlashSize(), 0xFF) {}

bool TBoardMemory::InFlash(uint32_t address) const {
    return !Flash.empty() && address >= Board.FlashStart &&
           address - Board.FlashStart < Flash.size();
}

uint8_t TBoardMemory::Get(uint32_t address) const {
    if (InFlash(address))
        return Flash[address - Board.FlashStart];
    const auto page = Pages.find(address / PageSize);
    return page == Pages.end() ? 0 : page->second[address % PageSize];
}

void TBoardMemory::Put(uint32_t address, uint8_t value) {
    if (InFlash(address)) {
        Flash[address - Board.FlashStart] = value;
        return;
    }
    std::vector<uint8_t>& page = Pages[address / PageSize];
    if (page.empty())
        page.assign(PageSize, 0);
    page[address % PageSize] = value;
}

std::vector<uint8_t> TBoardMemory::Read(uint32_t address, uint32_t count) const {
    std::vector<uint8_t> bytes(count);
    for (uint32_t i = 0; i < count; ++i)
        bytes[i] = Get(address + i);
    return bytes;
}

TBoardMemory::TProgramResult TBoardMemory::Program(uint32_t address, const uint8_t* data,
                                                   uint32_t count) {
    TProgramResult result = TProgramResult::Ok;
    for (uint32_t i = 0; i < count; ++i) {
        const uint32_t at = address + i;
        if (!InFlash(at)) {
            Put(at, data[i]);
            continue;
        }
        const uint8_t old = Get(at);
        if ((old & data[i]) != data[i])
            result = TProgramResult::NeedsErase;
        Put(at, static_cast<uint8_t>(old & data[i]));
    }
    return result;
}

bool TBoardMemory::EraseSectorAt(uint32_t address) {
    const int index = Board.SectorAt(address);
    if (index < 0)
        return false;
    const TBoardSector& sector = Board.Sectors[static_cast<size_t>(index)];
    std::fill_n(Flash.begin() + (sector.Start - Board.FlashStart), sector.Length, uint8_t{0xFF});
    return true;
}

uint32_t TBoardMemory::Sum(uint32_t address, uint32_t count) const {
    uint32_t sum = 0;
    for (uint32_t i = 0; i < count; ++i)
        sum += Get(address + i);
    return sum;
}

void TBoardMemory::Load(uint32_t address, const uint8_t* data, uint32_t count) {
    for (uint32_t i = 0; i < count; ++i)
        Put(address + i, data[i]);
}
