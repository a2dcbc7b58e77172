// Board type texts and hexadecimal text. Input: lines of Sectors, Protect, flash start and a
// hexadecimal value; the input's last bytes give a number for the formatters.
// Properties: the check and the builder agree; accepted sectors are contiguous from the flash
// start and add up to what the size label says; protection marks exactly the items named; a
// hexadecimal text is accepted exactly when it is a 32-bit value, and yields that value; every
// formatted value parses back to itself.

#include "Ebdata.h"
#include "FuzzSupport.h"
#include "HexText.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr long long OneMiB = 1048576;

std::vector<std::string> Lines(const std::string& text, size_t wanted) {
    std::vector<std::string> lines;
    size_t begin = 0;
    while (lines.size() + 1 < wanted) {
        const size_t end = text.find('\n', std::min(begin, text.size()));
        if (end == std::string::npos)
            break;
        lines.push_back(text.substr(begin, end - begin));
        begin = end + 1;
    }
    lines.push_back(begin < text.size() ? text.substr(begin) : std::string());
    lines.resize(wanted);
    // The texts are C strings: they end at a NUL.
    for (std::string& line : lines)
        line = line.c_str();
    return lines;
}

std::string Without(std::string text, const char* characters) {
    std::string kept;
    for (char c : text)
        if (!std::strchr(characters, c))
            kept += c;
    return kept;
}

// The label of a total: whole KiB below 1 MiB, whole MiB, or whole MiB and a fraction.
void CheckSizeLabel(const TString& label, long long total) {
    char expected[40];
    if (total < OneMiB)
        std::snprintf(expected, sizeof expected, "%lldK", total / 1024);
    else if (total % OneMiB == 0)
        std::snprintf(expected, sizeof expected, "%lldM", total / OneMiB);
    else
        std::snprintf(expected, sizeof expected, "%lld.", total / OneMiB);
    FUZZ_CHECK(
        std::strncmp(label, expected, std::strlen(expected)) == 0 &&
            (total < OneMiB || total % OneMiB == 0 || std::strlen(label) > std::strlen(expected)),
        "label %s for %lld bytes", label(), total);
}

void CheckSectors(const std::string& text, TEBData& definition) {
    TString label;
    const bool checked = CheckSectors(TString(text.c_str()), &label);
    const bool built = definition.SetSectors(TString(text.c_str()));
    FUZZ_CHECK(checked == built, "check says %d, builder says %d for \"%s\"", checked, built,
               text.c_str());
    if (!checked) {
        FUZZ_CHECK(label == "0K" && definition.GetSectorCount() == 0,
                   "refused \"%s\" gave label %s and %d sectors", text.c_str(), label(),
                   definition.GetSectorCount());
        return;
    }
    FUZZ_CHECK(definition.GetSectorCount() > 0, "accepted \"%s\" built no sector", text.c_str());
    long long total = 0;
    for (int i = 0; i < definition.GetSectorCount(); ++i) {
        const TSectData& sector = definition.GetSector(i);
        FUZZ_CHECK(sector.Length > 0 && sector.Start == total && !sector.Protected,
                   "sector %d at %d, %d bytes, after %lld bytes", i, sector.Start, sector.Length,
                   total);
        total += sector.Length;
    }
    CheckSizeLabel(label, total);
}

// Marks as the Protect grammar gives them: "n" marks n (an empty item reads 0), "n-m" marks n
// to m - 1.
std::vector<bool> ExpectedMarks(const std::string& text, int count) {
    std::vector<bool> marks(static_cast<size_t>(count));
    const std::string items = Without(text, " ");
    if (items.empty())
        return marks;
    size_t begin = 0;
    for (;;) {
        const size_t end = std::min(items.find(',', begin), items.size());
        const std::string item = items.substr(begin, end - begin);
        const size_t hyphen = item.find('-');
        const long first = std::atol(item.substr(0, hyphen).c_str());
        const long last =
            hyphen == std::string::npos ? first + 1 : std::atol(item.substr(hyphen + 1).c_str());
        for (long sector = first; sector < last && sector < count; ++sector)
            marks[static_cast<size_t>(sector)] = true;
        if (end == items.size())
            break;
        begin = end + 1;
    }
    return marks;
}

void CheckProtect(const std::string& text, TEBData& definition) {
    const int count = definition.GetSectorCount();
    const bool checked = CheckProtected(TString(text.c_str()), count);
    const bool set = definition.SetProtected(TString(text.c_str()));
    FUZZ_CHECK(checked == set, "check says %d, builder says %d for \"%s\" with %d sectors", checked,
               set, text.c_str(), count);
    const std::vector<bool> expected = set ? ExpectedMarks(text, count) : std::vector<bool>(count);
    for (int i = 0; i < count; ++i)
        FUZZ_CHECK(definition.GetSector(i).Protected == expected[static_cast<size_t>(i)],
                   "sector %d of %d marked %d by \"%s\"", i, count,
                   definition.GetSector(i).Protected, text.c_str());
}

// The lookups answer for a sector's first and last byte with that sector.
void CheckLookups(const TEBData& definition) {
    const int count = definition.GetSectorCount();
    // Each lookup scans the sectors: a sample keeps layouts of many thousand sectors quick.
    const int step = count / 32 + 1;
    for (int i = 0; i < count; i += i < 8 || i >= count - 8 ? 1 : step) {
        const TSectData& sector = definition.GetSector(i);
        if (sector.End() < sector.Start)
            return; // a sector across 0x80000000 holds no address for signed lookups
        for (const int address : {sector.Start, sector.End()}) {
            FUZZ_CHECK(definition.SectorSizeAt(address) == sector.Length,
                       "size at %d is %d, sector %d has %d", address,
                       definition.SectorSizeAt(address), i, sector.Length);
            FUZZ_CHECK(definition.ProtectedSectorAt(address) == (sector.Protected ? i : -1),
                       "protected sector at %d is %d, sector %d", address,
                       definition.ProtectedSectorAt(address), i);
        }
    }
    FUZZ_CHECK(definition.FlashEnd() == (count ? definition.GetSector(count - 1).End() : 0),
               "flash end %d", definition.FlashEnd());
}

// Accepted exactly when the text without ' ', '-' and '.' is one to any number of hexadecimal
// digits whose value fits 32 bits; the value is that number.
void CheckHexAddress(const std::string& text) {
    const std::string digits = Without(text, " -.");
    bool allHex = !digits.empty();
    unsigned long long number = 0;
    for (char c : digits) {
        allHex = allHex && std::isxdigit(static_cast<unsigned char>(c));
        if (allHex && number <= 0xFFFFFFFFULL)
            number = number * 16 + HexDigitValue(c);
    }
    const bool fits = allHex && number <= 0xFFFFFFFFULL;
    int value = 0;
    const bool parsed = ParseHexAddress(TString(text.c_str()), &value);
    FUZZ_CHECK(parsed == fits, "\"%s\" %s", text.c_str(),
               parsed ? "was accepted, but is no 32-bit hexadecimal value"
                      : "was refused, but is a 32-bit hexadecimal value");
    if (parsed)
        FUZZ_CHECK(static_cast<uint32_t>(value) == number, "\"%s\" read as %08X", text.c_str(),
                   static_cast<unsigned>(value));
}

void CheckFlashStart(const std::string& text, TEBData& definition) {
    std::vector<int> starts;
    for (int i = 0; i < definition.GetSectorCount(); ++i)
        starts.push_back(definition.GetSector(i).Start);
    int value = 0;
    const bool parsed = ParseHexAddress(TString(text.c_str()), &value);
    FUZZ_CHECK(definition.SetFlashStart(TString(text.c_str())) == parsed, "flash start \"%s\"",
               text.c_str());
    for (int i = 0; i < definition.GetSectorCount(); ++i) {
        const uint32_t moved = static_cast<uint32_t>(starts[static_cast<size_t>(i)]) +
                               static_cast<uint32_t>(parsed ? value : 0);
        FUZZ_CHECK(static_cast<uint32_t>(definition.GetSector(i).Start) == moved,
                   "sector %d at %d after flash start \"%s\"", i, definition.GetSector(i).Start,
                   text.c_str());
    }
}

void CheckFormatters(uint32_t value, const std::string& text) {
    const TString address = AddrToHex(value);
    char expected[40];
    std::snprintf(expected, sizeof expected, "0x%08X", static_cast<unsigned>(value));
    FUZZ_CHECK(address == expected, "%s for %08X", address(), static_cast<unsigned>(value));
    std::snprintf(expected, sizeof expected, "0x%08X (%d)", static_cast<unsigned>(value),
                  static_cast<int>(value));
    FUZZ_CHECK(AddrToHexDec(value) == expected, "%s for %08X", AddrToHexDec(value)(),
               static_cast<unsigned>(value));

    const char* cursor = address() + 2;
    FUZZ_CHECK(Hex32(cursor) == value && *cursor == '\0', "%s parsed back wrong", address());
    int parsed = 0;
    FUZZ_CHECK(ParseHexAddress(TString(address() + 2), &parsed) &&
                   static_cast<uint32_t>(parsed) == value,
               "%s read back as %08X", address(), static_cast<unsigned>(parsed));

    const TString word = WordToHex(static_cast<uint16_t>(value));
    cursor = word();
    FUZZ_CHECK(IsHexString(word) && HexWord(cursor) == static_cast<uint16_t>(value), "%s for %04X",
               word(), static_cast<unsigned>(value & 0xFFFF));
    const TString byte = ByteToHex(static_cast<uint8_t>(value));
    cursor = byte();
    FUZZ_CHECK(IsHexString(byte) && HexByte(cursor) == static_cast<uint8_t>(value), "%s for %02X",
               byte(), static_cast<unsigned>(value & 0xFF));

    // The parsers never move past the end of a text, whatever it holds.
    const char* const begin = text.c_str();
    cursor = begin;
    Hex32(cursor);
    Hex24(cursor);
    FUZZ_CHECK(cursor <= begin + text.size(), "cursor %td past a text of %zu", cursor - begin,
               text.size());

    const std::vector<TString> dump =
        HexDumpLines(reinterpret_cast<const uint8_t*>(text.data()), value, text.size());
    FUZZ_CHECK(dump.size() == (text.size() + HexDumpRowBytes - 1) / HexDumpRowBytes,
               "%zu dump lines for %zu bytes", dump.size(), text.size());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    const uint32_t value = input.ConsumeIntegral<uint32_t>();
    const std::string text = input.ConsumeRemainingBytesAsString();
    const std::vector<std::string> lines = Lines(text, 4);

    TEBData definition;
    CheckSectors(lines[0], definition);
    CheckProtect(lines[1], definition);
    CheckFlashStart(lines[2], definition);
    CheckLookups(definition);
    CheckHexAddress(lines[3]);
    CheckFormatters(value, text);
    return 0;
}
